// Decoder and renderer throughput. Streams are fed in 4096-byte blocks, as
// the reader thread hands them on.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>

#include "bench/streams.hpp"
#include "snapshot/asciicast.hpp"
#include "snapshot/page.hpp"
#include "snapshot/svg.hpp"
#include "snapshot/render.hpp"
#include "snapshot/transcript.hpp"
#include "terminal/screen.hpp"

namespace {

using vtsnap::Screen;
using vtsnap::bench::StreamClass;

constexpr std::size_t kStreamBytes = 8 << 20;
constexpr std::size_t kBlock = 4096;

const std::string& stream(StreamClass c) {
    static std::map<StreamClass, std::string> cache;
    auto it = cache.find(c);
    if (it == cache.end()) it = cache.emplace(c, vtsnap::bench::makeStream(c, kStreamBytes)).first;
    return it->second;
}

void feedAll(Screen& screen, const std::string& bytes) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); at += kBlock)
        screen.feedBytes(p + at, std::min(kBlock, bytes.size() - at));
}

// Named feed/CLASS/rows:N so that a filter picks a class or a height, and
// bench/feed-table sets each class's two heights side by side.
void BM_Feed(benchmark::State& state, StreamClass c, std::int32_t rows) {
    const std::string& bytes = stream(c);
    auto screen = std::make_unique<Screen>(120, rows);
    feedAll(*screen, bytes);  // warm: touch the whole grid once
    for (auto _ : state) feedAll(*screen, bytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// Medians of three in CPU time: other work on the machine moves single runs
// by about ten per cent.
void registerFeeds() {
    for (StreamClass c : vtsnap::bench::kAllStreamClasses)
        for (std::int32_t rows : {100, 32767}) {
            const std::string name = "feed/" + std::string(vtsnap::bench::streamClassName(c)) +
                                     "/rows:" + std::to_string(rows);
            benchmark::RegisterBenchmark(name.c_str(), BM_Feed, c, rows)
                ->Unit(benchmark::kMillisecond)
                ->MinTime(1.0)
                ->Repetitions(3)
                ->ReportAggregatesOnly(true);
        }
}

// The same decoding with a transcript taking every row that scrolls off, as
// -log does, writing to /dev/null. The decoding thread only copies rows; the
// transcript's writer renders them on another thread. CPU time is the
// decoding thread's; the process_time runs count both threads.
void BM_FeedWithLog(benchmark::State& state) {
    const auto c = static_cast<StreamClass>(state.range(0));
    const bool color = state.range(1) != 0;
    const std::string& bytes = stream(c);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    auto screen = std::make_unique<Screen>(120, 100);
    {
        vtsnap::Transcript transcript(vtsnap::OutputFile(devNull), 120, color);
        screen->setRowSink(&transcript);
        feedAll(*screen, bytes);
        for (auto _ : state) feedAll(*screen, bytes);
        transcript.finish(*screen);
        screen->setRowSink(nullptr);
    }
    close(devNull);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.SetLabel(std::string(vtsnap::bench::streamClassName(c)) + (color ? ", log -color" : ", log"));
}
void feedWithLogArgs(benchmark::internal::Benchmark* b) {
    b->Args({static_cast<int>(StreamClass::PlainText), 0});
    b->Args({static_cast<int>(StreamClass::PlainText), 1});
    b->Args({static_cast<int>(StreamClass::SgrHeavy), 1});
}
BENCHMARK(BM_FeedWithLog)->Apply(feedWithLogArgs)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_FeedWithLog)->Apply(feedWithLogArgs)->Unit(benchmark::kMillisecond)->MinTime(1.0)->MeasureProcessCPUTime();

// What -record adds on the reading thread: each block encoded as an event,
// the events handed over every 64 KB (here simply dropped).
void BM_RecordEncode(benchmark::State& state) {
    const auto c = static_cast<StreamClass>(state.range(0));
    const std::string& bytes = stream(c);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::string events;
    for (auto _ : state) {
        vtsnap::AsciicastEncoder encoder;
        for (std::size_t at = 0; at < bytes.size(); at += kBlock) {
            encoder.appendEvent(events, at, p + at, std::min(kBlock, bytes.size() - at));
            if (events.size() >= (64 << 10)) events.clear();
        }
        benchmark::DoNotOptimize(events.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
    state.SetLabel(std::string(vtsnap::bench::streamClassName(c)));
}
BENCHMARK(BM_RecordEncode)
    ->Arg(static_cast<int>(StreamClass::PlainText))
    ->Arg(static_cast<int>(StreamClass::SgrHeavy))
    ->Arg(static_cast<int>(StreamClass::Utf8Mix))
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

// A full 120 x 32767 screen: every cell written in ASCII, with or without a
// colour change every few cells, or the utf8 stream's last 32767 lines.
enum class Filled { Ascii, Colored, Utf8 };
std::unique_ptr<Screen> fullScreen(Filled kind) {
    auto screen = std::make_unique<Screen>(120, 32767);
    if (kind == Filled::Utf8) {
        feedAll(*screen, stream(StreamClass::Utf8Mix));
        return screen;
    }
    std::string row;
    for (int c = 0; c < 120; ++c) {
        if (kind == Filled::Colored && c % 4 == 0)
            row += "\x1b[3" + std::to_string(c / 4 % 8) + ";4" + std::to_string((c / 4 + 3) % 8) + "m";
        row += static_cast<char>('!' + (c * 7) % 90);
    }
    std::string all;
    for (int r = 0; r < 32767; ++r) all += row;
    feedAll(*screen, all);
    return screen;
}

void BM_Render(benchmark::State& state) {
    const auto kind = static_cast<Filled>(state.range(0));
    const bool color = kind == Filled::Colored;
    auto screen = fullScreen(kind);
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string out = vtsnap::renderSnapshot(*screen, color);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.SetLabel(kind == Filled::Ascii ? "mono" : kind == Filled::Colored ? "color" : "utf8, mono");
}
BENCHMARK(BM_Render)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3)->ReportAggregatesOnly(true);

// The same full screen as a web page, as -html writes it at every tick.
// Times `render` (screen, out) on the full screen of the benchmark's kind;
// returns the size of what it writes.
template <class Render>
std::size_t timeMarkup(benchmark::State& state, Render render) {
    const auto kind = static_cast<Filled>(state.range(0));
    auto screen = fullScreen(kind);
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string out;
        render(*screen, out);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.SetLabel(kind == Filled::Ascii ? "plain" : kind == Filled::Colored ? "color" : "utf8");
    return bytes;
}

void BM_RenderPage(benchmark::State& state) {
    timeMarkup(state, [](const vtsnap::Screen& screen, std::string& out) { vtsnap::renderPage(out, screen, true); });
}
BENCHMARK(BM_RenderPage)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3)->ReportAggregatesOnly(true);

// The same full screen as the picture, as -svg writes it at every tick.
void BM_RenderSvg(benchmark::State& state) {
    const std::size_t bytes =
        timeMarkup(state, [](const vtsnap::Screen& screen, std::string& out) { vtsnap::renderSvg(out, screen); });
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_RenderSvg)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    registerFeeds();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
