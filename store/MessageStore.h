#pragma once

// The file every message is kept in: an SQLite database of our own (its application id
// and schema version tell it apart), one row per message with the exact bytes of its
// text, and a trigram index over a readable copy of the text for searches. Writes are
// committed and synced before they return: what was stored survives a crash or a power
// cut. Used from one thread at a time.

#include "cli/ToolMain.h"
#include "service/ListenedMessage.h"
#include "store/Sqlite.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A file that is not a message store of ours (another program's database, not a
// database at all, or one a newer zel-listen wrote): never written.
class EForeignStore : public EToolError {
public:
    using EToolError::EToolError;
};

struct TStoreOrigin {
    std::string Station;
    std::string Demodulator; // "matched" or "crossing"
};

class TMessageStore {
public:
    // Opens Path, creating it when missing. EForeignStore for a file that is not ours,
    // ESqliteError when it cannot be opened or read.
    TMessageStore(const std::string &Path, TStoreOrigin Origin);

    // The greatest id stored; 0 for an empty store.
    std::int64_t LastId();
    // All in one transaction, with the ids they carry (increasing), moved past the
    // greatest stored when another writer of the file took them; returns the id the
    // first got. ESqliteError when it fails (and then none is stored).
    std::int64_t Store(const std::vector<TListenedMessage> &Messages);
    // Deletes up to Most messages received before Time, but never the newest; returns
    // how many went.
    std::size_t DeleteBefore(std::chrono::system_clock::time_point Time, std::size_t Most);

private:
    void Insert(const TListenedMessage &Message, std::int64_t Id);

    TStoreOrigin FOrigin;
    std::unique_ptr<TSqliteDatabase> FDatabase;
    TSqliteStatement FInsertMessage;
    TSqliteStatement FInsertSearchText;
};

// What identifies the file: PRAGMA application_id and PRAGMA user_version.
constexpr std::int64_t StoreApplicationId = 0x5A454C31; // "ZEL1"
constexpr std::int64_t StoreSchemaVersion = 1;

// A read-only connection to a store, for searches beside the writer.
std::unique_ptr<TSqliteDatabase> OpenStoreForReading(const std::string &Path);

// The text as the search index holds it: each byte as its Latin-1 character in UTF-8,
// NUL as U+2400 (SQLite's text functions stop at NUL).
std::string SearchableText(const std::string &Bytes);

std::int64_t StoreTime(std::chrono::system_clock::time_point Time); // ns since the epoch
std::chrono::system_clock::time_point StoredTime(std::int64_t Nanoseconds);
