// Faults provoked for real around the snapshot file and the POSIX tool: a
// file that cannot grow (size limit, full file system), a file removed,
// replaced, cut or grown by someone else, a reader that never lets go, a
// flood of output, and a child killed in the middle of a sequence. In each
// case nothing is lost that can be kept.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fault_screens.hpp"
#include "snapshot/asciicast.hpp"
#include "snapshot/render.hpp"
#include "snapshot/output_file.hpp"
#include "snapshot/transcript.hpp"
#include "tests/file_bytes.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using namespace vtsnap::faults;

const std::string kTool = VTSNAP_BINARY;
const std::string kChild = VTSNAP_FAULT_CHILD;
using vtsnap::test::kBom;
// A file that can hold the short screen but not the long one.
constexpr rlim_t kRoom = 4096;
static_assert(kShortLines * 102 + 3 < kRoom && kLongLines * 102 > kRoom);

std::string finalFile() { return std::string(kBom) + kFinalText; }

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Everything the descriptor shows from offset 0, as another process reads it.
std::string readThrough(int fd) {
    std::string out;
    char buffer[16384];
    off_t at = 0;
    ssize_t n;
    while ((n = pread(fd, buffer, sizeof buffer, at)) > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
    return out;
}

bool waitUntil(const std::function<bool()>& ready, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!ready()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

void feed(Screen& screen, std::string_view bytes) {
    screen.feedBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string render(Screen& screen) {
    return renderSnapshot(screen, false);
}

// A small tmpfs of its own, when this machine lets us mount one. It is
// mounted in a mount namespace of this process where one can be made, so
// that it goes away with the process whatever happens to the test.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const fs::path& where) : path_(where) {
        static const bool privateMounts =
            unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        (void)privateMounts;
        fs::create_directories(where);
        mounted_ = mount("tmpfs", where.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

    // Fills the file system, then gives back `room` bytes.
    bool fillLeaving(off_t room) {
        const int fd = open((path_ / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) return false;
        const std::string block(4096, 'f');
        off_t size = 0;
        ssize_t n;
        while ((n = write(fd, block.data(), block.size())) > 0) size += n;
        const bool ok = size >= room && ftruncate(fd, size - room) == 0;
        close(fd);
        return ok;
    }

private:
    fs::path path_;
    bool mounted_ = false;
};

// The file size limit for this process, put back when it goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
};

class FileFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vtsnap-filefault-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (fd_ >= 0) close(fd_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    void open(const fs::path& path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd_, 0);
        path_ = path;
    }
    bool snapshot() { return writeSnapshot(screen_, OutputFile(fd_), false); }
    std::string contents() const { return readFile(path_); }

    // A medium screen lands, a long one cannot, a short one lands cleanly.
    // `cannotGrow` holds while the long one is attempted.
    void failThenRecover(const std::function<void(const std::function<void()>&)>& cannotGrow) {
        feed(screen_, kClear + numberedLines(30));
        ASSERT_TRUE(snapshot());
        ASSERT_EQ(contents(), render(screen_));

        feed(screen_, kClear + numberedLines(kLongLines));
        const std::string wanted = render(screen_);
        bool written = true;
        cannotGrow([&] { written = snapshot(); });
        EXPECT_FALSE(written);
        // What did fit is the start of the new snapshot; the rest is missing.
        const std::string partial = contents();
        EXPECT_EQ(partial.size(), kRoom);
        EXPECT_EQ(partial, wanted.substr(0, partial.size()));

        feed(screen_, kClear + "short\r\n");
        EXPECT_TRUE(snapshot());
        EXPECT_EQ(contents(), std::string(kBom) + "short\r\n");
    }

    fs::path dir_;
    fs::path path_;
    int fd_ = -1;
    Screen screen_{120, 100};
};

TEST_F(FileFaultTest, ASnapshotBeyondTheFileSizeLimitFailsAndTheNextOneIsClean) {
    open(dir_ / "out.txt");
    failThenRecover([](const std::function<void()>& write) {
        FileSizeLimit limit(kRoom);
        write();
    });

    // No room at all: false, and the file keeps what it held.
    FileSizeLimit none(0);
    feed(screen_, "more\r\n");
    EXPECT_FALSE(snapshot());
    EXPECT_EQ(contents(), std::string(kBom) + "short\r\n");
}

TEST_F(FileFaultTest, ASnapshotOnAFullFileSystemFailsAndTheNextOneIsClean) {
    SmallFileSystem small(dir_ / "mnt");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    open(dir_ / "mnt" / "out.txt");
    failThenRecover([&](const std::function<void()>& write) {
        // The file holds the medium screen in one page, which it may fill;
        // not a byte beyond it.
        ASSERT_TRUE(small.fillLeaving(0));
        write();
    });
}

// A transcript of numbered lines read back: the numbers of its lines in
// order, a note of lost lines counted as that many numbers, and anything else
// as -1.
std::vector<long> numbersIn(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::vector<long> numbers;
    char bom[3] = {};
    if (!in.read(bom, 3) || std::string_view(bom, 3) != kBom) return {-1};
    const std::string note = "[vtsnap: ";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        long n = -1;
        if (line.starts_with(note)) {
            for (long lost = std::atol(line.c_str() + note.size()); lost > 0; --lost) numbers.push_back(0);
            continue;
        }
        if (line.starts_with("line ")) n = std::atol(line.c_str() + 5);
        numbers.push_back(line == faults::numberedLine(static_cast<int>(n)) ? n : -1);
    }
    return numbers;
}

// True when the file holds lines 1 to `count` exactly, each once, in order;
// a note of lost lines may stand for some of them, the rest must be there.
::testing::AssertionResult holdsLines(const std::string& path, long count, long* lost = nullptr) {
    const std::vector<long> numbers = numbersIn(path);
    long missing = 0;
    for (long i = 0; i < static_cast<long>(numbers.size()); ++i) {
        if (numbers[i] == 0) {
            ++missing;
        } else if (numbers[i] != i + 1) {
            return ::testing::AssertionFailure() << path << ": line " << i + 1 << " holds number " << numbers[i];
        }
    }
    if (static_cast<long>(numbers.size()) != count)
        return ::testing::AssertionFailure() << path << ": " << numbers.size() << " lines, expected " << count;
    if (lost != nullptr) *lost = missing;
    else if (missing != 0) return ::testing::AssertionFailure() << path << ": " << missing << " lines lost";
    return ::testing::AssertionSuccess();
}

// The transcript on a file that refuses writes for a while: what a failed or
// short write left is written at the next tick, from where it stopped.
class TranscriptFaultTest : public FileFaultTest {
protected:
    void SetUp() override {
        FileFaultTest::SetUp();
        open(dir_ / "log.txt");
        transcript_.emplace(OutputFile(fd_), 120, false);
        screen_.setRowSink(&*transcript_);
    }
    void TearDown() override {
        screen_.setRowSink(nullptr);
        transcript_.reset();
        FileFaultTest::TearDown();
    }
    void feedLines(int from, int to) {
        std::string lines;
        for (int i = from; i <= to; ++i) lines += faults::numberedLine(i) + "\r\n";
        feed(screen_, lines);
    }
    // The writer works on its own thread; a tick's outcome shows in failing().
    bool tickAndWaitUntilFailing(bool failing) {
        transcript_->tick();
        return waitUntil([&] { return transcript_->failing() == failing; }, 5s);
    }

    std::optional<Transcript> transcript_;
};

TEST_F(TranscriptFaultTest, AppendsTheFileRefusedAreRetriedAtTheNextTick) {
    {
        FileSizeLimit limit(kRoom);
        feedLines(1, 300);
        ASSERT_TRUE(tickAndWaitUntilFailing(true));
        EXPECT_EQ(contents().size(), kRoom);  // a short write, then a refused one
    }
    feedLines(301, 400);
    ASSERT_TRUE(tickAndWaitUntilFailing(false));
    feedLines(401, 500);
    EXPECT_TRUE(transcript_->finish(screen_));
    EXPECT_EQ(contents(), std::string(kBom) + faults::numberedLines(500));
}

TEST_F(TranscriptFaultTest, BeyondWhatItHoldsLinesAreCountedAndTheFileSaysSo) {
    {
        FileSizeLimit none(0);
        // Less than is written at once: the tick makes the only attempt.
        feedLines(1, 5000);
        ASSERT_TRUE(tickAndWaitUntilFailing(true));
        // No write is tried again before the next tick: these only fill memory.
        feedLines(5001, 60000);
    }
    ASSERT_TRUE(tickAndWaitUntilFailing(false));
    feedLines(60001, 60100);
    EXPECT_TRUE(transcript_->finish(screen_));
    long lost = 0;
    EXPECT_TRUE(holdsLines(path_, 60100, &lost));
    // What was held filled the memory allowed, 102 bytes a line: the lines
    // before the note. Rows still waiting for the renderer at the tick that
    // found the file open again may follow it.
    EXPECT_GT(lost, 0);
    const std::vector<long> numbers = numbersIn(path_);
    const long held = std::find(numbers.begin(), numbers.end(), 0) - numbers.begin();
    EXPECT_LE(held * 102 + 3, static_cast<long>(Transcript::kHoldAtMost));
    EXPECT_GT(held * 102 + 3, static_cast<long>(Transcript::kHoldAtMost) - 256);
}

// The end refused: the rows that did not reach the file whole, those held
// since an earlier failure and the last screen's among them, are counted in
// one last line, which a line taken back makes room for; and none of it is
// reported as written.
TEST_F(TranscriptFaultTest, AnEndTheFileRefusesIsToldOfInItsLastLine) {
    {
        FileSizeLimit limit(kRoom);
        // 51 lines leave the screen of 100 rows; the file takes 40 and part of the 41st.
        feedLines(1, 150);
        ASSERT_TRUE(tickAndWaitUntilFailing(true));
        feedLines(151, 160);
        EXPECT_FALSE(transcript_->finish(screen_));
    }
    // Of the 160 lines, the 61 that left and the 99 of the last screen, 39 stay.
    EXPECT_EQ(contents(), std::string(kBom) + faults::numberedLines(39) +
                              "[vtsnap: 121 lines missing here: the log file could not take them]\r\n");
}

// A pipe whose reader has gone takes nothing more; the transcript stops
// rendering and writing, and tells of it.
TEST(TranscriptPipeTest, AReaderThatHasGoneEndsTheWriting) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const auto previous = signal(SIGPIPE, SIG_IGN);
    close(ends[0]);
    Screen screen(120, 5);
    {
        Transcript transcript(OutputFile(ends[1]), 120, false);
        screen.setRowSink(&transcript);
        feed(screen, "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\n");
        transcript.tick();
        EXPECT_TRUE(waitUntil([&] { return transcript.readerGone(); }, 5s));
        EXPECT_FALSE(transcript.finish(screen));
        EXPECT_TRUE(transcript.readerGone());
        screen.setRowSink(nullptr);
    }
    signal(SIGPIPE, previous);
    close(ends[1]);
}

