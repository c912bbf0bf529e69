#include "capture/run_posix.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/about.hpp"
#include "capture/capture_loop.hpp"
#include "capture/command_line.hpp"
#include "snapshot/output_file.hpp"
#include "snapshot/outputs.hpp"

namespace vtsnap {

namespace {

using Clock = std::chrono::steady_clock;

// After the child has ended, output still in the terminal is read until no
// more arrives for this long, and for no longer than the limit: a descendant
// that keeps the terminal open must not keep the tool alive.
constexpr int kQuietMs = 100;
constexpr auto kDrainLimit = std::chrono::milliseconds(1000);
// While nothing holds the terminal's slave end open, the reader looks again
// this often, since the child may reopen it through /dev/tty.
constexpr int kHangupRetryMs = 100;
// The reader's blocks read back to back before it polls again.
constexpr int kReadBurst = 16;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

bool addFlags(int fd, int fdFlags, int statusFlags) {
    if (fdFlags != 0) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags < 0 || fcntl(fd, F_SETFD, flags | fdFlags) < 0) return false;
    }
    if (statusFlags != 0) {
        const int flags = fcntl(fd, F_GETFL);
        if (flags < 0 || fcntl(fd, F_SETFL, flags | statusFlags) < 0) return false;
    }
    return true;
}

bool makePipe(Fd& readEnd, Fd& writeEnd, int statusFlags) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return addFlags(fds[0], FD_CLOEXEC, statusFlags) && addFlags(fds[1], FD_CLOEXEC, statusFlags);
}

// The SIGCHLD handler writes here, so that the main thread can wait for the
// child with a time-out and still wake the moment it ends.
volatile sig_atomic_t childEndedWrite = -1;

void onChildSignal(int) {
    const int savedErrno = errno;
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = write(childEndedWrite, &byte, 1);
    errno = savedErrno;
}

void setDisposition(int signal, void (*handler)(int), int flags = 0) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

