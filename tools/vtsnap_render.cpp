// vtsnap-render: replays a recorded output stream through the terminal
// emulator and writes the file that vtsnap would have written for it.
//
//   vtsnap-render [-rows=N] [-cols=N] [-color] [-chunk=N] [-log=FILE] [-html=FILE] INPUT OUTPUT
//
// INPUT and OUTPUT may be `-` for standard input and standard output. Options
// come first; the first argument that is `-` or does not start with `-` begins
// the two operands. -rows= and -cols= read their number as vtsnap reads
// -rows=: 0 or less (or no number) keeps the default, more than 32767 becomes
// 32767. -chunk= must be a plain decimal number from 1 to 1048576. -log=FILE
// writes the transcript, as vtsnap's -log= does; -html=FILE the screen as a
// web page, as vtsnap's -html= does at the end.
//
// The input is read and decoded a block at a time, so a recording of any size
// takes the memory of the screen and a block. OUTPUT, then the page, is
// written once the input has ended; FILE is created before the first block and grows with it.
//
// `--help` or `--version` as the only argument prints the usage or the
// version on standard output.
//
// Exit codes: 0 done; 1 the input could not be read or the output or the log
// not written (the path and the reason go to stderr); 2 usage error (unknown
// option, not exactly two operands, a bad -chunk=), with a one-line usage on
// stderr.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/about.hpp"
#include "capture/command_line.hpp"
#include "snapshot/captured_screen.hpp"
#include "snapshot/page.hpp"
#include "snapshot/render.hpp"
#include "snapshot/transcript.hpp"
#include "terminal/screen.hpp"
#include "terminal/screen_size.hpp"
#include "tools/binary_stdio.hpp"

namespace vtsnap {
namespace {

constexpr std::size_t kDefaultChunk = 4096;
constexpr std::size_t kMaxChunk = 1048576;
constexpr const char* kUsage =
    "usage: vtsnap-render [-rows=N] [-cols=N] [-color] [-chunk=N] [-log=FILE] [-html=FILE] INPUT OUTPUT\n";
constexpr std::string_view kHelp =
    "\n"
    "Replays a recorded output stream into the file vtsnap would write for it.\n"
    "INPUT and OUTPUT may be - for standard input and output.\n"
    "\n"
    "  -rows=N, -cols=N   the screen's size, 1 to 32767 (default 100 x 120)\n"
    "  -color             keep colours, as SGR sequences\n"
    "  -chunk=N           feed the stream in blocks of N bytes, 1 to 1048576 (default 4096)\n"
    "  -log=FILE          write the transcript to FILE, as vtsnap's -log= does\n"
    "  -html=FILE         write the screen to FILE as a web page, as vtsnap's -html= does\n"
    "  --help, --version  this text, or the version, when it is the only argument\n"
    "\n"
    "Exit code: 0 done; 1 the input could not be read or the output, the log or\n"
    "the page not written; 2 a usage error.\n";

struct Options {
    std::int32_t rows = kDefaultRows;
    std::int32_t cols = kColumns;
    bool color = false;
    std::size_t chunk = kDefaultChunk;
    std::optional<std::string> log;
    std::optional<std::string> html;
    std::string input;
    std::string output;
};

// Option names in any case, as vtsnap takes them: `arg` starts with the
// lower-case `name`.
bool startsWithName(std::string_view arg, std::string_view name) {
    if (arg.size() < name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = arg[i] >= 'A' && arg[i] <= 'Z' ? static_cast<char>(arg[i] - 'A' + 'a') : arg[i];
        if (c != name[i]) return false;
    }
    return true;
}

// Digits only: a block size of "4k" or "-1" is a mistake worth reporting.
bool readChunk(std::string_view text, std::size_t& chunk) {
    if (text.empty() || text.size() > 7) return false;
    std::size_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<std::size_t>(c - '0');
    }
    if (n < 1 || n > kMaxChunk) return false;
    chunk = n;
    return true;
}

bool parseArguments(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() < 2 || arg[0] != '-') break;
        // -rows= and -cols= read their number as vtsnap reads -rows=.
        if (startsWithName(arg, "-rows=")) {
            options.rows = askedSize(readInt(arg.substr(6)), options.rows);
        } else if (startsWithName(arg, "-cols=")) {
            options.cols = askedSize(readInt(arg.substr(6)), options.cols);
        } else if (arg.size() == 6 && startsWithName(arg, "-color")) {
            options.color = true;
        } else if (startsWithName(arg, "-chunk=")) {
            if (!readChunk(arg.substr(7), options.chunk)) return false;
        } else if (startsWithName(arg, "-log=")) {
            options.log = std::string(arg.substr(5));
        } else if (startsWithName(arg, "-html=")) {
            options.html = std::string(arg.substr(6));
        } else {
            return false;
        }
    }
    if (argc - i != 2) return false;
    options.input = argv[i];
    options.output = argv[i + 1];
    return true;
}

