// Seeded streams for the differential test against xterm.js: text, UTF-8
// (good and broken), C0 controls, escape and control sequences, strings; with
// --wide also wide, emoji, combining and zero-width characters.
//
//   vtsnap-diffgen [--wide] --batch FIRST COUNT DIR
//       writes DIR/<seed>.vt, and one line "seed rows chunk items" per stream
//       on stdout
//   vtsnap-diffgen [--wide] --seed S [--drop I,J,..] OUT
//       writes one stream, leaving out the items listed; prints
//       "seed rows chunk items" and the items' kinds
//
// A stream is a list of items drawn from the seed alone; each item's bytes are
// made when it is written, from what the items before it left (scroll region,
// origin mode, saved state...). So the shrinker can drop items and the rest
// still keeps every rule below.
//
// The grammar leaves out xterm.js's quirks (docs/fidelity.md lists them);
// each exclusion below says which one it avoids. The cursor goes anywhere,
// inside a scroll region or outside it. A "fence" is a BS before an action
// that xterm.js takes oddly with a pending wrap (EL and ED 0, the pending
// wrap left around CSI ? 7 l). With wide characters:
//   - a combining or zero-width character comes only right after a printed
//     character (after a control or a sequence terminals disagree);
//   - with auto-wrap off, a wide character that may not fit is printed only
//     where the column is known; one that is dropped at the margin is
//     followed by a fence (xterm.js blanks a wide character under the cursor
//     only where a run of text starts, and loses a character that a mark
//     after the dropped one joined when ICH moves it on); one that fills
//     the last two columns is fenced before a narrow character (xterm.js
//     writes it over the second half and keeps the first);
//   - ICH is followed by ECH over the cells it moved, in case it split a wide
//     character: xterm.js moves the second half on as an empty cell that
//     later text colours.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

