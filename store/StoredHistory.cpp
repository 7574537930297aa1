#include "store/StoredHistory.h"

#include "store/MessageStore.h"

namespace {

// The search index holds trigrams: a shorter text is looked for in every row.
constexpr std::size_t IndexedCharacters = 3;

std::size_t Utf8Characters(const std::string &Text) {
    std::size_t Count = 0;
    for (const unsigned char Byte : Text)
        Count += (Byte & 0xC0) != 0x80;
    return Count;
}

// A phrase in the index's query language: the text between double quotes, each of its
// own doubled.
std::string Phrase(const std::string &Text) {
    std::string Result = "\"";
    for (const char Character : Text)
        Result += Character == '"' ? std::string("\"\"") : std::string(1, Character);
    return Result + "\"";
}

// The statement and what to bind to it: ?1 the phrase for the index, ?2 the bytes
// contained, the numbers from ?3 on.
struct TSearch {
    std::string Sql;
    std::string Phrase;
    std::string Bytes;
    std::vector<std::int64_t> Numbers;
};

constexpr int FirstNumber = 3;

// With a text long enough, through the index, in the order of its rowid (the message's
// id): the index yields its matches in that order, so a page reads only as many.
TSearch BuildSearch(const TMessageQuery &Query) {
    TSearch Search;
    const std::string Searchable = SearchableText(Query.Text);
    const bool Indexed = Utf8Characters(Searchable) >= IndexedCharacters;
    std::string Id = "m.id";
    Search.Sql = "SELECT m.id, m.time, m.kind, m.headed, m.text, m.level_dbfs, m.snr_db, "
                 "m.offset_hz, m.shift_hz, m.clock_ppm, m.confidence, m.clipped, "
                 "m.snr_lower_bound FROM ";
    if (Indexed) {
        Search.Phrase = Phrase(Searchable);
        Search.Sql += "message_search(?1) AS s JOIN messages AS m ON m.id = s.rowid";
        Id = "s.rowid";
    } else {
        Search.Sql += "messages AS m";
    }
    Search.Bytes = Query.Text;
    std::vector<std::string> Conditions;
    auto Number = [&](const std::string &Condition, std::int64_t Value) {
        Conditions.push_back(Condition + " ?" +
                             std::to_string(FirstNumber + int(Search.Numbers.size())));
        Search.Numbers.push_back(Value);
    };
    Number(Id + " >", Query.AfterId);
    if (Query.BeforeId)
        Number(Id + " <", *Query.BeforeId);
    if (Query.Since)
        Number("m.time >=", StoreTime(*Query.Since));
    if (Query.Until)
        Number("m.time <=", StoreTime(*Query.Until));
    if (Query.IsSMS)
        Conditions.push_back(*Query.IsSMS ? "m.kind = 'SMS'" : "m.kind = 'LOC'");
    if (!Query.Text.empty())
        Conditions.push_back("instr(m.text, ?2) > 0");
    for (std::size_t Index = 0; Index < Conditions.size(); ++Index)
        Search.Sql += (Index == 0 ? " WHERE " : " AND ") + Conditions[Index];
    const char *Direction = Query.OldestFirst ? " ASC" : " DESC";
    // Within a time span, along the index of times: reading only the page however long
    // the span is. Times follow ids unless the clock was set back.
    const bool AlongTimes = !Indexed && (Query.Since || Query.Until);
    Search.Sql += " ORDER BY " + (AlongTimes ? "m.time" + std::string(Direction) + ", " : "") + Id +
                  Direction + " LIMIT ?" + std::to_string(FirstNumber + int(Search.Numbers.size()));
    Search.Numbers.push_back(std::int64_t(Query.Limit));
    return Search;
}

constexpr int FirstReportColumn = 5;

// The report as the columns from FirstReportColumn on hold it; none where none was measured.
std::optional<TSignalReport> StoredReport(const TSqliteStatement &Row) {
    if (Row.IsNull(FirstReportColumn))
        return std::nullopt;
    int Column = FirstReportColumn;
    TSignalReport Report;
    for (double *Value : {&Report.LevelDbfs, &Report.SnrDb, &Report.OffsetHz, &Report.ShiftHz,
                          &Report.ClockPpm, &Report.Confidence})
        *Value = Row.Real(Column++);
    Report.Clipped = Row.Integer(Column++) != 0;
    Report.SnrLowerBound = Row.Integer(Column) != 0;
    return Report;
}

} // namespace

TStoredHistory::TStoredHistory(std::string Path) : FPath(std::move(Path)) {}

TStoredHistory::~TStoredHistory() = default;

std::vector<TListenedMessage> TStoredHistory::Find(const TMessageQuery &Query) const {
    const TSearch Search = BuildSearch(Query);
    std::unique_ptr<TSqliteDatabase> Connection = TakeConnection();
    std::vector<TListenedMessage> Found;
    {
        TSqliteStatement Statement = Connection->Prepare(Search.Sql);
        Statement.Bind(1, Search.Phrase);
        Statement.BindBytes(2, Search.Bytes);
        for (std::size_t Index = 0; Index < Search.Numbers.size(); ++Index)
            Statement.Bind(FirstNumber + int(Index), Search.Numbers[Index]);
        while (Statement.Step()) {
            TListenedMessage Message;
            Message.Id = Statement.Integer(0);
            Message.Time = StoredTime(Statement.Integer(1));
            Message.IsSMS = Statement.Bytes(2) == "SMS";
            Message.Headed = Statement.Integer(3) != 0;
            Message.Text = Statement.Bytes(4);
            Message.Report = StoredReport(Statement);
            Found.push_back(std::move(Message));
        }
    }
    GiveBack(std::move(Connection));
    return Found;
}

std::unique_ptr<TSqliteDatabase> TStoredHistory::TakeConnection() const {
    {
        std::lock_guard Guard(FLock);
        if (!FIdle.empty()) {
            auto Connection = std::move(FIdle.back());
            FIdle.pop_back();
            return Connection;
        }
    }
    return OpenStoreForReading(FPath);
}

void TStoredHistory::GiveBack(std::unique_ptr<TSqliteDatabase> Connection) const {
    std::lock_guard Guard(FLock);
    FIdle.push_back(std::move(Connection));
}
