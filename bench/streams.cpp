#include "bench/streams.hpp"

#include <algorithm>
#include <cstdint>

namespace vtsnap::bench {

namespace {

// A small fixed-seed generator, so every run measures the same bytes.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_);
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }

private:
    std::uint64_t state_;
};

constexpr std::string_view kWords[] = {
    "build", "compile", "link", "module", "error", "warning", "target", "object", "cache",
    "install", "package", "version", "resolve", "fetch", "test", "passed", "failed", "step",
    "src/terminal/screen.cpp", "0x7ffd", "12.5%", "[INFO]", "done", "elapsed", "ms",
};

void appendWord(std::string& out, Rng& rng) { out += kWords[rng.below(std::size(kWords))]; }

void plainLine(std::string& out, Rng& rng, std::uint64_t lineNo) {
    out += "2026-12-07 08:00:";
    out += std::to_string(10 + lineNo % 50);
    out += " [worker ";
    out += std::to_string(rng.below(16));
    out += "]";
    const std::uint32_t words = 6 + rng.below(10);
    for (std::uint32_t i = 0; i < words; ++i) {
        out += ' ';
        appendWord(out, rng);
    }
    out += "\r\n";
}

void sgrLine(std::string& out, Rng& rng) {
    const std::uint32_t words = 6 + rng.below(8);
    for (std::uint32_t i = 0; i < words; ++i) {
        switch (rng.below(5)) {
        case 0: out += "\x1b[3" + std::to_string(rng.below(8)) + "m"; break;
        case 1: out += "\x1b[1;9" + std::to_string(rng.below(8)) + "m"; break;
        case 2: out += "\x1b[38;5;" + std::to_string(rng.below(256)) + "m"; break;
        case 3:
            out += "\x1b[48;2;" + std::to_string(rng.below(256)) + ";" + std::to_string(rng.below(256)) + ";" +
                   std::to_string(rng.below(256)) + "m";
            break;
        default: out += "\x1b[0m"; break;
        }
        appendWord(out, rng);
        out += ' ';
    }
    out += "\x1b[m\r\n";
}

void redraw(std::string& out, Rng& rng) {
    out += "\x1b[H\x1b[2J";
    for (int row = 1; row <= 40; ++row) {
        out += "\x1b[" + std::to_string(row) + ";1H";
        out += "\x1b[7m " + std::to_string(row) + " \x1b[m ";
        const std::uint32_t words = 4 + rng.below(8);
        for (std::uint32_t i = 0; i < words; ++i) {
            appendWord(out, rng);
            out += ' ';
        }
        out += "\x1b[K";
    }
    out += "\x1b[41;1H\x1b[1;37;44m status: " + std::to_string(rng.below(1000)) + " \x1b[0m\x1b[J";
}

void utf8Line(std::string& out, Rng& rng) {
    static constexpr std::string_view kChars[] = {
        "é", "ü", "ß", "Ж", "λ", "中", "文", "字", "あ", "한", "€", "→", "│", "😀", "🚀", "𝔸",
    };
    const std::uint32_t count = 30 + rng.below(40);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (rng.below(3) == 0)
            out += kChars[rng.below(std::size(kChars))];
        else
            out += static_cast<char>('a' + rng.below(26));
        if (rng.below(8) == 0) out += ' ';
    }
    out += "\r\n";
}

// What localized programs and test runners print: CJK text and emoji, with
// digits, punctuation and spaces between.
void wideLine(std::string& out, Rng& rng) {
    static constexpr std::string_view kWide[] = {
        "中", "文", "字", "日", "本", "語", "한", "국", "어", "下", "载", "完", "成", "错", "误", "：",
        "✅", "❌", "🚀", "😀", "📦", "🔥",
    };
    static constexpr std::string_view kNarrow[] = {" ", "1", "2", "%", ".", "/", " ", "-"};
    const std::uint32_t count = 20 + rng.below(30);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (rng.below(5) == 0)
            out += kNarrow[rng.below(std::size(kNarrow))];
        else
            out += kWide[rng.below(std::size(kWide))];
    }
    out += "\r\n";
}

void progress(std::string& out, Rng& rng) {
    const std::uint32_t steps = 20 + rng.below(20);
    const std::string label = "Downloading package " + std::to_string(rng.below(500)) + " ";
    for (std::uint32_t s = 0; s <= steps; ++s) {
        const std::uint32_t filled = s * 50 / steps;
        out += '\r';
        out += label;
        out += '[';
        out.append(filled, '#');
        out.append(50 - filled, '.');
        out += "] ";
        out += std::to_string(s * 100 / steps);
        out += "%\x1b[K";
    }
    out += "\r\n";
}

// What `clear`-based TUIs and conhost send for each new screen: home, erase
// the whole screen, then the 100 lines of a default-height screen, each cut to
// the width so that nothing scrolls. The erase costs more the taller the
// screen; the text does not.
void clearedScreen(std::string& out, Rng& rng, std::uint64_t& lineNo) {
    out += "\x1b[H\x1b[2J";
    std::string line;
    for (int row = 0; row < 100; ++row) {
        line.clear();
        plainLine(line, rng, lineNo++);
        line.resize(std::min<std::size_t>(line.size() - 2, 120));
        out += line;
        if (row < 99) out += "\r\n";
    }
}

}  // namespace

std::string_view streamClassName(StreamClass c) {
    switch (c) {
    case StreamClass::PlainText: return "plain";
    case StreamClass::SgrHeavy: return "sgr";
    case StreamClass::Redraws: return "redraw";
    case StreamClass::Utf8Mix: return "utf8";
    case StreamClass::ProgressBars: return "progress";
    case StreamClass::ClearScreens: return "clear";
    case StreamClass::WideText: return "wide";
    }
    return "?";
}

std::string makeStream(StreamClass c, std::size_t size) {
    Rng rng(0x5eed + static_cast<std::uint64_t>(c));
    std::string out;
    out.reserve(size + 8192);
    for (std::uint64_t n = 0; out.size() < size; ++n) {
        switch (c) {
        case StreamClass::PlainText: plainLine(out, rng, n); break;
        case StreamClass::SgrHeavy: sgrLine(out, rng); break;
        case StreamClass::Redraws: redraw(out, rng); break;
        case StreamClass::Utf8Mix: utf8Line(out, rng); break;
        case StreamClass::ProgressBars: progress(out, rng); break;
        case StreamClass::ClearScreens: clearedScreen(out, rng, n); break;
        case StreamClass::WideText: wideLine(out, rng); break;
        }
    }
    return out;
}

}  // namespace vtsnap::bench
