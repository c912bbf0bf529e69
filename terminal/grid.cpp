#include "terminal/grid.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

namespace vtsnap {

namespace {

// The default attribute is all one bits, so runs of it can be laid down by
// memset, which the C library tunes for the machine it runs on.
static_assert(sizeof(CellAttr) == 8 && kDefaultColor == 0xFFFFFFFFu);

void fillCells(CellAttr* cells, std::int32_t count, CellAttr attr) {
    if (count >= 16 && attr == CellAttr{}) {
        std::memset(static_cast<void*>(cells), 0xFF, sizeof(CellAttr) * static_cast<std::size_t>(count));
        return;
    }
    std::fill_n(cells, count, attr);
}

}  // namespace

template <class T>
Grid::Store<T> Grid::allocateStore(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    void* p = std::malloc(sizeof(T) * count);
    if (p == nullptr) throw std::bad_alloc();
    return Store<T>(static_cast<T*>(p));
}

Grid::Grid(std::int32_t cols, std::int32_t rows)
    : rows_(std::max(rows, 1)),
      cols_(std::max(cols, 1)),
      charStore_(allocateStore<char32_t>(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_))),
      attrStore_(allocateStore<CellAttr>(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_))),
      lines_(static_cast<std::size_t>(rows_)),
      spaces_(static_cast<std::size_t>(cols_), u' '),
      defaults_(static_cast<std::size_t>(cols_)) {
    // One block per store keeps the rows in order in memory, so that the ring
    // walking through them is a stream the processor can fetch ahead. Every
    // row starts blank (an old generation) and plain.
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        lines_[i].chars = charStore_.get() + i * static_cast<std::size_t>(cols_);
        lines_[i].attrs = attrStore_.get() + i * static_cast<std::size_t>(cols_);
        lines_[i].generation = 0;
    }
}

// The cells of a blank row, laid down before the first write into it.
Grid::Row& Grid::layDown(Row& r, std::int32_t row, std::int32_t from, std::int32_t to) {
    const CellAttr fill = fillOf(r);
    // Copies of a row of spaces: the C library's copy is wider than any fill.
    if (to <= from) from = to = cols_;
    if (from > 0) std::memcpy(r.chars, spaces_.data(), sizeof(char32_t) * static_cast<std::size_t>(from));
    if (to < cols_)
        std::memcpy(r.chars + to, spaces_.data(), sizeof(char32_t) * static_cast<std::size_t>(cols_ - to));
    if (r.hasMarks) {
        marks_.erase(r.chars);
        r.hasMarks = false;
    }
    r.mayCut = false;
    if (fill != CellAttr{}) {
        fillCells(r.attrs, cols_, fill);
        r.plain = false;
        r.untouched = false;
    } else if (!r.plain) {
        fillCells(r.attrs, cols_, fill);
        r.plain = true;
    }
    r.generation = generation_;
    r.blank = false;
    usedRows_ = std::max(usedRows_, row + 1);
    return r;
}

// The colour store of a row that never had one written is filled with the
// defaults before the first colour that is not goes in.
void Grid::takeColours(Row& r, CellAttr attr) {
    if (r.untouched && !isDefault(attr)) {
        fillCells(r.attrs, cols_, CellAttr{});
        r.untouched = false;
    }
}

Grid::Row& Grid::prepare(std::int32_t row, CellAttr attr) {
    Row& r = blank(at(row)) ? layDown(at(row), row) : at(row);
    takeColours(r, attr);
    return r;
}

Grid::Row& Grid::prepareWrite(Row& r, std::int32_t row, std::int32_t from, std::int32_t to, CellAttr attr) {
    const bool wasBlank = blank(r);
    if (wasBlank) layDown(r, row, from, to);
    takeColours(r, attr);
    // Colours first: blanking a cut half writes one.
    if (!wasBlank && needsClearing(r, from, to)) clearCells(r, from, to, attr);
    return r;
}

