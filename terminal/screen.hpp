// The emulated terminal: the grid, the cursor, the scroll region, the modes
// and the character sets, changed only through the operations below. The
// decoder feeds it; it takes no lock: whoever shares a Screen between threads
// decides how (the capture holds one mutex across each block and each snapshot).
#pragma once

#include <cstdint>
#include <span>

#include "terminal/csi_params.hpp"
#include "terminal/decoder.hpp"
#include "terminal/grid.hpp"
#include "terminal/row_view.hpp"
#include "terminal/tab_stops.hpp"

namespace vtsnap {

// Receives each row as it leaves the top of the screen, before it is cleared.
// `attrs` may be nullptr when every cell has the default colours, which spares
// a sink that copies rows the colours of plain text.
class RowSink {
public:
    virtual void rowScrolledOff(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                                std::int32_t cols) = 0;

protected:
    ~RowSink() = default;
};

// Told when a synchronized update ends, as the sequence that ends it is
// carried out: a frame can be taken whole before the rest of the block, which
// may begin the next one, is decoded.
class UpdateObserver {
public:
    virtual void updateEnded() = 0;

protected:
    ~UpdateObserver() = default;
};

enum class Charset : std::uint8_t { Ascii, DecGraphics };

namespace test {
struct ScreenAccess;
}

class Screen {
public:
    Screen(std::int32_t cols, std::int32_t rows);

    // Decodes one block of child output.
    void feedBytes(const std::uint8_t* bytes, std::uint64_t length);

    void setRowSink(RowSink* sink) { rowSink_ = sink; }  // nullptr: none (the default)
    void setUpdateObserver(UpdateObserver* observer) { updateObserver_ = observer; }  // nullptr: none

    // Reading, for the renderer and the capture.
    std::int32_t rows() const { return grid_.rows(); }
    std::int32_t cols() const { return grid_.cols(); }
    const char32_t* rowChars(std::int32_t row) const { return grid_.rowChars(row); }
    std::span<const CellMarks> rowMarks(std::int32_t row) const { return grid_.rowMarks(row); }
    const CellAttr* rowAttrs(std::int32_t row) const { return grid_.rowAttrs(row); }
    bool rowIsBlank(std::int32_t row) const { return grid_.isBlank(row); }
    // Row `row` (0 to rows() - 1) as the renderers read it.
    RowView row(std::int32_t row) const { return {rowChars(row), rowAttrs(row), rowMarks(row), cols()}; }
    // Where the next character goes: row 0 to rows() - 1, column 0 to
    // cols() - 1 (the last column also while a wrap is pending).
    struct Cursor {
        std::int32_t row = 0;
        std::int32_t col = 0;
        friend bool operator==(const Cursor&, const Cursor&) = default;
    };
    Cursor cursor() const { return {cursorRow_, cursorCol_}; }
    std::int32_t usedRows() const { return grid_.usedRows(); }
    // Synchronized output (DEC private mode 2026): true while the program is
    // drawing a frame it has bracketed. Each update that begins gets the next
    // number, so that an update can be told from the one before it.
    bool updateOpen() const { return updateOpen_; }
    std::uint32_t updateNumber() const { return updateNumber_; }

private:
    friend class Decoder;
    friend struct test::ScreenAccess;

    CellAttr cellAttr(std::int32_t row, std::int32_t col) const { return grid_.cellAttr(row, col); }

    // The terminal's operations. Cells they blank take the current background
    // with the default foreground (text in insert mode blanks what it cuts in
    // its own colours).
    void putChar(char32_t c);  // any character, as text from the program
    void lineFeed();
    void scrollUp(std::int32_t n);
    void scrollDown(std::int32_t n);
    void insertLines(std::int32_t n);
    void deleteLines(std::int32_t n);
    void eraseInDisplay(std::int32_t mode);
    void eraseInLine(std::int32_t mode);
    void blankChars(std::int32_t row, std::int32_t from, std::int32_t to);
    void insertChars(std::int32_t n);
    void deleteChars(std::int32_t n);
    void eraseChars(std::int32_t n);
    void reverseIndex();
    void saveCursor();
    void restoreCursor();
    void reset();
    void selectGraphicRendition(const CsiParams& params);

    // Cursor motion. Each ends a pending wrap, but for the tab moves: the
    // cursor is past the last stop already.
    void moveTo(std::int32_t row, std::int32_t col);
    void cursorUp(std::int32_t n);
    void cursorDown(std::int32_t n);
    void cursorForward(std::int32_t n);
    void cursorBackward(std::int32_t n);
    void setColumn(std::int32_t col);
    void carriageReturn();
    void nextLine();
    void home();
    void tabForward(std::int32_t n);
    void tabBackward(std::int32_t n);
    void setTabStop();
    void clearTabStops(std::int32_t mode);

