// The screen's storage: rows of cells and their colours, kept so that no
// operation costs time in proportion to the screen's height unless it really
// changes that many rows.
//
// - A cell holds the code point of the character that starts in it. A wide
//   character takes two: its own and a continuation cell after it. Every
//   verb keeps the pairs whole: a write, erase, insertion or deletion that
//   cuts one blanks both halves.
// - Marks that join a character (combining and zero-width characters) are
//   rare: the cell carries a flag, and the marks live in a store of the
//   row's own beside the cells.
// - The rows form a ring: scrolling the whole screen moves the ring's top.
// - A cleared row is only marked blank, with the colours its cells would
//   have; its cells are laid down when something is first written into it.
// - Clearing every row is one step: a new generation begins, and every row
//   stamped with an older one counts as blank.
// - Rows from `usedRows()` down are known to be blank in the colours of the
//   last full clear, so erasing them again costs nothing.
// - The stores start untouched: a row's characters are first written when it
//   is laid down, and its colours when it first takes one that is not the
//   default. A tall screen costs memory only for the rows a program uses, and
//   plain text never touches the colour store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "terminal/cell.hpp"
#include "terminal/color.hpp"
#include "terminal/widen.hpp"

namespace vtsnap {

class Grid {
public:
    Grid(std::int32_t cols, std::int32_t rows);
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;

    std::int32_t rows() const { return rows_; }
    std::int32_t cols() const { return cols_; }

    // Reading. A blank row reads as spaces in default colours: its cells hold
    // no character, so no file can show their colours; cellAttr() tells them.
    bool isBlank(std::int32_t row) const;
    // Every cell in the default colours, as far as rowAttrs() shows.
    bool rowIsPlain(std::int32_t row) const { return isBlank(row) || at(row).plain; }
    const char32_t* rowChars(std::int32_t row) const;
    // The marks of the row's cells that have kHasMarks set, by column.
    std::span<const CellMarks> rowMarks(std::int32_t row) const;
    const CellAttr* rowAttrs(std::int32_t row) const;
    CellAttr cellAttr(std::int32_t row, std::int32_t col) const;
    // Rows from here to the bottom are blank; the renderer need not look.
    std::int32_t usedRows() const { return usedRows_; }

    // Writing, into a row laid down first if it was blank. Default colours
    // written into a row of default colours leave its colours untouched. The
    // half of a wide character that a write leaves is blanked in `attr`.
    // `count` cells of text from `col`, all in `attr`; bytes are ASCII:
    template <class Unit>
    void writeText(std::int32_t row, std::int32_t col, const Unit* text, std::int32_t count, CellAttr attr);
    // Text decoded straight into a blank row: its cells from `col`, where
    // `room` of them may be written (any of them: what is not text is laid
    // down afterwards), or null when the row is not blank. Then
    // `wroteText` as writeText for the first `count`, which are in place.
    char32_t* blankRowCells(std::int32_t row, std::int32_t col, std::int32_t& room);
    void wroteText(std::int32_t row, std::int32_t col, std::int32_t count, CellAttr attr);
    // A mark joins the character at `col` (its first cell); beyond
    // kMaxMarks a character takes no more.
    static constexpr std::size_t kMaxMarks = 32;
    void addMark(std::int32_t row, std::int32_t col, char32_t mark);

    // When `col` holds the second half of a wide character, both halves are
    // blanked in `attr`, as a write there would (insert mode, before the
    // cells move).
    void cutWide(std::int32_t row, std::int32_t col, CellAttr attr);
    // When `col` holds the second half of a wide character, the first half is
    // blanked in `attr` and the second becomes a blank in its own colours.
    void splitWide(std::int32_t row, std::int32_t col, CellAttr attr);

    // Editing within a row: cells from `col` move right (the last ones fall
    // off) or left by n, and the cells left empty are blank in `fill`. A wide
    // character cut by either is blanked whole.
    void insertCells(std::int32_t row, std::int32_t col, std::int32_t n, CellAttr fill);
    void deleteCells(std::int32_t row, std::int32_t col, std::int32_t n, CellAttr fill);

    // Erasing, with the colours the erased cells take.
    void blankCells(std::int32_t row, std::int32_t from, std::int32_t to, CellAttr fill);
    void clearRow(std::int32_t row, CellAttr fill);
    void clearRows(std::int32_t first, std::int32_t last, CellAttr fill);
    void clearAll(CellAttr fill);

    // Moving rows within first..last by n (1 to the height): up moves row
    // first + n to first and leaves the last n rows blank in `fill`; down
    // moves row first to first + n and leaves the first n rows blank.
    void scrollRowsUp(std::int32_t first, std::int32_t last, std::int32_t n, CellAttr fill);
    void scrollRowsDown(std::int32_t first, std::int32_t last, std::int32_t n, CellAttr fill);

private:
    // A row's cells live in the two stores below and never move; scrolling
    // and the ring permute these records.
    struct Row {
        char32_t* chars = nullptr;
        CellAttr* attrs = nullptr;
        std::uint32_t generation = 0;  // older than generation_: blank in wipeFill_
        bool blank = false;            // blank in `fill`; the cells are stale
        bool plain = true;             // every colour in `attrs` is the default
        bool untouched = true;         // `attrs` never written: plain in fact
        bool hasMarks = false;         // marks_ holds an entry for `chars`
        bool mayCut = false;           // wide characters or marks may be in `chars`
        CellAttr fill;
    };