void reportFailure(const std::string& shown, int error) {
    std::fprintf(stderr, "vtsnap-render: %s: %s\n", shown.c_str(), std::strerror(error));
}

// A file opened by the tool, closed when it goes; standard input or output
// is left open.
struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file != stdin && file != stdout) std::fclose(file);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openInput(const std::string& path) {
    errno = 0;
    File file(path == "-" ? stdin : std::fopen(path.c_str(), "rb"));
    if (!file) reportFailure(path, errno);
    return file;
}

bool writeAll(const std::string& path, const std::string& bytes) {
    const bool toStdout = path == "-";
    const std::string shown = toStdout ? "standard output" : path;
    errno = 0;
    std::FILE* file = toStdout ? stdout : std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        reportFailure(shown, errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    // Buffered bytes may only fail here (a full disk, say).
    if (toStdout)
        ok = std::fflush(file) == 0 && ok;
    else
        ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        reportFailure(shown, errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

// Decodes the input a block at a time into `screen`, the transcript taking
// the rows that leave it. False, with the reason on stderr, when the input
// cannot be read or the transcript cannot be written.
bool decodeInput(std::FILE* input, const std::string& inputPath, std::size_t chunk, Screen& screen,
                 Transcript* transcript, const std::string& logPath) {
    const std::string shownInput = inputPath == "-" ? "standard input" : inputPath;
    std::vector<std::uint8_t> block(chunk);
    for (;;) {
        // fread fills the whole block unless the input ends, so every block
        // but the last has exactly `chunk` bytes, wherever the input comes from.
        errno = 0;
        const std::size_t got = std::fread(block.data(), 1, block.size(), input);
        if (got > 0) screen.feedBytes(block.data(), got);
        if (transcript != nullptr && transcript->failing()) {
            reportFailure(logPath, transcript->error() != 0 ? transcript->error() : EIO);
            return false;
        }
        if (got < block.size()) break;
    }
    if (std::ferror(input) != 0) {
        reportFailure(shownInput, errno != 0 ? errno : EIO);
        return false;
    }
    return true;
}

int run(int argc, char** argv) {
    const std::vector<std::string_view> args(argv, argv + std::max(argc, 0));
    switch (aboutRequest(args)) {
    case AboutRequest::Help: return printToStandardOutput(std::string(kUsage) + std::string(kHelp));
    case AboutRequest::Version: return printToStandardOutput(versionText("vtsnap-render"));
    case AboutRequest::None: break;
    }
    Options options;
    if (!parseArguments(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    useBinaryStdio();

    const File input = openInput(options.input);
    if (!input) return 1;

    try {
        // The log is written through its native handle as the rows come, as
        // vtsnap writes it; the stream's own buffer is never used.
        File log;
        std::optional<SnapshotFile> logFile;
        if (options.log) {
            errno = 0;
            log.reset(std::fopen(options.log->c_str(), "wb"));
            if (!log) {
                reportFailure(*options.log, errno);
                return 1;
            }
            logFile.emplace(nativeHandleOf(log.get()));
        }
        CapturedScreen captured(options.cols, options.rows, logFile, options.color);
        Screen& screen = captured.screen();
        Transcript* const transcript = captured.transcript();
        if (!decodeInput(input.get(), options.input, options.chunk, screen, transcript, options.log.value_or("")))
            return 1;

        // The output is opened only now, so a bad input leaves it untouched.
        if (!writeAll(options.output, renderSnapshot(screen, options.color))) return 1;
        if (options.html) {
            std::string page;
            renderPage(page, screen, false);
            if (!writeAll(*options.html, page)) return 1;
        }
        if (transcript && !transcript->finish(screen)) {
            reportFailure(*options.log, transcript->error() != 0 ? transcript->error() : EIO);
            return 1;
        }
    } catch (const std::bad_alloc&) {
        std::fputs("vtsnap-render: out of memory for a screen of that size\n", stderr);
        return 1;
    }
    return 0;
}

}  // namespace
}  // namespace vtsnap

int main(int argc, char** argv) { return vtsnap::run(argc, argv); }