    // What the cursor save keeps.
    struct SavedState {
        std::int32_t row = 0;
        std::int32_t col = 0;
        CellAttr attr;
        Charset g0 = Charset::Ascii;
        Charset g1 = Charset::Ascii;
        std::uint8_t invoked = 0;
        bool originMode = false;
    };

    // The decoder's handler: text here, the rest in dispatch.cpp.
    void printAscii(const std::uint8_t* text, std::size_t count);
    void printCells(const char32_t* cells, std::size_t count);
    char32_t* cellRoom(std::size_t& room);
    void printedCells(const char32_t* cells, std::size_t count);
    void print(char32_t c);
    void execute(std::uint8_t control);
    void escDispatch(std::uint32_t intermediates, std::uint8_t final);
    void csiDispatch(const CsiSequence& sequence) {
        // SGR, by far the most frequent, without the general dispatch.
        if (sequence.final == 'm' && (sequence.marker | sequence.intermediates) == 0)
            selectGraphicRendition(sequence.params);
        else
            otherControlSequence(sequence);
        endText();  // REP included: a second REP repeats nothing
    }
    // Every control sequence but SGR.
    void otherControlSequence(const CsiSequence& sequence);
    void noAction() { endText(); }
    // Anything but text: REP has nothing to repeat, and a mark that comes next
    // has no character printed just before it.
    void endText() { lastChar_ = 0; }

    CellAttr eraseAttr() const { return CellAttr{kDefaultColor, currentAttr_.bg}; }
    Charset invokedCharset() const { return invoked_ == 0 ? g0_ : g1_; }
    template <class Unit>
    void printText(const Unit* cells, std::size_t count);
    template <class Unit>
    void printRows(const Unit* cells, std::size_t count);
    template <class Unit>
    void printEach(const Unit* cells, std::size_t count);
    void putNarrow(char32_t c);
    void putWide(char32_t c);
    std::int32_t fillRowBeforeWide(const char32_t* cells, std::int32_t n);
    bool joinTarget(std::int32_t& row, std::int32_t& col) const;
    void joinMark(char32_t mark);
    void wrapToNextLine();
    void reportRowsLeaving(std::int32_t n);
    void setModes(const CsiSequence& sequence, bool on);
    void repeatLast(std::int32_t n);
    void setScrollRegion(const CsiParams& params);
    bool cursorInRegion() const;

    Grid grid_;
    Decoder decoder_;
    RowSink* rowSink_ = nullptr;
    UpdateObserver* updateObserver_ = nullptr;
    CellAttr currentAttr_;
    std::int32_t cursorRow_ = 0;
    std::int32_t cursorCol_ = 0;
    std::int32_t scrollTop_ = 0;
    std::int32_t scrollBottom_ = 0;
    TabStops tabStops_;
    // A character went into the last column, and the cursor is past it: the
    // next one wraps, or without autowrap takes the last column again.
    bool wrapPending_ = false;
    bool autoWrap_ = true;
    bool insertMode_ = false;
    bool originMode_ = false;
    bool updateOpen_ = false;
    std::uint32_t updateNumber_ = 0;
    Charset g0_ = Charset::Ascii;
    Charset g1_ = Charset::Ascii;
    std::uint8_t invoked_ = 0;  // 0: G0, 1: G1
    SavedState saved_;
    // The last graphic character, for REP; 0 once anything else came.
    char32_t lastChar_ = 0;
    // While lastChar_ is set, the first cell of that character, which marks
    // join, where it is not the one left of the cursor (kLeftOfCursor, as
    // after anything else): with autowrap off at the margin, say. kDropped:
    // a wide character found no room, and REP repeats it without the marks
    // left of the cursor.
    static constexpr std::int32_t kLeftOfCursor = -1;
    static constexpr std::int32_t kDropped = -2;
    std::int32_t joinRow_ = 0;
    std::int32_t joinCol_ = kLeftOfCursor;
};

// HT (n = 1, inline in the dispatch) and CHT stop at the last column when no
// stop is left. A pending wrap stays pending: the cursor is past the last stop.
inline void Screen::tabForward(std::int32_t n) {
    if (wrapPending_) return;
    do cursorCol_ = tabStops_.next(cursorCol_);
    while (--n > 0 && cursorCol_ < cols() - 1);
}

}  // namespace vtsnap
