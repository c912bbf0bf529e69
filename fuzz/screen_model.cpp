#include "fuzz/screen_model.hpp"

#include <algorithm>
#include <span>
#include <utility>

#include "terminal/char_width.hpp"
#include "tests/screen_access.hpp"

namespace vtsnap::model {

using test::inspect;

namespace {

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kBel = 0x07;
constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kSub = 0x1A;
constexpr std::uint8_t kDel = 0x7F;

// A control sequence keeps its first 256 parameter and intermediate bytes.
constexpr std::size_t kSequenceBytes = 256;
constexpr std::int32_t kMaxParam = 32767;

// DEC Special Graphics, for ` a b c ... ~ in that order.
constexpr char16_t kDecGraphics[] =
    u"\u25C6\u2592\u2409\u240C\u240D\u240A\u00B0\u00B1\u2424\u240B\u2518\u2510\u250C\u2514\u253C\u23BA"
    u"\u23BB\u2500\u23BC\u23BD\u251C\u2524\u2534\u252C\u2502\u2264\u2265\u03C0\u2260\u00A3\u00B7";

std::size_t at(std::int32_t i) { return static_cast<std::size_t>(i); }

bool isMarker(std::uint8_t b) { return b >= '<' && b <= '?'; }

ColorValue channel(std::int32_t v) { return static_cast<ColorValue>(std::min(v, 255)); }

ColorValue direct(std::int32_t r, std::int32_t g, std::int32_t b) {
    return kDirectColorFlag + channel(r) * 65536 + channel(g) * 256 + channel(b);
}

std::string hex(std::uint32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v % 16]);
        v /= 16;
    } while (v != 0);
    return "0x" + s;
}

std::string describe(CellAttr a) { return "(" + hex(a.fg) + ", " + hex(a.bg) + ")"; }

}  // namespace

Terminal::Terminal(std::int32_t cols_, std::int32_t rows_)
    : rows(std::max(rows_, 1)), cols(std::max(cols_, 1)), grid(at(rows), Row(at(cols))), scrollBottom(rows - 1) {
    defaultTabStops();
}

// ---- Decoding, one byte at a time ---------------------------------------------------

void Terminal::feed(const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) byte(bytes[i]);
}

void Terminal::byte(std::uint8_t b) {
    switch (state) {
    case ParserState::Ground: ground(b); break;
    case ParserState::Escape:
    case ParserState::EscapeIntermediate: escapeByte(b); break;
    case ParserState::CsiEntry:
    case ParserState::CsiParam:
    case ParserState::CsiIntermediate:
    case ParserState::CsiIgnore: csiByte(b); break;
    case ParserState::OscString:
    case ParserState::String: stringByte(b); break;
    }
}

void Terminal::ground(std::uint8_t b) {
    if (utf8Length > 0) {
        if (b >= 0x80 && b <= 0xBF) {
            utf8Value = (utf8Value << 6) | (b & 0x3Fu);
            if (++utf8Seen < utf8Length) return;
            // Complete: only the shortest form of a Unicode scalar value counts.
            static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
            const std::uint32_t v = utf8Value;
            const bool valid = v >= kLeast[utf8Length] && (v < 0xD800 || v > 0xDFFF) && v <= 0x10FFFF;
            utf8Length = 0;
            if (!valid) return;
            if (v < 0xA0)
                sequenceEnded();  // a C1 control: never written
            else
                print(v);
            return;
        }
        // Broken off: the character is dropped, and this byte decoded afresh.
        utf8Length = 0;
    }
    if (b == kEsc) {
        startEscape();
    } else if (b == kDel) {
    } else if (b < 0x20) {
        control(b);
    } else if (b < 0x7F) {
        text(b);
    } else if (b >= 0xC0 && b <= 0xF7) {
        utf8Length = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        utf8Seen = 1;
        utf8Value = b & (0x7Fu >> utf8Length);
    }
    // Anything else (a continuation byte alone, F8-FF) is dropped.
}

