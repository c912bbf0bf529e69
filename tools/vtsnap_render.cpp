// vtsnap-render: replays a recorded output stream through the terminal
// emulator and writes the file that vtsnap would have written for it.
//
//   vtsnap-render [-rows=N] [-cols=N] [-color] [-chunk=N] [-log=FILE] [-html=FILE] [-svg=FILE] [-at=SECONDS]
//                 INPUT OUTPUT
//
// INPUT is the raw stream, or an asciicast recording of version 2 or 3 (its
// first line, after any byte-order mark, a JSON object with "version": 2 or
// 3), whose output events are fed in order, each as one block, up to the
// moment -at= names; the recording's width and height are the screen's unless
// -cols= or -rows= say otherwise, and may not pass kMaxRecordingCells. Any
// other version is an error.
//
// INPUT and OUTPUT may be `-` for standard input and standard output; no other
// file may be `-`. Options
// come first; the first argument that is `-` or does not start with `-` begins
// the two operands. -rows= and -cols= read their number as vtsnap reads
// -rows=: 0 or less (or no number) keeps the default, more than 32767 becomes
// 32767. -chunk= must be a plain decimal number from 1 to 1048576. -log=FILE
// writes the transcript, as vtsnap's -log= does; -html=FILE the screen as a
// web page and -svg=FILE as a picture, as vtsnap's -html= and -svg= do at
// the end.
//
// The input is read and decoded a block (or a line) at a time, so a recording
// of any size takes the memory of the screen and a block or a line. Every file
// is opened (created if new, emptied never) and checked before the input is
// read; OUTPUT, then the page and the picture, are written once the input has ended, and a run
// that fails removes those it created and leaves the others as they were. The
// log is emptied before the first block and grows with it.
//
// `--help` or `--version` as the only argument prints the usage or the
// version on standard output.
//
// Exit codes: 0 done; 1 the input could not be read, a recording's line is
// not asciicast, the output, the log, the page or the picture not written
// (the path and the reason go to stderr), or two of INPUT, OUTPUT, the log,
// the page and the picture are one file, or one is `-` where no standard stream is meant (nothing is
// then changed); 2 usage error (unknown option, not
// exactly two operands, a bad -chunk= or -at=, -at= on a raw stream), with a
// one-line usage on stderr.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capture/about.hpp"
#include "capture/command_line.hpp"
#include "capture/screen_size.hpp"
#include "snapshot/asciicast.hpp"
#include "snapshot/captured_screen.hpp"
#include "snapshot/outputs.hpp"
#include "snapshot/render.hpp"
#include "snapshot/transcript.hpp"
#include "terminal/screen.hpp"
#include "tools/binary_stdio.hpp"