    std::size_t physical(std::int32_t row) const {
        const std::int32_t p = top_ + row;
        return static_cast<std::size_t>(p >= rows_ ? p - rows_ : p);
    }
    Row& at(std::int32_t row) { return lines_[physical(row)]; }
    const Row& at(std::int32_t row) const { return lines_[physical(row)]; }
    bool blank(const Row& r) const { return r.generation != generation_ || r.blank; }
    CellAttr fillOf(const Row& r) const { return r.generation != generation_ ? wipeFill_ : r.fill; }
    static bool isDefault(CellAttr a) { return (a.fg & a.bg) == kDefaultColor; }
    // The row, ready for cells in `attr`: laid down if it was blank, and its
    // colours written for the first time if `attr` needs them. The slow way
    // is taken about once a row.
    Row& materialize(std::int32_t row, CellAttr attr) {
        Row& r = at(row);
        const bool firstColour = r.untouched & !isDefault(attr);
        return blank(r) || firstColour ? prepare(row, attr) : r;
    }
    Row& prepare(std::int32_t row, CellAttr attr);
    // Cells `from` to `to` - 1 are left as they are, for a caller that writes
    // them next: text fills most of each new row, and would write it twice.
    Row& layDown(Row& r, std::int32_t row, std::int32_t from = 0, std::int32_t to = 0);
    // writeText's slow way: as prepare, then clearCells where a row that was
    // laid down already needs it, for cells `from` to `to` - 1.
    Row& prepareWrite(Row& r, std::int32_t row, std::int32_t from, std::int32_t to, CellAttr attr);
    void takeColours(Row& r, CellAttr attr);
    void setAttrs(Row& r, std::int32_t col, std::int32_t count, CellAttr attr);
    // Before cells from..to-1 of a laid-down row are written over: true when
    // the write may cut a wide character or the row has marks, which
    // clearCells() then sees to. (At the row's end it looks at the last cell
    // instead, which at worst takes the slow way for nothing.) A row of
    // ASCII alone, as most are, needs one test.
    bool needsClearing(const Row& r, std::int32_t from, std::int32_t to) const {
        return r.mayCut && ((r.chars[from] == kWideContinuation) |
                            (r.chars[std::min(to, cols_ - 1)] == kWideContinuation) | r.hasMarks);
    }
    void clearCells(Row& r, std::int32_t from, std::int32_t to, CellAttr fill);
    void blankCell(Row& r, std::int32_t col, CellAttr fill);
    void splitWide(Row& r, std::int32_t col, CellAttr fill);
    void dropMarks(Row& r, std::int32_t from, std::int32_t to);
    void shiftMarks(Row& r, std::int32_t from, std::int32_t by);
    void markBlank(std::int32_t first, std::int32_t last, CellAttr fill);
    void rotateRowsUp(std::int32_t first, std::int32_t last, std::int32_t n, CellAttr fill);
    void reverse(std::int32_t first, std::int32_t last);
    void moveRing(std::int32_t n);

    // Memory from malloc, which leaves pages the program never writes out of
    // its footprint (both element types are trivial to create in place).
    struct FreeStore {
        void operator()(void* p) const { std::free(p); }
    };
    template <class T>
    using Store = std::unique_ptr<T[], FreeStore>;
    template <class T>
    static Store<T> allocateStore(std::size_t count);