// Printable ASCII, through the invoked set; the line drawing characters are
// narrow.
void Terminal::text(std::uint8_t b) {
    if (g[invoked] == Set::DecGraphics && b >= 0x60 && b <= 0x7E)
        printNarrow(kDecGraphics[b - 0x60]);
    else
        printNarrow(b);
}

void Terminal::control(std::uint8_t b) {
    endText();
    switch (b) {
    case 0x08:
        if (cursorCol > 0) --cursorCol;
        wrapPending = false;
        break;
    case 0x09:  // a pending wrap stays pending
        if (!wrapPending) cursorCol = nextStop(cursorCol);
        break;
    case 0x0A:
    case 0x0B:
    case 0x0C: lineFeed(); break;
    case 0x0D:
        cursorCol = 0;
        wrapPending = false;
        break;
    case 0x0E: invoked = 1; break;
    case 0x0F: invoked = 0; break;
    default: break;
    }
}

void Terminal::startEscape() {
    state = ParserState::Escape;
    intermediates.clear();
}

// ESC starts a new sequence; CAN, SUB and bytes from 0x80 up abandon the one
// in progress. True when `b` was one of them.
bool Terminal::abandonedBy(std::uint8_t b) {
    if (b == kEsc) {
        sequenceEnded();
        startEscape();
        return true;
    }
    if (b == kCan || b == kSub || b >= 0x80) {
        sequenceEnded();
        state = ParserState::Ground;
        return true;
    }
    return false;
}

void Terminal::escapeByte(std::uint8_t b) {
    if (abandonedBy(b) || b == kDel) {
    } else if (b < 0x20) {
        if (state == ParserState::Escape) {
            // Right after ESC a control is dropped with the escape.
            sequenceEnded();
            state = ParserState::Ground;
        } else {
            control(b);
        }
    } else if (b <= 0x2F) {
        intermediates += static_cast<char>(b);
        state = ParserState::EscapeIntermediate;
    } else if (state == ParserState::Escape && b == '[') {
        sequence.clear();
        state = ParserState::CsiEntry;
    } else if (state == ParserState::Escape && b == ']') {
        state = ParserState::OscString;
    } else if (state == ParserState::Escape && (b == 'P' || b == 'X' || b == '^' || b == '_')) {
        state = ParserState::String;
    } else {
        state = ParserState::Ground;
        escDispatch(b);
        sequenceEnded();
    }
}

void Terminal::csiByte(std::uint8_t b) {
    if (abandonedBy(b) || b == kDel) {
    } else if (b < 0x20) {
        control(b);
    } else if (b >= 0x40) {
        const bool valid = state != ParserState::CsiIgnore;
        state = ParserState::Ground;
        if (valid) csiDispatch(b);
        sequenceEnded();
    } else if (sequence.size() < kSequenceBytes) {
        sequence += static_cast<char>(b);
        if (state == ParserState::CsiIgnore) return;
        if (b <= 0x2F)
            state = ParserState::CsiIntermediate;
        else if (state == ParserState::CsiIntermediate)
            state = ParserState::CsiIgnore;  // a parameter byte after an intermediate
        else if (isMarker(b))
            state = state == ParserState::CsiEntry ? ParserState::CsiParam : ParserState::CsiIgnore;
        else
            state = ParserState::CsiParam;
    }
}

void Terminal::stringByte(std::uint8_t b) {
    if (b == kEsc) {
        sequenceEnded();
        startEscape();  // ends the string; the next byte acts as after ESC
    } else if (b == kCan || b == kSub || (b == kBel && state == ParserState::OscString)) {
        sequenceEnded();
        state = ParserState::Ground;
    }
}