namespace vtsnap {
namespace {

constexpr std::size_t kDefaultChunk = 4096;
constexpr std::size_t kMaxChunk = 1048576;
// A recording's line, and the look at a raw stream that starts like one.
constexpr std::size_t kMaxLine = 64u << 20;
constexpr const char* kUsage =
    "usage: vtsnap-render [-rows=N] [-cols=N] [-color] [-chunk=N] [-log=FILE] [-html=FILE] [-svg=FILE] "
    "[-at=SECONDS] INPUT OUTPUT\n";
constexpr std::string_view kHelp =
    "\n"
    "Replays a recorded output stream, raw or an asciicast recording (version 2 or\n"
    "3), into the file vtsnap would write for it. INPUT and OUTPUT may be - for\n"
    "standard input and output; no other file may be -.\n"
    "\n"
    "  -rows=N, -cols=N   the screen's size, 1 to 32767 (default: a recording's, or\n"
    "                     100 x 120); a recording may ask for 8388608 cells at most\n"
    "  -color             keep colours, as SGR sequences\n"
    "  -chunk=N           feed a raw stream in blocks of N bytes, 1 to 1048576\n"
    "                     (default 4096); a recording's events are its blocks\n"
    "  -log=FILE          write the transcript to FILE, as vtsnap's -log= does\n"
    "  -html=FILE         write the screen to FILE as a web page, as vtsnap's -html= does\n"
    "  -svg=FILE          write the screen to FILE as an SVG picture, as vtsnap's -svg= does\n"
    "  -at=SECONDS        stop a recording at that moment: the screen as it was then\n"
    "  --help, --version  this text, or the version, when it is the only argument\n"
    "\n"
    "Exit code: 0 done; 1 the input could not be read, is a recording of another\n"
    "version or too large a screen, or is not a recording past its header, the\n"
    "output, the log, the page or the picture not written, or two of INPUT, OUTPUT,\n"
    "the log, the page and the picture one file; 2 a usage error.\n";

struct Options {
    // Unset: the recording's size, or the default.
    std::optional<std::int32_t> rows;
    std::optional<std::int32_t> cols;
    std::optional<double> at;
    bool color = false;
    std::size_t chunk = kDefaultChunk;
    std::string input;
    // The output operand and the -log=, -html= and -svg= files, by the row of
    // kOutputs.
    OutputPaths<std::string> paths;
};

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

// A moment of the recording: a decimal number of seconds, 0 or more.
bool readSeconds(std::string_view text, std::optional<double>& seconds) {
    if (text.empty() || text.find_first_not_of("0123456789.") != text.npos) return false;
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    seconds = value;
    return true;
}

bool parseArguments(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() < 2 || arg[0] != '-') break;
        // Option names in any case, as vtsnap takes them; -rows= and -cols=
        // read their number as vtsnap reads -rows=.
        if (startsWithNoCase(arg, "-rows=")) {
            const std::int32_t asked = askedSize(readInt(arg.substr(6)), 0);
            if (asked != 0) options.rows = asked;
        } else if (startsWithNoCase(arg, "-cols=")) {
            const std::int32_t asked = askedSize(readInt(arg.substr(6)), 0);
            if (asked != 0) options.cols = asked;
        } else if (startsWithNoCase(arg, "-at=")) {
            if (!readSeconds(arg.substr(4), options.at)) return false;
        } else if (equalsNoCase(arg, "-color")) {
            options.color = true;
        } else if (startsWithNoCase(arg, "-chunk=")) {
            if (!readChunk(arg.substr(7), options.chunk)) return false;
        } else if (std::string_view path; const auto output = outputOption(arg, true, path)) {
            options.paths[indexOf(*output)] = std::string(path);
        } else {
            return false;
        }
    }
    if (argc - i != 2) return false;
    options.input = argv[i];
    options.paths[indexOf(Output::Screen)] = argv[i + 1];
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

// Writes a rendered output: in place over a file, whole down a pipe or to
// a terminal, not at all to the null device.
bool writeOutput(const Outputs& outputs, Output output, const std::string& shown, const std::string& bytes) {
    const std::optional<OutputFile> file = outputs.file(output);
    if (!file) return true;
    errno = 0;
    if (outputs.isRegular(output)) {
        if (rewriteSnapshot(bytes, *file)) return true;
        reportFailure(shown, errno != 0 ? errno : EIO);
        return false;
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const auto part = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        const WriteResult wrote = file->write(bytes.data() + done, part);
        if (!wrote.ok || wrote.written == 0) {
            reportFailure(shown, wrote.error != 0 ? wrote.error : EIO);
            return false;
        }
        done += wrote.written;
    }
    return true;
}

// The input, read ahead a buffer at a time: in blocks for a raw stream, in
// lines for a recording.
class Input {
public:
    // The stream's own buffer is switched off: this one takes the reads.
    explicit Input(std::FILE* file) : file_(file), buffer_(64 << 10) { std::setvbuf(file_, nullptr, _IONBF, 0); }

    // The next byte, without taking it; -1 at the end.
    int peek() {
        if (at_ == end_ && !fill()) return -1;
        return static_cast<unsigned char>(buffer_[at_]);
    }

    // The next `size` bytes, fewer only at the end of the input: in place
    // while the buffer holds them whole, else gathered into `scratch`.
    std::span<const std::uint8_t> next(std::size_t size, std::vector<std::uint8_t>& scratch) {
        if (at_ == end_ && !fill()) return {};
        if (end_ - at_ >= size) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer_.data()) + at_;
            at_ += size;
            return {bytes, size};
        }
        scratch.resize(size);
        std::size_t got = 0;
        while (got < size && (at_ != end_ || fill())) {
            const std::size_t part = std::min(size - got, end_ - at_);
            std::memcpy(scratch.data() + got, buffer_.data() + at_, part);
            at_ += part;
            got += part;
        }
        return {scratch.data(), got};
    }

    enum class Line { None, Ended, Last, TooLong };

    // The next line, without its line end, up to `limit` bytes: None at the
    // end of the input, Last for a line that the input ends without a line
    // end, TooLong for one that goes on past `limit` (its first bytes read).
    Line line(std::string& line, std::size_t limit) {
        line.clear();
        if (at_ == end_ && !fill()) return Line::None;
        for (;;) {
            const char* start = buffer_.data() + at_;
            const auto* found = static_cast<const char*>(std::memchr(start, '\n', end_ - at_));
            const std::size_t length = found != nullptr ? static_cast<std::size_t>(found - start) : end_ - at_;
            if (line.size() + length > limit) {
                const std::size_t part = limit - line.size();
                line.append(start, part);
                at_ += part;
                return Line::TooLong;
            }
            line.append(start, length);
            at_ += length;
            if (found != nullptr) {
                ++at_;
                return Line::Ended;
            }
            if (!fill()) return Line::Last;
        }
    }

    // Puts `bytes` back before what is left, for a raw stream read as a line.
    void unread(std::string_view bytes) {
        std::vector<char> rest(bytes.begin(), bytes.end());
        rest.insert(rest.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(at_),
                    buffer_.begin() + static_cast<std::ptrdiff_t>(end_));
        buffer_ = std::move(rest);
        buffer_.resize(std::max<std::size_t>(buffer_.size(), 64 << 10));
        end_ = bytes.size() + (end_ - at_);
        at_ = 0;
    }

    bool failed() const { return std::ferror(file_) != 0; }

