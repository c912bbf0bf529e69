// vtsnap's emulator for programs that read screens in-process: a screen of
// C columns and R rows that takes a program's output (UTF-8 text and VT
// control sequences) and gives its rows, cells, cursor and the files the
// vtsnap tool writes for it. Link vtsnap::vtsnap (find_package(vtsnap)).
// An Emulator is not shared between threads without a lock of the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vtsnap {

class Emulator {
public:
    // Sizes run from 1 to kMaxSize, columns and rows alike; the default is
    // the vtsnap tool's screen.
    static constexpr std::int32_t kMaxSize = 32767;
    static constexpr std::int32_t kDefaultCols = 120;
    static constexpr std::int32_t kDefaultRows = 100;

    // A cell's colour: kDefaultColor, a palette index (0-255, 0-15 the basic
    // and bright colours), or kDirectColor | 0xRRGGBB.
    static constexpr std::uint32_t kDefaultColor = 0xFFFFFFFFu;
    static constexpr std::uint32_t kDirectColor = 0x01000000u;

    struct Cell {
        // The character that starts in the cell and the marks (combining and
        // zero-width characters) that join it; empty for the second half of
        // a wide character.
        std::u32string text;
        std::int32_t width = 1;  // 0 (that second half), 1 or 2
        std::uint32_t fg = kDefaultColor;
        std::uint32_t bg = kDefaultColor;
    };

    struct Cursor {
        std::int32_t row = 0;
        std::int32_t col = 0;
    };

    // Throws std::invalid_argument for a size outside 1 to kMaxSize.
    explicit Emulator(std::int32_t cols = kDefaultCols, std::int32_t rows = kDefaultRows);
    ~Emulator();
    Emulator(Emulator&&) noexcept;
    Emulator& operator=(Emulator&&) noexcept;

    // Output of the program, in blocks of any size: the screen is the same
    // however the bytes are split.
    void feed(const void* bytes, std::size_t length);
    void feed(std::string_view bytes) { feed(bytes.data(), bytes.size()); }
    // Back to a new, blank screen of the same size, keeping no transcript.
    void reset();

    std::int32_t cols() const;
    std::int32_t rows() const;
    // Where the next character goes.
    Cursor cursor() const;
    // Throws std::out_of_range outside the screen.
    Cell cell(std::int32_t row, std::int32_t col) const;
    // Row `row` as UTF-8, without its trailing blanks; throws
    // std::out_of_range outside the screen.
    std::string line(std::int32_t row) const;
    // The exact bytes of vtsnap's screen file: UTF-8 with a byte-order mark,
    // the occupied rows, CR LF line ends, and with `color` SGR sequences.
    std::string file(bool color = false) const;
    // The screen as the standalone web page of vtsnap's -html=.
    std::string page() const;
    // From now on, keeps every row that leaves the top of the screen, for
    // transcript(); `color` as for file().
    void keepTranscript(bool color);
    // The bytes of vtsnap's -log= file: the kept rows, then the screen's
    // occupied rows (the byte-order mark first, as in file()).
    std::string transcript() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// vtsnap-render in one call: the screen file of a raw output stream or of an
// asciicast recording of version 2 or 3, told apart as vtsnap-render tells
// them. A size of 0 takes the recording's (or the default). Throws
// std::invalid_argument for a size outside 0 to kMaxSize, for a recording of
// another version, for one whose header asks for more than 8388608 cells
// (120 x 32767 fits; choose a larger size with cols and rows), and for one
// with a line that is not an event.
std::string renderFile(std::string_view input, bool color = false, std::int32_t cols = 0, std::int32_t rows = 0);

}  // namespace vtsnap
