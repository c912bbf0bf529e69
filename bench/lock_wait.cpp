// How long the reader thread waits for the capture loop's lock while the
// snapshots' flush is slow. The program is linked with fsync wrapped
// (-Wl,--wrap=fsync) so that every flush takes FLUSH_MS first, as on a slow or
// network disk; a thread feeds coloured output in 4096-byte blocks as fast as
// it can, as the reader does from a busy program. The lock is wrapped too
// (-Wl,--wrap=pthread_mutex_lock, --wrap=pthread_mutex_unlock): when the
// feeding thread finds it taken, the time until it gets it is one wait; each
// time the main thread (the snapshots) holds it is one hold.
//
//   vtsnap-lock-wait [SECONDS] [ROWS] [FLUSH_MS]    (defaults: 5, 100, 200)
//
// Prints the longest wait and how many there were, the longest hold, the
// longest feed call (a wait plus the decoding of one block), and the time a
// render of the same screen takes on its own, for comparison.
#include <pthread.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/streams.hpp"
#include "capture/capture_loop.hpp"
#include "snapshot/render.hpp"
#include "snapshot/output_file.hpp"

namespace {

using Clock = std::chrono::steady_clock;
std::atomic<int> flushDelayMs{200};
thread_local bool feeding = false;
std::vector<double> waits;  // the feeding thread's, in microseconds
std::vector<double> holds;  // the main thread's, in microseconds
Clock::time_point heldSince;

double microseconds(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

class TimedRun final : public vtsnap::ChildWatch {
public:
    TimedRun(vtsnap::CaptureLoop& loop, double seconds)
        : loop_(loop), end_(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(seconds))) {
        stream_ = vtsnap::bench::makeStream(vtsnap::bench::StreamClass::SgrHeavy, 8 << 20);
        feeder_ = std::thread([this] { feed(); });
    }

    bool waitForChild(int milliseconds) override {
        const auto until = std::min(end_, Clock::now() + std::chrono::milliseconds(milliseconds));
        std::this_thread::sleep_until(until);
        return Clock::now() >= end_;
    }
    void finishReading() override {
        stop_ = true;
        feeder_.join();
    }

    std::vector<double> calls;  // microseconds, one per feed call

private:
    void feed() {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream_.data());
        std::size_t at = 0;
        feeding = true;
        while (!stop_) {
            const std::size_t n = std::min<std::size_t>(vtsnap::kReadSize, stream_.size() - at);
            const auto start = Clock::now();
            loop_.feed(bytes + at, n);
            calls.push_back(microseconds(Clock::now() - start));
            at = at + n == stream_.size() ? 0 : at + n;
        }
    }

    vtsnap::CaptureLoop& loop_;
    Clock::time_point end_;
    std::string stream_;
    std::atomic<bool> stop_{false};
    std::thread feeder_;
};

}  // namespace

// Every fsync of the program, the snapshot's flush among them, first waits.
extern "C" int __real_pthread_mutex_lock(pthread_mutex_t* mutex);
extern "C" int __real_pthread_mutex_unlock(pthread_mutex_t* mutex);
extern "C" int __wrap_pthread_mutex_lock(pthread_mutex_t* mutex) {
    if (!feeding) {
        const int result = __real_pthread_mutex_lock(mutex);
        heldSince = Clock::now();
        return result;
    }
    if (pthread_mutex_trylock(mutex) == 0) return 0;
    const auto start = Clock::now();
    const int result = __real_pthread_mutex_lock(mutex);
    waits.push_back(microseconds(Clock::now() - start));
    return result;
}
extern "C" int __wrap_pthread_mutex_unlock(pthread_mutex_t* mutex) {
    if (!feeding) holds.push_back(microseconds(Clock::now() - heldSince));
    return __real_pthread_mutex_unlock(mutex);
}

extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) {
    std::this_thread::sleep_for(std::chrono::milliseconds(flushDelayMs.load()));
    return __real_fsync(fd);
}

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5;
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100;
    flushDelayMs = argc > 3 ? std::atoi(argv[3]) : 200;

    char path[] = "/tmp/vtsnap-lock-wait-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return 1;
    unlink(path);

    std::vector<double> renders;
    std::vector<double> calls;
    {
        vtsnap::OutputFiles files;
        files[vtsnap::indexOf(vtsnap::Output::Screen)] = vtsnap::OutputFile(fd);
        vtsnap::CaptureLoop loop(rows, files, true);
        TimedRun run(loop, seconds);
        loop.run(run);
        calls = std::move(run.calls);
        for (int i = 0; i < 20; ++i) {
            const auto start = Clock::now();
            const std::string file = vtsnap::renderSnapshot(loop.screen(), true);
            renders.push_back(microseconds(Clock::now() - start));
        }
    }
    close(fd);

    std::sort(waits.begin(), waits.end());
    std::sort(holds.begin(), holds.end());
    std::sort(calls.begin(), calls.end());
    std::sort(renders.begin(), renders.end());
    if (calls.empty()) return 1;
    std::printf("rows %d, flush %d ms, %.1f s: %zu waits for the lock, longest %.0f us; snapshots held it %zu "
                "times, longest %.0f us; %zu feed calls, longest %.0f us, median %.1f us; render of the screen "
                "alone: median %.0f us, longest %.0f us\n",
                rows, flushDelayMs.load(), seconds, waits.size(), waits.empty() ? 0.0 : waits.back(), holds.size(),
                holds.empty() ? 0.0 : holds.back(), calls.size(), calls.back(), calls[calls.size() / 2],
                renders[renders.size() / 2], renders.back());
    return 0;
}