void Terminal::escDispatch(std::uint8_t final) {
    if (intermediates == "(" || intermediates == ")") {
        Set& set = g[intermediates == "(" ? 0 : 1];
        if (final == '0') set = Set::DecGraphics;
        if (final == 'B') set = Set::Ascii;
        return;
    }
    if (!intermediates.empty()) return;
    switch (final) {
    case '7': save(); break;
    case '8': restore(); break;
    case 'D': lineFeed(); break;
    case 'E':
        lineFeed();
        cursorCol = 0;
        break;
    case 'H': tabStop[at(cursorCol)] = true; break;
    case 'M':
        wrapPending = false;
        if (cursorRow == scrollTop)
            scrollDown(1);
        else
            cursorRow = std::max(cursorRow - 1, 0);
        break;
    case 'c': reset(); break;
    default: break;
    }
}

// The sequence's parameters: ';' separates them, ':' their sub-parameters.
std::vector<Terminal::Param> Terminal::params() const {
    std::vector<Param> list(1);
    bool inSub = false;
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const auto ch = static_cast<std::uint8_t>(sequence[i]);
        if (ch == ';') {
            list.emplace_back();
            inSub = false;
        } else if (ch == ':') {
            list.back().subs.push_back(0);
            inSub = true;
        } else if (ch >= '0' && ch <= '9') {
            std::int32_t& v = inSub ? list.back().subs.back() : list.back().value;
            v = std::min(v * 10 + (ch - '0'), kMaxParam);
        }
    }
    return list;
}

void Terminal::csiDispatch(std::uint8_t final) {
    const std::uint8_t marker =
        !sequence.empty() && isMarker(static_cast<std::uint8_t>(sequence[0])) ? static_cast<std::uint8_t>(sequence[0]) : 0;
    for (char ch : sequence)
        if (ch >= 0x20 && ch <= 0x2F) return;  // intermediates: a sequence not known here
    const std::vector<Param> list = params();
    const std::int32_t first = list[0].value;

    if (marker == '?') {
        if (final == 'J') eraseInDisplay(first);
        if (final == 'K') eraseInLine(first);
        if (final == 'h' || final == 'l')
            for (const Param& p : list) {
                if (p.value == 6) {
                    originMode = final == 'h';
                    home();
                }
                if (p.value == 7) {
                    // Past the margin without autowrap is no wrap after it either.
                    if (final == 'h' && !autoWrap) wrapPending = false;
                    autoWrap = final == 'h';
                }
            }
        return;
    }
    if (marker != 0) return;

    const std::int32_t n = std::max(first, 1);
    const std::int32_t m = list.size() > 1 ? std::max(list[1].value, 1) : 1;
    const bool inRegion = cursorRow >= scrollTop && cursorRow <= scrollBottom;
    // Up and down stop at the region's edge when that edge is in their way.
    const std::int32_t upTo = cursorRow >= scrollTop ? scrollTop : 0;
    const std::int32_t downTo = cursorRow <= scrollBottom ? scrollBottom : rows - 1;
    switch (final) {
    case '@':
        wrapPending = false;
        insertChars(n, eraseAttr());
        break;
    case 'P':
        wrapPending = false;
        deleteChars(n);
        break;
    case 'A':
        cursorRow = std::max(cursorRow - n, upTo);
        wrapPending = false;
        break;
    case 'B':
    case 'e':
        cursorRow = std::min(cursorRow + n, downTo);
        wrapPending = false;
        break;
    case 'C':
    case 'a':
        cursorCol = std::min(cursorCol + n, cols - 1);
        wrapPending = false;
        break;
    case 'D':
        cursorCol = std::max(cursorCol - n, 0);
        wrapPending = false;
        break;
    case 'E':
        cursorRow = std::min(cursorRow + n, downTo);
        cursorCol = 0;
        wrapPending = false;
        break;
    case 'F':
        cursorRow = std::max(cursorRow - n, upTo);
        cursorCol = 0;
        wrapPending = false;
        break;
    case 'G':
    case '`':
        cursorCol = std::min(n, cols) - 1;
        wrapPending = false;
        break;
    case 'I':  // CHT: n tab stops forward, one at a time
        if (wrapPending) break;
        for (std::int32_t i = 0; i < n && i < cols; ++i) cursorCol = nextStop(cursorCol);
        break;
    case 'Z':  // CBT: n tab stops back
        if (wrapPending) break;
        for (std::int32_t i = 0; i < n && i < cols; ++i) cursorCol = previousStop(cursorCol);
        break;
    case 'g':  // TBC: 0 the stop at the cursor, 3 all of them
        if (first == 0) tabStop[at(cursorCol)] = false;
        if (first == 3) tabStop.assign(at(cols), false);
        break;
    case 'H':
    case 'f':
        moveToRow(n - 1);
        cursorCol = std::min(m, cols) - 1;
        wrapPending = false;
        break;
    case 'd':
        moveToRow(n - 1);
        wrapPending = false;
        break;
    case 'J': eraseInDisplay(first); break;
    case 'K': eraseInLine(first); break;
    case 'L':
    case 'M':
        wrapPending = false;
        if (!inRegion) break;
        if (final == 'L')
            insertLines(n);
        else
            deleteLines(n);
        cursorCol = 0;
        break;
    case 'S': scrollUp(n); break;
    case 'T': scrollDown(n); break;
    case 'X':
        wrapPending = false;
        blank(cursorRow, cursorCol, cursorCol + n - 1);
        break;
    case 'b': repeat(n); break;
    case 'h':
    case 'l':
        for (const Param& p : list)
            if (p.value == 4) insertMode = final == 'h';
        break;
    case 'm': graphicRendition(list); break;
    case 'r': {
        // No bottom, 0, or one past the screen: the last row. Fewer than two
        // rows: refused.
        const std::int32_t top = n;
        std::int32_t bottom = list.size() > 1 ? list[1].value : 0;
        if (bottom == 0 || bottom > rows) bottom = rows;
        if (bottom > top) {
            scrollTop = top - 1;
            scrollBottom = bottom - 1;
            home();
        }
        break;
    }
    case 's': save(); break;
    case 'u': restore(); break;
    default: break;
    }
}

