#include "terminal/screen.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vtsnap {

namespace {

// The default attribute is all one bits, so runs of it can be laid down by
// memset, which the C library tunes for the machine it runs on.
static_assert(sizeof(CellAttr) == 8 && kDefaultColor == 0xFFFFFFFFu);

void fillAttrs(CellAttr* cells, std::int32_t count, CellAttr attr) {
    if (count >= 16 && attr == CellAttr{}) {
        std::memset(static_cast<void*>(cells), 0xFF, sizeof(CellAttr) * static_cast<std::size_t>(count));
        return;
    }
    std::uint64_t pattern;
    std::memcpy(&pattern, &attr, sizeof pattern);
    auto* out = reinterpret_cast<unsigned char*>(cells);
    for (std::int32_t i = 0; i < count; ++i) std::memcpy(out + 8 * i, &pattern, 8);
}

}  // namespace

Screen::Screen(std::int32_t cols_, std::int32_t rows_)
    : rows(std::max(rows_, 1)),
      cols(std::max(cols_, 1)),
      chars(static_cast<std::size_t>(rows), std::vector<char16_t>(static_cast<std::size_t>(cols), u' ')),
      attrs(static_cast<std::size_t>(rows), std::vector<CellAttr>(static_cast<std::size_t>(cols))),
      scrollBottom(rows - 1),
      plainRows(static_cast<std::size_t>(rows), 1) {}

void Screen::clampCursor() {
    cursorRow = std::clamp(cursorRow, 0, rows - 1);
    cursorCol = std::clamp(cursorCol, 0, cols - 1);
}

void Screen::clearRow(std::int32_t row) {
    if (row < 0 || row >= rows) return;
    const std::size_t p = physicalRow(row);
    std::fill_n(chars[p].data(), cols, u' ');
    if (!plainRows[p]) {
        fillAttrs(attrs[p].data(), cols, CellAttr{});
        plainRows[p] = 1;
    }
}

void Screen::blankChars(std::int32_t row, std::int32_t from, std::int32_t to) {
    if (row < 0 || row >= rows) return;
    from = std::max(from, 0);
    to = std::min(to, cols - 1);
    if (from > to) return;
    std::fill(rowChars(row) + from, rowChars(row) + to + 1, u' ');
}

// On a tall screen the row that the next scroll brings in has long left the
// caches; fetching it now hides the wait behind this line's work.
void Screen::prefetchRow(std::int32_t row) const {
    if (rows < kPrefetchRows) return;
    const std::size_t p = physicalRow(row);
    const auto* text = reinterpret_cast<const char*>(chars[p].data());
    for (std::size_t at = 0; at < sizeof(char16_t) * static_cast<std::size_t>(cols); at += 64) __builtin_prefetch(text + at, 1);
    if (plainRows[p]) return;  // its colours will not be touched
    const auto* attr = reinterpret_cast<const char*>(attrs[p].data());
    for (std::size_t at = 0; at < sizeof(CellAttr) * static_cast<std::size_t>(cols); at += 64) __builtin_prefetch(attr + at, 1);
}

// The deferred wrap of a character written into the last column.
void Screen::wrapToNextLine() {
    cursorCol = 0;
    if (cursorRow < scrollBottom)
        ++cursorRow;
    else
        scrollUp(1);
    wrapPending = false;
}

// The same as putChar for each byte of a printable ASCII run, a row at a time.
void Screen::putAsciiRun(const std::uint8_t* text, std::size_t count) {
    while (count > 0) {
        if (wrapPending) wrapToNextLine();
        if (cursorRow < 0 || cursorRow >= rows) return;
        cursorCol = std::clamp(cursorCol, 0, cols - 1);
        const auto n = static_cast<std::int32_t>(std::min<std::size_t>(count, static_cast<std::size_t>(cols - cursorCol)));
        const std::size_t p = physicalRow(cursorRow);
        char16_t* cell = chars[p].data() + cursorCol;
        for (std::int32_t i = 0; i < n; ++i) cell[i] = text[i];
        if (currentAttr != CellAttr{}) {
            fillAttrs(attrs[p].data() + cursorCol, n, currentAttr);
            plainRows[p] = 0;
        } else if (!plainRows[p]) {
            fillAttrs(attrs[p].data() + cursorCol, n, currentAttr);
        }
        cursorCol += n;
        text += n;
        count -= static_cast<std::size_t>(n);
        if (cursorCol == cols) {
            cursorCol = cols - 1;
            wrapPending = true;
        }
    }
}

void Screen::lineFeed() {
    wrapPending = false;
    if (cursorRow < scrollBottom)
        ++cursorRow;
    else
        scrollUp(1);
}

