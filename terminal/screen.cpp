#include "terminal/screen.hpp"

#include <algorithm>

namespace vtsnap {

namespace {

// DEC Special Graphics: the characters 0x60-0x7E stand for while it is invoked.
constexpr char16_t kDecGraphics[31] = {
    u'\u25C6', u'\u2592', u'\u2409', u'\u240C', u'\u240D', u'\u240A', u'\u00B0', u'\u00B1',
    u'\u2424', u'\u240B', u'\u2518', u'\u2510', u'\u250C', u'\u2514', u'\u253C', u'\u23BA',
    u'\u23BB', u'\u2500', u'\u23BC', u'\u23BD', u'\u251C', u'\u2524', u'\u2534', u'\u252C',
    u'\u2502', u'\u2264', u'\u2265', u'\u03C0', u'\u2260', u'\u00A3', u'\u00B7',
};

}  // namespace

Screen::Screen(std::int32_t cols, std::int32_t rows) : grid_(cols, rows), scrollBottom_(grid_.rows() - 1) {}

void Screen::feedBytes(const std::uint8_t* bytes, std::uint64_t length) {
    decoder_.feed(bytes, bytes + length, *this);
}

// ---- Writing text --------------------------------------------------------

// The deferred wrap of a character written into the last column.
void Screen::wrapToNextLine() {
    cursorCol_ = 0;
    lineFeed();
}

void Screen::putChar(char16_t unit) {
    if (wrapPending_) {
        if (autoWrap_)
            wrapToNextLine();
        else
            wrapPending_ = false;
    }
    if (insertMode_) grid_.insertCells(cursorRow_, cursorCol_, 1, eraseAttr());
    grid_.writeText(cursorRow_, cursorCol_, &unit, 1, currentAttr_);
    if (cursorCol_ < cols() - 1)
        ++cursorCol_;
    else if (autoWrap_)
        wrapPending_ = true;
}

// A character above U+FFFF takes two cells, one per UTF-16 unit.
void Screen::putCodePoint(std::uint32_t codePoint) {
    if (codePoint <= 0xFFFF) {
        putChar(static_cast<char16_t>(codePoint));
    } else {
        const std::uint32_t v = codePoint - 0x10000;
        putChar(static_cast<char16_t>(0xD800 + (v >> 10)));
        putChar(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
    lastChar_ = codePoint;
}

void Screen::print(std::uint32_t codePoint) { putCodePoint(codePoint); }

// For REP: the last character of a run, a pair of surrogate halves being one.
template <class Unit>
void Screen::rememberLast(const Unit* text, std::size_t count, char16_t last) {
    lastChar_ = last;
    if constexpr (sizeof(Unit) == 2) {
        const char16_t before = count >= 2 ? text[count - 2] : 0;
        if (last >= 0xDC00 && last <= 0xDFFF && before >= 0xD800 && before <= 0xDBFF)
            lastChar_ = 0x10000 + ((static_cast<std::uint32_t>(before) - 0xD800) << 10) + (last - 0xDC00u);
    }
}

// Text in the invoked character set, with the modes' effects: a character at
// a time. Out of line, so that the common path below stays small.
template <class Unit>
[[gnu::noinline]] void Screen::printEach(const Unit* text, std::size_t count) {
    const bool graphics = invokedCharset() == Charset::DecGraphics;
    auto shown = [graphics](char16_t unit) {
        return graphics && unit >= 0x60 && unit <= 0x7E ? kDecGraphics[unit - 0x60] : unit;
    };
    for (std::size_t i = 0; i < count; ++i) putChar(shown(text[i]));
    rememberLast(text, count, shown(text[count - 1]));
}

// Text: with ASCII invoked, autowrap on and insert mode off, as nearly
// always, a row at a time, laying the same cells as putChar for each unit
// without its per-character tests.
template <class Unit>
inline void Screen::printText(const Unit* text, std::size_t count) {
    if (invokedCharset() == Charset::DecGraphics || !autoWrap_ || insertMode_) [[unlikely]] {
        printEach(text, count);
        return;
    }
    rememberLast(text, count, text[count - 1]);
    const std::int32_t cols = this->cols();
    while (count > 0) {
        if (wrapPending_) wrapToNextLine();
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(count, static_cast<std::size_t>(cols - cursorCol_)));
        grid_.writeText(cursorRow_, cursorCol_, text, n, currentAttr_);
        cursorCol_ += n;
        text += n;
        count -= static_cast<std::size_t>(n);
        if (cursorCol_ == cols) {
            cursorCol_ = cols - 1;
            wrapPending_ = true;
        }
    }
}

void Screen::printAscii(const std::uint8_t* text, std::size_t count) { printText(text, count); }

void Screen::printUnits(const char16_t* units, std::size_t count) { printText(units, count); }

void Screen::repeatLast(std::int32_t n) {
    if (lastChar_ == 0) return;
    const std::uint32_t c = lastChar_;
    for (std::int32_t i = 0; i < n; ++i) putCodePoint(c);
}

// ---- Controls --------------------------------------------------------------

void Screen::execute(std::uint8_t control) {
    lastChar_ = 0;
    switch (control) {
    case 0x08:  // BS
        if (cursorCol_ > 0) --cursorCol_;
        wrapPending_ = false;
        break;
    case '\t':
        // A pending wrap stays pending: the cursor is past the last stop.
        if (!wrapPending_) cursorCol_ = std::min(cols() - 1, (cursorCol_ / 8) * 8 + 8);
        break;
    case '\n':
    case 0x0B:  // VT and FF move down like LF, as on every terminal
    case 0x0C:
        lineFeed();
        break;
    case '\r':
        cursorCol_ = 0;
        wrapPending_ = false;
        break;
    case 0x0E:  // SO
        invoked_ = 1;
        break;
    case 0x0F:  // SI
        invoked_ = 0;
        break;
    default:
        break;  // NUL, BEL and the rest change nothing
    }
}

void Screen::escDispatch(std::uint32_t intermediates, std::uint8_t final) {
    lastChar_ = 0;
    if (intermediates == '(' || intermediates == ')') {
        // Designations of G0 and G1; other sets are not known here.
        Charset& set = intermediates == '(' ? g0_ : g1_;
        if (final == '0') set = Charset::DecGraphics;
        if (final == 'B') set = Charset::Ascii;
        return;
    }
    if (intermediates != 0) return;
    switch (final) {
    case '7':
        saveCursor();
        break;
    case '8':
        restoreCursor();
        break;
    case 'D':
        lineFeed();
        break;
    case 'E':
        lineFeed();
        cursorCol_ = 0;
        break;
    case 'M':
        reverseIndex();
        break;
    case 'c':
        reset();
        break;
    default:
        break;
    }
}

// ---- Lines and scrolling -----------------------------------------------------

// The region scrolls when the cursor is on its bottom row. Elsewhere, below
// the region included, the cursor moves down and stops at the last row.
void Screen::lineFeed() {
    wrapPending_ = false;
    if (cursorRow_ == scrollBottom_)
        scrollUp(1);
    else if (cursorRow_ < rows() - 1)
        ++cursorRow_;
}

void Screen::reverseIndex() {
    wrapPending_ = false;
    if (cursorRow_ == scrollTop_)
        scrollDown(1);
    else if (cursorRow_ > 0)
        --cursorRow_;
}

// Out of line and cold, so that without a sink a scroll costs one branch.
// A blank row goes as what it shows: spaces.
[[gnu::noinline, gnu::cold]] void Screen::reportRowsLeaving(std::int32_t n) {
    for (std::int32_t r = 0; r < n; ++r)
        rowSink_->rowScrolledOff(grid_.rowChars(r), grid_.rowIsPlain(r) ? nullptr : grid_.rowAttrs(r), cols());
}

// Scrolling moves the region's rows, never the cursor, and keeps a pending wrap.
void Screen::scrollUp(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom_ - scrollTop_ + 1);
    // Rows leave the top of the screen only when the region starts there.
    if (rowSink_ != nullptr && scrollTop_ == 0) [[unlikely]]
        reportRowsLeaving(n);
    grid_.scrollRowsUp(scrollTop_, scrollBottom_, n, eraseAttr());
}

void Screen::scrollDown(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom_ - scrollTop_ + 1);
    grid_.scrollRowsDown(scrollTop_, scrollBottom_, n, eraseAttr());
}