// A colour in the ';' form takes the parameters after its code only when they
// have no sub-parameters; a parameter with sub-parameters is a colour of its
// own (38 and 48) or changes no colour.
void Terminal::graphicRendition(const std::vector<Param>& list) {
    const std::size_t count = list.size();
    auto plain = [&](std::size_t k) { return k < count && list[k].subs.empty(); };
    std::size_t i = 0;
    while (i < count) {
        const Param& p = list[i];
        ColorValue* target = p.value == 38 ? &currentAttr.fg : p.value == 48 ? &currentAttr.bg : nullptr;
        if (!p.subs.empty()) {
            const std::vector<std::int32_t>& s = p.subs;
            if (target != nullptr) {
                if (s.size() == 2 && s[0] == 5) *target = channel(s[1]);
                if (s.size() == 4 && s[0] == 2) *target = direct(s[1], s[2], s[3]);
                if (s.size() == 5 && s[0] == 2) *target = direct(s[2], s[3], s[4]);
            }
            i += 1;
            continue;
        }
        const std::int32_t code = p.value;
        if (code == 38 || code == 48 || code == 58) {
            // 58, the underline colour, is read the same way and not kept.
            if (plain(i + 1) && list[i + 1].value == 5 && plain(i + 2)) {
                if (target) *target = channel(list[i + 2].value);
                i += 3;
            } else if (plain(i + 1) && list[i + 1].value == 2 && plain(i + 2) && plain(i + 3) && plain(i + 4)) {
                if (target) *target = direct(list[i + 2].value, list[i + 3].value, list[i + 4].value);
                i += 5;
            } else {
                i += 1;
            }
            continue;
        }
        if (code == 0) currentAttr = CellAttr{};
        if (code >= 30 && code <= 37) currentAttr.fg = static_cast<ColorValue>(code - 30);
        if (code == 39) currentAttr.fg = kDefaultColor;
        if (code >= 40 && code <= 47) currentAttr.bg = static_cast<ColorValue>(code - 40);
        if (code == 49) currentAttr.bg = kDefaultColor;
        if (code >= 90 && code <= 97) currentAttr.fg = static_cast<ColorValue>(code - 82);
        if (code >= 100 && code <= 107) currentAttr.bg = static_cast<ColorValue>(code - 92);
        i += 1;
    }
}

