// build/vtsnap end to end: real pseudo terminals, real processes, real files.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/file_bytes.hpp"
#include "tests/posix/whole_file.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::string kTool = VTSNAP_BINARY;
const std::string kChild = VTSNAP_TEST_CHILD;
using vtsnap::test::fileOf;
using vtsnap::test::kBom;
// Far beyond any run here; a tool still running then has hung.
constexpr auto kHangLimit = 30s;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool contains(std::string_view text, std::string_view part) { return text.find(part) != text.npos; }

struct ToolSetup {
    fs::path cwd;                          // the tool's working directory
    std::vector<std::string> environment;  // NAME=value, added to the tool's
    int inheritedFd = -1;                  // left open across exec into the tool
    bool oddSignals = false;               // start the tool with odd dispositions and a mask
};

struct Result {
    int exitCode = -1;  // -1 unless the tool exited normally
    int signal = 0;     // the signal that ended the tool, if one did
    double seconds = 0;
};

class Tool {
public:
    Tool(const std::vector<std::string>& args, const ToolSetup& setup) {
        std::vector<std::string> argv{kTool};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (auto& a : argv) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        std::vector<std::string> environment = setup.environment;
        started_ = Clock::now();
        pid_ = fork();
        if (pid_ == 0) {
            if (!setup.cwd.empty() && chdir(setup.cwd.c_str()) != 0) _exit(120);
            umask(022);
            if (setup.inheritedFd >= 0) {
                if (dup2(setup.inheritedFd, 9) < 0) _exit(121);
            }
            if (setup.oddSignals) {
                signal(SIGPIPE, SIG_IGN);
                signal(SIGUSR1, SIG_IGN);
                signal(SIGCHLD, SIG_IGN);
                sigset_t mask;
                sigemptyset(&mask);
                sigaddset(&mask, SIGUSR2);
                sigaddset(&mask, SIGALRM);
                sigaddset(&mask, SIGCHLD);
                sigprocmask(SIG_BLOCK, &mask, nullptr);
            }
            for (auto& e : environment) putenv(e.data());
            execv(kTool.c_str(), pointers.data());
            _exit(122);
        }
    }

    pid_t pid() const { return pid_; }
    double secondsSinceStart() const { return std::chrono::duration<double>(Clock::now() - started_).count(); }
    bool running() {
        if (done_) return false;
        return !reap(WNOHANG);
    }

    Result wait() {
        const auto limit = started_ + kHangLimit;
        while (!done_ && !reap(WNOHANG)) {
            if (Clock::now() > limit) {
                kill(pid_, SIGKILL);
                reap(0);
                ADD_FAILURE() << "vtsnap did not end";
            }
            std::this_thread::sleep_for(2ms);
        }
        return result_;
    }

private:
    bool reap(int options) {
        int status = 0;
        if (waitpid(pid_, &status, options) != pid_) return false;
        result_.seconds = secondsSinceStart();
        if (WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
        done_ = true;
        return true;
    }

    pid_t pid_ = -1;
    Clock::time_point started_;
    bool done_ = false;
    Result result_;
};

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vtsnap-e2e-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = fs::canonical(pattern);
        setup_.cwd = dir_;
    }
    void TearDown() override {
        for (pid_t pid : leftovers_) kill(pid, SIGKILL);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    Result run(const std::vector<std::string>& args) { return Tool(args, setup_).wait(); }
    std::string out() const { return (dir_ / "out.txt").string(); }
    std::string output() const { return readFile(dir_ / "out.txt"); }

    // A process that a test leaves behind on purpose, killed afterwards.
    void killLater(const fs::path& pidFile) {
        for (int i = 0; i < 200 && !fs::exists(pidFile); ++i) std::this_thread::sleep_for(10ms);
        const pid_t pid = std::atoi(readFile(pidFile).c_str());
        if (pid > 0) leftovers_.push_back(pid);
    }

    fs::path dir_;
    ToolSetup setup_;
    std::vector<pid_t> leftovers_;
};

