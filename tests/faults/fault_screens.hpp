// What the fault child writes, shared with the tests that know what the
// output file must then hold.
#pragma once

#include <string>

namespace vtsnap::faults {

inline const std::string kClear = "\x1b[2J\x1b[H";
// Back to a fresh terminal from any state the output left: CAN ends a control
// sequence, BEL an OSC string (twice, in case an ESC was pending inside it),
// and ESC c resets the rest.
inline const std::string kReset = "\x18\x07\x07\x1b" "c";
inline const std::string kFinalText = "final screen\r\nsecond line\r\n";
inline const std::string kBeforeSignal = "before the signal";

// Screens of these many 100-character lines: about 2 KB and 8 KB of file.
inline constexpr int kShortLines = 20;
inline constexpr int kLongLines = 80;

inline std::string numberedLine(int i) {
    std::string line = "line " + std::to_string(i) + " ";
    while (line.size() < 100) line += static_cast<char>('a' + line.size() % 26);
    return line;
}

inline std::string numberedLines(int count) {
    std::string out;
    for (int i = 1; i <= count; ++i) out += numberedLine(i) + "\r\n";
    return out;
}

}  // namespace vtsnap::faults