bool Screen::cursorInRegion() const { return cursorRow_ >= scrollTop_ && cursorRow_ <= scrollBottom_; }

// Lines from the cursor row to the region's bottom move, and the cursor goes
// to the first column; outside the region nothing moves.
void Screen::insertLines(std::int32_t n) {
    wrapPending_ = false;
    if (!cursorInRegion()) return;
    n = std::min(std::max(n, 1), scrollBottom_ - cursorRow_ + 1);
    grid_.scrollRowsDown(cursorRow_, scrollBottom_, n, eraseAttr());
    cursorCol_ = 0;
}

void Screen::deleteLines(std::int32_t n) {
    wrapPending_ = false;
    if (!cursorInRegion()) return;
    n = std::min(std::max(n, 1), scrollBottom_ - cursorRow_ + 1);
    // Deleting from the top row pushes rows out at the top, as a scroll does.
    if (rowSink_ != nullptr && scrollTop_ == 0 && cursorRow_ == 0) [[unlikely]]
        reportRowsLeaving(n);
    grid_.scrollRowsUp(cursorRow_, scrollBottom_, n, eraseAttr());
    cursorCol_ = 0;
}

// ---- Erasing and editing -------------------------------------------------------

void Screen::blankChars(std::int32_t row, std::int32_t from, std::int32_t to) {
    grid_.blankCells(row, from, to, eraseAttr());
}