// ---- The terminal's operations ----------------------------------------------------------

void Terminal::clearRow(std::int32_t row, CellAttr fill) {
    for (Cell& cell : grid[at(row)]) cell = Cell{u' ', fill};
}

// Erasing part of a row blanks whole characters: a wide one cut by either
// end goes with the rest.
void Terminal::blank(std::int32_t row, std::int32_t from, std::int32_t to) {
    for (std::int32_t c = std::max(from, 0); c <= std::min(to, cols - 1); ++c)
        overwrite(grid[at(row)], c, Cell{U' ', eraseAttr()}, eraseAttr());
}

void Terminal::overwrite(Row& row, std::int32_t col, Cell cell, CellAttr attr) {
    if (row[at(col)].secondHalf) row[at(col - 1)] = Cell{U' ', attr};
    if (col + 1 < cols && row[at(col + 1)].secondHalf) row[at(col + 1)] = Cell{U' ', attr};
    row[at(col)] = std::move(cell);
}

// ---- Text ---------------------------------------------------------------------------------

void Terminal::print(char32_t c) {
    switch (charWidth(c)) {
    case 1: printNarrow(c); break;
    case 2: printWide(c); break;
    case 0: joinMark(c); break;
    default: break;  // never shown, and no trace: what follows joins what came before
    }
}

// A character that comes while a wrap is pending starts the next line, or
// without autowrap takes the last column again.
void Terminal::wrapIfPending() {
    if (!wrapPending) return;
    wrapPending = false;
    if (!autoWrap) return;
    cursorCol = 0;
    lineFeed();
}

void Terminal::printNarrow(char32_t c) {
    wrapIfPending();
    if (insertMode) insertForText(1);
    overwrite(grid[at(cursorRow)], cursorCol, Cell{c, currentAttr}, currentAttr);
    lastGraphic = c;
    lastMarks.clear();
    joined = true;
    joinedRow = cursorRow;
    joinedCol = cursorCol;
    if (cursorCol < cols - 1)
        ++cursorCol;
    else
        wrapPending = true;  // without autowrap: past the margin, where tabs stay
}

// A wide character never goes into the last column: with autowrap it leaves
// that column blank and starts the next line, without it is dropped. A screen
// one column wide has no room for one anywhere, though a pending wrap happens
// first as for any character. A dropped one cuts a wide character whose
// second half the cursor is on, unless the cursor was past the margin: the
// first half becomes a blank in the current colours, the second a blank in
// its own. A mark after a dropped character has nothing printed just before
// it to join.
void Terminal::printWide(char32_t c) {
    lastGraphic = c;
    lastMarks.clear();
    const bool pastMargin = wrapPending && !autoWrap;
    wrapIfPending();
    if (cols < 2 || (cursorCol == cols - 1 && !autoWrap)) {
        Row& row = grid[at(cursorRow)];
        if (!pastMargin && row[at(cursorCol)].secondHalf) {
            row[at(cursorCol - 1)] = Cell{U' ', currentAttr};
            row[at(cursorCol)] = Cell{U' ', row[at(cursorCol)].attr};
        }
        joined = false;
        return;
    }
    if (cursorCol == cols - 1) {
        overwrite(grid[at(cursorRow)], cursorCol, Cell{U' ', currentAttr}, currentAttr);
        wrapPending = true;
        wrapIfPending();
    }
    if (insertMode) insertForText(2);
    Row& row = grid[at(cursorRow)];
    overwrite(row, cursorCol, Cell{c, currentAttr}, currentAttr);
    overwrite(row, cursorCol + 1, Cell::secondHalfIn(currentAttr), currentAttr);
    joined = true;
    joinedRow = cursorRow;
    joinedCol = cursorCol;
    cursorCol += 2;
    if (cursorCol == cols) {
        cursorCol = cols - 1;
        wrapPending = true;
    }
}