TEST_F(CaptureTest, FewLinesAndExitAtOnce) {
    const Result r = run({"sh", "-c", "printf 'one\\ntwo\\n\\nfour  \\n'", out()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(output(), fileOf({"one", "two", "", "four"}));
    struct stat info {};
    ASSERT_EQ(stat(out().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);  // 0666 less the umask of 022
}

TEST_F(CaptureTest, EndsAsSoonAsTheChildEndsNotAtTheNextTick) {
    // Also when the tool inherits SIGCHLD ignored and blocked.
    for (bool odd : {false, true}) {
        setup_.oddSignals = odd;
        double fastest = 10;
        for (int i = 0; i < 3; ++i) {
            const Result r = run({"true", out()});
            EXPECT_EQ(r.exitCode, 0);
            EXPECT_EQ(output(), kBom);
            fastest = std::min(fastest, r.seconds);
        }
        EXPECT_LT(fastest, 0.4) << "odd signals: " << odd;
    }
}

TEST_F(CaptureTest, ColorOnlyWithTheOption) {
    const std::string script = "printf '\\033[31mred\\033[0m plain \\033[44mblue\\033[m\\n'";
    EXPECT_EQ(run({"-color", "sh", "-c", script, out()}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({"\x1b[31mred\x1b[39m plain \x1b[44mblue\x1b[0m"}));
    EXPECT_EQ(run({"sh", "-c", script, out()}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({"red plain blue"}));
}

TEST_F(CaptureTest, OnlyTheLastRowsRemain) {
    EXPECT_EQ(run({"-rows=3", "sh", "-c", "seq 1 10", out()}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({"9", "10"}));
    EXPECT_EQ(run({"-rows=3", "sh", "-c", "seq 1 10 | tr -d '\\n'", out()}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({"12345678910"}));
}

TEST_F(CaptureTest, OutputAfterTheChildReopensItsTerminalIsKept) {
    // For a while nothing holds the terminal open; then /dev/tty brings it back.
    const Result r = run({"sh", "-c", "echo before; exec </dev/null >/dev/null 2>&1; sleep 0.3; echo back >/dev/tty",
                          out()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(output(), fileOf({"before", "back"}));
}

TEST_F(CaptureTest, ExitCodeIsTheChilds) {
    EXPECT_EQ(run({"sh", "-c", "exit 0", out()}).exitCode, 0);
    EXPECT_EQ(run({"sh", "-c", "exit 7", out()}).exitCode, 7);
    EXPECT_EQ(run({"sh", "-c", "exit 255", out()}).exitCode, 255);
    EXPECT_EQ(run({"sh", "-c", "echo gone; kill -KILL $$", out()}).exitCode, 128 + SIGKILL);
    EXPECT_EQ(output(), fileOf({"gone"}));
    EXPECT_EQ(run({"sh", "-c", "kill -TERM $$", out()}).exitCode, 128 + SIGTERM);
}

// Known before any file is opened: the output is left as it was.
TEST_F(CaptureTest, AProgramThatCannotStartLeavesTheFileAlone) {
    fs::create_directory(dir_ / "sub");
    std::ofstream(dir_ / "plain.txt") << "not a program\n";
    for (const char* program : {"no-such-program-vtsnap", "./no-such-program", "./plain.txt", "sub/", "/"}) {
        std::ofstream(out()) << "old content";
        const Result r = run({program, "arg", out()});
        EXPECT_EQ(r.exitCode, 1) << program;
        EXPECT_EQ(output(), "old content") << program;
    }
}

TEST_F(CaptureTest, AnOutputFileThatCannotBeCreatedStartsNoChild) {
    const Result r = run({"sh", "-c", "touch started", "missing/out.txt"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir_ / "started"));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    // A directory as the output file.
    fs::create_directory(dir_ / "taken");
    EXPECT_EQ(run({"sh", "-c", "touch started", "taken"}).exitCode, 1);
    EXPECT_FALSE(fs::exists(dir_ / "started"));
}

TEST_F(CaptureTest, UnusableCommandLinesCreateNothing) {
    const std::vector<std::vector<std::string>> lines = {
        {}, {"sh"}, {"-color", "out.txt"}, {"-rows=5"}, {"-rows=5", "-color", "out.txt"}};
    for (const auto& line : lines) {
        const Result r = run(line);
        EXPECT_EQ(r.exitCode, 1) << line.size();
        EXPECT_TRUE(fs::is_empty(dir_)) << line.size();
    }
}

TEST_F(CaptureTest, ArgumentsReachTheChildAsGiven) {
    EXPECT_EQ(run({kChild, "args", "", "a b", "x\\y", "\"q\"", "-color", "", out()}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({"6:[][a b][x\\y][\"q\"][-color][]"}));
}

TEST_F(CaptureTest, TheChildGetsItsOwnTerminalAndNothingElse) {
    const int extra = open("/dev/null", O_RDONLY);  // not close-on-exec: reaches the tool as fd 9
    ASSERT_GE(extra, 0);
    setup_.inheritedFd = extra;
    setup_.oddSignals = true;
    setup_.environment = {"TERM=xterm", "VTSNAP_TEST_VALUE=kept"};
    const Result r = run({"-rows=30", kChild, "report", out()});
    close(extra);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(output(), fileOf({"tty: yes yes yes", "same tty: yes", "session leader: yes", "foreground: yes",
                                "controlling tty: yes", "size: 120x30", "TERM=screen-256color",
                                "VTSNAP_TEST_VALUE=kept", "other fds:",
                                "signals: default default default default default default default",
                                "blocked: 0"}));
}

TEST_F(CaptureTest, WorkingDirectoryComesFromTheProgramPath) {
    fs::create_directories(dir_ / "sub");
    {
        std::ofstream script(dir_ / "sub" / "where");
        script << "#!/bin/sh\npwd\n";
    }
    fs::permissions(dir_ / "sub" / "where", fs::perms::owner_all);

    // The program is found from the tool's directory, runs in its own, and
    // the output file stays relative to the tool's.
    EXPECT_EQ(run({"sub/where", "out.txt"}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({(dir_ / "sub").string()}));
    EXPECT_FALSE(fs::exists(dir_ / "sub" / "out.txt"));

    EXPECT_EQ(run({"./sub/where", "out.txt"}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({(dir_ / "sub").string()}));

    EXPECT_EQ(run({(dir_ / "sub" / "where").string(), out()}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({(dir_ / "sub").string()}));

    // Found on PATH: no directory part, so the child starts in the tool's.
    setup_.environment = {"PATH=" + (dir_ / "sub").string() + ":/usr/bin:/bin"};
    EXPECT_EQ(run({"where", "out.txt"}).exitCode, 0);
    EXPECT_EQ(output(), fileOf({dir_.string()}));
}

TEST_F(CaptureTest, InterruptsDoNotEndTheTool) {
    Tool tool({"sh", "-c", "sleep 1; echo survived; exit 3", out()}, setup_);
    std::this_thread::sleep_for(300ms);
    for (int s : {SIGINT, SIGQUIT, SIGHUP}) kill(tool.pid(), s);
    const Result r = tool.wait();
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(output(), fileOf({"survived"}));
}

TEST_F(CaptureTest, TerminateStillEndsTheTool) {
    Tool tool({"sh", "-c", "sleep 5", out()}, setup_);
    std::this_thread::sleep_for(300ms);
    kill(tool.pid(), SIGTERM);
    const Result r = tool.wait();
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_LT(r.seconds, 4);
}

TEST_F(CaptureTest, TheFileCanBeReadWhileTheChildRuns) {
    Tool tool({"sh", "-c", "echo first; sleep 2; echo second", out()}, setup_);
    // Another reader keeps the file open for the whole run.
    int reader = -1;
    while (reader < 0 && tool.secondsSinceStart() < 1.5) {
        reader = open(out().c_str(), O_RDONLY);
        if (reader < 0) std::this_thread::sleep_for(5ms);
    }
    ASSERT_GE(reader, 0);
    auto readThrough = [reader] {
        char buffer[256];
        const ssize_t n = pread(reader, buffer, sizeof buffer, 0);
        return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    };

    // A periodic snapshot shows the first line while the child still runs.
    bool seen = false;
    while (!seen && tool.running()) {
        seen = readThrough() == fileOf({"first"}) && readFile(out()) == fileOf({"first"});
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(seen);
    EXPECT_TRUE(tool.running());
    const Result r = tool.wait();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(readThrough(), fileOf({"first", "second"}));
    close(reader);
}

// Every snapshot a reader sees while frames are drawn in synchronized updates
// is one whole frame: 60 rows, all of the same frame. The reader takes the
// shared lock, as readers must that want never to see a rewrite half done. With pauses between the
// frames, ticks find them done; back to back, a tick finds one open every
// time, and writes the first whole frame that came after the tick before.
class FramesTest : public CaptureTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FramesTest, BracketedFramesAreNeverSeenHalfDrawn) {
    // Each way, about four seconds of frames.
    const bool pauses = *GetParam() == '1';
    const long count = pauses ? 70 : 200;
    Tool tool({kChild, "frames", std::to_string(count), GetParam(), out()}, setup_);
    std::vector<std::string> bad;
    std::vector<long> seen;
    auto check = [&](const std::string& file) {
        if (file.size() <= kBom.size()) return;  // before the first frame
        std::vector<long> frames;
        std::size_t at = kBom.size();
        while (at < file.size()) {
            const std::size_t end = file.find("\r\n", at);
            if (end == std::string::npos) break;
            frames.push_back(std::atol(file.c_str() + at));
            at = end + 2;
        }
        const bool whole = frames.size() == 60 && at == file.size() &&
                           std::all_of(frames.begin(), frames.end(), [&](long k) { return k == frames[0]; });
        if (!whole) bad.push_back(file);
        else if (seen.empty() || seen.back() != frames[0]) seen.push_back(frames[0]);
    };
    while (tool.running()) {
        check(vtsnap::test::readWhole(out()));
        std::this_thread::sleep_for(3ms);
    }
    const Result r = tool.wait();
    EXPECT_EQ(r.exitCode, 0);
    check(vtsnap::test::readWhole(out()));
    EXPECT_TRUE(bad.empty()) << bad.size() << " snapshots half drawn, the first:\n" << bad.front();
    EXPECT_GE(seen.size(), 4u) << "snapshots are still taken while frames are drawn";
    EXPECT_EQ(seen.empty() ? 0 : seen.back(), count) << "the last snapshot holds the last frame";
}

INSTANTIATE_TEST_SUITE_P(Frames, FramesTest, ::testing::Values("1", "0"),
                         [](const auto& info) { return std::string(*info.param == '1' ? "WithPauses" : "BackToBack"); });

// An update left open holds snapshots back for a second at most, and the last
// snapshot is written whatever the mode.
TEST_F(CaptureTest, AnUpdateLeftOpenHoldsSnapshotsBackForASecondAtMost) {
    const std::string marker = (dir_ / "opened").string();
    Tool tool({"sh", "-c", "printf before; sleep 0.6; printf '\\033[?2026h after'; : >" + marker + "; sleep 4",
               out()},
              setup_);
    while (tool.running() && !fs::exists(marker)) std::this_thread::sleep_for(2ms);
    const auto opened = Clock::now();
    double heldFor = -1;
    while (tool.running() && heldFor < 0) {
        if (vtsnap::test::readWhole(out()) == fileOf({"before after"}))
            heldFor = std::chrono::duration<double>(Clock::now() - opened).count();
        std::this_thread::sleep_for(5ms);
    }
    // Unheld, the next tick (0.5 s at most) would show it; the marker may come a little after the bytes.
    EXPECT_GE(heldFor, 0.75) << "the update held the file back";
    // The limit and a tick make 1.5 s; an update held to the end would show at 4 s: the margin is for a loaded
    // machine.
    EXPECT_LT(heldFor, 3.0) << "and not for longer than the limit and a tick";
    EXPECT_EQ(tool.wait().exitCode, 0);
    EXPECT_EQ(output(), fileOf({"before after"}));
}

TEST_F(CaptureTest, TheLastOfManyLinesIsAlwaysThere) {
    for (int i = 0; i < 5; ++i) {
        const Result r = run({"-rows=4", kChild, "lines", "100000", out()});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(output(), fileOf({"line 99998", "line 99999", "line 100000"})) << "run " << i;
        std::cout << "100,000 lines: " << r.seconds << " s\n";
    }
}

// -log: every row that scrolled off, then the last screen, in order.
TEST_F(CaptureTest, TheLogHoldsEveryLineShownInOrder) {
    const std::string log = (dir_ / "all.txt").string();
    EXPECT_EQ(run({"-rows=10", "-log=" + log, "seq", "1", "100000", out()}).exitCode, 0);
    std::string all(kBom), last(kBom);
    for (int i = 1; i <= 100000; ++i) all += std::to_string(i) + "\r\n";
    for (int i = 99992; i <= 100000; ++i) last += std::to_string(i) + "\r\n";
    EXPECT_TRUE(readFile(log) == all) << "the log differs from seq 1 100000";
    EXPECT_EQ(output(), last);

    // A progress bar redrawn with CR stays one line, in its last state.
    const std::string bar = "printf 'building\\n'; for i in 1 2 3; do printf '\\r[%s/3]' $i; done; printf ' done\\n'";
    EXPECT_EQ(run({"-rows=2", "-LOG=" + log, "sh", "-c", bar + "; echo next", out()}).exitCode, 0);
    EXPECT_EQ(readFile(log), fileOf({"building", "[3/3] done", "next"}));
}

TEST_F(CaptureTest, TheLogGrowsWhileTheChildRuns) {
    const std::string log = (dir_ / "log.txt").string();
    Tool tool({"-rows=2", "-log=" + log, "sh", "-c", "seq 1 5; sleep 2; echo end", out()}, setup_);
    bool seen = false;
    while (!seen && tool.running()) {
        seen = readFile(log) == fileOf({"1", "2", "3", "4"});
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(tool.wait().exitCode, 0);
    EXPECT_EQ(readFile(log), fileOf({"1", "2", "3", "4", "5", "end"}));
}

// While the program runs the page follows it and reloads itself; the last
// page, the screen the program left, does not.
TEST_F(CaptureTest, ThePageRefreshesOnlyWhileTheChildRuns) {
    const std::string page = (dir_ / "page.html").string();
    constexpr std::string_view kRefresh = "<meta http-equiv=\"refresh\" content=\"1\">";
    Tool tool({"-html=" + page, "sh", "-c", "echo '<first>'; sleep 2; echo second", out()}, setup_);
    bool seen = false;
    while (!seen && tool.running()) {
        const std::string live = vtsnap::test::readWhole(page);
        seen = contains(live, kRefresh) && contains(live, "<div class=\"r\">&lt;first&gt;</div>\n</div>");
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(tool.wait().exitCode, 0);
    const std::string last = readFile(page);
    EXPECT_FALSE(contains(last, kRefresh));
    EXPECT_TRUE(contains(last, "<div class=\"r\">&lt;first&gt;</div>\n<div class=\"r\">second</div>\n</div>"));
}

// The picture is rewritten with the output file while the program runs, and
// once more at its end.
TEST_F(CaptureTest, ThePictureFollowsTheRun) {
    const std::string picture = (dir_ / "screen.svg").string();
    Tool tool({"-svg=" + picture, "sh", "-c", "echo '<first>'; sleep 2; echo second", out()}, setup_);
    bool seen = false;
    while (!seen && tool.running()) {
        const std::string live = readFile(picture);
        seen = contains(live, "&lt;first&gt;</tspan></text>\n</g>\n</svg>\n") && !contains(live, "second");
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(tool.wait().exitCode, 0);
    EXPECT_TRUE(contains(readFile(picture), ">second</tspan></text>\n</g>\n</svg>\n"));
}

TEST_F(CaptureTest, ALogThatCannotBeCreatedStartsNoChild) {
    const Result r = run({"-log=missing/log.txt", "sh", "-c", "touch started", out()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir_ / "started"));
    EXPECT_EQ(output(), "");  // created, as always, before the log
    EXPECT_EQ(run({"-log=", "sh", "-c", "touch started", out()}).exitCode, 1);
    EXPECT_FALSE(fs::exists(dir_ / "started"));
}

TEST_F(CaptureTest, ABackgroundDescendantDoesNotKeepTheToolAlive) {
    Result r = run({"sh", "-c", "sleep 30 & echo done", out()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_LT(r.seconds, 3);
    EXPECT_EQ(output(), fileOf({"done"}));
    std::cout << "sleep 30 &: " << r.seconds << " s\n";

    // One that ignores the hang-up of the session (set before the session
    // leader can exit) sees its terminal go away.
    r = run({"sh", "-c",
             "trap '' HUP; (sleep 1; echo late 2>/dev/null || touch hungup) & "
             "echo $! > pid; echo done; exit 4",
             out()});
    killLater(dir_ / "pid");
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_LT(r.seconds, 3);
    EXPECT_EQ(output(), fileOf({"done"}));
    std::cout << "hang-up ignored: " << r.seconds << " s\n";
    for (int i = 0; i < 300 && !fs::exists(dir_ / "hungup"); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(fs::exists(dir_ / "hungup"));
}

TEST_F(CaptureTest, ADescendantThatKeepsWritingDoesNotKeepTheToolAlive) {
    const Result r = run({"sh", "-c",
                          "trap '' HUP; while :; do echo tick; sleep 0.02; done & "
                          "echo $! > pid; echo done",
                          out()});
    killLater(dir_ / "pid");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_LT(r.seconds, 3);
    EXPECT_TRUE(contains(output(), "done\r\n"));
    std::cout << "writing descendant: " << r.seconds << " s\n";
}

TEST_F(CaptureTest, RandomBytesNeverBreakTheTool) {
    for (int seed = 1; seed <= 4; ++seed) {
        const std::string s = std::to_string(seed);
        const Result r = run({seed % 2 ? "-color" : "-rows=50", kChild, "random", "300000", s, out()});
        EXPECT_EQ(r.signal, 0) << seed;
        EXPECT_EQ(r.exitCode, 0) << seed;
        EXPECT_EQ(output().substr(0, 3), kBom) << seed;
    }
}

}  // namespace