// The tool, run in the background with the limits a test sets.
struct ToolOptions {
    std::optional<rlim_t> fileSizeLimit;
    bool ignoreFileSizeSignal = true;
};

struct Outcome {
    int exitCode = -1;  // -1 unless the tool exited normally
    int signal = 0;     // the signal that ended the tool, if one did
    double seconds = 0;
    long maxRssKb = 0;  // the larger of the tool's and its child's peak
};

class Tool {
public:
    Tool(std::vector<std::string> args, const ToolOptions& options = {}) {
        args.insert(args.begin(), kTool);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        started_ = Clock::now();
        pid_ = fork();
        if (pid_ == 0) {
            signal(SIGXFSZ, options.ignoreFileSizeSignal ? SIG_IGN : SIG_DFL);
            if (options.fileSizeLimit) {
                rlimit limit{};
                getrlimit(RLIMIT_FSIZE, &limit);
                limit.rlim_cur = *options.fileSizeLimit;
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(120);
            }
            execv(kTool.c_str(), argv.data());
            _exit(121);
        }
    }

    bool running() { return !done_ && !reap(WNOHANG); }
    pid_t pid() const { return pid_; }

    Outcome wait(std::chrono::seconds limit = 60s) {
        const auto end = started_ + limit;
        while (!done_ && !reap(WNOHANG)) {
            if (Clock::now() > end) {
                kill(pid_, SIGKILL);
                reap(0);
                ADD_FAILURE() << "vtsnap still ran after " << limit.count() << " s";
            }
            std::this_thread::sleep_for(2ms);
        }
        return outcome_;
    }

private:
    bool reap(int options) {
        int status = 0;
        rusage usage{};
        if (wait4(pid_, &status, options, &usage) != pid_) return false;
        outcome_.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
        outcome_.maxRssKb = usage.ru_maxrss;
        if (WIFEXITED(status)) outcome_.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) outcome_.signal = WTERMSIG(status);
        done_ = true;
        return true;
    }

    pid_t pid_ = -1;
    Clock::time_point started_;
    bool done_ = false;
    Outcome outcome_;
};

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vtsnap-fault-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string out() const { return (dir_ / "out.txt").string(); }
    bool outputHasLanded() const { return readFile(out()).substr(0, 3) == kBom; }

    fs::path dir_;
};

