#include "store/Sqlite.h"

#include <sqlite3.h>

void ThrowSqliteError(sqlite3 *Database, int Code) {
    const char *Words = Database ? sqlite3_errmsg(Database) : sqlite3_errstr(Code);
    throw ESqliteError(Words, Code & 0xff);
}

namespace {

void Check(sqlite3 *Database, int Code) {
    if (Code != SQLITE_OK)
        ThrowSqliteError(Database, Code);
}

} // namespace

TSqliteStatement::TSqliteStatement(sqlite3 *Database, const std::string &Sql)
    : FDatabase(Database) {
    Check(FDatabase,
          sqlite3_prepare_v2(FDatabase, Sql.c_str(), int(Sql.size()) + 1, &FStatement, nullptr));
}

TSqliteStatement::~TSqliteStatement() {
    sqlite3_finalize(FStatement);
}

void TSqliteStatement::Bind(int Index, std::int64_t Value) {
    Check(FDatabase, sqlite3_bind_int64(FStatement, Index, Value));
}

void TSqliteStatement::Bind(int Index, double Value) {
    Check(FDatabase, sqlite3_bind_double(FStatement, Index, Value));
}

void TSqliteStatement::Bind(int Index, const std::string &Text) {
    Check(FDatabase, sqlite3_bind_text64(FStatement, Index, Text.data(), Text.size(),
                                         SQLITE_TRANSIENT, SQLITE_UTF8));
}

void TSqliteStatement::BindBytes(int Index, const std::string &Bytes) {
    // A zero-length blob, not NULL, for an empty text.
    Check(FDatabase, sqlite3_bind_blob64(FStatement, Index, Bytes.data() ? Bytes.data() : "",
                                         Bytes.size(), SQLITE_TRANSIENT));
}

void TSqliteStatement::BindNull(int Index) {
    Check(FDatabase, sqlite3_bind_null(FStatement, Index));
}

bool TSqliteStatement::Step() {
    const int Code = sqlite3_step(FStatement);
    if (Code == SQLITE_ROW)
        return true;
    sqlite3_reset(FStatement);
    if (Code != SQLITE_DONE)
        ThrowSqliteError(FDatabase, Code);
    return false;
}

std::int64_t TSqliteStatement::Integer(int Column) const {
    return sqlite3_column_int64(FStatement, Column);
}

std::string TSqliteStatement::Bytes(int Column) const {
    const void *Data = sqlite3_column_blob(FStatement, Column);
    return std::string(static_cast<const char *>(Data),
                       std::size_t(sqlite3_column_bytes(FStatement, Column)));
}

double TSqliteStatement::Real(int Column) const {
    return sqlite3_column_double(FStatement, Column);
}

bool TSqliteStatement::IsNull(int Column) const {
    return sqlite3_column_type(FStatement, Column) == SQLITE_NULL;
}

TSqliteDatabase::TSqliteDatabase(const std::string &Path, TAccess Access) {
    const int Flags = Access == TAccess::ReadOnly ? SQLITE_OPEN_READONLY
                                                  : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    const int Code =
        sqlite3_open_v2(Path.c_str(), &FDatabase, Flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (Code != SQLITE_OK) {
        const ESqliteError Error(FDatabase ? sqlite3_errmsg(FDatabase) : sqlite3_errstr(Code),
                                 Code & 0xff);
        sqlite3_close(FDatabase);
        throw Error;
    }
    sqlite3_extended_result_codes(FDatabase, 0);
}

TSqliteDatabase::~TSqliteDatabase() {
    sqlite3_close_v2(FDatabase);
}

void TSqliteDatabase::Execute(const std::string &Sql) {
    Check(FDatabase, sqlite3_exec(FDatabase, Sql.c_str(), nullptr, nullptr, nullptr));
}

std::int64_t TSqliteDatabase::Number(const std::string &Sql) {
    TSqliteStatement Statement = Prepare(Sql);
    return Statement.Step() ? Statement.Integer(0) : 0;
}

std::size_t TSqliteDatabase::Changes() const {
    return std::size_t(sqlite3_changes64(FDatabase));
}

bool TSqliteDatabase::HasMoved() const {
    int Moved = 0;
    Check(FDatabase, sqlite3_file_control(FDatabase, "main", SQLITE_FCNTL_HAS_MOVED, &Moved));
    return Moved != 0;
}

void TSqliteDatabase::RollBack() noexcept {
    if (!sqlite3_get_autocommit(FDatabase))
        sqlite3_exec(FDatabase, "ROLLBACK", nullptr, nullptr, nullptr);
}
