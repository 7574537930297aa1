// Searches in a store of 1 000 000 messages, as the web page asks them: the newest page,
// a page deep in the history, by kind, by time, and by text (in every message, in few,
// in none, and too short for the index). Each answers a page of 100.
//
// The store is made once (about a minute) at $ZEL_BENCH_STORE, or
// /tmp/zel-bench-store.db, and kept for the next run.
#include "store/MessageStore.h"
#include "store/StoredHistory.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t StoredMessages = 1000000;
constexpr std::int64_t Batch = 10000;
constexpr std::int64_t RareEvery = 10000; // one message in so many holds "FLOOD"
const auto FirstTime = std::chrono::system_clock::time_point(1700000000s);
constexpr auto Spacing = 10s;

std::string StorePath() {
    const char *Path = std::getenv("ZEL_BENCH_STORE");
    return Path ? Path : "/tmp/zel-bench-store.db";
}

TListenedMessage Made(std::int64_t Id, std::mt19937 &Random) {
    static const char *const Places[] = {"MILL ROAD", "HIGH STREET", "CAF\xc9 SQUARE", "STATION",
                                         "HARBOUR"};
    TListenedMessage Message;
    Message.Id = Id;
    Message.Time = FirstTime + Id * Spacing;
    Message.IsSMS = Id % 4 != 0;
    Message.Text =
        Message.IsSMS
            ? "UNIT " + std::to_string(Random() % 90 + 10) + " TO " + Places[Random() % 5] +
                  (Id % RareEvery == 1 ? " FLOOD" : "") + " CALL " +
                  std::to_string(Random() % 100000)
            : std::to_string(Random() % 90) + "." + std::to_string(Random() % 1000) + "N 4.3E";
    return Message;
}

const std::string &FilledStore() {
    static const std::string Path = [] {
        const std::string Path = StorePath();
        TMessageStore Store(Path, {"bench", "matched"});
        if (Store.LastId() == StoredMessages)
            return Path;
        std::filesystem::remove(Path);
        TMessageStore Fresh(Path, {"bench", "matched"});
        std::mt19937 Random(1);
        for (std::int64_t First = 1; First <= StoredMessages; First += Batch) {
            std::vector<TListenedMessage> Messages;
            for (std::int64_t Id = First; Id < First + Batch; ++Id)
                Messages.push_back(Made(Id, Random));
            Fresh.Store(Messages);
        }
        return Path;
    }();
    return Path;
}

void Search(benchmark::State &State, const std::function<void(TMessageQuery &)> &Ask) {
    const TStoredHistory History(FilledStore());
    TMessageQuery Query;
    Ask(Query);
    std::size_t Found = 0;
    for (auto _ : State)
        Found = History.Find(Query).size();
    State.counters["found"] = double(Found);
}

std::chrono::system_clock::time_point Middle() {
    return FirstTime + StoredMessages / 2 * Spacing;
}

} // namespace

BENCHMARK_CAPTURE(Search, NewestPage, [](TMessageQuery &) {})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, PageDeepInHistory, [](TMessageQuery &Q) {
    Q.BeforeId = 300000;
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, Locations, [](TMessageQuery &Q) {
    Q.IsSMS = false;
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, AnHourLongAgo, [](TMessageQuery &Q) {
    Q.Since = Middle() - 1h, Q.Until = Middle();
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, SinceLongAgo, [](TMessageQuery &Q) {
    Q.Since = FirstTime;
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, AnHourLongAgoCaughtUp, [](TMessageQuery &Q) {
    Q.Since = Middle() - 1h, Q.AfterId = StoredMessages / 2 - 300, Q.OldestFirst = true;
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, TextInEveryMessage, [](TMessageQuery &Q) {
    Q.Text = "CALL";
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, TextInFew, [](TMessageQuery &Q) {
    Q.Text = "FLOOD";
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, TextInNone, [](TMessageQuery &Q) {
    Q.Text = "WILDFIRE";
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, Latin1TextInSome, [](TMessageQuery &Q) {
    Q.Text = "CAF\xc9 SQ";
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, TextAndKind, [](TMessageQuery &Q) {
    Q.Text = "UNIT 4", Q.IsSMS = true;
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, TwoLettersInMany, [](TMessageQuery &Q) {
    Q.Text = "TO";
})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Search, TwoLettersInNone, [](TMessageQuery &Q) {
    Q.Text = "QZ";
})->Unit(benchmark::kMillisecond);