// Watches the file's size from outside while the tool runs.
class SizeWatcher {
public:
    explicit SizeWatcher(std::string path)
        : thread_([this, path] {
              while (!stop_) {
                  struct stat st {};
                  if (stat(path.c_str(), &st) == 0) largest_ = std::max<off_t>(largest_, st.st_size);
                  std::this_thread::sleep_for(1ms);
              }
          }) {}
    ~SizeWatcher() { stop(); }
    off_t stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return largest_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<off_t> largest_{0};
    std::thread thread_;
};

TEST_F(FaultTest, SnapshotsBeyondTheFileSizeLimitFailButTheRunGoesOn) {
    SizeWatcher watcher(out());
    Tool tool({kChild, "phases", "1000", "3", out()}, {.fileSizeLimit = kRoom});
    const Outcome r = tool.wait();
    const off_t largest = watcher.stop();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 3);
    // The long screen was tried and stopped at the limit...
    EXPECT_EQ(largest, static_cast<off_t>(kRoom));
    // ...and the final one landed whole, with nothing of the long one after it.
    EXPECT_EQ(readFile(out()), finalFile());
}

// No room for a single byte, and SIGXFSZ left at its default by whoever
// started the tool: every snapshot fails, but the run, and the child's exit
// code, must not end by that signal.
TEST_F(FaultTest, NoRoomAtAllLeavesAnEmptyFileButTheExitCodeStands) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's runtime writes a file as each process starts, which no room forbids";
#endif
    Tool tool({kChild, "phases", "100", "6", out()}, {.fileSizeLimit = 0, .ignoreFileSizeSignal = false});
    const Outcome r = tool.wait();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 6);
    EXPECT_EQ(readFile(out()), "");
}

