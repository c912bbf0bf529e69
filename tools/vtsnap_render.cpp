// vtsnap-render: replays a recorded output stream through the terminal
// emulator and writes the file that vtsnap would have written for it.
//
//   vtsnap-render [-rows=N] [-cols=N] [-color] [-chunk=N] INPUT OUTPUT
//
// INPUT and OUTPUT may be `-` for standard input and standard output. Options
// come first; the first argument that is `-` or does not start with `-` begins
// the two operands. -rows= and -cols= read their number as vtsnap reads
// -rows=: 0 or less (or no number) keeps the default, more than 32767 becomes
// 32767. -chunk= must be a plain decimal number from 1 to 1048576.
//
// Exit codes: 0 done; 1 the input could not be read or the output not written
// (the path and the reason go to stderr); 2 usage error (unknown option, not
// exactly two operands, a bad -chunk=), with a one-line usage on stderr.

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "capture/command_line.hpp"
#include "snapshot/render.hpp"
#include "terminal/screen.hpp"
#include "tools/binary_stdio.hpp"

namespace vtsnap {
namespace {

constexpr std::size_t kDefaultChunk = 4096;
constexpr std::size_t kMaxChunk = 1048576;
constexpr std::int32_t kDefaultCols = 120;

constexpr const char* kUsage =
    "usage: vtsnap-render [-rows=N] [-cols=N] [-color] [-chunk=N] INPUT OUTPUT\n";

struct Options {
    std::int32_t rows = kDefaultRows;
    std::int32_t cols = kDefaultCols;
    bool color = false;
    std::size_t chunk = kDefaultChunk;
    std::string input;
    std::string output;
};

// The same reading as vtsnap's -rows=: bad or non-positive numbers keep the
// earlier value, large ones are capped.
void readDimension(std::string_view text, std::int32_t& value) {
    const std::int32_t n = readInt(text);
    if (n > kMaxRows)
        value = kMaxRows;
    else if (n > 0)
        value = n;
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
        if (startsWithNoCase(arg, "-rows=")) {
            readDimension(arg.substr(6), options.rows);
        } else if (startsWithNoCase(arg, "-cols=")) {
            readDimension(arg.substr(6), options.cols);
        } else if (equalsNoCase(arg, "-color")) {
            options.color = true;
        } else if (startsWithNoCase(arg, "-chunk=")) {
            if (!readChunk(arg.substr(7), options.chunk)) return false;
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

bool readAll(const std::string& path, std::vector<std::uint8_t>& data) {
    const std::string shown = path == "-" ? "standard input" : path;
    errno = 0;
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        reportFailure(shown, errno);
        return false;
    }
    std::vector<std::uint8_t> block(65536);
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0)
        data.insert(data.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got));
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    if (file != stdin) std::fclose(file);
    if (failed) {
        reportFailure(shown, error != 0 ? error : EIO);
        return false;
    }
    return true;
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

int run(int argc, char** argv) {
    Options options;
    if (!parseArguments(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    useBinaryStdio();

    std::vector<std::uint8_t> input;
    if (!readAll(options.input, input)) return 1;

    std::string file;
    try {
        Screen screen(options.cols, options.rows);
        for (std::size_t at = 0; at < input.size(); at += options.chunk) {
            const std::size_t length = std::min(options.chunk, input.size() - at);
            screen.feedBytes(input.data() + at, length);
        }
        file = renderSnapshot(screen, options.color);
    } catch (const std::bad_alloc&) {
        std::fputs("vtsnap-render: out of memory for a screen of that size\n", stderr);
        return 1;
    }

    // The output is opened only now, so a bad input leaves it untouched.
    return writeAll(options.output, file) ? 0 : 1;
}

}  // namespace
}  // namespace vtsnap

int main(int argc, char** argv) { return vtsnap::run(argc, argv); }