// A mark joins the character printed just before it. After anything else it
// joins the character before the cursor, or under it while a wrap is pending,
// and at the start of a row it has nothing to join. A character keeps the
// first kMaxMarks marks.
void Terminal::joinMark(char32_t mark) {
    std::int32_t row = joinedRow;
    std::int32_t col = joinedCol;
    if (joined) {
        lastMarks += mark;
    } else {
        row = cursorRow;
        col = wrapPending ? cursorCol : cursorCol - 1;
        if (col < 0) return;
        if (grid[at(row)][at(col)].secondHalf) --col;
    }
    std::u32string& marks = grid[at(row)][at(col)].marks;
    if (marks.size() < Grid::kMaxMarks) marks += mark;
}

// REP: the last character again, each time with the marks that joined it.
void Terminal::repeat(std::int32_t n) {
    if (lastGraphic == 0) return;
    const char32_t c = lastGraphic;
    const std::u32string marks = lastMarks;
    for (std::int32_t i = 0; i < n; ++i) {
        print(c);
        for (char32_t mark : marks) joinMark(mark);
    }
}

// Insert mode makes room for a character as ICH does, but a wide character
// the cursor is inside is cut first, as a write there would cut it, and what
// is blanked takes the character's colours.
void Terminal::insertForText(std::int32_t n) {
    Row& row = grid[at(cursorRow)];
    if (row[at(cursorCol)].secondHalf) {
        row[at(cursorCol - 1)] = Cell{U' ', currentAttr};
        row[at(cursorCol)] = Cell{U' ', currentAttr};
    }
    insertChars(n, currentAttr);
}

// ICH: the cells from the cursor move right by n, those pushed past the last
// column are gone, and n blanks take their place. A wide character cut by
// the cursor or by the end of the row is blanked in `fill`; its second half,
// cut off at the cursor, moves on as a blank of its own colours.
void Terminal::insertChars(std::int32_t n, CellAttr fill) {
    Row& row = grid[at(cursorRow)];
    const std::int32_t k = std::min(n, cols - cursorCol);
    if (row[at(cursorCol)].secondHalf) {
        row[at(cursorCol - 1)] = Cell{U' ', fill};
        row[at(cursorCol)] = Cell{U' ', row[at(cursorCol)].attr};
    }
    for (std::int32_t c = cols - 1; c >= cursorCol + k; --c) row[at(c)] = row[at(c - k)];
    for (std::int32_t c = cursorCol; c < cursorCol + k; ++c) row[at(c)] = Cell{U' ', fill};
    if (charWidth(row[at(cols - 1)].ch) == 2 && !row[at(cols - 1)].secondHalf)
        row[at(cols - 1)] = Cell{U' ', fill};
}

// DCH: the cells from the cursor move left by n over the n deleted, and
// blanks fill the end of the row. A wide character with a half among the
// deleted cells loses the other half too.
void Terminal::deleteChars(std::int32_t n) {
    Row& row = grid[at(cursorRow)];
    const std::int32_t k = std::min(n, cols - cursorCol);
    if (row[at(cursorCol)].secondHalf) row[at(cursorCol - 1)] = Cell{U' ', eraseAttr()};
    for (std::int32_t c = cursorCol; c <= cols - k - 1; ++c) row[at(c)] = row[at(c + k)];
    for (std::int32_t c = cols - k; c < cols; ++c) row[at(c)] = Cell{U' ', eraseAttr()};
    if (row[at(cursorCol)].secondHalf) row[at(cursorCol)] = Cell{U' ', eraseAttr()};
}

// The region scrolls on its bottom row; elsewhere the cursor moves down, up
// to the screen's last row.
void Terminal::lineFeed() {
    wrapPending = false;
    if (cursorRow == scrollBottom)
        scrollUp(1);
    else
        cursorRow = std::min(cursorRow + 1, rows - 1);
}

