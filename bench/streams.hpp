// Deterministic terminal-output streams, one per kind of program output that
// the benchmarks measure.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vtsnap::bench {

enum class StreamClass {
    PlainText,    // log lines
    SgrHeavy,     // coloured lines, a colour change every few words
    Redraws,      // cursor-addressed full-screen redraws with erase
    Utf8Mix,      // 2-, 3- and 4-byte characters among ASCII
    ProgressBars, // CR-redrawn progress lines
    ClearScreens, // full-screen clear (ESC[H ESC[2J), then a screenful of lines
    WideText,     // CJK and emoji, two cells each, among a little ASCII
};

inline constexpr StreamClass kAllStreamClasses[] = {
    StreamClass::PlainText, StreamClass::SgrHeavy, StreamClass::Redraws,
    StreamClass::Utf8Mix, StreamClass::ProgressBars, StreamClass::ClearScreens, StreamClass::WideText,
};

std::string_view streamClassName(StreamClass c);

// About `size` bytes of that class; the same bytes on every call.
std::string makeStream(StreamClass c, std::size_t size);

}  // namespace vtsnap::bench
