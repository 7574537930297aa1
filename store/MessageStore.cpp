#include "store/MessageStore.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

// Readers wait no longer than this for a writer that holds the file; so does the
// writer for a reader that checkpoints.
constexpr int BusyMilliseconds = 500;

const char *const Schema = R"(
CREATE TABLE messages (
    id          INTEGER PRIMARY KEY,
    time        INTEGER NOT NULL,  -- received, UTC nanoseconds since 1970
    kind        TEXT NOT NULL,     -- 'SMS' or 'LOC'
    text        BLOB NOT NULL,     -- the bytes received
    headed      INTEGER NOT NULL,  -- 0: its header frame was not received
    station     TEXT NOT NULL,
    demodulator TEXT NOT NULL,     -- 'matched' or 'crossing'
    level_dbfs  REAL,              -- the signal report; NULL where not measured
    snr_db      REAL,
    offset_hz   REAL,
    shift_hz    REAL,
    clock_ppm   REAL,
    confidence  REAL,
    clipped     INTEGER,
    snr_lower_bound INTEGER        -- 1: the noise was too weak to measure; snr_db is a floor
);
CREATE INDEX messages_by_time ON messages(time);
CREATE INDEX messages_by_kind ON messages(kind);
CREATE VIRTUAL TABLE message_search USING fts5(text, tokenize = 'trigram case_sensitive 1');
)";

const char *const InsertMessageSql =
    "INSERT INTO messages (id, time, kind, text, headed, station, demodulator, level_dbfs, "
    "snr_db, offset_hz, shift_hz, clock_ppm, confidence, clipped, snr_lower_bound) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)";
constexpr int FirstReportParameter = 8;
constexpr int ReportParameters = 8;

// The signal report's columns, level_dbfs to snr_lower_bound, from parameter First on.
void BindSignalReport(TSqliteStatement &Statement, int First, const TListenedMessage &Message) {
    if (!Message.Report) {
        for (int Parameter = First; Parameter < First + ReportParameters; ++Parameter)
            Statement.BindNull(Parameter);
        return;
    }
    const TSignalReport &Report = *Message.Report;
    for (const double Value : {Report.LevelDbfs, Report.SnrDb, Report.OffsetHz, Report.ShiftHz,
                               Report.ClockPpm, Report.Confidence})
        Statement.Bind(First++, Value);
    Statement.Bind(First++, std::int64_t(Report.Clipped));
    Statement.Bind(First, std::int64_t(Report.SnrLowerBound));
}

void CheckIdentity(TSqliteDatabase &Database, const std::string &Path) {
    const std::int64_t Application = Database.Number("PRAGMA application_id");
    const std::int64_t Version = Database.Number("PRAGMA user_version");
    const bool Empty = Database.Number("SELECT count(*) FROM sqlite_schema") == 0;
    if (Application == 0 && Version == 0 && Empty) {
        Database.Execute("BEGIN IMMEDIATE");
        // Another zel-listen may have made it while this one waited for the lock.
        if (Database.Number("SELECT count(*) FROM sqlite_schema") != 0) {
            Database.Execute("ROLLBACK");
            return CheckIdentity(Database, Path);
        }
        Database.Execute(Schema);
        Database.Execute("PRAGMA application_id = " + std::to_string(StoreApplicationId));
        Database.Execute("PRAGMA user_version = " + std::to_string(StoreSchemaVersion));
        Database.Execute("COMMIT");
        return;
    }
    if (Application != StoreApplicationId)
        throw EForeignStore(Path + " is another program's database, not a message store");
    if (Version > StoreSchemaVersion)
        throw EForeignStore(Path + " was written by a newer zel-listen (schema version " +
                            std::to_string(Version) + ")");
}

std::unique_ptr<TSqliteDatabase> OpenChecked(const std::string &Path) {
    auto Database =
        std::make_unique<TSqliteDatabase>(Path, TSqliteDatabase::TAccess::ReadWriteCreate);
    Database->Execute("PRAGMA busy_timeout = " + std::to_string(BusyMilliseconds));
    try {
        CheckIdentity(*Database, Path);
    } catch (const ESqliteError &Error) {
        if (Error.Code() == SQLITE_NOTADB)
            throw EForeignStore(Path + " is not an SQLite database");
        throw;
    }
    // Every commit reaches the disk before it returns; readers never hold up the writer.
    Database->Execute("PRAGMA journal_mode = WAL");
    Database->Execute("PRAGMA synchronous = FULL");
    return Database;
}

