#include "store/MessageStore.h"
#include "output/SignalReportFormat.h"
#include "store/StoreStage.h"
#include "store/StoredHistory.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TIds = std::vector<std::int64_t>;

TListenedMessage Message(std::int64_t Id, const std::string &Text, bool IsSMS = true,
                         std::chrono::seconds Time = 0s) {
    TListenedMessage Result;
    Result.Id = Id;
    Result.Text = Text;
    Result.IsSMS = IsSMS;
    Result.Time = std::chrono::system_clock::time_point(Time);
    return Result;
}

TIds IdsOf(const std::vector<TListenedMessage> &Messages) {
    TIds Ids;
    for (const TListenedMessage &Message : Messages)
        Ids.push_back(Message.Id);
    return Ids;
}

std::vector<TListenedMessage> FindId(const IMessageHistory &History, std::int64_t Id) {
    TMessageQuery Query;
    Query.AfterId = Id - 1;
    Query.Limit = 1;
    Query.OldestFirst = true;
    return History.Find(Query);
}

void WaitUntil(const std::function<bool()> &Done) {
    const auto Deadline = std::chrono::steady_clock::now() + 20s;
    while (!Done() && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(Done());
}

std::string Contents(const std::string &Path) {
    std::ifstream File(Path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(File), {});
}

class StoreTest : public testing::Test {
protected:
    StoreTest() {
        char Template[] = "/tmp/zel-store-XXXXXX";
        Dir = mkdtemp(Template);
        Path = Dir + "/messages.db";
    }
    ~StoreTest() override { std::filesystem::remove_all(Dir); }

    TMessageStore OpenStore() { return TMessageStore(Path, {"hilltop", "matched"}); }
    TStoreSettings Settings() const {
        TStoreSettings Result;
        Result.Path = Path;
        Result.Origin = {"hilltop", "matched"};
        return Result;
    }

    TIds StoredIds() const {
        TMessageQuery All;
        All.Limit = 1000000;
        All.OldestFirst = true;
        return IdsOf(TStoredHistory(Path).Find(All));
    }

    std::string Dir, Path;
};

TEST_F(StoreTest, KeepsEveryByteOfTheText) {
    std::string Bytes;
    for (int Byte = 0; Byte < 256; ++Byte)
        Bytes += char(Byte);
    OpenStore().Store({Message(7, Bytes, false, 1700000000s), Message(8, "")});
    const auto Found = TStoredHistory(Path).Find({});
    ASSERT_EQ(IdsOf(Found), (TIds{8, 7}));
    EXPECT_EQ(Found[1].Text, Bytes);
    EXPECT_FALSE(Found[1].IsSMS);
    EXPECT_EQ(Found[1].Time, std::chrono::system_clock::time_point(1700000000s));
    EXPECT_EQ(Found[0].Text, "");
}

// A message's signal report in its columns; NULL in all of them without one.
// In columns a sqlite3 shell reads, and back to the web page whole.
TEST_F(StoreTest, KeepsTheSignalReport) {
    TListenedMessage Measured = Message(1, "MEASURED");
    Measured.Report = TSignalReport{-23.5, 30, true, 12, 610, -350, 0.75, true};
    OpenStore().Store({Measured, Message(2, "NOT MEASURED")});
    const auto Found = TStoredHistory(Path).Find({.OldestFirst = true});
    ASSERT_EQ(Found.size(), 2u);
    ASSERT_TRUE(Found[0].Report);
    EXPECT_EQ(SignalReportJsonFields(*Found[0].Report), SignalReportJsonFields(*Measured.Report));
    EXPECT_FALSE(Found[1].Report);
    TSqliteDatabase Database(Path, TSqliteDatabase::TAccess::ReadOnly);
    EXPECT_EQ(
        Database.Number(
            "SELECT count(*) FROM messages WHERE id = 1 AND level_dbfs = -23.5 "
            "AND snr_db = 30 AND snr_lower_bound = 1 AND offset_hz = 12 AND shift_hz = 610 AND "
            "clock_ppm = -350 AND confidence = 0.75 AND clipped = 1"),
        1);
    EXPECT_EQ(
        Database.Number("SELECT count(*) FROM messages WHERE id = 2 AND coalesce(level_dbfs, "
                        "snr_db, offset_hz, shift_hz, clock_ppm, confidence, clipped) IS NULL"),
        1);
}

// Each condition alone and together, through the index (three characters and more) and
// without it.
TEST_F(StoreTest, FindsByEveryCondition) {
    OpenStore().Store({Message(1, "FIRE AT MILL", true, 1000s),
                       Message(2, "52N 013E", false, 2000s), Message(3, "fire drill", true, 3000s),
                       Message(4, std::string("\0\x80\xff BYTES", 9), true, 4000s),
                       Message(5, "FIRE", false, 5000s), Message(6, "\"HI\" SAID", true, 6000s)});
    auto At = [](long long Seconds) { return std::chrono::system_clock::time_point(Seconds * 1s); };
    struct TRow {
        const char *What;
        std::function<void(TMessageQuery &)> Ask;
        TIds Expected;
    };
    const TRow Rows[] = {
        {"everything, newest first", [](TMessageQuery &) {}, {6, 5, 4, 3, 2, 1}},
        {"the oldest two", [](TMessageQuery &Q) { Q.OldestFirst = true, Q.Limit = 2; }, {1, 2}},
        {"after an id", [](TMessageQuery &Q) { Q.AfterId = 3, Q.OldestFirst = true; }, {4, 5, 6}},
        {"before an id", [](TMessageQuery &Q) { Q.BeforeId = 3; }, {2, 1}},
        {"a time span",
         [&](TMessageQuery &Q) { Q.Since = At(2000), Q.Until = At(4000); },
         {4, 3, 2}},
        {"locations", [](TMessageQuery &Q) { Q.IsSMS = false; }, {5, 2}},
        {"a word, case kept", [](TMessageQuery &Q) { Q.Text = "FIRE"; }, {5, 1}},
        {"two letters", [](TMessageQuery &Q) { Q.Text = "FI"; }, {5, 1}},
        {"bytes over 0x7f", [](TMessageQuery &Q) { Q.Text = "\x80\xff"; }, {4}},
        {"NUL", [](TMessageQuery &Q) { Q.Text = std::string(1, '\0'); }, {4}},
        {"quotes", [](TMessageQuery &Q) { Q.Text = "\"HI\""; }, {6}},
        {"nothing like it", [](TMessageQuery &Q) { Q.Text = "WATER"; }, {}},
        {"a word in texts", [](TMessageQuery &Q) { Q.Text = "FIRE", Q.IsSMS = true; }, {1}},
        {"a word, a page on",
         [](TMessageQuery &Q) { Q.Text = "FIRE", Q.BeforeId = 5, Q.Limit = 1; },
         {1}},
        {"a word since",
         [&](TMessageQuery &Q) { Q.Text = "ill", Q.Since = At(2000), Q.OldestFirst = true; },
         {3}},
    };
    const TStoredHistory History(Path);
    for (const TRow &Row : Rows) {
        TMessageQuery Query;
        Row.Ask(Query);
        EXPECT_EQ(IdsOf(History.Find(Query)), Row.Expected) << Row.What;
    }
}

// Never written, and said what it is: another program's database, no database at all, a
// store of a newer zel-listen.
TEST_F(StoreTest, RefusesAFileNotOurs) {
    struct TRow {
        const char *What;
        std::function<void()> Make;
        const char *Said;
    };
    const TRow Rows[] = {
        {"not SQLite", [&] { std::ofstream(Path) << "2026-12-08T17:26:40.123Z SMS FIRE\n"; },
         "is not an SQLite database"},
        {"another program's",
         [&] {
             TSqliteDatabase(Path, TSqliteDatabase::TAccess::ReadWriteCreate)
                 .Execute("CREATE TABLE t (x)");
         },
         "another program's database"},
        {"another program's, empty",
         [&] {
             TSqliteDatabase(Path, TSqliteDatabase::TAccess::ReadWriteCreate)
                 .Execute("PRAGMA application_id = 7");
         },
         "another program's database"},
        {"newer",
         [&] {
             OpenStore();
             TSqliteDatabase(Path, TSqliteDatabase::TAccess::ReadWriteCreate)
                 .Execute("PRAGMA user_version = 2");
         },
         "newer zel-listen (schema version 2)"},
    };
    for (const TRow &Row : Rows) {
        std::filesystem::remove(Path);
        Row.Make();
        const std::string Before = Contents(Path);
        try {
            OpenStore();
            ADD_FAILURE() << Row.What << " taken";
        } catch (const EForeignStore &Error) {
            EXPECT_NE(std::string(Error.what()).find(Row.Said), std::string::npos) << Error.what();
        }
        EXPECT_EQ(Contents(Path), Before) << Row.What;
    }
}

// Another program makes its database at the moment a store is opened on the same new
// file: the store finds it once it may write, and leaves it alone.
TEST_F(StoreTest, RefusesAFileMadeWhileItWaited) {
    TSqliteDatabase Other(Path, TSqliteDatabase::TAccess::ReadWriteCreate);
    Other.Execute("BEGIN IMMEDIATE");
    std::thread Opening([&] { EXPECT_THROW(OpenStore(), EForeignStore); });
    std::this_thread::sleep_for(100ms); // well within the store's wait for the lock
    Other.Execute("CREATE TABLE notes (line TEXT)");
    Other.Execute("COMMIT");
    Opening.join();
    EXPECT_EQ(Other.Number("SELECT count(*) FROM sqlite_schema"), 1);
}

TEST_F(StoreTest, ANewStoreSaysWhatItIs) {
    OpenStore();
    TSqliteDatabase Database(Path, TSqliteDatabase::TAccess::ReadOnly);
    EXPECT_EQ(Database.Number("PRAGMA application_id"), StoreApplicationId);
    EXPECT_EQ(Database.Number("PRAGMA user_version"), StoreSchemaVersion);
}

// Every message handed on is in the store by then; ids go on from the last stored.
TEST_F(StoreTest, HandsOnOnlyWhatIsStored) {
    OpenStore().Store({Message(41, "BEFORE")});
    const TStoredHistory History(Path);
    TIds HandedOn, Missing;
    TStoreStage Stage(
        Settings(),
        [&](const TListenedMessage &Message) {
            HandedOn.push_back(Message.Id);
            if (IdsOf(FindId(History, Message.Id)) != TIds{Message.Id})
                Missing.push_back(Message.Id);
        },
        [](const std::string &Line) { ADD_FAILURE() << Line; });
    for (int Count = 0; Count < 20; ++Count)
        Stage.Push(Message(0, "TEXT " + std::to_string(Count)));
    Stage.Finish();
    EXPECT_EQ(HandedOn.size(), 20u);
    EXPECT_EQ(HandedOn.front(), 42);
    EXPECT_EQ(HandedOn.back(), 61);
    EXPECT_EQ(Missing, TIds{});
    EXPECT_EQ(Stage.Waiting(), 0u);
    EXPECT_EQ(Stage.Errors(), 0u);
}

// Two listeners on one file (two stations, say) both begin after the same last id: the
// second to store goes on after the first, and hands on the ids it stored.
TEST_F(StoreTest, SharesTheFileWithAnotherListener) {
    TIds HandedOn;
    auto Stage = [&] {
        return std::make_unique<TStoreStage>(
            Settings(), [&](const TListenedMessage &Message) { HandedOn.push_back(Message.Id); },
            [](const std::string &Line) { ADD_FAILURE() << Line; });
    };
    const auto First = Stage(), Second = Stage();
    for (TStoreStage *Each : {First.get(), Second.get(), First.get()}) {
        Each->Push(Message(0, "TEXT"));
        Each->Push(Message(0, "TEXT"));
        WaitUntil([&] { return Each->Waiting() == 0; });
    }
    EXPECT_EQ(HandedOn, (TIds{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(StoredIds(), HandedOn);
}

TEST_F(StoreTest, DeletesOnlyOlderMessages) {
    const auto Now = std::chrono::system_clock::now();
    auto Aged = [&](std::int64_t Id, std::chrono::hours Age) {
        TListenedMessage Result = Message(Id, "AGED");
        Result.Time = Now - Age;
        return Result;
    };
    OpenStore().Store({Aged(1, 50h), Aged(2, 49h), Aged(3, 47h), Aged(4, 0h)});
    TStoreSettings Settings = this->Settings();
    Settings.Keep = 48h;
    TStoreStage(
        Settings, [](const TListenedMessage &) {},
        [](const std::string &Line) { ADD_FAILURE() << Line; });
    EXPECT_EQ(StoredIds(), (TIds{3, 4}));
    TMessageQuery Word;
    Word.Text = "AGED";
    EXPECT_EQ(IdsOf(TStoredHistory(Path).Find(Word)), (TIds{4, 3}));
    // The newest stays however old, and with it the next start's ids: never reused.
    OpenStore().Store({Aged(5, 50h), Aged(6, 49h)});
    TStoreStage(
        Settings, [](const TListenedMessage &) {},
        [](const std::string &Line) { ADD_FAILURE() << Line; });
    EXPECT_EQ(StoredIds(), (TIds{3, 4, 6}));
}

// Root writes any file: a read-only store is made for an ordinary user.
void AsOrdinaryUser(const std::string &Dir, const std::function<void()> &Body) {
    if (geteuid() != 0)
        return Body();
    EXPECT_EXIT(
        {
            for (const auto &Entry : std::filesystem::recursive_directory_iterator(Dir))
                (void)!chown(Entry.path().c_str(), 65534, 65534);
            (void)!chown(Dir.c_str(), 65534, 65534);
            if (setgid(65534) != 0 || setuid(65534) != 0)
                std::exit(3);
            Body();
            std::exit(testing::Test::HasFailure() ? 1 : 0);
        },
        testing::ExitedWithCode(0), "");
}

void LimitFileSize(rlim_t Bytes) {
    rlimit Limit{};
    getrlimit(RLIMIT_FSIZE, &Limit);
    Limit.rlim_cur = Bytes;
    setrlimit(RLIMIT_FSIZE, &Limit);
}

// A store that cannot be written for a while: reported once, every message handed on at
// once, held (the oldest beyond the bound dropped), and stored when it can be; then
// reported once more.
TEST_F(StoreTest, OutlastsAStoreThatCannotBeWritten) {
    signal(SIGXFSZ, SIG_IGN);
    std::unique_ptr<TSqliteDatabase> Holder;
    struct TRow {
        const char *What;
        std::function<void()> Break, Mend;
        const char *Said;
    };
    const TRow Rows[] = {
        {"full", [&] { LimitFileSize(std::filesystem::file_size(Path + "-wal")); },
         [&] { LimitFileSize(RLIM_INFINITY); }, "disk"},
        {"locked",
         [&] {
             Holder =
                 std::make_unique<TSqliteDatabase>(Path, TSqliteDatabase::TAccess::ReadWriteCreate);
             Holder->Execute("BEGIN IMMEDIATE");
         },
         [&] { Holder.reset(); }, "locked"},
        {"read-only", [&] { chmod(Path.c_str(), 0444); }, [&] { chmod(Path.c_str(), 0644); },
         "readonly"},
    };
    for (const TRow &Row : Rows) {
        SCOPED_TRACE(Row.What);
        std::filesystem::remove(Path);
        OpenStore().Store({Message(1, "STORED")});
        AsOrdinaryUser(Dir, [&] {
            // Keeps the log and its index in place between the writers.
            const auto Reader = OpenStoreForReading(Path);
            Reader->Number("SELECT count(*) FROM messages");
            Row.Break();
            std::mutex Lock;
            std::vector<std::string> Reports;
            TIds HandedOn;
            TStoreSettings Settings = StoreTest::Settings();
            Settings.HoldLimit = 2;
            Settings.RetryPause = 20ms;
            TStoreStage Stage(
                Settings,
                [&](const TListenedMessage &Message) {
                    std::lock_guard Guard(Lock);
                    HandedOn.push_back(Message.Id);
                },
                [&](const std::string &Line) {
                    std::lock_guard Guard(Lock);
                    Reports.push_back(Line);
                });
            for (int Count = 0; Count < 3; ++Count)
                Stage.Push(Message(0, "HELD"));
            WaitUntil([&] {
                std::lock_guard Guard(Lock);
                return HandedOn.size() == 3;
            });
            WaitUntil([&] { return Stage.Errors() >= 2; }); // tried again
            {
                std::lock_guard Guard(Lock);
                ASSERT_EQ(Reports.size(), 2u);
                EXPECT_NE(Reports[0].find(Row.Said), std::string::npos) << Reports[0];
                EXPECT_EQ(Reports[1], "more than 2 messages wait for the store: the oldest are "
                                      "dropped unstored");
            }
            EXPECT_EQ(Stage.Waiting(), 2u);
            Row.Mend();
            WaitUntil([&] { return Stage.Waiting() == 0; });
            Stage.Push(Message(0, "AFTER"));
            Stage.Finish();
            EXPECT_EQ(HandedOn, (TIds{2, 3, 4, 5}));
            ASSERT_EQ(Reports.size(), 3u);
            EXPECT_EQ(Reports[2], "the store " + Path +
                                      " is written again: 2 messages stored again, 1 message "
                                      "dropped unstored");
            EXPECT_EQ(StoredIds(), (TIds{1, 3, 4, 5}));
        });
    }
}

// A store deleted under the stage (by hand, by a clean-up) is not written on unseen: a
// new one is made at its path, and what waited is stored there.
TEST_F(StoreTest, MakesAStoreDeletedUnderItAgain) {
    std::vector<std::string> Reports;
    TStoreSettings Settings = this->Settings();
    Settings.RetryPause = 20ms;
    TStoreStage Stage(
        Settings, [](const TListenedMessage &) {},
        [&](const std::string &Line) { Reports.push_back(Line); });
    Stage.Push(Message(0, "BEFORE"));
    WaitUntil([&] { return Stage.Waiting() == 0; });
    for (const char *Suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(Path + Suffix);
    Stage.Push(Message(0, "AFTER"));
    WaitUntil([&] { return Stage.Waiting() == 0; });
    Stage.Finish();
    EXPECT_EQ(Reports, (std::vector<std::string>{
                           "cannot write the store " + Path +
                               ": the file was deleted, moved or replaced; messages go on, and "
                               "wait in memory to be stored",
                           "the store " + Path + " is written again: 1 message stored again"}));
    EXPECT_EQ(StoredIds(), TIds{2});
}

// A child stores and "prints" (to a pipe) as fast as it can, and is killed with SIGKILL
// at a random moment, 20 times over: whatever it printed is in the store, and the next
// child's ids go on after it.
TEST_F(StoreTest, EveryMessageShownSurvivesAKill) {
    std::mt19937 Random(20261209);
    std::int64_t LastShown = 0;
    for (int Round = 0; Round < 20; ++Round) {
        int Pipe[2];
        ASSERT_EQ(pipe(Pipe), 0);
        const pid_t Child = fork();
        ASSERT_GE(Child, 0);
        if (Child == 0) {
            close(Pipe[0]);
            TStoreStage Stage(
                Settings(),
                [&](const TListenedMessage &Shown) {
                    const std::string Line = std::to_string(Shown.Id) + " " + Shown.Text + "\n";
                    (void)!write(Pipe[1], Line.data(), Line.size());
                },
                [](const std::string &) {});
            for (int Count = 0;; ++Count) {
                Stage.Push(
                    Message(0, "ROUND " + std::to_string(Round) + " " + std::to_string(Count)));
                std::this_thread::sleep_for(1ms);
            }
        }
        close(Pipe[1]);
        char First;
        ASSERT_EQ(read(Pipe[0], &First, 1), 1); // showing has begun
        std::this_thread::sleep_for(std::chrono::milliseconds(Random() % 200));
        kill(Child, SIGKILL);
        waitpid(Child, nullptr, 0);
        std::string Shown(1, First);
        char Buffer[4096];
        for (ssize_t Got; (Got = read(Pipe[0], Buffer, sizeof Buffer)) > 0;)
            Shown.append(Buffer, std::size_t(Got));
        close(Pipe[0]);

        const TStoredHistory History(Path);
        std::istringstream Lines(Shown);
        std::string Line;
        while (std::getline(Lines, Line)) {
            const std::int64_t Id = std::stoll(Line);
            ASSERT_GT(Id, LastShown) << "round " << Round;
            LastShown = Id;
            const auto Found = FindId(History, Id);
            ASSERT_EQ(IdsOf(Found), TIds{Id}) << "round " << Round;
            EXPECT_EQ(std::to_string(Id) + " " + Found[0].Text, Line);
        }
    }
}

} // namespace
