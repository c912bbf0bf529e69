// The public Emulator: the Screen and the renderers behind the library's
// header.
#include "vtsnap/vtsnap.hpp"

#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "snapshot/asciicast.hpp"
#include "snapshot/page.hpp"
#include "snapshot/render.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {

static_assert(Emulator::kDefaultColor == kDefaultColor && Emulator::kDirectColor == kDirectColorFlag);

namespace {

std::int32_t checkedSize(std::int32_t size, std::int32_t least, const char* what) {
    if (size < least || size > Emulator::kMaxSize)
        throw std::invalid_argument(std::string(what) + " must be " + std::to_string(least) + " to " +
                                    std::to_string(Emulator::kMaxSize) + ", not " + std::to_string(size));
    return size;
}

}  // namespace

struct Emulator::State final : RowSink {
    State(std::int32_t cols, std::int32_t rows) : screen(cols, rows) {}
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() { screen.setRowSink(nullptr); }

    void rowScrolledOff(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                        std::int32_t cols) override {
        if (attrs == nullptr) {
            plain.resize(static_cast<std::size_t>(cols));
            attrs = plain.data();
        }
        renderRow(kept, RowView(chars, attrs, marks, cols), keptColor);
    }

    Screen screen;
    std::string kept;
    bool keptColor = false;
    std::vector<CellAttr> plain;
};

Emulator::Emulator(std::int32_t cols, std::int32_t rows)
    : state_(std::make_unique<State>(checkedSize(cols, 1, "cols"), checkedSize(rows, 1, "rows"))) {}
Emulator::~Emulator() = default;
Emulator::Emulator(Emulator&&) noexcept = default;
Emulator& Emulator::operator=(Emulator&&) noexcept = default;

void Emulator::feed(const void* bytes, std::size_t length) {
    state_->screen.feedBytes(static_cast<const std::uint8_t*>(bytes), length);
}

void Emulator::reset() { state_ = std::make_unique<State>(cols(), rows()); }

std::int32_t Emulator::cols() const { return state_->screen.cols(); }
std::int32_t Emulator::rows() const { return state_->screen.rows(); }

Emulator::Cursor Emulator::cursor() const {
    const Screen::Cursor c = state_->screen.cursor();
    return {c.row, c.col};
}

namespace {

void checkCell(const Screen& screen, std::int32_t row, std::int32_t col) {
    if (row < 0 || row >= screen.rows() || col < 0 || col >= screen.cols())
        throw std::out_of_range("cell (" + std::to_string(row) + ", " + std::to_string(col) + ") is outside the " +
                                std::to_string(screen.rows()) + " x " + std::to_string(screen.cols()) + " screen");
}

}  // namespace

Emulator::Cell Emulator::cell(std::int32_t row, std::int32_t col) const {
    const Screen& screen = state_->screen;
    checkCell(screen, row, col);
    const RowView view = screen.row(row);
    const CellText t = view.cell(col);
    Cell cell;
    if (t.width != 0) {
        cell.text.push_back(t.ch);
        cell.text.append(t.marks);
    }
    cell.width = t.width;
    cell.fg = view.attrs()[col].fg;
    cell.bg = view.attrs()[col].bg;
    return cell;
}

std::string Emulator::line(std::int32_t row) const {
    const Screen& screen = state_->screen;
    checkCell(screen, row, 0);
    std::string out;
    renderRow(out, screen.row(row), false);
    out.resize(out.size() - 2);  // the CR LF
    return out;
}

std::string Emulator::file(bool color) const { return renderSnapshot(state_->screen, color); }

std::string Emulator::page() const {
    std::string out;
    renderPage(out, state_->screen, false);
    return out;
}

void Emulator::keepTranscript(bool color) {
    state_->keptColor = color;
    state_->screen.setRowSink(state_.get());
}

std::string Emulator::transcript() const {
    std::string out(kByteOrderMark);
    out += state_->kept;
    renderRows(out, state_->screen, state_->keptColor);
    return out;
}

std::string renderFile(std::string_view input, bool color, std::int32_t cols, std::int32_t rows) {
    checkedSize(cols, 0, "cols");
    checkedSize(rows, 0, "rows");
    // A recording is known by its first lines, as vtsnap-render knows it.
    std::size_t at = 0;
    auto nextLine = [&] {
        const std::size_t end = std::min(input.find('\n', at), input.size());
        const std::string_view line = input.substr(at, end - at);
        at = end + 1;
        return line;
    };
    ReplayInput read;
    std::size_t events = 0;  // where a recording's events begin
    if (!input.empty()) {
        const std::string_view first = nextLine();
        events = at;
        const bool twoLines = at < input.size() && needsSecondLine(first);
        read = replayInput(first, twoLines ? std::optional<std::string_view>(nextLine()) : std::nullopt);
    }
    if (read.kind == ReplayInput::Kind::OtherVersion)
        throw std::invalid_argument(notReplayedMessage(read.header.version));
    const bool recording = read.kind == ReplayInput::Kind::Recording;
    // The size asked for, else the recording's (none for a raw stream), else
    // the default. A header's sizes are within kMaxSize.
    const std::int32_t width = cols != 0 ? cols : read.header.width;
    const std::int32_t height = rows != 0 ? rows : read.header.height;
    const bool sizedByHeader = (cols == 0 && read.header.width != 0) || (rows == 0 && read.header.height != 0);
    if (recording && sizedByHeader && std::int64_t{width} * height > kMaxRecordingCells)
        throw std::invalid_argument(tooLargeMessage(width, height) + "; choose its size with cols and rows");
    Emulator emulator(width != 0 ? width : Emulator::kDefaultCols, height != 0 ? height : Emulator::kDefaultRows);
    if (!recording) {
        emulator.feed(input);
        return emulator.file(color);
    }
    at = events;
    AsciicastReplay replay(read.header.version);
    for (std::uint64_t number = 2; at < input.size(); ++number) {
        switch (replay.next(nextLine())) {
        case AsciicastReplay::Step::Output: emulator.feed(replay.output()); break;
        case AsciicastReplay::Step::NotEvent:
            throw std::invalid_argument("line " + std::to_string(number) + " is not an asciicast event");
        case AsciicastReplay::Step::Skip:
        case AsciicastReplay::Step::Done: break;
        }
    }
    return emulator.file(color);
}

}  // namespace vtsnap