TEST_F(FaultTest, SnapshotsOnAFullFileSystemFailButTheRunGoesOn) {
    SmallFileSystem small(dir_ / "mnt");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_TRUE(small.fillLeaving(static_cast<off_t>(kRoom)));
    const std::string path = (dir_ / "mnt" / "out.txt").string();
    SizeWatcher watcher(path);
    Tool tool({kChild, "phases", "1000", "3", path});
    const Outcome r = tool.wait();
    const off_t largest = watcher.stop();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(largest, static_cast<off_t>(kRoom));
    EXPECT_EQ(readFile(path), finalFile());
}

TEST_F(FaultTest, TheOutputFileRemovedMidRun) {
    Tool tool({kChild, "ticks", "6", "200", "5", out()});
    ASSERT_TRUE(waitUntil([&] { return outputHasLanded(); }, 5s));
    ASSERT_EQ(unlink(out().c_str()), 0);
    const Outcome r = tool.wait();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 5);
    // The tool writes on through its own descriptor and never makes a new file.
    EXPECT_FALSE(fs::exists(out()));
}

TEST_F(FaultTest, TheOutputFileReplacedMidRun) {
    Tool tool({kChild, "ticks", "6", "200", "5", out()});
    ASSERT_TRUE(waitUntil([&] { return outputHasLanded(); }, 5s));
    const std::string other = (dir_ / "other.txt").string();
    std::ofstream(other, std::ios::binary) << "another program's file";
    ASSERT_EQ(rename(other.c_str(), out().c_str()), 0);
    const Outcome r = tool.wait();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(readFile(out()), "another program's file");
}