private:
    bool fill() {
        at_ = 0;
        end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        return end_ != 0;
    }

    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t at_ = 0;
    std::size_t end_ = 0;
};

// What the input turned out to be.
enum class InputKind {
    Raw,        // a raw stream, left as it was
    Recording,  // an asciicast recording of a version read here, its header taken
    Refused,    // a recording of another version: reported
};

// Reads the header when the input is an asciicast recording, a UTF-8
// byte-order mark before it allowed; otherwise leaves the input as it was.
InputKind readHeader(Input& input, const std::string& shownInput, AsciicastHeader& header) {
    const int first = input.peek();
    if (first != '{' && first != static_cast<unsigned char>(kByteOrderMark[0])) return InputKind::Raw;
    std::string line, next;
    const Input::Line got = input.line(line, kMaxLine);
    Input::Line second = Input::Line::None;
    if (got == Input::Line::Ended && needsSecondLine(line)) second = input.line(next, kMaxLine);
    ReplayInput read;
    if (got == Input::Line::Ended || got == Input::Line::Last) {
        const bool twoLines = second != Input::Line::None;
        read = replayInput(line, twoLines ? std::optional<std::string_view>(next) : std::nullopt);
    }
    switch (read.kind) {
    case ReplayInput::Kind::Recording: header = read.header; return InputKind::Recording;
    case ReplayInput::Kind::OtherVersion:
        std::fprintf(stderr, "vtsnap-render: %s: %s\n", shownInput.c_str(),
                     notReplayedMessage(read.header.version).c_str());
        return InputKind::Refused;
    case ReplayInput::Kind::Raw: break;
    }
    if (got == Input::Line::Ended) line += '\n';
    if (second == Input::Line::Ended) next += '\n';
    input.unread(line + next);
    return InputKind::Raw;
}

struct Target {
    Screen& screen;
    Transcript* transcript;
    const std::string& logPath;

    // False, with the reason on stderr, when the transcript cannot be written.
    bool feed(const std::uint8_t* bytes, std::size_t length) {
        screen.feedBytes(bytes, length);
        if (transcript != nullptr && transcript->failing()) {
            reportFailure(logPath, transcript->error() != 0 ? transcript->error() : EIO);
            return false;
        }
        return true;
    }
};

// Feeds a raw stream a block at a time: every block but the last has exactly
// `chunk` bytes, wherever the input comes from.
bool decodeStream(Input& input, std::size_t chunk, Target& target) {
    std::vector<std::uint8_t> scratch;
    for (;;) {
        const std::span<const std::uint8_t> block = input.next(chunk, scratch);
        if (!block.empty() && !target.feed(block.data(), block.size())) return false;
        if (block.size() < chunk) return true;
    }
}