void Terminal::scrollUp(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom - scrollTop + 1);
    for (std::int32_t k = 0; k < n; ++k) {
        for (std::int32_t r = scrollTop; r < scrollBottom; ++r) std::swap(grid[at(r)], grid[at(r + 1)]);
        clearRow(scrollBottom, eraseAttr());
    }
}

void Terminal::scrollDown(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom - scrollTop + 1);
    for (std::int32_t k = 0; k < n; ++k) {
        for (std::int32_t r = scrollBottom; r > scrollTop; --r) std::swap(grid[at(r)], grid[at(r - 1)]);
        clearRow(scrollTop, eraseAttr());
    }
}

void Terminal::insertLines(std::int32_t n) {
    n = std::min(std::max(n, 1), scrollBottom - cursorRow + 1);
    for (std::int32_t k = 0; k < n; ++k) {
        for (std::int32_t j = scrollBottom; j > cursorRow; --j) std::swap(grid[at(j)], grid[at(j - 1)]);
        clearRow(cursorRow, eraseAttr());
    }
}

void Terminal::deleteLines(std::int32_t n) {
    n = std::min(std::max(n, 1), scrollBottom - cursorRow + 1);
    for (std::int32_t k = 0; k < n; ++k) {
        for (std::int32_t j = cursorRow; j < scrollBottom; ++j) std::swap(grid[at(j)], grid[at(j + 1)]);
        clearRow(scrollBottom, eraseAttr());
    }
}

void Terminal::eraseInDisplay(std::int32_t mode) {
    if (mode == 0) {
        blank(cursorRow, cursorCol, cols - 1);
        for (std::int32_t r = cursorRow + 1; r < rows; ++r) clearRow(r, eraseAttr());
    } else if (mode == 1) {
        for (std::int32_t r = 0; r < cursorRow; ++r) clearRow(r, eraseAttr());
        blank(cursorRow, 0, cursorCol);
    } else if (mode == 2) {
        for (std::int32_t r = 0; r < rows; ++r) clearRow(r, eraseAttr());
    }
}

void Terminal::eraseInLine(std::int32_t mode) {
    if (mode == 0) blank(cursorRow, cursorCol, cols - 1);
    if (mode == 1) blank(cursorRow, 0, cursorCol);
    if (mode == 2) blank(cursorRow, 0, cols - 1);
}

// Rows count from the screen's top, or in origin mode from the region's,
// which then keeps the cursor.
void Terminal::moveToRow(std::int32_t n) {
    cursorRow = originMode ? std::clamp(scrollTop + n, scrollTop, scrollBottom) : std::clamp(n, 0, rows - 1);
}

void Terminal::home() {
    cursorRow = originMode ? scrollTop : 0;
    cursorCol = 0;
    wrapPending = false;
}

void Terminal::save() { saved = Saved{cursorRow, cursorCol, currentAttr, g[0], g[1], invoked, originMode}; }

void Terminal::restore() {
    cursorRow = std::clamp(saved.row, 0, rows - 1);
    cursorCol = std::clamp(saved.col, 0, cols - 1);
    currentAttr = saved.attr;
    g[0] = saved.g0;
    g[1] = saved.g1;
    invoked = saved.invoked;
    originMode = saved.originMode;
    wrapPending = false;
}

// A stop every 8 columns, from the first.
void Terminal::defaultTabStops() {
    tabStop.assign(at(cols), false);
    for (std::int32_t c = 0; c < cols; c += 8) tabStop[at(c)] = true;
}

// The stops a column at a time: the last column, or the first, when no stop
// is left on the way.
std::int32_t Terminal::nextStop(std::int32_t col) const {
    do ++col;
    while (col < cols - 1 && !tabStop[at(col)]);
    return std::min(col, cols - 1);
}

std::int32_t Terminal::previousStop(std::int32_t col) const {
    do --col;
    while (col > 0 && !tabStop[at(col)]);
    return std::max(col, 0);
}

