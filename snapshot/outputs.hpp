// The files a run writes, as one table: which option names each, whether it
// is rewritten in place with a rendering of the screen or appended to by its
// writer, and the one routine that opens and checks them all before any is
// emptied. vtsnap (both platforms) and vtsnap-render open their files
// through it; the platform's part is in native_file.hpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "snapshot/native_file.hpp"
#include "snapshot/output_file.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {

// A row of the table, by its place in it.
enum class Output : std::uint8_t { Screen, Transcript, Recording, Page };

enum class Writing : std::uint8_t {
    Rewritten,  // the whole file replaced in place with each rendering
    Appended,   // only ever appended to, by the output's own writer
};

// Appends the file's bytes for `screen` to `out`. `live`: the program still runs.
using Renderer = void (*)(std::string& out, const Screen& screen, bool useColor, bool live);

void renderScreenFile(std::string& out, const Screen& screen, bool useColor, bool live);
void renderPageFile(std::string& out, const Screen& screen, bool useColor, bool live);

struct OutputKind {
    Output output;
    std::string_view option;  // "-log=" and the like; empty for the operand
    Writing writing;
    Renderer render;  // a rewritten output's; an appended one has its writer (Transcript, Recording)
    bool replayed;    // vtsnap-render writes it too
};

inline constexpr std::array<OutputKind, 4> kOutputs = {{
    {Output::Screen, "", Writing::Rewritten, renderScreenFile, true},
    {Output::Transcript, "-log=", Writing::Appended, nullptr, true},
    {Output::Recording, "-record=", Writing::Appended, nullptr, false},
    {Output::Page, "-html=", Writing::Rewritten, renderPageFile, true},
}};
inline constexpr std::size_t kOutputCount = kOutputs.size();

constexpr std::size_t indexOf(Output output) { return static_cast<std::size_t>(output); }
constexpr const OutputKind& kindOf(Output output) { return kOutputs[indexOf(output)]; }

// A path per row, none for an output not asked for.
template <class String>
using OutputPaths = std::array<std::optional<String>, kOutputCount>;

struct OutputRequest {
    std::string_view tool;  // for messages: "vtsnap", "vtsnap-render"
    OutputPaths<std::filesystem::path> paths;
    // vtsnap-render: `-` as the screen's path is standard output, and a
    // rewritten output is written once, so a pipe or a terminal will do.
    bool screenMayBeStandardOutput = false;
    bool writtenOnce = false;
    // vtsnap-render's input, open for reading, and its name for messages.
    std::optional<std::intptr_t> input;
    std::string inputName;
    // vtsnap: the file the program runs from, when it is known.
    std::optional<std::filesystem::path> program;
};

// The files of a run, open for writing, closed when this goes.
class Outputs {
public:
    Outputs() = default;
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;
    ~Outputs();

    // Opens every file asked for, creating those that do not exist but
    // emptying none, then checks them by what they are, not by their names:
    // a `-` where no standard stream is meant, a device name the platform
    // reserves, a rewritten output that is not a regular file (or the null
    // device), the program's own file, or one file (or the input) named
    // twice is refused. False, with the reason on stderr, when refused: the
    // files it created are removed again, and none is changed.
    bool open(const OutputRequest& request);

    // The file, when it was asked for and is not the null device.
    std::optional<OutputFile> file(Output output) const;
    // True when the file is a regular one, which can be rewritten in place.
    bool isRegular(Output output) const {
        const Opened& entry = opened_[indexOf(output)];
        return entry.open && entry.file.kind == FileKind::Regular;
    }
    // Empties a regular file; true for any other.
    bool empty(Output output) const;
    // Closes the file, and removes it when this run created it.
    void discard(Output output);

private:
    struct Opened {
        bool open = false;
        bool owned = false;  // closed here; standard output is not
        NativeFile file;
        std::filesystem::path path;
    };
    void closeAll();
    std::array<Opened, kOutputCount> opened_;
};

// A path as shown in messages: its UTF-8 bytes.
std::string shownPath(const std::filesystem::path& path);

}  // namespace vtsnap