void AppendUtf8(std::string &Text, unsigned Character) {
    if (Character < 0x80) {
        Text += char(Character);
    } else if (Character < 0x800) {
        Text += char(0xC0 | Character >> 6);
        Text += char(0x80 | (Character & 0x3F));
    } else {
        Text += char(0xE0 | Character >> 12);
        Text += char(0x80 | (Character >> 6 & 0x3F));
        Text += char(0x80 | (Character & 0x3F));
    }
}

} // namespace

TMessageStore::TMessageStore(const std::string &Path, TStoreOrigin Origin)
    : FOrigin(std::move(Origin)), FDatabase(OpenChecked(Path)),
      FInsertMessage(FDatabase->Prepare(InsertMessageSql)),
      FInsertSearchText(
          FDatabase->Prepare("INSERT INTO message_search (rowid, text) VALUES (?, ?)")) {}

std::int64_t TMessageStore::LastId() {
    return FDatabase->Number("SELECT max(id) FROM messages");
}

std::int64_t TMessageStore::Store(const std::vector<TListenedMessage> &Messages) {
    // What is written to a deleted file is lost to everyone: a failure, so that the
    // file is opened (or made) again at its path.
    if (FDatabase->HasMoved())
        throw ESqliteError("the file was deleted, moved or replaced", SQLITE_IOERR);
    FDatabase->Execute("BEGIN IMMEDIATE");
    try {
        // Ids taken by another zel-listen on the file: all moved past them, in order.
        const std::int64_t First = Messages.empty() ? 0 : Messages.front().Id;
        const std::int64_t Shift = std::max<std::int64_t>(LastId() + 1 - First, 0);
        for (const TListenedMessage &Message : Messages)
            Insert(Message, Message.Id + Shift);
        FDatabase->Execute("COMMIT");
        return First + Shift;
    } catch (const ESqliteError &) {
        FDatabase->RollBack();
        throw;
    }
}

void TMessageStore::Insert(const TListenedMessage &Message, std::int64_t Id) {
    FInsertMessage.Bind(1, Id);
    FInsertMessage.Bind(2, StoreTime(Message.Time));
    FInsertMessage.Bind(3, std::string(Message.IsSMS ? "SMS" : "LOC"));
    FInsertMessage.BindBytes(4, Message.Text);
    FInsertMessage.Bind(5, std::int64_t(Message.Headed));
    FInsertMessage.Bind(6, FOrigin.Station);
    FInsertMessage.Bind(7, FOrigin.Demodulator);
    BindSignalReport(FInsertMessage, FirstReportParameter, Message);
    FInsertMessage.Step();
    FInsertSearchText.Bind(1, Id);
    FInsertSearchText.Bind(2, SearchableText(Message.Text));
    FInsertSearchText.Step();
}

std::size_t TMessageStore::DeleteBefore(std::chrono::system_clock::time_point Time,
                                        std::size_t Most) {
    // Both statements pick the same rows: the second runs on what the first saw. The
    // newest stays, however old: the next start's ids go on from it, never reused.
    const std::string Chosen =
        "(SELECT id FROM messages WHERE time < " + std::to_string(StoreTime(Time)) +
        " AND id < (SELECT max(id) FROM messages) LIMIT " + std::to_string(Most) + ")";
    FDatabase->Execute("BEGIN IMMEDIATE");
    try {
        FDatabase->Execute("DELETE FROM message_search WHERE rowid IN " + Chosen);
        FDatabase->Execute("DELETE FROM messages WHERE id IN " + Chosen);
        const std::size_t Deleted = FDatabase->Changes();
        FDatabase->Execute("COMMIT");
        return Deleted;
    } catch (const ESqliteError &) {
        FDatabase->RollBack();
        throw;
    }
}

std::unique_ptr<TSqliteDatabase> OpenStoreForReading(const std::string &Path) {
    auto Database = std::make_unique<TSqliteDatabase>(Path, TSqliteDatabase::TAccess::ReadOnly);
    Database->Execute("PRAGMA busy_timeout = " + std::to_string(BusyMilliseconds));
    return Database;
}

std::string SearchableText(const std::string &Bytes) {
    std::string Text;
    Text.reserve(Bytes.size() * 2);
    for (const unsigned char Byte : Bytes)
        AppendUtf8(Text, Byte == 0 ? 0x2400 : Byte);
    return Text;
}

std::int64_t StoreTime(std::chrono::system_clock::time_point Time) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Time.time_since_epoch()).count();
}

std::chrono::system_clock::time_point StoredTime(std::int64_t Nanoseconds) {
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(Nanoseconds)));
}