TEST_F(FaultTest, TheOutputFileCutOrGrownByOthersIsMadeWholeAgain) {
    Tool tool({kChild, "ticks", "8", "200", "0", out()});
    ASSERT_TRUE(waitUntil([&] { return outputHasLanded(); }, 5s));
    ASSERT_EQ(truncate(out().c_str(), 0), 0);
    std::this_thread::sleep_for(300ms);
    {
        std::ofstream append(out(), std::ios::binary | std::ios::app);
        append << std::string(100000, '#');
    }
    const Outcome r = tool.wait();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(readFile(out()), finalFile());
}

TEST_F(FaultTest, AReaderNeverSeesTheFileWithoutItsByteOrderMark) {
    Tool tool({kChild, "ticks", "12", "120", "0", out()});
    int reader = -1;
    ASSERT_TRUE(waitUntil([&] { return (reader = ::open(out().c_str(), O_RDONLY)) >= 0; }, 5s));

    // Reads the whole file in a loop for as long as the tool runs.
    long reads = 0, afterFirstSnapshot = 0, withoutBom = 0;
    bool landed = false;
    while (tool.running()) {
        const std::string seen = readThrough(reader);
        ++reads;
        if (!landed) landed = seen.size() >= 3;
        if (landed) {
            ++afterFirstSnapshot;
            if (seen.substr(0, 3) != kBom) ++withoutBom;
        }
    }
    const Outcome r = tool.wait();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_GT(afterFirstSnapshot, 100);
    EXPECT_EQ(withoutBom, 0) << "of " << afterFirstSnapshot << " reads";
    // The same descriptor shows the final screen at the end.
    EXPECT_EQ(readThrough(reader), finalFile());
    close(reader);
    std::cout << "reader: " << reads << " reads, " << afterFirstSnapshot << " after the first snapshot\n";
}

TEST_F(FaultTest, AFloodOfOutputIsKeptUpWithInFlatMemory) {
    const long big = 200;
    const Outcome small = Tool({"-color", kChild, "flood", "2", out()}).wait();
    EXPECT_EQ(small.exitCode, 0);
    EXPECT_EQ(readFile(out()), finalFile());

    const Outcome large = Tool({"-color", kChild, "flood", std::to_string(big), out()}).wait(600s);
    EXPECT_EQ(large.signal, 0);
    EXPECT_EQ(large.exitCode, 0);
    EXPECT_EQ(readFile(out()), finalFile());
    // Memory does not follow the amount of output. (AddressSanitizer holds
    // freed memory back, up to 256 MB, so there the peak follows the output
    // wherever anything is freed, marks that join characters included.)
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(large.maxRssKb - small.maxRssKb, 8 * 1024)
        << "peak RSS " << small.maxRssKb << " KB after 2 MB, " << large.maxRssKb << " KB after " << big << " MB";
#endif
    std::cout << "flood: " << big << " MB in " << large.seconds << " s (" << big / large.seconds
              << " MB/s); peak RSS " << small.maxRssKb << " KB after 2 MB, " << large.maxRssKb << " KB after "
              << big << " MB\n";
}

TEST_F(FaultTest, AFloodWithALogLosesNoLineAndKeepsMemoryFlat) {
    // About 200 MB of numbered lines, each 102 bytes.
    const long lines = 2'056'000;
    const std::string log = (dir_ / "log.txt").string();
    const Outcome without = Tool({"-rows=5", kChild, "lines", std::to_string(lines), "0", out()}).wait(600s);
    EXPECT_EQ(without.exitCode, 0);
    const Outcome with = Tool({"-rows=5", "-log=" + log, kChild, "lines", std::to_string(lines), "0", out()}).wait(600s);
    EXPECT_EQ(with.signal, 0);
    EXPECT_EQ(with.exitCode, 0);
    EXPECT_TRUE(holdsLines(log, lines));
#if !defined(__SANITIZE_THREAD__)
    // ThreadSanitizer's shadow memory multiplies what the log's buffers take.
    // Flat, not small: while the file lags, 4 MB may wait beside the 4 MB being
    // written, and up to 16 batches of rows (4 MB) beside them, with what the
    // threads' allocator keeps (13.3 MB in all at most, measured under load);
    // 200 MB of lines kept would take ten times the bound.
    EXPECT_LT(with.maxRssKb - without.maxRssKb, 20 * 1024)
        << "peak RSS " << without.maxRssKb << " KB without the log, " << with.maxRssKb << " KB with it";
#endif
    std::cout << "flood of " << lines << " lines: " << without.seconds << " s, peak RSS " << without.maxRssKb
              << " KB; with -log " << with.seconds << " s, " << with.maxRssKb << " KB\n";
}

