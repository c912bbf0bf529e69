// The emulated terminal: a fixed grid of UTF-16 cells with colours, a cursor,
// a scroll region and the decoder's state, guarded by one lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "terminal/csi_params.hpp"

namespace vtsnap {

// 0xFFFFFFFF is the terminal's default colour, 0-255 a palette index (0-15 the
// basic and bright colours), 0x01RRGGBB a direct colour.
using ColorValue = std::uint32_t;
inline constexpr ColorValue kDefaultColor = 0xFFFFFFFFu;
inline constexpr ColorValue kDirectColorFlag = 0x01000000u;

struct CellAttr {
    ColorValue fg = kDefaultColor;
    ColorValue bg = kDefaultColor;
    friend bool operator==(const CellAttr&, const CellAttr&) = default;
};

enum class ParserState : std::int32_t {
    Ground = 0,
    Escape = 1,
    CsiParam = 2,
    OscString = 3,
    OscEscape = 4,
};

// Receives each row as it leaves the top of the screen, before it is cleared.
// `attrs` may be nullptr when every cell has the default colours, which spares
// a sink that copies rows the colours of plain text.
class RowSink {
public:
    virtual void rowScrolledOff(const char16_t* chars, const CellAttr* attrs, std::int32_t cols) = 0;

protected:
    ~RowSink() = default;
};

class Screen {
public:
    static constexpr std::size_t kMaxParamBytes = 256;
    void setRowSink(RowSink* sink) { rowSink_ = sink; }  // nullptr: none (the default)

    Screen(std::int32_t cols, std::int32_t rows);

    // Decodes one block of child output; takes `lock` for the whole block.
    void feedBytes(const std::uint8_t* bytes, std::uint64_t length);

    // Primitives: the caller holds `lock`.
    void clampCursor();
    void clearRow(std::int32_t row);
    void blankChars(std::int32_t row, std::int32_t from, std::int32_t to);
    void putChar(char16_t unit);
    void lineFeed();
    void scrollUp(std::int32_t n);
    void scrollDown(std::int32_t n);
    void insertLines(std::int32_t n);
    void deleteLines(std::int32_t n);
    void eraseInDisplay(std::int32_t mode);
    void reset();

    // Control sequences: the caller holds `lock`.
    ParamList parseParams() const;
    void dispatchCsi(std::uint8_t final);
    void selectGraphicRendition(const ParamList& list);

    // Row `row` (0 = top of the screen) as `cols` cells. The grid is a ring,
    // so these are the only correct way to reach a row by its screen index.
    const char16_t* rowChars(std::int32_t row) const { return chars[physicalRow(row)].data(); }
    const CellAttr* rowAttrs(std::int32_t row) const { return attrs[physicalRow(row)].data(); }
    char16_t* rowChars(std::int32_t row) { return chars[physicalRow(row)].data(); }
    // Whoever may write a row's colours makes it count as coloured.
    CellAttr* rowAttrs(std::int32_t row) {
        const std::size_t p = physicalRow(row);
        plainRows[p] = 0;
        return attrs[p].data();
    }

    std::int32_t rows;
    std::int32_t cols;
    // One container per row, stored as a ring whose screen row 0 sits at
    // `ringTop`: a scroll of the whole screen moves `ringTop` instead of rows.
    // Colours are written through rowAttrs(), which keeps `plainRows` right.
    std::vector<std::vector<char16_t>> chars;
    std::vector<std::vector<CellAttr>> attrs;
    CellAttr currentAttr;
    std::int32_t cursorRow = 0;
    std::int32_t cursorCol = 0;
    std::int32_t savedRow = 0;
    std::int32_t savedCol = 0;
    std::int32_t scrollTop = 0;
    std::int32_t scrollBottom = 0;
    bool wrapPending = false;
    ParserState parserState = ParserState::Ground;
    ParamBuffer paramBuffer;
    std::uint32_t utf8Value = 0;
    std::int32_t utf8Pending = 0;
    std::mutex lock;
    std::int32_t ringTop = 0;
    // Per physical row: 1 when every colour in it is the default. Default
    // colours are then not written again, so plain text never touches the
    // colour grid, the bulk of the memory on a tall screen.
    std::vector<std::uint8_t> plainRows;

private:
    RowSink* rowSink_ = nullptr;
    void reportRowsLeaving(std::int32_t n);
    std::size_t physicalRow(std::int32_t row) const {
        std::int32_t p = ringTop + row;
        return static_cast<std::size_t>(p >= rows ? p - rows : p);
    }
    void swapRows(std::int32_t a, std::int32_t b);
    void reverseRows(std::int32_t first, std::int32_t last);
    void rotateRowsUp(std::int32_t first, std::int32_t last, std::int32_t n);
    static constexpr std::int32_t kPrefetchRows = 1024;
    static constexpr std::int32_t kPrefetchAhead = 4;
    void prefetchRow(std::int32_t row) const;
    void wrapToNextLine();
    void putAsciiRun(const std::uint8_t* text, std::size_t count);
    void clearUtf8() { utf8Value = 0; utf8Pending = 0; }
    void feedControl(std::uint8_t b);
    const std::uint8_t* feedText(const std::uint8_t* p, const std::uint8_t* end);
    void feedEscape(std::uint8_t b);
    void emitCodePoint(std::uint32_t v);
};

// Inline: the decoder calls it for every character that is not plain ASCII.
inline void Screen::putChar(char16_t unit) {
    if (wrapPending) wrapToNextLine();
    if (cursorRow < 0 || cursorRow >= rows) return;
    if (cursorCol < 0 || cursorCol >= cols) cursorCol = cursorCol < 0 ? 0 : cols - 1;
    const std::size_t row = physicalRow(cursorRow);
    chars[row][static_cast<std::size_t>(cursorCol)] = unit;
    if (currentAttr != CellAttr{}) {
        attrs[row][static_cast<std::size_t>(cursorCol)] = currentAttr;
        plainRows[row] = 0;
    } else if (!plainRows[row]) {
        attrs[row][static_cast<std::size_t>(cursorCol)] = currentAttr;
    }
    if (cursorCol == cols - 1)
        wrapPending = true;
    else
        ++cursorCol;
}

}  // namespace vtsnap