// splitmix64: the same numbers on every platform and compiler.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. n-1
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }
    bool chance(int percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

enum class Kind : std::uint8_t {
    Ascii, Utf8, BrokenUtf8, C1, Control, Esc2, Charset, DecGraphics, EscIgnored, Move, Position,
    Erase, Edit, Lines, Scroll, Region, SaveRestore, Rep, Sgr, Modes, IgnoredCsi, InvalidCsi, CsiWithControls,
    String, Reset, WideText, Marks, WideMargin, TabStops, Count
};

constexpr const char* kKindNames[] = {
    "ascii", "utf8", "broken-utf8", "c1", "control", "esc2", "charset", "dec-graphics", "esc-ignored", "move",
    "position", "erase", "edit", "lines", "scroll", "region", "save-restore", "rep", "sgr", "modes", "ignored-csi",
    "invalid-csi", "csi-with-controls", "string", "reset", "wide-text", "marks", "wide-margin", "tab-stops"};

// Relative weights of the kinds, in the order above; wide-text, marks and
// wide-margin only with --wide.
using Weights = std::array<int, static_cast<int>(Kind::Count)>;
constexpr Weights kWeights = {14, 8, 4, 2, 5, 4, 3, 3, 2, 6, 6, 5, 5, 3, 3, 3, 4, 3, 8, 3, 2, 3, 2, 3, 1, 0, 0, 0, 4};
constexpr Weights kWideWeights = {14, 8, 4, 2, 5, 4, 3, 3, 2, 6, 6, 5, 5, 3, 3, 3, 4, 3, 8, 3, 2, 3, 2, 3, 1, 12, 8, 6, 4};

// An item: a kind and the random numbers it may use, drawn up front so that
// dropping an item never changes the numbers of the others.
struct Item {
    Kind kind;
    std::array<std::uint32_t, 24> r;
};

struct Charsets {
    bool g0Dec = false, g1Dec = false, shifted = false;  // shifted: G1 invoked
    bool operator==(const Charsets&) const = default;
};

// What the items written so far have left behind, as far as the rules of the
// grammar need it.
struct State {
    bool wide = false;  // --wide: the items with wide, combining and zero-width characters
    int rows = 1;
    int top = 0, bottom = 0;  // scroll region, 0-based inclusive
    bool origin = false;
    Charsets charsets;
    int regionEpoch = 0;   // bumped by every region change and reset
    bool saved = false;    // something saved since the start or ESC c
    bool savedOrigin = false;
    Charsets savedCharsets;
    int savedEpoch = -1;
    bool repBlocked = false;  // the last item was an invalid sequence
    bool autowrap = true;
    bool joinable = false;    // the last item ended with a printed character
    bool fullRegion() const { return top == 0 && bottom == rows - 1; }
};

State freshState(int rows, bool wide) {
    State s;
    s.wide = wide;
    s.rows = rows;
    s.bottom = rows - 1;
    return s;
}

class Writer {
public:
    Writer(State& s, std::string& out) : s_(s), out_(out) {}

    void put(std::string_view bytes) { out_.append(bytes); }
    void put(char c) { out_.push_back(c); }
    void num(long v) { out_ += std::to_string(v); }
    void csi() { out_ += "\x1b["; }

    void utf8(std::uint32_t cp) {
        if (cp < 0x80) {
            put(static_cast<char>(cp));
        } else if (cp < 0x800) {
            put(static_cast<char>(0xC0 | (cp >> 6)));
            put(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            put(static_cast<char>(0xE0 | (cp >> 12)));
            put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            put(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            put(static_cast<char>(0xF0 | (cp >> 18)));
            put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            put(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    // The bytes so far end inside a multi-byte character.
    bool endsUnfinished() const {
        for (std::size_t back = 1; back <= 4 && back <= out_.size(); ++back) {
            const auto b = static_cast<unsigned char>(out_[out_.size() - back]);
            if ((b & 0xC0) == 0x80) continue;
            const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            return length > back;
        }
        return false;
    }

    // Clears a pending wrap the same way on both sides.
    void fence() { put('\b'); }

    // A row as CUP/HVP/VPA count it now: anywhere on the screen, or in origin
    // mode from the region's top, where rows beyond the region are clamped
    // into it; a few past the end are tried too. 0 counts as 1.
    long row(std::uint32_t r) {
        const int height = s_.origin ? s_.bottom - s_.top + 1 : s_.rows;
        return static_cast<long>(r % (height + 3));
    }

    // To column `col` (1-based) of a row as row() picks it.
    void toColumn(long col, std::uint32_t r) {
        csi();
        num(row(r));
        put(';');
        num(col);
        put('H');
    }

private:
    State& s_;
    std::string& out_;
};

std::uint32_t bmpWidthOne(std::uint32_t r) {
    // Latin-1, Latin Extended, Greek, Cyrillic, box drawing, arrows: every one
    // a single cell in both emulators. Wide, combining and non-BMP characters
    // have items of their own, with --wide.
    static constexpr std::uint32_t kRanges[][2] = {
        {0xA1, 0xFF}, {0x100, 0x24F}, {0x391, 0x3A1}, {0x3A3, 0x3C9}, {0x410, 0x44F}, {0x2500, 0x257F}, {0x2190, 0x21FF}};
    const auto& range = kRanges[r % 7];
    return range[0] + (r >> 3) % (range[1] - range[0] + 1);
}

// Characters of Unicode 11 (xterm.js knows no later ones) by width.
struct CodeRange {
    std::uint32_t first, last;
};

template <std::size_t N>
std::uint32_t fromRanges(const CodeRange (&ranges)[N], std::uint32_t r) {
    const CodeRange& range = ranges[r % N];
    return range.first + (r / N) % (range.last - range.first + 1);
}

// Two cells: CJK ideographs (in and beyond the BMP), kana, CJK punctuation,
// fullwidth forms, Hangul syllables, emoji in and beyond the BMP.
std::uint32_t wideChar(std::uint32_t r) {
    static constexpr CodeRange kWide[] = {
        {0x4E00, 0x9FA5}, {0x3041, 0x3096}, {0x30A1, 0x30FA}, {0x3001, 0x3003}, {0x300C, 0x3011}, {0xFF01, 0xFF60},
        {0xAC00, 0xD7A3}, {0x20000, 0x2A6D6}, {0x1F600, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F300, 0x1F320},
        {0x1F910, 0x1F93A}, {0x1F947, 0x1F970}};
    // Emoji presented as emoji in the BMP: watch, check and cross marks, ...
    static constexpr CodeRange kBmpEmoji[] = {
        {0x231A, 0x231B}, {0x23E9, 0x23EC}, {0x23F0, 0x23F0}, {0x23F3, 0x23F3}, {0x25FD, 0x25FE}, {0x2614, 0x2615},
        {0x2648, 0x2653}, {0x267F, 0x267F}, {0x2693, 0x2693}, {0x26A1, 0x26A1}, {0x26AA, 0x26AB}, {0x26BD, 0x26BE},
        {0x26C4, 0x26C5}, {0x26CE, 0x26CE}, {0x26D4, 0x26D4}, {0x26EA, 0x26EA}, {0x26F2, 0x26F3}, {0x26F5, 0x26F5},
        {0x26FA, 0x26FA}, {0x26FD, 0x26FD}, {0x2705, 0x2705}, {0x270A, 0x270B}, {0x2728, 0x2728}, {0x274C, 0x274C},
        {0x274E, 0x274E}, {0x2753, 0x2755}, {0x2757, 0x2757}, {0x2795, 0x2797}, {0x27B0, 0x27B0}, {0x27BF, 0x27BF},
        {0x2B1B, 0x2B1C}, {0x2B50, 0x2B50}, {0x2B55, 0x2B55}};
    return r % 4 == 0 ? fromRanges(kBmpEmoji, r / 4) : fromRanges(kWide, r / 4);
}

// One cell, beyond ASCII: mathematical bold (beyond the BMP), Gothic,
// ambiguous characters, check marks and a heart presented as text, halfwidth
// katakana.
std::uint32_t narrowChar(std::uint32_t r) {
    static constexpr CodeRange kNarrow[] = {
        {0x1D400, 0x1D454}, {0x10330, 0x1034A}, {0xB1, 0xB1}, {0xD7, 0xD7}, {0x3B1, 0x3C9},
        {0x2713, 0x2714}, {0x2764, 0x2764}, {0xFF61, 0xFF9F}};
    return fromRanges(kNarrow, r);
}

// Zero cells, joining the character before: combining marks (enclosing ones
// among them, and beyond the BMP), zero-width characters (ZWSP, ZWNJ, ZWJ,
// LRM, RLM, word joiner, invisible operators, variation selectors) and the
// byte-order mark, which both drop.
std::uint32_t joiningChar(std::uint32_t r) {
    static constexpr CodeRange kMarks[] = {
        {0x300, 0x36F}, {0x483, 0x489}, {0x591, 0x5BD}, {0x610, 0x61A}, {0x64B, 0x65F}, {0x20D0, 0x20F0},
        {0xFE20, 0xFE2F}, {0x1D167, 0x1D169}, {0x1D17B, 0x1D182}, {0xE0100, 0xE01EF}};
    static constexpr CodeRange kZeroWidth[] = {{0x200B, 0x200F}, {0x2060, 0x2064}, {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF}};
    return r % 3 == 0 ? fromRanges(kZeroWidth, r / 3) : fromRanges(kMarks, r / 3);
}

// A Hangul syllable from conjoining jamo: a leading consonant (two cells),
// a vowel and sometimes a final consonant, both joining it.
void jamoSyllable(Writer& w, std::uint32_t r) {
    w.utf8(0x1100 + r % 19);
    w.utf8(0x1161 + (r >> 5) % 21);
    if ((r >> 10) % 2) w.utf8(0x11A8 + (r >> 11) % 27);
}

constexpr int kCols = 120;  // as the differential test runs both

constexpr const char* kPrintable =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

void writeItem(const Item& item, State& s, std::string& out) {
    Writer w(s, out);
    const auto& r = item.r;
    auto pick = [&](int i, int n) { return static_cast<int>(r[i] % static_cast<std::uint32_t>(n)); };
    bool invalid = false;
    bool joinable = false;  // ends with a printed character a mark may join

    switch (item.kind) {
    case Kind::Ascii: {
        const int n = 1 + pick(0, 40);
        for (int i = 0; i < n; ++i) w.put(kPrintable[(r[1 + i % 20] >> (i / 20 * 7)) % 95]);
        joinable = true;
        break;
    }
    case Kind::Utf8: {
        const int n = 1 + pick(0, 12);
        for (int i = 0; i < n; ++i) w.utf8(bmpWidthOne(r[1 + i]));
        joinable = true;
        break;
    }
    case Kind::BrokenUtf8: {
        // Broken, interrupted, overlong and stray bytes. Nothing that decodes
        // above U+FFFF, and no encoded C1 control (they have items of their own).
        static constexpr std::string_view kBroken[] = {
            "\xC3",         "\xE2\x94",     "\xE2",         "\xF0\x90\x80", "\xF0\x90",     "\x80",
            "\xBF\xA9",     "\xC0\x80",     "\xC1\x81",     "\xE0\x80\x80", "\xE0\x9F\xBF", "\xF0\x80\x80\x80",
            "\xF8",         "\xFF\xFE",     "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF5\x80",     "\xC3\xA9\xA9"};
        const int n = 1 + pick(0, 3);
        for (int i = 0; i < n; ++i) {
            const std::string_view piece = kBroken[pick(1 + i, 18)];
            // Stray continuation bytes after an unfinished character would
            // finish it, as some character outside the ranges above.
            if ((static_cast<unsigned char>(piece[0]) & 0xC0) == 0x80 && w.endsUnfinished()) w.put('x');
            w.put(piece);
            // What interrupts it: text, another lead byte, a control, a sequence.
            switch (pick(5 + i, 6)) {
            case 0: w.put('x'); break;
            case 1: w.utf8(bmpWidthOne(r[9 + i])); break;
            case 2: w.put('\r'); break;
            case 3: w.put("\x1b[32m"); break;
            case 4: w.put('\a'); break;
            default: break;
            }
        }
        break;
    }
    case Kind::C1: {
        // Encoded C1 controls that xterm.js does not act on either. It executes
        // IND, NEL, HTS, DCS, SOS, CSI, ST, OSC, PM and APC, which the screen
        // only drops.
        static constexpr std::uint8_t kQuiet[] = {0x80, 0x81, 0x82, 0x83, 0x86, 0x87, 0x89, 0x8A, 0x8B, 0x8C,
                                                  0x8D, 0x8E, 0x8F, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
                                                  0x99, 0x9A};
        w.put('\xC2');
        w.put(static_cast<char>(kQuiet[pick(0, sizeof kQuiet)]));
        break;
    }
    case Kind::Control: {
        switch (pick(0, 12)) {
        case 0: w.put('\b'); break;
        case 1: w.put('\t'); break;
        case 2: w.put('\n'); break;
        case 3: w.put('\v'); break;
        case 4: w.put('\f'); break;
        case 5: w.put('\r'); break;
        case 6: w.put('\r'); w.put('\n'); break;
        case 7: w.put('\a'); break;
        case 8: w.put('\0'); break;
        case 9: w.put('\x18'); break;
        case 10: w.put('\x1A'); break;
        default:
            // DEL changes nothing on either side, so an invalid sequence
            // before it still comes before a REP after it.
            w.put('\x7F');
            invalid = s.repBlocked;
            break;
        }
        break;
    }
    case Kind::Esc2: {
        switch (pick(0, 5)) {
        case 0: w.put("\x1b" "D"); break;
        case 1: w.put("\x1b" "E"); break;
        case 2: w.put("\x1b" "M"); break;
        case 3: {
            // Two-byte sequences both ignore. Not ESC H (tab stops), ESC n/o
            // and ESC N/O (G2/G3), ESC # 8 (DECALN): xterm.js acts on those.
            static constexpr std::string_view kIgnored[] = {"=", ">", "F", "l", "m", "Z", "V", "W", "6", "9", "\\", "1"};
            w.put('\x1b');
            w.put(kIgnored[pick(1, 12)]);
            break;
        }
        default: w.put("\x1b\x1b" "[33m"); break;  // ESC ESC starts afresh
        }
        break;
    }
    case Kind::Charset: {
        switch (pick(0, 6)) {
        case 0: w.put("\x1b(0"); s.charsets.g0Dec = true; break;
        case 1: w.put("\x1b(B"); s.charsets.g0Dec = false; break;
        case 2: w.put("\x1b)0"); s.charsets.g1Dec = true; break;
        case 3: w.put("\x1b)B"); s.charsets.g1Dec = false; break;
        case 4: w.put('\x0E'); s.charsets.shifted = true; break;
        default: w.put('\x0F'); s.charsets.shifted = false; break;
        }
        break;
    }
    case Kind::DecGraphics: {
        // The bytes the DEC set maps, and a few around them.
        const int n = 1 + pick(0, 16);
        for (int i = 0; i < n; ++i) w.put(static_cast<char>(0x5E + r[1 + i] % 0x21));
        joinable = true;
        break;
    }
    case Kind::EscIgnored: {
        // ESC with intermediates that both ignore; national sets (ESC ( A and
        // the like) are left out, xterm.js maps them.
        // ESC % G and ESC % @ set every designation back to ASCII in xterm.js,
        // so they come only while nothing else is designated; ESC - A puts a
        // national set into G1 there (ESC . A and ESC / A go to G2 and G3,
        // which nothing invokes).
        static constexpr std::string_view kSeqs[] = {"#3", "#4", "#5", "#6", " F", " G", "/A", ".A",
                                                     "$B", "$(B", "*0", "+B", "!x", "%G", "%@"};
        std::string_view seq = kSeqs[pick(0, s.charsets == Charsets{} ? 15 : 13)];
        w.put('\x1b');
        // C0 controls inside are executed; CAN and SUB abort; ESC restarts.
        if (seq.size() >= 2 && pick(1, 4) == 0) {
            w.put(seq.substr(0, 1));
            switch (pick(2, 4)) {
            case 0: w.put('\r'); w.put(seq.substr(1)); break;
            case 1: w.put('\n'); w.put(seq.substr(1)); break;
            case 2: w.put('\x18'); w.put('Q'); break;  // aborted: Q is text
            default: w.put("\x1b[4m"); break;
            }
        } else {
            w.put(seq);
        }
        break;
    }
    case Kind::Move: {
        // Relative moves and CHA misbehave in xterm.js in origin mode; VPR
        // runs past the region's bottom there, so it comes only without one.
        if (s.origin) {
            w.put(pick(0, 2) ? '\r' : '\b');
            break;
        }
        static constexpr char kFinals[] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', '`', 'a', 'e', 'I', 'Z'};
        char final = kFinals[pick(0, 12)];
        if (final == 'e' && !s.fullRegion()) final = 'B';
        w.csi();
        switch (pick(1, 4)) {
        case 0: break;
        case 1: w.num(0); break;
        case 2: w.num(1 + pick(2, 10)); break;
        default: w.num(pick(2, 200)); break;
        }
        w.put(final);
        break;
    }
    case Kind::Position: {
        const int form = pick(0, 5);
        w.csi();
        if (form == 4) {  // VPA keeps the column
            w.num(w.row(r[1]));
            w.put('d');
            break;
        }
        const long row = w.row(r[1]);
        const long col = pick(2, 4) == 0 ? 0 : pick(3, 130);
        if (form == 0) {
            w.put('H');
        } else {
            w.num(row);
            w.put(';');
            w.num(col);
            w.put(form == 3 ? 'f' : 'H');
        }
        break;
    }
    case Kind::Erase: {
        // EL and ED 0 with a pending wrap: an xterm.js quirk.
        w.fence();
        const bool line = pick(0, 2);
        w.csi();
        if (pick(1, 5) == 0) w.put('?');  // CSI ? J and ? K act as J and K
        const int mode = pick(2, 5);      // 4: no such mode
        if (mode != 0 || pick(3, 2)) w.num(mode);
        w.put(line ? 'K' : 'J');
        break;
    }
    case Kind::Edit: {
        static constexpr char kFinals[] = {'@', 'P', 'X'};
        w.csi();
        int n = 1;
        if (pick(1, 3)) {
            n = pick(2, 3) ? 1 + pick(3, 8) : pick(3, 150);
            w.num(n);
        }
        const char final = kFinals[pick(0, 3)];
        w.put(final);
        // ICH from the second half of a wide character: xterm.js moves that
        // half on as an empty cell, which the next text to end just left of
        // it colours; the screen blanks it. ECH over the moved cells clears it
        // on both sides.
        if (final == '@' && s.wide) {
            w.csi();
            w.num(std::max(n, 1) + 1);
            w.put('X');
        }
        break;
    }
    case Kind::Lines: {
        w.csi();
        if (pick(1, 3)) w.num(pick(2, 3) ? 1 + pick(3, 4) : pick(3, 50));
        w.put(pick(0, 2) ? 'L' : 'M');
        break;
    }
    case Kind::Scroll: {
        // xterm.js scrolls down without back-colour erase, so SD comes with
        // the default background.
        const bool down = pick(0, 2);
        if (down) w.put("\x1b[49m");
        w.csi();
        if (pick(1, 3)) w.num(pick(2, 3) ? 1 + pick(3, 4) : pick(3, 50));
        w.put(down ? 'T' : 'S');
        break;
    }
    case Kind::Region: {
        // Every form: none, a top alone, both, a bottom of 0 or past the
        // screen (the last row), top >= bottom and a top past the screen
        // (refused: nothing changes).
        w.csi();
        int top = 1, bottom = s.rows;
        switch (pick(0, 8)) {
        case 0: break;
        case 1:
            top = 1 + pick(1, s.rows + 2);
            w.num(top);
            break;
        case 2:
            top = pick(1, 3);
            w.num(top);
            w.put(';');
            if (pick(2, 2)) w.num(0);
            top = std::max(top, 1);
            break;
        case 3:  // top >= bottom
            bottom = 1 + pick(2, s.rows);
            top = bottom + pick(1, 3);
            w.num(top);
            w.put(';');
            w.num(bottom);
            break;
        default: {
            top = 1 + pick(1, s.rows);
            const int asked = top + 1 + pick(2, s.rows + 2 - top);
            w.num(top);
            w.put(';');
            w.num(asked);
            bottom = std::min(asked, s.rows);
            break;
        }
        }
        w.put('r');
        if (bottom > top) {
            s.top = top - 1;
            s.bottom = bottom - 1;
            ++s.regionEpoch;
        }
        break;
    }
    case Kind::SaveRestore: {
        const bool restore = pick(0, 2);
        const bool csi = pick(1, 2);
        // ESC 8 in xterm.js restores neither the designations nor origin
        // mode, and in origin mode it clamps the position into the region: a
        // position saved under another region may lie outside this one.
        const bool same = s.saved ? (s.savedEpoch == s.regionEpoch || !s.origin) && s.savedOrigin == s.origin &&
                                        s.savedCharsets == s.charsets
                                  : !s.origin && s.charsets == Charsets{};
        if (restore && same) {
            w.put(csi ? "\x1b[u" : "\x1b" "8");
        } else {
            w.put(csi ? "\x1b[s" : "\x1b" "7");
            s.saved = true;
            s.savedEpoch = s.regionEpoch;
            s.savedOrigin = s.origin;
            s.savedCharsets = s.charsets;
        }
        break;
    }
    case Kind::Rep: {
        // xterm.js repeats across an invalid sequence; the screen does not.
        // With auto-wrap off, the character before could be a wide one with
        // marks, whose copies would be dropped at the margin with the marks
        // kept (see the top).
        if (s.repBlocked || (s.wide && !s.autowrap) || pick(0, 3) == 0) w.put(pick(1, 3) ? kPrintable[pick(4, 95)] : 'q');
        w.csi();
        if (pick(2, 4)) w.num(pick(3, 4) ? pick(5, 6) : pick(5, 260));
        w.put('b');
        break;
    }
    case Kind::Sgr: {
        // Colours 0-255 only (xterm.js takes larger ones modulo 256), no
        // 38:2:r:g:b (xterm.js reads a colour-space id first), no short or
        // broken extended colours (xterm.js fills them with 0), sub-parameters
        // only on 4, 38, 48 and 58 (xterm.js acts on 31:1), and at most 32
        // parameters (xterm.js drops the rest).
        w.csi();
        const int n = pick(0, 6);
        int slot = 1;
        auto next = [&](int m) { return static_cast<int>(r[slot++ % 24] % static_cast<std::uint32_t>(m)); };
        for (int i = 0; i < n; ++i) {
            if (i > 0) w.put(';');
            switch (next(12)) {
            case 0: if (next(3)) w.num(0); break;
            case 1: w.num(30 + next(8)); break;
            case 2: w.num(40 + next(8)); break;
            case 3: w.num(90 + next(8)); break;
            case 4: w.num(100 + next(8)); break;
            case 5: w.num(next(2) ? 39 : 49); break;
            case 6: {
                const int code = next(2) ? 38 : 48;
                w.num(code);
                w.put(next(2) ? ";5;" : ":5:");
                w.num(next(256));
                break;
            }
            case 7: {
                const int code = next(3) == 0 ? 58 : next(2) ? 38 : 48;
                w.num(code);
                const int form = next(3);
                w.put(form == 0 ? ";2;" : form == 1 ? ":2::" : ":2:1:");
                const char* sep = form == 0 ? ";" : ":";
                w.num(next(256)); w.put(sep); w.num(next(256)); w.put(sep); w.num(next(256));
                break;
            }
            case 8: w.put("4:"); w.num(next(6)); break;
            case 9: w.put("58;5;"); w.num(next(256)); break;
            default: {
                static constexpr int kOther[] = {1, 2, 3, 4, 5, 7, 8, 9, 21, 22, 23, 24, 25, 27, 28, 29, 53, 55, 73};
                w.num(kOther[next(19)]);
                break;
            }
            }
        }
        w.put('m');
        break;
    }
    case Kind::Modes: {
        switch (pick(0, 6)) {
        case 0:
            w.put("\x1b[?6h");
            s.origin = true;
            break;
        case 1:
            w.put("\x1b[?6l");
            s.origin = false;
            break;
        case 2:
        case 3:
            // Around auto-wrap changes xterm.js keeps a pending wrap of its own.
            w.fence();
            s.autowrap = !pick(1, 2);
            w.put(s.autowrap ? "\x1b[?7h" : "\x1b[?7l");
            w.fence();
            break;
        case 4: w.put(pick(1, 2) ? "\x1b[4h" : "\x1b[4l"); break;
        default:
            // Modes without a visible effect, alone and among others. Not 47,
            // 1047, 1049 (alternate screen) nor 20 (xterm.js knows newline mode).
            w.put(pick(1, 2) ? "\x1b[?25;12l" : "\x1b[?1;2004;25h");
            break;
        }
        break;
    }
    case Kind::IgnoredCsi: {
        // Markers or intermediates: nothing happens. Not CSI ! p (xterm.js
        // does a soft reset), CSI SP @ / SP A (it shifts columns), CSI ' } and
        // ' ~ (it inserts and deletes columns), nor final bytes it acts on
        // (I, Z, g: tab stops) or that ask for an answer; DECSCA only as
        // 0 " q, since xterm.js keeps protected characters from CSI ? J / ? K.
        static constexpr std::string_view kSeqs[] = {
            "?u", ">1u", "=5u", "<1u", ">4;1m", "?4m", "=1m", "1$r", "2 q", "1;2'z", "0'{", "?5W", "3 ~",
            "1 }", "1;2;3;4$z", "0\"q", "?1;2r", "?1s", "1N", "1O", "1Q", "1U", "1V", "1W", "1Y", "1^", "1q",
            "1y", "1|", "1~"};
        w.put("\x1b[");
        w.put(kSeqs[pick(0, 30)]);
        break;
    }
    case Kind::InvalidCsi: {
        // Consumed without effect, or abandoned. The last byte of an item is
        // never a bare ESC: the screen drops a C0 control right after ESC,
        // xterm.js executes it.
        static constexpr std::string_view kSeqs[] = {
            "\x1b[1?J", "\x1b[?1?J", "\x1b[2>J", "\x1b[1 1J", "\x1b[1$1K", "\x1b[31\x18" "mx", "\x1b[32\x1A" "my",
            "\x1b[31\x1b[33m", "\x1b[3\xC3\xA9m", "\x1b[1;2\xE2\x94\x80H", "\x1b[ J", "\x1b[=1;2H"};
        w.put(kSeqs[pick(0, 12)]);
        invalid = true;
        break;
    }
    case Kind::CsiWithControls: {
        // C0 controls inside a sequence are executed; DEL is ignored.
        static constexpr std::string_view kSeqs[] = {"\x1b[3\r1m", "\x1b[3\n2m", "\x1b[3\b2m", "\x1b[\a\am",
                                                     std::string_view("\x1b[\0m", 4), "\x1b[3\x7f" "4m", "\x1b[2\x0e" "C"};
        // SO inside CUF: not in origin mode, where relative moves differ.
        const int which = pick(0, s.origin ? 6 : 7);
        w.put(kSeqs[which]);
        if (which == 6) s.charsets.shifted = true;
        break;
    }
    case Kind::String: {
        static constexpr std::string_view kOpen[] = {"\x1b]0;", "\x1b]2;", "\x1b]8;;", "\x1bP", "\x1bX", "\x1b^",
                                                     "\x1b_"};
        const int open = pick(0, 7);
        w.put(kOpen[open]);
        const int n = pick(1, 12);
        for (int i = 0; i < n; ++i) {
            switch (pick(2 + i % 8, 6)) {
            case 0:
                // xterm.js ends a DCS, SOS, PM or APC string at a non-ASCII
                // character, which it loses.
                if (open < 3) w.utf8(bmpWidthOne(r[12 + i % 8]));
                break;
            case 1: w.put(pick(10, 2) ? '\r' : '\n'); break;
            case 2: if (open >= 3) w.put('\a'); break;  // BEL ends only OSC strings
            default: w.put(kPrintable[r[12 + i % 8] % 95]); break;
            }
        }
        switch (pick(11, 6)) {
        case 0: w.put(open < 3 ? "\a" : "\x1b\\"); break;
        case 1: w.put('\x18'); break;
        case 2: w.put('\x1A'); break;
        case 3: w.put("\x1b[35m"); break;  // ends the string, then acts
        default: w.put("\x1b\\"); break;
        }
        break;
    }
    case Kind::Reset:
        w.put("\x1b" "c");
        s = freshState(s.rows, s.wide);
        break;
    case Kind::WideText: {
        // Wide characters among narrow ones, Hangul from conjoining jamo.
        // With auto-wrap off, from the first column: 12 of them never reach
        // the margin.
        if (!s.autowrap) w.put('\r');
        const int n = 1 + pick(0, 12);
        for (int i = 0; i < n; ++i) {
            const std::uint32_t v = r[1 + i];
            switch (v % 8) {
            case 0: jamoSyllable(w, v >> 3); break;
            case 1: w.utf8(narrowChar(v >> 3)); break;
            case 2: w.put(kPrintable[(v >> 3) % 95]); break;
            default: w.utf8(wideChar(v >> 3)); break;
            }
        }
        joinable = true;
        break;
    }
    case Kind::Marks: {
        // Combining and zero-width characters on a printed character: the one
        // the item before ended with, one put where a cursor move left the
        // cursor (where a wide one fits), one in the last column with its wrap
        // pending, or one put where the cursor was. Stacked up to four.
        const int where = pick(0, 4);
        bool wideBase = pick(1, 3) == 0;
        bool lastTwo = false;  // a wide base fills the last two columns
        if (where == 0 && s.joinable) {
            wideBase = false;
        } else {
            if (where == 1) {
                const int column = 1 + pick(2, kCols - 1);
                w.toColumn(column, r[3]);
                lastTwo = column == kCols - 1;
            } else if (where == 2) {
                w.toColumn(kCols, r[3]);
                wideBase = false;  // it would wrap, or be dropped
            } else if (!s.autowrap) {
                wideBase = false;  // the column is not known: it could be dropped
            }
            if (wideBase) {
                w.utf8(wideChar(r[4]));
            } else {
                w.put(kPrintable[r[4] % 95]);  // a space too: with a mark it is no blank
            }
        }
        const int marks = 1 + pick(5, 4);
        for (int i = 0; i < marks; ++i) w.utf8(joiningChar(r[6 + i]));
        // Without auto-wrap, what comes next over the last column keeps a
        // wide character there whole in xterm.js, as in the margin item.
        if (wideBase && lastTwo && !s.autowrap) {
            w.fence();
            break;
        }
        if (pick(10, 3) == 0) w.put(kPrintable[1 + r[11] % 94]);
        joinable = true;
        break;
    }
    case Kind::WideMargin: {
        // Characters from a few columns before the right margin, sometimes in
        // insert mode. With auto-wrap on, a wide one that does not fit in the
        // last column wraps and leaves it blank; with it off, it is dropped,
        // and a fence follows. The column is followed here for that: x ==
        // kCols is the cursor past the last column after writing there.
        if (pick(0, 3) == 0) w.put("\x1b[4h");
        int x = kCols - 1 - pick(1, 5);  // 0-based
        // Without auto-wrap, sometimes from the last column itself, which may
        // hold the second half of a wide character: a wide one dropped there
        // blanks its first half.
        if (!s.autowrap && pick(12, 4) == 0) x = kCols - 1;
        w.toColumn(x + 1, r[2]);
        const int n = 1 + pick(3, 5);
        bool fenced = false;
        bool wideAtEnd = false;  // a wide character fills the last two columns
        for (int i = 0; i < n; ++i) {
            const std::uint32_t v = r[4 + i];
            fenced = false;
            // At the margin HT keeps the cursor in the last column or past
            // it; CBT keeps it past it.
            if (i > 0 && x >= kCols - 1 && pick(13 + i % 5, 4) == 0) w.put(x == kCols && (v & 64) ? "\x1b[Z" : "\t");
            if (v % 3 != 0) {
                w.utf8(wideChar(v >> 2));
                wideAtEnd = false;
                if (x + 2 <= kCols) {
                    x += 2;
                    wideAtEnd = !s.autowrap && x == kCols;
                } else if (s.autowrap) {
                    x = 2;
                } else {
                    // Dropped. A mark that comes next joins the character
                    // left of the cursor on both sides, but xterm.js then
                    // loses that character when ICH moves it on.
                    w.fence();
                    x = kCols - 2;
                    fenced = true;
                }
            } else {
                // Without auto-wrap, xterm.js writes this over the last
                // column and keeps the wide character before it whole; the
                // screen blanks it. A fence keeps clear.
                if (wideAtEnd) {
                    w.fence();
                    x = kCols - 2;
                    wideAtEnd = false;
                }
                if ((v >> 2) % 2) w.utf8(narrowChar(v >> 3));
                else w.put(kPrintable[(v >> 3) % 95]);
                x = x < kCols ? x + 1 : s.autowrap ? 1 : kCols;
            }
        }
        // The same for what the next item writes.
        if (wideAtEnd) {
            w.fence();
            fenced = true;
        }
        if (pick(10, 3) == 0) w.put("\x1b[4l");
        else joinable = !fenced;
        break;
    }
    case Kind::TabStops: {
        // Stops set and cleared, and tabs over them, as programs such as
        // tabs(1) do. CHT and CBT not in origin mode, where xterm.js moves
        // relative to the region.
        switch (pick(0, 9)) {
        case 0: w.put("\x1bH"); break;  // wherever the cursor is, past the margin too
        case 1: {
            // Near either margin, or anywhere.
            const int where = pick(2, 3);
            const long col = where == 0 ? kCols - pick(3, 3) : where == 1 ? 1 + pick(3, 3) : 1 + pick(3, kCols);
            w.toColumn(col, r[4]);
            w.put("\x1bH");
            break;
        }
        case 2: w.put(pick(1, 2) ? "\x1b[g" : "\x1b[0g"); break;
        case 3: w.put("\x1b[3g"); break;
        case 4: {
            static constexpr std::string_view kOther[] = {"\x1b[1g", "\x1b[2g", "\x1b[4g", "\x1b[5g"};
            w.put(kOther[pick(1, 4)]);
            break;
        }
        case 5: {
            // Every few columns, as `tabs -N` sets them.
            w.put("\x1b[3g");
            const int step = 2 + pick(1, 10);
            for (int c = 1 + step; c <= kCols; c += step) {
                w.toColumn(c, r[4]);
                w.put("\x1bH");
            }
            w.put('\r');
            break;
        }
        default: {
            // Text between tabs, or tab moves by a count.
            const int n = 1 + pick(1, 5);
            for (int i = 0; i < n; ++i) {
                switch (pick(5 + i, s.origin ? 2 : 4)) {
                case 0:
                case 1: w.put('\t'); break;
                case 2: w.csi(); w.num(1 + pick(10 + i, 4)); w.put('I'); break;
                default: w.csi(); w.num(1 + pick(10 + i, 4)); w.put('Z'); break;
                }
                const int length = pick(15 + i, 6);
                for (int k = 0; k < length; ++k) w.put(kPrintable[1 + (r[20] >> k) % 94]);
                joinable = length > 0;
            }
            break;
        }
        }
        break;
    }
    case Kind::Count:
        break;
    }
    s.repBlocked = invalid;
    s.joinable = joinable;
}

Item drawItem(Random& random, const Weights& weights) {
    int total = 0;
    for (int w : weights) total += w;
    int pick = random.below(total);
    int k = 0;
    while (pick >= weights[k]) pick -= weights[k++];
    Item item{static_cast<Kind>(k), {}};
    for (auto& v : item.r) v = static_cast<std::uint32_t>(random.next());
    return item;
}

struct Stream {
    int rows;
    int chunk;
    int items;
    std::string bytes;
    std::string kinds;  // of the items written, for the report
};

Stream makeStream(std::uint64_t seed, const std::set<int>& drop, bool wide) {
    Random random(seed * 0x2545F4914F6CDD1Dull + 1);
    Stream stream;
    static constexpr int kRows[] = {2, 3, 4, 5, 6, 8, 10, 13, 17, 24, 30, 40};
    stream.rows = kRows[random.below(12)];
    stream.items = random.between(10, 160);
    const bool unfinished = random.chance(8);

    std::vector<Item> items;
    for (int i = 0; i < stream.items; ++i) items.push_back(drawItem(random, wide ? kWideWeights : kWeights));
    State state = freshState(stream.rows, wide);
    for (int i = 0; i < stream.items; ++i)
        if (!drop.count(i)) {
            writeItem(items[i], state, stream.bytes);
            stream.kinds += std::to_string(i) + ":" + kKindNames[static_cast<int>(items[i].kind)] + " ";
        }
    // Sometimes the stream stops inside a sequence or a string.
    if (unfinished && !drop.count(stream.items)) {
        static constexpr std::string_view kTails[] = {"\x1b[3", "\x1b]0;never ended", "\x1bPq", "\x1b(", "\xE2\x94"};
        stream.bytes += kTails[random.below(5)];
        stream.kinds += std::to_string(stream.items) + ":unfinished";
    }

    // Blocks of one size per stream, from one byte to more than the stream,
    // cutting characters and sequences anywhere.
    Random blocks(seed ^ 0xB10C5);
    const int bucket = blocks.below(10);
    stream.chunk = bucket == 0 ? 1 : bucket < 4 ? blocks.between(2, 16) : bucket < 8 ? blocks.between(17, 512) : 4096;
    return stream;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::set<int> parseDrop(const char* text) {
    std::set<int> drop;
    const char* p = text;
    while (*p) {
        char* end = nullptr;
        drop.insert(static_cast<int>(std::strtol(p, &end, 10)));
        if (end == p) break;
        p = *end == ',' ? end + 1 : end;
    }
    return drop;
}

int usage() {
    std::fputs("usage: vtsnap-diffgen [--wide] --batch FIRST COUNT DIR | [--wide] --seed S [--drop I,J,...] OUT\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const bool wide = argc > 1 && std::strcmp(argv[1], "--wide") == 0;
    if (wide) {
        --argc;
        ++argv;
    }
    if (argc == 5 && std::strcmp(argv[1], "--batch") == 0) {
        const std::uint64_t first = std::strtoull(argv[2], nullptr, 10);
        const std::uint64_t count = std::strtoull(argv[3], nullptr, 10);
        for (std::uint64_t seed = first; seed < first + count; ++seed) {
            const Stream s = makeStream(seed, {}, wide);
            const std::string path = std::string(argv[4]) + "/" + std::to_string(seed) + ".vt";
            if (!writeFile(path, s.bytes)) {
                std::perror(path.c_str());
                return 1;
            }
            std::printf("%llu %d %d %d\n", static_cast<unsigned long long>(seed), s.rows, s.chunk, s.items + 1);
        }
        return 0;
    }
    if ((argc == 4 || argc == 6) && std::strcmp(argv[1], "--seed") == 0) {
        std::set<int> drop;
        if (argc == 6) {
            if (std::strcmp(argv[3], "--drop") != 0) return usage();
            drop = parseDrop(argv[4]);
        }
        const std::uint64_t seed = std::strtoull(argv[2], nullptr, 10);
        const Stream s = makeStream(seed, drop, wide);
        if (!writeFile(argv[argc - 1], s.bytes)) {
            std::perror(argv[argc - 1]);
            return 1;
        }
        std::printf("%llu %d %d %d\n%s\n", static_cast<unsigned long long>(seed), s.rows, s.chunk, s.items + 1,
                    s.kinds.c_str());
        return 0;
    }
    return usage();
}