void Screen::eraseInDisplay(std::int32_t mode) {
    switch (mode) {
    case 0:
        if (cursorRow_ == 0 && cursorCol_ == 0) {
            grid_.clearAll(eraseAttr());
            break;
        }
        blankChars(cursorRow_, cursorCol_, cols() - 1);
        grid_.clearRows(cursorRow_ + 1, rows() - 1, eraseAttr());
        break;
    case 1:
        grid_.clearRows(0, cursorRow_ - 1, eraseAttr());
        blankChars(cursorRow_, 0, cursorCol_);
        break;
    case 2:
        grid_.clearAll(eraseAttr());
        break;
    default:
        break;  // 3 erases saved lines elsewhere; there are none here
    }
}

void Screen::eraseInLine(std::int32_t mode) {
    if (mode == 0)
        blankChars(cursorRow_, cursorCol_, cols() - 1);
    else if (mode == 1)
        blankChars(cursorRow_, 0, cursorCol_);
    else if (mode == 2)
        blankChars(cursorRow_, 0, cols() - 1);
}

// Character insertion, deletion and erasure end a pending wrap; the cursor
// stays in the last column.
void Screen::insertChars(std::int32_t n) {
    wrapPending_ = false;
    grid_.insertCells(cursorRow_, cursorCol_, n, eraseAttr());
}

void Screen::deleteChars(std::int32_t n) {
    wrapPending_ = false;
    grid_.deleteCells(cursorRow_, cursorCol_, n, eraseAttr());
}

void Screen::eraseChars(std::int32_t n) {
    wrapPending_ = false;
    blankChars(cursorRow_, cursorCol_, cursorCol_ + n - 1);
}

// ---- Cursor state ----------------------------------------------------------------

void Screen::saveCursor() {
    saved_ = {cursorRow_, cursorCol_, currentAttr_, g0_, g1_, invoked_, originMode_};
}

void Screen::restoreCursor() {
    cursorRow_ = std::clamp(saved_.row, 0, rows() - 1);
    cursorCol_ = std::clamp(saved_.col, 0, cols() - 1);
    currentAttr_ = saved_.attr;
    g0_ = saved_.g0;
    g1_ = saved_.g1;
    invoked_ = saved_.invoked;
    originMode_ = saved_.originMode;
    wrapPending_ = false;
}

void Screen::home() {
    cursorRow_ = originMode_ ? scrollTop_ : 0;
    cursorCol_ = 0;
    wrapPending_ = false;
}

void Screen::reset() {
    grid_.clearAll(CellAttr{});
    currentAttr_ = CellAttr{};
    cursorRow_ = cursorCol_ = 0;
    scrollTop_ = 0;
    scrollBottom_ = rows() - 1;
    wrapPending_ = false;
    autoWrap_ = true;
    insertMode_ = false;
    originMode_ = false;
    updateOpen_ = false;
    g0_ = g1_ = Charset::Ascii;
    invoked_ = 0;
    saved_ = SavedState{};
    lastChar_ = 0;
}

}  // namespace vtsnap