// Feeds a recording's output events, each as one block, up to `at` seconds.
bool decodeRecording(Input& input, const std::string& shownInput, int version, std::optional<double> at,
                     Target& target) {
    std::string line;
    AsciicastReplay replay(version, at);
    for (std::uint64_t number = 2;; ++number) {
        const Input::Line got = input.line(line, kMaxLine);
        if (got == Input::Line::None) return true;
        if (got == Input::Line::TooLong) {
            std::fprintf(stderr, "vtsnap-render: %s: line %llu is longer than %llu MB\n", shownInput.c_str(),
                         static_cast<unsigned long long>(number), static_cast<unsigned long long>(kMaxLine >> 20));
            return false;
        }
        switch (replay.next(line)) {
        case AsciicastReplay::Step::Skip: break;
        case AsciicastReplay::Step::Done: return true;
        case AsciicastReplay::Step::NotEvent:
            if (input.failed()) return true;  // reported by the caller
            std::fprintf(stderr, "vtsnap-render: %s: line %llu is not an asciicast event\n", shownInput.c_str(),
                         static_cast<unsigned long long>(number));
            return false;
        case AsciicastReplay::Step::Output: {
            const std::string_view text = replay.output();
            if (!target.feed(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) return false;
            break;
        }
        }
    }
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

    const File inputFile = openInput(options.input);
    if (!inputFile) return 1;
    const std::string shownInput = options.input == "-" ? "standard input" : options.input;

    // Every output is opened, created if it is new, and checked against the
    // others and the input before anything is read or emptied.
    OutputRequest request;
    request.tool = "vtsnap-render";
    request.screenMayBeStandardOutput = true;
    request.writtenOnce = true;
    request.input = nativeHandleOf(inputFile.get());
    request.inputName = shownInput;
    for (std::size_t i = 0; i < kOutputCount; ++i)
        if (options.paths[i]) request.paths[i] = std::filesystem::path(*options.paths[i]);
    Outputs outputs;
    if (!outputs.open(request)) return 1;
    // A run that fails leaves the screen file, the page and the picture as
    // they were.
    bool done = false;
    struct Undo {
        Outputs& outputs;
        const bool& done;
        ~Undo() {
            if (done) return;
            for (const OutputKind& kind : kOutputs)
                if (kind.writing == Writing::Rewritten) outputs.discard(kind.output);
        }
    } undo{outputs, done};
    const auto shown = [&](Output output) {
        const std::string& path = *options.paths[indexOf(output)];
        return path == "-" ? std::string("standard output") : path;
    };

    try {
        Input input(inputFile.get());
        AsciicastHeader header;
        const InputKind kind = readHeader(input, shownInput, header);
        if (kind == InputKind::Refused) return 1;
        const bool recording = kind == InputKind::Recording;
        if (!recording && options.at) {
            std::fprintf(stderr, "vtsnap-render: %s: -at= needs an asciicast recording\n%s", shownInput.c_str(),
                         kUsage);
            return 2;
        }
        std::int32_t rows = recording && header.height != 0 ? header.height : kDefaultRows;
        std::int32_t cols = recording && header.width != 0 ? header.width : kColumns;
        rows = options.rows.value_or(rows);
        cols = options.cols.value_or(cols);
        // A header cannot ask for more than the bound; the options can.
        const bool sizedByHeader =
            recording && ((!options.rows && header.height != 0) || (!options.cols && header.width != 0));
        if (sizedByHeader && static_cast<std::int64_t>(rows) * cols > kMaxRecordingCells) {
            std::fprintf(stderr, "vtsnap-render: %s: %s; choose its size with -cols= and -rows=\n", shownInput.c_str(),
                         tooLargeMessage(cols, rows).c_str());
            return 1;
        }

        // The log is written as the rows come, as vtsnap writes it.
        if (!outputs.empty(Output::Transcript)) {
            reportFailure(shown(Output::Transcript), errno != 0 ? errno : EIO);
            return 1;
        }
        CapturedScreen captured(cols, rows, outputs.file(Output::Transcript), options.color);
        Screen& screen = captured.screen();
        Transcript* const transcript = captured.transcript();
        const std::string logPath = options.paths[indexOf(Output::Transcript)].value_or("");
        Target target{screen, transcript, logPath};
        errno = 0;
        const bool decoded = recording ? decodeRecording(input, shownInput, header.version, options.at, target)
                                    : decodeStream(input, options.chunk, target);
        if (!decoded) return 1;
        if (input.failed()) {
            reportFailure(shownInput, errno != 0 ? errno : EIO);
            return 1;
        }

        // The screen file, then the page and the picture: written only now,
        // so that a bad input leaves them as they were.
        for (const OutputKind& kind : kOutputs) {
            if (kind.writing != Writing::Rewritten || !kind.replayed || !options.paths[indexOf(kind.output)]) continue;
            std::string bytes;
            kind.render(bytes, screen, options.color, false);
            if (!writeOutput(outputs, kind.output, shown(kind.output), bytes)) return 1;
        }
        done = true;
        if (transcript && !transcript->finish(screen)) {
            reportFailure(logPath, transcript->error() != 0 ? transcript->error() : EIO);
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
