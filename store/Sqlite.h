#pragma once

// A thin owner of an SQLite connection and its statements: errors become ESqliteError
// with the library's own words, and nothing is left open.

#include "platform/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

class ESqliteError : public Exception {
public:
    ESqliteError(const std::string &What, int Code) : Exception(What), FCode(Code) {}
    int Code() const { return FCode; } // the primary result code
private:
    int FCode;
};

class TSqliteStatement {
public:
    TSqliteStatement(sqlite3 *Database, const std::string &Sql);
    ~TSqliteStatement();
    TSqliteStatement(const TSqliteStatement &) = delete;
    TSqliteStatement &operator=(const TSqliteStatement &) = delete;

    // Parameters count from 1.
    void Bind(int Index, std::int64_t Value);
    void Bind(int Index, double Value);
    void Bind(int Index, const std::string &Text);
    void BindBytes(int Index, const std::string &Bytes);
    void BindNull(int Index);
    template <typename T> void Bind(int Index, const std::optional<T> &Value) {
        Value ? Bind(Index, *Value) : BindNull(Index);
    }

    // True while a row is there; at the end (or a failure) the statement is ready to run
    // again, its bindings kept.
    bool Step();

    // Columns count from 0.
    std::int64_t Integer(int Column) const;
    std::string Bytes(int Column) const;
    double Real(int Column) const;
    bool IsNull(int Column) const;

private:
    sqlite3 *FDatabase;
    sqlite3_stmt *FStatement = nullptr;
};

class TSqliteDatabase {
public:
    enum class TAccess { ReadOnly, ReadWriteCreate };
    TSqliteDatabase(const std::string &Path, TAccess Access);
    ~TSqliteDatabase();
    TSqliteDatabase(const TSqliteDatabase &) = delete;
    TSqliteDatabase &operator=(const TSqliteDatabase &) = delete;

    void Execute(const std::string &Sql);
    std::int64_t Number(const std::string &Sql); // the first column of the first row
    // Rows changed by the last statement.
    std::size_t Changes() const;
    // Whether the file's path no longer leads to it (deleted, renamed or replaced).
    bool HasMoved() const;
    // Ends the transaction under way, if any: after a failure, which may have ended it.
    void RollBack() noexcept;
    TSqliteStatement Prepare(const std::string &Sql) { return TSqliteStatement(FDatabase, Sql); }

private:
    sqlite3 *FDatabase = nullptr;
};

// The library's words for a failure on Database.
[[noreturn]] void ThrowSqliteError(sqlite3 *Database, int Code);