void Screen::swapRows(std::int32_t a, std::int32_t b) {
    std::swap(chars[physicalRow(a)], chars[physicalRow(b)]);
    std::swap(attrs[physicalRow(a)], attrs[physicalRow(b)]);
    std::swap(plainRows[physicalRow(a)], plainRows[physicalRow(b)]);
}

void Screen::reverseRows(std::int32_t first, std::int32_t last) {
    while (first < last) swapRows(first++, last--);
}

// Rows first..last move up by n (row first + n becomes row first); the n rows
// at the top come round to the bottom. Swaps row containers, copies no cells.
void Screen::rotateRowsUp(std::int32_t first, std::int32_t last, std::int32_t n) {
    if (n <= 0 || n > last - first) return;
    reverseRows(first, first + n - 1);
    reverseRows(first + n, last);
    reverseRows(first, last);
}

// Out of line and cold, so that without a sink a scroll costs one branch.
[[gnu::noinline, gnu::cold]] void Screen::reportRowsLeaving(std::int32_t n) {
    for (std::int32_t r = 0; r < n; ++r) {
        const std::size_t p = physicalRow(r);
        rowSink_->rowScrolledOff(chars[p].data(), plainRows[p] ? nullptr : attrs[p].data(), cols);
    }
}

void Screen::scrollUp(std::int32_t n) {
    if (n < 1) return;
    n = std::min(n, scrollBottom - scrollTop + 1);
    // Rows leave the top of the screen only when the region starts there.
    if (rowSink_ != nullptr && scrollTop == 0) [[unlikely]]
        reportRowsLeaving(n);
    if (scrollTop == 0 && scrollBottom == rows - 1) {
        // The whole screen: move the ring's top instead of every row.
        ringTop += n;
        if (ringTop >= rows) ringTop -= rows;
        prefetchRow(kPrefetchAhead);
    } else {
        rotateRowsUp(scrollTop, scrollBottom, n);
    }
    for (std::int32_t r = scrollBottom - n + 1; r <= scrollBottom; ++r) clearRow(r);
    cursorRow = std::max(scrollTop, std::min(cursorRow, scrollBottom));
    wrapPending = false;
}

void Screen::scrollDown(std::int32_t n) {
    if (n < 1) return;
    const std::int32_t height = scrollBottom - scrollTop + 1;
    n = std::min(n, height);
    if (scrollTop == 0 && scrollBottom == rows - 1) {
        ringTop -= n;
        if (ringTop < 0) ringTop += rows;
    } else {
        rotateRowsUp(scrollTop, scrollBottom, height - n);
    }
    for (std::int32_t r = scrollTop; r < scrollTop + n; ++r) clearRow(r);
    wrapPending = false;
}

void Screen::insertLines(std::int32_t n) {
    n = std::min(std::max(n, 1), scrollBottom - cursorRow + 1);
    if (n <= 0) return;
    // Rows from the cursor down move by n; the ones pushed past the region's
    // bottom come round to the cursor row and are cleared there.
    rotateRowsUp(cursorRow, scrollBottom, scrollBottom - cursorRow + 1 - n);
    for (std::int32_t r = cursorRow; r < cursorRow + n; ++r) clearRow(r);
}

void Screen::deleteLines(std::int32_t n) {
    n = std::min(std::max(n, 1), scrollBottom - cursorRow + 1);
    if (n <= 0) return;
    // Deleting from the top row pushes rows out at the top, as a scroll does.
    if (rowSink_ != nullptr && scrollTop == 0 && cursorRow == 0) [[unlikely]]
        reportRowsLeaving(n);
    rotateRowsUp(cursorRow, scrollBottom, n);
    for (std::int32_t r = scrollBottom - n + 1; r <= scrollBottom; ++r) clearRow(r);
}

void Screen::eraseInDisplay(std::int32_t mode) {
    switch (mode) {
    case 0:
        blankChars(cursorRow, cursorCol, cols - 1);
        for (std::int32_t r = std::max(cursorRow + 1, 0); r < rows; ++r) clearRow(r);
        break;
    case 1:
        for (std::int32_t r = 0; r < std::min(cursorRow, rows); ++r) clearRow(r);
        blankChars(cursorRow, 0, std::min(cursorCol, cols - 1));
        break;
    case 2:
    case 3:
        for (std::int32_t r = 0; r < rows; ++r) clearRow(r);
        cursorRow = 0;
        cursorCol = 0;
        wrapPending = false;
        break;
    default:
        break;
    }
}

void Screen::reset() {
    for (std::int32_t r = 0; r < rows; ++r) clearRow(r);
    scrollTop = 0;
    scrollBottom = rows - 1;
    cursorRow = cursorCol = 0;
    savedRow = savedCol = 0;
    wrapPending = false;
    paramBuffer.clear();
    clearUtf8();
    currentAttr = CellAttr{};
    parserState = ParserState::Ground;
}

}  // namespace vtsnap
