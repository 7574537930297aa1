#pragma once

// The history of what was received, searched in the store. Each search runs on a
// read-only connection of its own (kept for the next one), so that searches from any
// number of threads neither wait for each other nor hold up the stage that writes.

#include "service/MessageHistory.h"
#include "store/Sqlite.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TStoredHistory : public IMessageHistory {
public:
    explicit TStoredHistory(std::string Path);
    ~TStoredHistory() override;

    // Thread-safe. ESqliteError when the store cannot be read.
    std::vector<TListenedMessage> Find(const TMessageQuery &Query) const override;

private:
    std::unique_ptr<TSqliteDatabase> TakeConnection() const;
    void GiveBack(std::unique_ptr<TSqliteDatabase> Connection) const;

    std::string FPath;
    mutable std::mutex FLock;
    mutable std::vector<std::unique_ptr<TSqliteDatabase>> FIdle;
};