    std::int32_t rows_;
    std::int32_t cols_;
    Store<char32_t> charStore_;
    Store<CellAttr> attrStore_;
    std::vector<Row> lines_;
    std::int32_t top_ = 0;
    std::uint32_t generation_ = 1;
    CellAttr wipeFill_;
    std::int32_t usedRows_ = 0;
    std::vector<char32_t> spaces_;
    std::vector<CellAttr> defaults_;
    // The marks of rows whose hasMarks is set, by their cells' storage.
    std::unordered_map<const char32_t*, std::vector<CellMarks>> marks_;
};

inline bool Grid::isBlank(std::int32_t row) const { return blank(at(row)); }

inline const char32_t* Grid::rowChars(std::int32_t row) const {
    const Row& r = at(row);
    return blank(r) ? spaces_.data() : r.chars;
}

inline std::span<const CellMarks> Grid::rowMarks(std::int32_t row) const {
    const Row& r = at(row);
    if (!r.hasMarks || blank(r)) return {};
    return marks_.find(r.chars)->second;
}

inline const CellAttr* Grid::rowAttrs(std::int32_t row) const {
    const Row& r = at(row);
    return blank(r) || r.untouched ? defaults_.data() : r.attrs;
}

inline CellAttr Grid::cellAttr(std::int32_t row, std::int32_t col) const {
    const Row& r = at(row);
    if (blank(r)) return fillOf(r);
    return r.untouched ? CellAttr{} : r.attrs[static_cast<std::size_t>(col)];
}

namespace grid_detail {

// Moves N characters into cells in one load and one store.
template <int N>
inline void moveUnits(char32_t* out, const char32_t* in) {
    std::memcpy(out, in, N * sizeof(char32_t));
}

template <int N>
inline void moveUnits(char32_t* out, const std::uint8_t* in) {
    widenBytes<N>(out, in);
}

// Text runs are mostly short words of random length: a loop whose exit
// depends on the length mispredicts about once a run. These copy and fill
// with a few fixed-size moves instead, the last overlapping the one before.
// Words of 4 to 8 characters, the most common, all take the same path.
template <class Unit>
inline void copyUnits(char32_t* out, const Unit* in, std::int32_t count) {
    if (count > 8) {
        for (std::int32_t i = 0; i < count - 8; i += 8) moveUnits<8>(out + i, in + i);
        moveUnits<8>(out + count - 8, in + count - 8);
    } else if (count >= 4) {
        moveUnits<4>(out, in);
        moveUnits<4>(out + count - 4, in + count - 4);
    } else if (count >= 2) {
        moveUnits<2>(out, in);
        moveUnits<2>(out + count - 2, in + count - 2);
    } else if (count == 1) {
        out[0] = in[0];
    }
}

inline void fillAttrs4(CellAttr* out, CellAttr attr) {
    out[0] = attr;
    out[1] = attr;
    out[2] = attr;
    out[3] = attr;
}

inline void fillAttrRun(CellAttr* out, std::int32_t count, CellAttr attr) {
    if (count > 8) {
        for (std::int32_t i = 0; i < count - 4; i += 4) fillAttrs4(out + i, attr);
        fillAttrs4(out + count - 4, attr);
    } else if (count >= 4) {
        fillAttrs4(out, attr);
        fillAttrs4(out + count - 4, attr);
    } else {
        for (std::int32_t i = 0; i < count; ++i) out[i] = attr;
    }
}

}  // namespace grid_detail

inline void Grid::setAttrs(Row& r, std::int32_t col, std::int32_t count, CellAttr attr) {
    // Default colours on default colours change nothing. (Both colours are
    // the default when their bits, ANDed, are all ones: one compare, as a
    // branch on each would mispredict where colours change word by word.)
    if (isDefault(attr) & r.plain) return;
    r.plain = false;
    grid_detail::fillAttrRun(r.attrs + col, count, attr);
}

// Inline: every run of text ends here.
template <class Unit>
inline void Grid::writeText(std::int32_t row, std::int32_t col, const Unit* text, std::int32_t count, CellAttr attr) {
    Row& r = at(row);
    if (blank(r) || (r.untouched & !isDefault(attr)) || needsClearing(r, col, col + count)) [[unlikely]]
        prepareWrite(r, row, col, col + count, attr);
    grid_detail::copyUnits(r.chars + col, text, count);
    if constexpr (sizeof(Unit) > 1) r.mayCut = true;
    setAttrs(r, col, count, attr);
}

inline char32_t* Grid::blankRowCells(std::int32_t row, std::int32_t col, std::int32_t& room) {
    Row& r = at(row);
    if (!blank(r)) return nullptr;
    room = cols_ - col;
    return r.chars + col;
}

// Laying the row down leaves the text's cells as they are and overwrites
// whatever the decoding left beyond them.
inline void Grid::wroteText(std::int32_t row, std::int32_t col, std::int32_t count, CellAttr attr) {
    Row& r = at(row);
    prepareWrite(r, row, col, col + count, attr);
    r.mayCut = true;
    setAttrs(r, col, count, attr);
}

// Marks rows first..last blank in `fill`, whatever they held.
inline void Grid::markBlank(std::int32_t first, std::int32_t last, CellAttr fill) {
    for (std::int32_t row = first; row <= last; ++row) {
        Row& r = at(row);
        r.generation = generation_;
        r.blank = true;
        r.fill = fill;
    }
    if (fill != wipeFill_ && first <= last) usedRows_ = std::max(usedRows_, last + 1);
}

inline void Grid::moveRing(std::int32_t n) {
    top_ += n;
    if (top_ >= rows_) top_ -= rows_;
    if (top_ < 0) top_ += rows_;
}

// Inline: a line feed at the bottom of the screen ends here.
inline void Grid::scrollRowsUp(std::int32_t first, std::int32_t last, std::int32_t n, CellAttr fill) {
    if (first != 0 || last != rows_ - 1) [[unlikely]] {
        rotateRowsUp(first, last, n, fill);
        return;
    }
    // The whole screen: the ring turns instead of every row moving.
    moveRing(n);
    usedRows_ = std::max(usedRows_ - n, 0);
    markBlank(last - n + 1, last, fill);
}

}  // namespace vtsnap
