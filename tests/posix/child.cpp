// A child for the end-to-end tests: reports what it was started with, or
// produces output of a given shape.
//   child report            its terminal, session, descriptors, signals, TERM
//   child args ...          each argument in brackets
//   child lines N           N numbered lines in large writes, then exit 0
//   child random N SEED     N pseudo-random bytes, then exit 0
//   child frames N          N frames of 60 full rows, each in a synchronized
//                           update and written in pieces with pauses between
//   child frames N 0        the same, back to back: each update ends in the
//                           piece that begins the next
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

void writeAll(const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(1, text.data() + done, text.size() - done);
        if (n <= 0) std::exit(3);
        done += static_cast<std::size_t>(n);
    }
}

const char* dispositionOf(int signal) {
    struct sigaction action {};
    sigaction(signal, nullptr, &action);
    if (action.sa_handler == SIG_DFL) return "default";
    if (action.sa_handler == SIG_IGN) return "ignored";
    return "handled";
}

int report() {
    std::string out;
    out += "tty:";
    for (int fd = 0; fd <= 2; ++fd) out += isatty(fd) ? " yes" : " no";
    out += "\n";
    const char* name0 = ttyname(0);
    const std::string first = name0 ? name0 : "";
    const char* name2 = ttyname(2);
    out += std::string("same tty: ") + (name2 && first == name2 ? "yes" : "no") + "\n";
    out += std::string("session leader: ") + (getsid(0) == getpid() ? "yes" : "no") + "\n";
    out += std::string("foreground: ") + (tcgetpgrp(0) == getpgrp() ? "yes" : "no") + "\n";
    const int controlling = open("/dev/tty", O_RDONLY | O_NOCTTY);
    out += std::string("controlling tty: ") + (controlling >= 0 ? "yes" : "no") + "\n";
    if (controlling >= 0) close(controlling);
    winsize size{};
    ioctl(0, TIOCGWINSZ, &size);
    out += "size: " + std::to_string(size.ws_col) + "x" + std::to_string(size.ws_row) + "\n";
    const char* term = getenv("TERM");
    out += std::string("TERM=") + (term ? term : "(unset)") + "\n";
    const char* extra = getenv("VTSNAP_TEST_VALUE");
    out += std::string("VTSNAP_TEST_VALUE=") + (extra ? extra : "(unset)") + "\n";

    out += "other fds:";
    for (int fd = 3; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) >= 0) out += " " + std::to_string(fd);
    out += "\n";

    out += "signals:";
    const int signals[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGCHLD, SIGPIPE, SIGUSR1};
    for (int s : signals) out += std::string(" ") + dispositionOf(s);
    out += "\n";
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    int count = 0;
    for (int s = 1; s < NSIG; ++s) count += sigismember(&blocked, s) == 1;
    out += "blocked: " + std::to_string(count) + "\n";
    writeAll(out);
    return 0;
}

int lines(long count) {
    std::string out;
    for (long i = 1; i <= count; ++i) {
        out += "line " + std::to_string(i) + "\n";
        if (out.size() >= 65536) {
            writeAll(out);
            out.clear();
        }
    }
    writeAll(out);
    return 0;
}

int randomBytes(long count, std::uint64_t seed) {
    std::string out;
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (long i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out += static_cast<char>(x >> 56);
        if (out.size() >= 4000) {
            writeAll(out);
            out.clear();
        }
    }
    writeAll(out);
    return 0;
}

// Frame k fills rows 1-60 with "k:row" and dots: 7.2 KB, more than one read.
// It goes out in four writes 5 ms apart, and 40 ms pass between frames, so
// that a snapshot taken at any moment would often catch one half drawn.
// Without the pause, frames follow each other in the same pieces.
int frames(long count, bool pause) {
    using namespace std::chrono_literals;
    std::string pending;
    for (long k = 1; k <= count; ++k) {
        std::string frame = "\x1b[?2026h\x1b[H";
        for (int row = 1; row <= 60; ++row) {
            std::string line = std::to_string(k) + ":" + std::to_string(row);
            line.resize(118, '.');
            frame += line + (row < 60 ? "\r\n" : "");
        }
        frame += "\x1b[?2026l";
        const std::size_t piece = frame.size() / 4 + 1;
        pending += frame;
        while (pending.size() >= (pause || k == count ? 1 : piece)) {
            writeAll(pending.substr(0, piece));
            pending.erase(0, piece);
            std::this_thread::sleep_for(5ms);
        }
        if (pause) std::this_thread::sleep_for(40ms);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "report") return report();
    if (command == "args") {
        std::string out = std::to_string(argc - 2) + ":";
        for (int i = 2; i < argc; ++i) out += std::string("[") + argv[i] + "]";
        writeAll(out + "\n");
        return 0;
    }
    if (command == "lines" && argc > 2) return lines(std::atol(argv[2]));
    if (command == "frames" && argc > 2) return frames(std::atol(argv[2]), argc < 4 || std::atol(argv[3]) != 0);
    if (command == "random" && argc > 3) return randomBytes(std::atol(argv[2]), std::strtoull(argv[3], nullptr, 10));
    return 2;
}