void Terminal::reset() {
    for (std::int32_t r = 0; r < rows; ++r) clearRow(r, CellAttr{});
    currentAttr = CellAttr{};
    cursorRow = cursorCol = 0;
    wrapPending = false;
    scrollTop = 0;
    scrollBottom = rows - 1;
    defaultTabStops();
    autoWrap = true;
    insertMode = originMode = false;
    g[0] = g[1] = Set::Ascii;
    invoked = 0;
    saved = Saved{};
    endText();
}

// ---- Comparison -------------------------------------------------------------------------

std::string Terminal::differences(const Screen& s) const {
    if (s.rows() != rows || s.cols() != cols) return "dimensions";
    static const std::u32string none;
    for (std::int32_t r = 0; r < rows; ++r) {
        const Row& row = grid[at(r)];
        const char32_t* chars = s.rowChars(r);
        // A blank row reads as default colours; its cells have the colours it
        // was blanked in.
        const bool blankRow = s.rowIsBlank(r);
        const CellAttr* attrs = s.rowAttrs(r);
        const CellAttr fill = inspect(s).cellAttr(r, 0);
        const std::span<const CellMarks> marks = s.rowMarks(r);
        std::size_t nextMarks = 0;
        auto where = [&](std::int32_t c) { return "row " + std::to_string(r) + ", column " + std::to_string(c); };
        for (std::int32_t c = 0; c < cols; ++c) {
            const Cell& cell = row[at(c)];
            // The cell as the Screen keeps it: the character, flagged when
            // marks join it, or kWideContinuation for a second half.
            const char32_t want = cell.secondHalf ? kWideContinuation : cell.ch | (cell.marks.empty() ? 0 : kHasMarks);
            if (chars[c] != want)
                return "text of " + where(c) + ": " + hex(chars[c]) + ", the rules give " + hex(want);
            // The Screen's marks come sorted by column, one entry a cell.
            const bool entry = nextMarks < marks.size() && marks[nextMarks].col == c;
            const std::u32string& got = entry ? marks[nextMarks++].marks : none;
            if ((!got.empty() || !cell.marks.empty()) && got != cell.marks)
                return "marks of " + where(c) + ": " + std::to_string(got.size()) + " (" +
                       (got.empty() ? "" : hex(got[0])) + "...), the rules give " + std::to_string(cell.marks.size()) +
                       " (" + (cell.marks.empty() ? "" : hex(cell.marks[0])) + "...)";
            const CellAttr attr = blankRow ? fill : attrs[c];
            if (attr != cell.attr)
                return "colours of " + where(c) + ": " + describe(attr) + ", the rules give " + describe(cell.attr);
        }
        if (nextMarks != marks.size())
            return "marks of row " + std::to_string(r) + ": an entry out of order or beyond the row";
    }
    if (inspect(s).currentAttr() != currentAttr)
        return "currentAttr: " + describe(inspect(s).currentAttr()) + ", the rules give " + describe(currentAttr);
    if (inspect(s).cursorRow() != cursorRow || inspect(s).cursorCol() != cursorCol)
        return "cursor: (" + std::to_string(inspect(s).cursorRow()) + ", " + std::to_string(inspect(s).cursorCol()) +
               "), the rules give (" + std::to_string(cursorRow) + ", " + std::to_string(cursorCol) + ")";
    if (inspect(s).wrapPending() != wrapPending) return "wrapPending";
    if (inspect(s).scrollTop() != scrollTop || inspect(s).scrollBottom() != scrollBottom) return "scroll region";
    for (std::int32_t c = 0; c < cols; ++c)
        if (inspect(s).nextTabStop(c) != nextStop(c)) return "the tab stop after column " + std::to_string(c);
    if (inspect(s).parserState() != state)
        return "decoder state: " + std::to_string(static_cast<int>(inspect(s).parserState())) + ", the rules give " +
               std::to_string(static_cast<int>(state));
    return {};
}

}  // namespace vtsnap::model