// The program's bytes, as the recording at `path` holds them: the text of its
// output events in order, compared with `expected` piece by piece as it is read.
::testing::AssertionResult recordingHolds(const std::string& path, const std::function<std::string(long)>& expected,
                                          long pieces) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || !readAsciicastHeader(line))
        return ::testing::AssertionFailure() << path << ": no asciicast header";
    std::string want;  // what the events must still show
    long next = 1;
    AsciicastEvent event;
    for (long number = 2; std::getline(in, line); ++number) {
        if (!readAsciicastEvent(line, event) || event.type != "o")
            return ::testing::AssertionFailure() << path << ": line " << number << " is not an output event";
        while (want.size() < event.text.size() && next <= pieces) want += expected(next++);
        if (want.compare(0, event.text.size(), event.text) != 0)
            return ::testing::AssertionFailure() << path << ": line " << number << " holds other bytes";
        want.erase(0, event.text.size());
    }
    if (!want.empty() || next <= pieces)
        return ::testing::AssertionFailure() << path << ": the recording ends before piece " << next;
    return ::testing::AssertionSuccess();
}

TEST_F(FaultTest, AFloodWithARecordingKeepsEveryByteAndMemoryFlat) {
    const long lines = 2'056'000;
    const std::string record = (dir_ / "run.cast").string();
    const Outcome without = Tool({"-rows=5", kChild, "lines", std::to_string(lines), "0", out()}).wait(600s);
    EXPECT_EQ(without.exitCode, 0);
    const Outcome with =
        Tool({"-rows=5", "-record=" + record, kChild, "lines", std::to_string(lines), "0", out()}).wait(600s);
    EXPECT_EQ(with.signal, 0);
    EXPECT_EQ(with.exitCode, 0);
    // The terminal writes each line feed as CR LF.
    EXPECT_TRUE(recordingHolds(record, [](long i) { return numberedLine(static_cast<int>(i)) + "\r\r\n"; }, lines));
#if !defined(__SANITIZE_THREAD__)
    // While the file lags, 4 MB may wait beside the 4 MB being written.
    EXPECT_LT(with.maxRssKb - without.maxRssKb, 12 * 1024)
        << "peak RSS " << without.maxRssKb << " KB without the recording, " << with.maxRssKb << " KB with it";
#endif
    std::cout << "flood of " << lines << " lines: " << without.seconds << " s, peak RSS " << without.maxRssKb
              << " KB; with -record " << with.seconds << " s, " << with.maxRssKb << " KB, "
              << std::filesystem::file_size(record) << " bytes recorded\n";
}

// The recording reaches the size limit mid-run; once the limit is lifted, the
// next tick writes what was refused, from where the file stopped.
TEST_F(FaultTest, ARecordingThatCouldNotGrowIsCompletedWhenItCanAgain) {
    const std::string record = (dir_ / "run.cast").string();
    Tool tool({"-rows=5", "-record=" + record, kChild, "lines", "5000", "600", out()}, {.fileSizeLimit = kRoom});
    ASSERT_TRUE(waitUntil([&] { return fs::exists(record) && fs::file_size(record) == kRoom; }, 10s));
    std::this_thread::sleep_for(600ms);  // a tick or two that fail
    EXPECT_EQ(fs::file_size(record), kRoom);
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    ASSERT_EQ(prlimit(tool.pid(), RLIMIT_FSIZE, &unlimited, nullptr), 0);
    const Outcome r = tool.wait();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(recordingHolds(record, [](long i) { return numberedLine(static_cast<int>(i)) + "\r\r\n"; }, 5000));
}