void Grid::cutWide(std::int32_t row, std::int32_t col, CellAttr attr) {
    if (blank(at(row)) || at(row).chars[col] != kWideContinuation) return;
    Row& r = materialize(row, attr);
    blankCell(r, col - 1, attr);
    blankCell(r, col, attr);
}

void Grid::splitWide(std::int32_t row, std::int32_t col, CellAttr attr) {
    if (blank(at(row)) || at(row).chars[col] != kWideContinuation) return;
    splitWide(materialize(row, attr), col, attr);
}

void Grid::splitWide(Row& r, std::int32_t col, CellAttr fill) {
    blankCell(r, col - 1, fill);
    r.chars[col] = u' ';
}

void Grid::insertCells(std::int32_t row, std::int32_t col, std::int32_t n, CellAttr fill) {
    n = std::min(n, cols_ - col);
    if (n <= 0) return;
    Row& r = materialize(row, fill);
    // Cut in two: the second half moves on as a blank.
    if (r.chars[col] == kWideContinuation) splitWide(r, col, fill);
    // The wide character that the shift brings to the last column loses its
    // second half.
    const bool lastCut = cols_ - n > col && r.chars[cols_ - n] == kWideContinuation;
    shiftMarks(r, col, n);
    const auto moved = static_cast<std::size_t>(cols_ - col - n);
    std::memmove(r.chars + col + n, r.chars + col, sizeof(char32_t) * moved);
    if (!r.plain) std::memmove(r.attrs + col + n, r.attrs + col, sizeof(CellAttr) * moved);
    std::fill_n(r.chars + col, n, u' ');
    setAttrs(r, col, n, fill);
    if (lastCut) blankCell(r, cols_ - 1, fill);
}

void Grid::deleteCells(std::int32_t row, std::int32_t col, std::int32_t n, CellAttr fill) {
    n = std::min(n, cols_ - col);
    if (n <= 0) return;
    Row& r = materialize(row, fill);
    // A wide character cut at either edge of the deleted cells loses its
    // other half too.
    const bool leftCut = r.chars[col] == kWideContinuation;
    const bool rightCut = col + n < cols_ && r.chars[col + n] == kWideContinuation;
    dropMarks(r, col, col + n);
    shiftMarks(r, col + n, -n);
    const auto moved = static_cast<std::size_t>(cols_ - col - n);
    std::memmove(r.chars + col, r.chars + col + n, sizeof(char32_t) * moved);
    if (!r.plain) std::memmove(r.attrs + col, r.attrs + col + n, sizeof(CellAttr) * moved);
    std::fill_n(r.chars + cols_ - n, n, u' ');
    setAttrs(r, cols_ - n, n, fill);
    if (leftCut) blankCell(r, col - 1, fill);
    if (rightCut) blankCell(r, col, fill);
}

void Grid::addMark(std::int32_t row, std::int32_t col, char32_t mark) {
    Row& r = blank(at(row)) ? layDown(at(row), row) : at(row);
    std::vector<CellMarks>& marks = marks_[r.chars];
    r.hasMarks = true;
    r.mayCut = true;
    auto it = std::lower_bound(marks.begin(), marks.end(), col,
                               [](const CellMarks& m, std::int32_t c) { return m.col < c; });
    if (it == marks.end() || it->col != col) it = marks.insert(it, CellMarks{col, {}});
    if (it->marks.size() < kMaxMarks) it->marks.push_back(mark);
    r.chars[col] |= kHasMarks;
}

// The slow side of a write: a wide character cut by either edge has its
// other half blanked, and the marks of the cells written over go.
void Grid::clearCells(Row& r, std::int32_t from, std::int32_t to, CellAttr fill) {
    if (r.chars[from] == kWideContinuation) blankCell(r, from - 1, fill);
    if (to < cols_ && r.chars[to] == kWideContinuation) blankCell(r, to, fill);
    dropMarks(r, from, to);
}

