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
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/about.hpp"
#include "capture/capture_loop.hpp"
#include "capture/command_line.hpp"
#include "snapshot/output_file.hpp"

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

// Opens `path` for writing, creating it but not emptying it, and without
// waiting: a FIFO that no one reads fails at once. Writes then block as usual.
int openForWriting(const char* path, int flags) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags, 0666);
    if (fd < 0) return -1;
    const int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool isNullDevice(const struct stat& info) {
    struct stat null {};
    return S_ISCHR(info.st_mode) && stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
           info.st_rdev == null.st_rdev;
}

// A file rewritten in place at every tick (the screen file, the page), which
// a FIFO, a pipe, a terminal or a socket cannot be; the null device takes a
// run that wants none. False when it cannot be opened or is refused.
bool openRewritable(const std::string& path, Fd& fd, struct stat& info, bool& isNull) {
    fd.reset(openForWriting(path.c_str(), 0));
    if (!fd || fstat(fd.get(), &info) != 0) return false;
    isNull = isNullDevice(info);
    return S_ISREG(info.st_mode) || isNull;
}

// The file that execvp runs for `file`: the path itself when it holds a '/',
// otherwise the first executable regular file of that name along PATH.
bool findProgram(const std::string& file, struct stat& info) {
    if (file.empty()) return false;
    if (file.find('/') != std::string::npos) return stat(file.c_str(), &info) == 0;
    const char* path = getenv("PATH");
    const std::string_view directories = path != nullptr ? path : "/bin:/usr/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(directories.find(':', start), directories.size());
        const std::string_view directory = directories.substr(start, end - start);
        // An empty entry is the current directory.
        const std::string candidate = (directory.empty() ? std::string(".") : std::string(directory)) + "/" + file;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return true;
        if (end == directories.size()) return false;
        start = end + 1;
    }
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
            const ssize_t n = read(context.master, buffer, sizeof buffer);
            if (n > 0) {
                context.loop->feed(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
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

    // Every file is opened, and checked, before any is emptied.
    Fd output;
    struct stat outputInfo {};
    bool outputIsNull = false;
    if (!openRewritable(line->outputPath, output, outputInfo, outputIsNull)) return 1;
    // The transcript and the recording are only ever appended to, whoever
    // else writes to them.
    Fd log, record;
    struct stat logInfo {}, recordInfo {};
    const auto openAppended = [](const std::optional<std::string>& path, Fd& fd, struct stat& info) {
        if (!path) return true;
        fd.reset(openForWriting(path->c_str(), O_APPEND));
        return fd && fstat(fd.get(), &info) == 0;
    };
    if (!openAppended(line->logPath, log, logInfo) || !openAppended(line->recordPath, record, recordInfo)) return 1;
    Fd page;
    struct stat pageInfo {};
    bool pageIsNull = true;
    if (line->htmlPath && !openRewritable(*line->htmlPath, page, pageInfo, pageIsNull)) return 1;
    // The program's own file, or one file as two of them, would be destroyed
    // or mixed up: nothing is emptied or started. The null device may be any.
    std::vector<const struct stat*> files;
    if (!outputIsNull) files.push_back(&outputInfo);
    if (log && !isNullDevice(logInfo)) files.push_back(&logInfo);
    if (record && !isNullDevice(recordInfo)) files.push_back(&recordInfo);
    if (!pageIsNull) files.push_back(&pageInfo);
    struct stat programInfo {};
    const bool programFound = findProgram(line->programPath, programInfo);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (programFound && sameFile(*files[i], programInfo)) return 1;
        for (std::size_t j = 0; j < i; ++j)
            if (sameFile(*files[i], *files[j])) return 1;
    }
    if (!outputIsNull && ftruncate(output.get(), 0) != 0) return 1;
    if (log && S_ISREG(logInfo.st_mode) && ftruncate(log.get(), 0) != 0) return 1;
    if (record && S_ISREG(recordInfo.st_mode) && ftruncate(record.get(), 0) != 0) return 1;
    if (!pageIsNull && ftruncate(page.get(), 0) != 0) return 1;

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

    std::optional<OutputFile> outputFile;
    if (!outputIsNull) outputFile.emplace(output.get());
    std::optional<OutputFile> logFile;
    if (log) logFile.emplace(log.get());
    std::optional<OutputFile> pageFile;
    if (!pageIsNull) pageFile.emplace(page.get());
    CaptureLoop loop(line->rowCount, outputFile, logFile, pageFile, line->useColor);
    if (record) loop.record(OutputFile(record.get()), kTerminalType);
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