// A recording that stays refused: what waits for the file is bounded, the
// run ends with 1 and the file with a whole line.
TEST_F(FaultTest, ARecordingRefusedToTheEndEndsWithAWholeLine) {
    const std::string record = (dir_ / "run.cast").string();
    // 20 MB of lines, far more than the 4 MB kept for a file that refuses them.
    const std::vector<std::string> lines = {"-rows=5", kChild, "lines", "200000", "0", out()};
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The sanitizers' own memory would hide the bound.
    const Outcome without = Tool(lines).wait(120s);
#endif
    std::vector<std::string> recorded = lines;
    recorded.insert(recorded.begin(), "-record=" + record);
    const Outcome r = Tool(recorded, {.fileSizeLimit = kRoom}).wait(120s);
    EXPECT_EQ(r.exitCode, 1);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(r.maxRssKb - without.maxRssKb, 8 * 1024)
        << "peak RSS " << without.maxRssKb << " KB without the recording, " << r.maxRssKb << " KB with it";
#endif
    const std::string bytes = readFile(record);
    ASSERT_FALSE(bytes.empty());
    EXPECT_LE(bytes.size(), static_cast<std::size_t>(kRoom));
    EXPECT_EQ(bytes.back(), '\n');
}

// The log reaches the size limit mid-run; once the limit is lifted, the next
// tick writes what was refused, from where the file stopped.
TEST_F(FaultTest, ALogThatCouldNotGrowIsCompletedWhenItCanAgain) {
    const std::string log = (dir_ / "log.txt").string();
    // Five bursts of lines, 600 ms apart: the run lasts 3 s.
    Tool tool({"-rows=5", "-log=" + log, kChild, "lines", "5000", "600", out()}, {.fileSizeLimit = kRoom});
    ASSERT_TRUE(waitUntil([&] { return fs::exists(log) && fs::file_size(log) == kRoom; }, 10s));
    std::this_thread::sleep_for(600ms);  // a tick or two that fail
    EXPECT_EQ(fs::file_size(log), kRoom);
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    ASSERT_EQ(prlimit(tool.pid(), RLIMIT_FSIZE, &unlimited, nullptr), 0);
    const Outcome r = tool.wait();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(holdsLines(log, 5000));
}

// The log fills the file system and the program ends: the cut line is taken
// back, and the line before it too, to make room for the note of what is
// missing. The run ends with 1, the program having ended with 0.
TEST_F(FaultTest, ALogOnAFullFileSystemEndsWithANoteOfTheMissingLines) {
    SmallFileSystem small(dir_ / "mnt");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_TRUE(small.fillLeaving(static_cast<off_t>(kRoom)));
    const std::string log = (dir_ / "mnt" / "log.txt").string();
    const Outcome r = Tool({"-rows=5", "-log=" + log, kChild, "lines", "1000", "0", out()}).wait();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 1);
    // 40 lines of 102 bytes and the BOM fill all but 13 bytes of the room.
    EXPECT_EQ(readFile(log), std::string(kBom) + faults::numberedLines(39) +
                                 "[vtsnap: 961 lines missing here: the log file could not take them]\r\n");
    long lost = 0;
    EXPECT_TRUE(holdsLines(log, 1000, &lost));
    EXPECT_EQ(lost, 961);
}

TEST_F(FaultTest, AChildKilledInTheMiddleOfASequenceLeavesAWellFormedFile) {
    for (int s : {SIGKILL, SIGTERM}) {
        for (const char* tail : {"csi", "osc", "utf8", "esc"}) {
            const Outcome r = Tool({kChild, "die", std::to_string(s), tail, out()}).wait();
            EXPECT_EQ(r.signal, 0) << tail;
            EXPECT_EQ(r.exitCode, 128 + s) << tail;
            EXPECT_EQ(readFile(out()), std::string(kBom) + kBeforeSignal + "\r\n") << tail << ", signal " << s;
        }
    }
}

}  // namespace
}  // namespace vtsnap