void Grid::blankCell(Row& r, std::int32_t col, CellAttr fill) {
    r.chars[col] = u' ';
    setAttrs(r, col, 1, fill);
    dropMarks(r, col, col + 1);
}

void Grid::dropMarks(Row& r, std::int32_t from, std::int32_t to) {
    if (!r.hasMarks) return;
    const auto found = marks_.find(r.chars);
    std::vector<CellMarks>& marks = found->second;
    std::erase_if(marks, [from, to](const CellMarks& m) { return m.col >= from && m.col < to; });
    if (!marks.empty()) return;
    marks_.erase(found);
    r.hasMarks = false;
}

// The marks of cells from `from` on move with them by `by` columns; those
// pushed off the row go.
void Grid::shiftMarks(Row& r, std::int32_t from, std::int32_t by) {
    if (!r.hasMarks) return;
    for (CellMarks& m : marks_.find(r.chars)->second)
        if (m.col >= from) m.col += by;
    if (by > 0) dropMarks(r, cols_, cols_ + by);
}

void Grid::blankCells(std::int32_t row, std::int32_t from, std::int32_t to, CellAttr fill) {
    if (row < 0 || row >= rows_) return;
    from = std::max(from, 0);
    to = std::min(to, cols_ - 1);
    if (from > to) return;
    if (from == 0 && to == cols_ - 1) {
        clearRow(row, fill);
        return;
    }
    // Blanking part of a row that is blank in the same colours changes nothing.
    if (blank(at(row)) && fillOf(at(row)) == fill) return;
    Row& r = materialize(row, fill);
    if (needsClearing(r, from, to + 1)) clearCells(r, from, to + 1, fill);
    std::memcpy(r.chars + from, spaces_.data(), sizeof(char32_t) * static_cast<std::size_t>(to + 1 - from));
    setAttrs(r, from, to - from + 1, fill);
}

void Grid::clearRow(std::int32_t row, CellAttr fill) {
    if (row < 0 || row >= rows_) return;
    markBlank(row, row, fill);
}

void Grid::clearRows(std::int32_t first, std::int32_t last, CellAttr fill) {
    first = std::max(first, 0);
    last = std::min(last, rows_ - 1);
    if (first > last) return;
    if (first == 0 && last == rows_ - 1) {
        clearAll(fill);
        return;
    }
    if (fill == wipeFill_ && last == rows_ - 1) {
        // Rows from usedRows_ down are blank in this fill already.
        markBlank(first, std::min(last, usedRows_ - 1), fill);
        usedRows_ = std::min(usedRows_, first);
        return;
    }
    markBlank(first, last, fill);
}

void Grid::clearAll(CellAttr fill) {
    if (++generation_ == 0) {
        // After four billion full clears the stamps would repeat: renumber.
        for (Row& r : lines_) r.generation = 0;
        generation_ = 1;
    }
    wipeFill_ = fill;
    usedRows_ = 0;
}

void Grid::reverse(std::int32_t first, std::int32_t last) {
    while (first < last) std::swap(at(first++), at(last--));
}

// Three reversals rotate the rows in place, swapping containers.
void Grid::rotateRowsUp(std::int32_t first, std::int32_t last, std::int32_t n, CellAttr fill) {
    reverse(first, first + n - 1);
    reverse(first + n, last);
    reverse(first, last);
    markBlank(last - n + 1, last, fill);
}

void Grid::scrollRowsDown(std::int32_t first, std::int32_t last, std::int32_t n, CellAttr fill) {
    const std::int32_t used = usedRows_;
    if (first == 0 && last == rows_ - 1) {
        moveRing(-n);
    } else {
        reverse(first, last - n);
        reverse(last - n + 1, last);
        reverse(first, last);
    }
    // What was written above the region's bottom moved down by n.
    if (used > first) usedRows_ = std::max(used, std::min(used + n, last + 1));
    markBlank(first, first + n - 1, fill);
}

}  // namespace vtsnap