// Every descriptor from 3 up becomes close-on-exec, including any the tool
// inherited, so that the child gets only its terminal.
void closeOthersOnExec() {
#if defined(CLOSE_RANGE_CLOEXEC)
    if (close_range(3, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    long limit = sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536) limit = 65536;
    for (int fd = 3; fd < limit; ++fd) {
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

// Runs in the forked child; never returns. Reports a failure to start as an
// errno value through `report`, whose write end closes on a successful exec.
[[noreturn]] void startChild(int slave, int report, const char* directory, const char* file,
                             char* const* args) {
    for (int s = 1; s < NSIG; ++s) setDisposition(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    int error = 0;
    // dup2() onto itself would keep the close-on-exec flag, so the terminal
    // must not already sit on 0, 1 or 2 (the tool may have started without them).
    if (slave <= 2) slave = fcntl(slave, F_DUPFD, 3);
    if (slave < 0 || setsid() < 0 || ioctl(slave, TIOCSCTTY, 0) < 0) error = errno;
    for (int target = 0; error == 0 && target <= 2; ++target)
        if (dup2(slave, target) < 0) error = errno;
    if (error == 0) {
        close(slave);
        closeOthersOnExec();
        if (directory != nullptr && chdir(directory) != 0) error = errno;
    }
    if (error == 0) {
        execvp(file, args);
        error = errno;
    }
    [[maybe_unused]] const ssize_t ignored = write(report, &error, sizeof error);
    _exit(127);
}

enum class Found { Yes, NotFound, NotExecutable };

// The file that execvp runs for `file`: the path itself when it holds a '/',
// otherwise the first executable regular file of that name along PATH.
Found findProgram(const std::string& file, std::string& found) {
    if (file.empty()) return Found::NotFound;
    struct stat info {};
    if (file.find('/') != std::string::npos) {
        found = file;
        if (stat(file.c_str(), &info) != 0) return Found::NotFound;
        return S_ISREG(info.st_mode) && access(file.c_str(), X_OK) == 0 ? Found::Yes : Found::NotExecutable;
    }
    const char* path = getenv("PATH");
    const std::string_view directories = path != nullptr ? path : "/bin:/usr/bin";
    Found result = Found::NotFound;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(directories.find(':', start), directories.size());
        const std::string_view directory = directories.substr(start, end - start);
        // An empty entry is the current directory.
        const std::string candidate = (directory.empty() ? std::string(".") : std::string(directory)) + "/" + file;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            if (access(candidate.c_str(), X_OK) == 0) {
                found = candidate;
                return Found::Yes;
            }
            result = Found::NotExecutable;
        }
        if (end == directories.size()) return result;
        start = end + 1;
    }
}

void reportNotStarted(const std::string& program, const std::string& reason) {
    std::fprintf(stderr, "vtsnap: cannot start %s: %s%s\n", program.c_str(), reason.c_str(),
                 program.starts_with('-')
                     ? " (it begins with '-': a mistyped option? options come first, as -name=value)"
                     : "");
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

// Empties the pipe that SIGCHLD writes to, so that the next wait sleeps again.
void emptyWakeUpPipe(int fd) {
    char bytes[64];
    while (read(fd, bytes, sizeof bytes) > 0) {
    }
}

// Without a reader thread the main thread decodes whatever the terminal holds
// at each tick, so that the child is never blocked on a full terminal for good.
void drainTerminal(int master, CaptureLoop& loop) {
    std::uint8_t buffer[kReadSize];
    ssize_t n;
    while ((n = read(master, buffer, sizeof buffer)) > 0) loop.feed(buffer, static_cast<std::size_t>(n));
}

struct ReaderContext {
    int master;    // the pty's master end, non-blocking
    int stopRead;  // readable once the child has ended: drain, then stop
    CaptureLoop* loop;
};

// Decodes the terminal's output until told to stop and the output has drained.
void* readerThread(void* parameter) {
    const ReaderContext& context = *static_cast<const ReaderContext*>(parameter);
    std::uint8_t buffer[kReadSize];
    bool draining = false;
    bool hungUp = false;
    Clock::time_point drainEnd{};

    for (;;) {
        int timeout = -1;
        if (draining) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(drainEnd - Clock::now()).count();
            if (left <= 0) break;
            timeout = static_cast<int>(std::min<long long>(kQuietMs, left));
        } else if (hungUp) {
            timeout = kHangupRetryMs;
        }
        // Negative descriptors are left out by poll().
        pollfd fds[2] = {{draining ? -1 : context.stopRead, POLLIN, 0},
                         {draining || !hungUp ? context.master : -1, POLLIN, 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (ready == 0) {
            if (draining) break;  // the output has gone quiet
            hungUp = false;       // look at the terminal again
            continue;
        }
        if (fds[0].revents != 0) {
            draining = true;
            drainEnd = Clock::now() + kDrainLimit;
        }
        if (fds[1].revents != 0) {
            // A terminal hands over at most a few KB a read, and each read has
            // the kernel fetch the next while the block is decoded: reading
            // again at once finds it ready, where a poll first would cost a
            // call a block. The end of the child is looked for between bursts.
            ssize_t n;
            int blocks = 0;
            while ((n = read(context.master, buffer, sizeof buffer)) > 0) {
                context.loop->feed(buffer, static_cast<std::size_t>(n));
                if (++blocks == kReadBurst) break;
            }
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                // EIO: nothing holds the terminal open any more, and all that
                // was written to it has been read.
                if (draining) break;
                hungUp = true;
            }
        }
    }
    return nullptr;
}

// The child, its end and the reader, as the capture loop sees them.
class PosixChildWatch final : public ChildWatch {
public:
    // `stopRead` and `stopWrite` are the two ends of the pipe that tells the
    // reader the child has ended.
    PosixChildWatch(pid_t child, int childEnded, Fd& master, int stopRead, int stopWrite, CaptureLoop& loop)
        : child_(child), childEnded_(childEnded), master_(master), stopWrite_(stopWrite), loop_(loop),
          context_{master.get(), stopRead, &loop} {}

    // Without a reader the main thread reads at each tick.
    void startReader() { readerStarted_ = pthread_create(&reader_, nullptr, readerThread, &context_) == 0; }

    bool waitForChild(int milliseconds) override {
        pollfd childEnded{childEnded_, POLLIN, 0};
        poll(&childEnded, 1, milliseconds);
        emptyWakeUpPipe(childEnded_);
        int status = 0;
        const pid_t waited = waitpid(child_, &status, WNOHANG);
        const bool ended = waited == child_ || (waited < 0 && errno != EINTR);
        if (waited == child_) exitCode_ = exitCodeOf(status);
        if (!readerStarted_) drainTerminal(master_.get(), loop_);
        return ended;
    }

    void finishReading() override {
        if (readerStarted_) {
            const char stop = 0;
            while (write(stopWrite_, &stop, 1) < 0 && errno == EINTR) {
            }
            pthread_join(reader_, nullptr);
        }
        // Hangs the terminal up for any descendant still holding it.
        master_.reset();
    }

    int exitCode() const { return exitCode_; }

private:
    pid_t child_;
    int childEnded_;
    Fd& master_;
    int stopWrite_;
    CaptureLoop& loop_;
    ReaderContext context_;
    pthread_t reader_{};
    bool readerStarted_ = false;
    int exitCode_ = 1;
};

}  // namespace

int runCapture(int argc, char** argv) {
    const std::vector<std::string_view> args(argv, argv + std::max(argc, 0));
    switch (aboutRequest(args)) {
    case AboutRequest::Help: return printToStandardOutput(captureHelp());
    case AboutRequest::Version: return printToStandardOutput(versionText("vtsnap"));
    case AboutRequest::None: break;
    }

    // The tool outlives its own terminal's interrupts; the child has its own
    // session and decides for itself.
    setDisposition(SIGINT, SIG_IGN);
    setDisposition(SIGQUIT, SIG_IGN);
    setDisposition(SIGHUP, SIG_IGN);
    // A file that may not grow must fail a snapshot, not end the run.
    setDisposition(SIGXFSZ, SIG_IGN);
    // A log whose reader has gone fails its writes and is given up; the run goes on.
    setDisposition(SIGPIPE, SIG_IGN);

    const std::optional<CommandLine<char>> line = scanCommandLine(args, false);
    if (!line) return 1;

    std::vector<char*> childArgs(argv + line->programIndex, argv + argc - 1);
    childArgs.push_back(nullptr);
    // The program path is the working directory, a '/' and a name, so after
    // changing into that directory "./name" is the same file.
    const char* directory = nullptr;
    std::string file = line->programPath;
    if (!line->workingDirectory.empty()) {
        directory = line->workingDirectory.c_str();
        file = "./" + line->programPath.substr(line->workingDirectory.size() + 1);
    }

    // A program that cannot be started leaves every file as it was.
    std::string programFile;
    switch (findProgram(line->programPath, programFile)) {
    case Found::Yes: break;
    case Found::NotFound:
        reportNotStarted(line->programPath, line->programPath.find('/') != std::string::npos ? "no such file"
                                                                                             : "not found on PATH");
        return 1;
    case Found::NotExecutable: reportNotStarted(line->programPath, "not an executable file"); return 1;
    }

    // Every file is opened, and checked, before any is emptied.
    OutputRequest request;
    request.tool = "vtsnap";
    request.program = std::filesystem::path(programFile);
    for (std::size_t i = 0; i < kOutputCount; ++i)
        if (line->paths[i]) request.paths[i] = std::filesystem::path(*line->paths[i]);
    Outputs outputs;
    if (!outputs.open(request)) return 1;
    for (const OutputKind& kind : kOutputs)
        if (!outputs.empty(kind.output)) return 1;

    Fd master(posix_openpt(O_RDWR | O_NOCTTY));
    if (!master || !addFlags(master.get(), FD_CLOEXEC, O_NONBLOCK)) return 1;
    if (grantpt(master.get()) != 0 || unlockpt(master.get()) != 0) return 1;
    const char* slaveName = ptsname(master.get());
    if (slaveName == nullptr) return 1;
    Fd slave(open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave) return 1;
    winsize size{};
    size.ws_col = kColumns;
    size.ws_row = static_cast<unsigned short>(line->rowCount);
    if (ioctl(slave.get(), TIOCSWINSZ, &size) != 0) return 1;

    Fd reportRead, reportWrite, childEndedRead, childEndedWriteEnd, stopRead, stopWrite;
    if (!makePipe(reportRead, reportWrite, 0) ||
        !makePipe(childEndedRead, childEndedWriteEnd, O_NONBLOCK) ||
        !makePipe(stopRead, stopWrite, 0))
        return 1;

    OutputFiles files;
    for (const OutputKind& kind : kOutputs) files[indexOf(kind.output)] = outputs.file(kind.output);
    CaptureLoop loop(line->rowCount, files, line->useColor, kTerminalType);
    if (setenv("TERM", kTerminalType, 1) != 0) return 1;

    // The tool may have inherited SIGCHLD ignored (no child left to wait for)
    // or blocked (no wake-up when the child ends).
    childEndedWrite = childEndedWriteEnd.get();
    setDisposition(SIGCHLD, onChildSignal, SA_RESTART | SA_NOCLDSTOP);
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    sigprocmask(SIG_UNBLOCK, &childSignal, nullptr);

    const pid_t child = fork();
    if (child == 0) startChild(slave.get(), reportWrite.get(), directory, file.c_str(), childArgs.data());
    slave.reset();
    reportWrite.reset();
    if (child < 0) return 1;

    int startError = 0;
    ssize_t reported;
    do {
        reported = read(reportRead.get(), &startError, sizeof startError);
    } while (reported < 0 && errno == EINTR);
    if (reported != 0) {
        // The child never became the program: reap it, leave the file empty.
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        reportNotStarted(line->programPath, reported == sizeof startError ? std::strerror(startError) : "failed");
        return 1;
    }

    PosixChildWatch watch(child, childEndedRead.get(), master, stopRead.get(), stopWrite.get(), loop);
    watch.startReader();
    const bool filesWhole = loop.run(watch);

    setDisposition(SIGCHLD, SIG_DFL);
    childEndedWrite = -1;
    // A failed file is not reported as success; a program's own failure stands.
    return watch.exitCode() == 0 && !filesWhole ? 1 : watch.exitCode();
}

}  // namespace vtsnap
