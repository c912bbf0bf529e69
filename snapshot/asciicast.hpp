// The asciicast v2 format, as asciinema and its players read it: a header
// line (a JSON object) and then one JSON array per event, a line each.
// Version 3 differs in its header (the size in a "term" object), its event
// times (since the previous event, not since the start) and its comments.
// Writing: a program's output becomes output events whose text is valid
// UTF-8. Reading: a strict reader for exactly what those lines hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vtsnap {

// `{"version": 2, "width": W, "height": H, "timestamp": T, "env": {"TERM": ...}}`
// and its line end; `term` empty leaves TERM out.
std::string asciicastHeader(std::int32_t width, std::int32_t height, std::int64_t unixSeconds,
                            std::string_view term);

// Turns blocks of output into output events. A UTF-8 character cut between
// two blocks waits for the rest and goes with the next event; each run of
// bytes that are not UTF-8 (the longest start of a character they are, or
// one byte) becomes U+FFFF, which the emulator drops as it drops them.
class AsciicastEncoder {
public:
    // Appends `[seconds, "o", "text"]` and a line end for the block, read
    // `microseconds` after the start. A block that holds only the start of a
    // character adds no event.
    void appendEvent(std::string& out, std::uint64_t microseconds, const std::uint8_t* bytes, std::size_t length);
    // For the end: a character left cut becomes U+FFFF in an event of its own.
    void appendEnd(std::string& out, std::uint64_t microseconds);

private:
    std::uint8_t carry_[4] = {};
    std::size_t carried_ = 0;
    std::string joined_;  // the carry and the block, kept for its room
};

// The JSON string of `bytes`, quotes included, appended to `out`: controls
// (C0, DEL and C1) and the line and paragraph separators escaped, bytes that
// are not UTF-8 as U+FFFF (`\uffff`). Returns how many bytes it took: all of them
// when `final`, otherwise all but the start of a character cut at the end.
std::size_t appendJsonString(std::string& out, std::string_view bytes, bool final);

struct AsciicastHeader {
    // As given, for the caller to refuse the versions it does not read; 0
    // for a number that is no version (not a whole number from 1 to 1000).
    int version = 0;
    std::int32_t width = 0;  // 0: not given; version 3's "term" "cols"
    std::int32_t height = 0;  // version 3's "term" "rows"
};

// The header, when `line` is a JSON object with a number as its "version".
std::optional<AsciicastHeader> readAsciicastHeader(std::string_view line);

struct AsciicastEvent {
    double seconds = 0;
    std::string type;
    std::string text;  // unescaped
};

// One event line, `[number, "type", "text"]`; false when it is anything else.
bool readAsciicastEvent(std::string_view line, AsciicastEvent& event);

// How a replay (vtsnap-render, the library's renderFile) takes its input,
// told by the first line, without its line end and after any UTF-8
// byte-order mark: a header of version 2 or 3 begins a recording; a header of
// another version, or a lone "{" whose next line is `"version": N,` (version
// 1, which writers spread over lines), is a recording that is not read;
// anything else is a raw stream.
struct ReplayInput {
    enum class Kind { Raw, Recording, OtherVersion } kind = Kind::Raw;
    AsciicastHeader header;  // its version, and a recording's size
};
// The most cells a recording's header may ask for (about 100 MB of screen in
// colour): 120 x 32767, vtsnap's largest, fits. A size the caller chooses may
// be larger.
constexpr std::int64_t kMaxRecordingCells = std::int64_t{1} << 23;

// True when `first` is a lone "{", which the second line decides.
bool needsSecondLine(std::string_view first);
ReplayInput replayInput(std::string_view first, std::optional<std::string_view> second = std::nullopt);
// What a replay says of a recording of another version.
std::string notReplayedMessage(int version);
// What it says of a header that asks for more than kMaxRecordingCells; each
// replay adds how its caller chooses a size.
std::string tooLargeMessage(std::int32_t width, std::int32_t height);

// A recording's lines after its header, one at a time, as a replay takes
// them: blank lines and version 3's comments skipped, output events given to
// be fed, up to the moment `until` (in seconds from the start).
class AsciicastReplay {
public:
    enum class Step {
        Output,    // feed output()
        Skip,      // nothing to feed: a blank line, a comment, another kind of event
        Done,      // past the moment: the replay ends here
        NotEvent,  // the line is not an asciicast event
    };

    explicit AsciicastReplay(int version, std::optional<double> until = std::nullopt)
        : version_(version), until_(until) {}
    Step next(std::string_view line);
    std::string_view output() const { return event_.text; }

private:
    int version_;
    std::optional<double> until_;
    double seconds_ = 0;
    AsciicastEvent event_;
};

}  // namespace vtsnap
