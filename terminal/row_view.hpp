// A row of the screen as everything that shows it reads it: the text file,
// the page, the picture and the library. It borrows the row's cells, colours
// and marks (as the screen or a row sink hands them over) and reads them in
// runs of one colour and in characters with their marks, so that each
// renderer does not match marks to cells or split colours by itself.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>

#include "terminal/cell.hpp"

namespace vtsnap {

// Cells col to col + width - 1, all in `attr`. The halves of a wide
// character have the same colours, so no run splits one.
struct CellRun {
    std::int32_t col = 0;
    std::int32_t width = 0;
    CellAttr attr;
};

// The character that starts in column `col`: the cells it takes (1 or 2; 0
// for the second half of a wide character, which shows nothing), its code
// point (0 for that second half) and the marks that join it.
struct CellText {
    std::int32_t col = 0;
    std::int32_t width = 0;
    char32_t ch = 0;
    std::u32string_view marks;
};

// The marks of a row's cells, taken left to right: each cell with kHasMarks
// finds its entry by column, so a row that lost its entries (a copy short of
// memory) shows its characters without marks.
class MarksCursor {
public:
    explicit MarksCursor(std::span<const CellMarks> marks) : next_(marks.data()), end_(marks.data() + marks.size()) {}

    // The marks of the cell in `col`; columns asked for only grow.
    std::u32string_view take(std::int32_t col) {
        while (next_ != end_ && next_->col < col) ++next_;
        if (next_ == end_ || next_->col != col) return {};
        return next_->marks;
    }

private:
    const CellMarks* next_;
    const CellMarks* end_;
};

class RowView {
public:
    // `attrs` has `cols` entries (a plain row passes the default colours);
    // `marks` has one entry for each cell with kHasMarks, in column order.
    RowView(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks, std::int32_t cols)
        : chars_(chars), attrs_(attrs), marks_(marks), cols_(cols) {}

    std::int32_t cols() const { return cols_; }
    // The cells as cell.hpp describes them, for the fast paths.
    const char32_t* chars() const { return chars_; }
    const CellAttr* attrs() const { return attrs_; }
    std::span<const CellMarks> marks() const { return marks_; }

    // The cells up to the last that is neither a space nor a TAB: the line of
    // the text file.
    std::int32_t textEnd() const {
        std::int32_t end = cols_;
        while (end > 0 && (chars_[end - 1] == U' ' || chars_[end - 1] == U'\t')) --end;
        return end;
    }
    // textEnd(), or on to the last cell with a background of its own: what a
    // page or a picture shows.
    std::int32_t paintEnd() const {
        const std::int32_t text = textEnd();
        std::int32_t end = cols_;
        while (end > text && attrs_[end - 1].bg == kDefaultColor) --end;
        return end;
    }

    // The character in cell `col`, with its marks.
    CellText cell(std::int32_t col) const { return cellAt(col, MarksCursor(marks_).take(col)); }

    // The run of one colour that starts at `col`, the first cell of a
    // character, and ends at `to` at the latest.
    CellRun runAt(std::int32_t col, std::int32_t to) const {
        const CellAttr a = attrs_[col];
        std::int32_t end = col + 1;
        while (end < to && attrs_[end] == a) ++end;
        return {col, end - col, a};
    }
    // The runs of one colour from `from` (the first cell of a character) up
    // to `to`, left to right.
    class RunWalk;
    template <class Walk>
    class Range;
    using Runs = Range<RunWalk>;
    Runs runs(std::int32_t from, std::int32_t to) const;
    // The characters from `from` up to `to`, left to right, each once.
    class CharacterWalk;
    using Characters = Range<CharacterWalk>;
    Characters characters(std::int32_t from, std::int32_t to) const;

private:
    CellText cellAt(std::int32_t col, std::u32string_view marks) const {
        const char32_t cell = chars_[col];
        if (cell == kWideContinuation) return {col, 0, 0, {}};
        const bool wide = col + 1 < cols_ && chars_[col + 1] == kWideContinuation;
        return {col, wide ? 2 : 1, cell & kCodePointMask, (cell & kHasMarks) != 0 ? marks : std::u32string_view{}};
    }

    const char32_t* chars_;
    const CellAttr* attrs_;
    std::span<const CellMarks> marks_;
    std::int32_t cols_;
};

// The runs of one colour, one at a time.
class RowView::RunWalk {
public:
    using value_type = CellRun;
    RunWalk() = default;
    RunWalk(const RowView* row, std::int32_t from, std::int32_t to) : row_(row), to_(to) { advance(from); }
    const CellRun& value() const { return run_; }
    void next() { advance(run_.col + run_.width); }
    bool done() const { return run_.width == 0; }

private:
    void advance(std::int32_t col) { run_ = col < to_ ? row_->runAt(col, to_) : CellRun{to_, 0, {}}; }

    const RowView* row_ = nullptr;
    std::int32_t to_ = 0;
    CellRun run_;
};

// The characters with their marks, one at a time.
class RowView::CharacterWalk {
public:
    using value_type = CellText;
    CharacterWalk() = default;
    CharacterWalk(const RowView* row, std::int32_t from, std::int32_t to) : row_(row), to_(to), marks_(row->marks_) {
        advance(from);
    }
    const CellText& value() const { return text_; }
    void next() { advance(text_.col + (text_.width == 0 ? 1 : text_.width)); }
    // Ends at `to`, or just past it where a wide character crosses it.
    bool done() const { return text_.col >= to_; }

private:
    void advance(std::int32_t col) {
        if (col >= to_) {
            text_.col = col;
            return;
        }
        const char32_t cell = row_->chars_[col];
        text_ = row_->cellAt(col, (cell & kHasMarks) != 0 ? marks_.take(col) : std::u32string_view{});
    }

    const RowView* row_ = nullptr;
    std::int32_t to_ = 0;
    MarksCursor marks_{{}};
    CellText text_;
};

// A walk as a range that ends in a sentinel: the iterator knows where it
// stops. The range keeps a copy of the view, so that it may be read from a
// temporary one: `for (CellRun run : screen.row(r).runs(...))`.
template <class Walk>
class RowView::Range {
public:
    class iterator {
    public:
        using value_type = typename Walk::value_type;
        using difference_type = std::ptrdiff_t;
        iterator() = default;
        explicit iterator(const Walk& walk) : walk_(walk) {}
        const value_type& operator*() const { return walk_.value(); }
        const value_type* operator->() const { return &walk_.value(); }
        iterator& operator++() {
            walk_.next();
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const iterator& i, std::default_sentinel_t) { return i.walk_.done(); }

    private:
        Walk walk_;
    };

    Range(const RowView& row, std::int32_t from, std::int32_t to) : row_(row), from_(from), to_(to) {}
    iterator begin() const { return iterator(Walk(&row_, from_, to_)); }
    std::default_sentinel_t end() const { return {}; }

private:
    RowView row_;
    std::int32_t from_;
    std::int32_t to_;
};

inline RowView::Runs RowView::runs(std::int32_t from, std::int32_t to) const { return {*this, from, to}; }
inline RowView::Characters RowView::characters(std::int32_t from, std::int32_t to) const { return {*this, from, to}; }

}  // namespace vtsnap
