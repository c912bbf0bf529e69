// The tool's command line:
//   tool [-rows=N] [-color] [-log=FILE] [-html=FILE] [-svg=FILE] [-record=FILE] program [arguments ...] outputfile
// Portable over the character type, so that Windows scans UTF-16 arguments and
// POSIX scans argv with the same code.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/screen_size.hpp"
#include "snapshot/outputs.hpp"

namespace vtsnap {

template <class Char>
constexpr Char asciiLower(Char c) {
    return (c >= Char('A') && c <= Char('Z')) ? Char(c - Char('A') + Char('a')) : c;
}

// ASCII case-insensitive equality of `text` and the lower-case `pattern`, as
// the C runtime's wcsicmp does for the option names.
template <class Char>
bool equalsNoCase(std::basic_string_view<Char> text, std::string_view pattern) {
    if (text.size() != pattern.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (asciiLower(text[i]) != Char(static_cast<unsigned char>(pattern[i]))) return false;
    return true;
}

template <class Char>
bool startsWithNoCase(std::basic_string_view<Char> text, std::string_view pattern) {
    return text.size() >= pattern.size() && equalsNoCase(text.substr(0, pattern.size()), pattern);
}

template <class Char>
struct CommandLine {
    std::int32_t rowCount = kDefaultRows;
    bool useColor = false;
    std::size_t programIndex = 1;  // index in the argument vector
    std::basic_string<Char> programPath;
    std::basic_string<Char> workingDirectory;  // empty: the tool's own
    // Each output asked for, by the row of kOutputs: the screen's is the
    // last argument, the others' their options.
    OutputPaths<std::basic_string<Char>> paths;

    const std::optional<std::basic_string<Char>>& path(Output output) const { return paths[indexOf(output)]; }
    const std::basic_string<Char>& outputPath() const { return *path(Output::Screen); }
};

// The output whose option `arg` is, with the path it names, in any case;
// none for an argument that is no output's option.
template <class Char>
std::optional<Output> outputOption(std::basic_string_view<Char> arg, bool replayedOnly,
                                   std::basic_string_view<Char>& path) {
    for (const OutputKind& kind : kOutputs) {
        if (kind.option.empty() || (replayedOnly && !kind.replayed) || !startsWithNoCase(arg, kind.option)) continue;
        // Taken as it is: an empty name is a file that cannot be created.
        path = arg.substr(kind.option.size());
        return kind.output;
    }
    return std::nullopt;
}

// The directory part of `programPath`, without its last separator. POSIX
// passes only '/'; Windows also counts '\\'.
template <class Char>
std::basic_string<Char> directoryOf(std::basic_string_view<Char> programPath,
                                    bool backslashSeparates) {
    for (std::size_t i = programPath.size(); i-- > 0;) {
        if (programPath[i] == Char('/') || (backslashSeparates && programPath[i] == Char('\\')))
            return std::basic_string<Char>(programPath.substr(0, i));
    }
    return {};
}

// `args[0]` is the tool itself and is never looked at. Empty result: the
// command line cannot be used (no program, or no output file after it).
template <class Char>
std::optional<CommandLine<Char>> scanCommandLine(const std::vector<std::basic_string_view<Char>>& args,
                                                 bool backslashSeparates) {
    CommandLine<Char> line;
    std::size_t i = 1;
    for (; i < args.size(); ++i) {
        const auto arg = args[i];
        std::basic_string_view<Char> path;
        if (const std::optional<Output> output = outputOption(arg, false, path)) {
            line.paths[indexOf(*output)] = std::basic_string<Char>(path);
        } else if (startsWithNoCase(arg, "-rows=")) {
            line.rowCount = askedSize(readInt(arg.substr(6)), line.rowCount);
        } else if (equalsNoCase(arg, "-color")) {
            line.useColor = true;
        } else {
            break;
        }
    }
    line.programIndex = i;
    if (args.size() < i || args.size() - i < 2) return std::nullopt;
    line.programPath = std::basic_string<Char>(args[i]);
    line.paths[indexOf(Output::Screen)] = std::basic_string<Char>(args.back());
    line.workingDirectory = directoryOf(std::basic_string_view<Char>(line.programPath), backslashSeparates);
    return line;
}

// Joins the program and its arguments (programIndex to count - 2) into one
// command line, quoting those with a blank or tab that are not quoted already.
// The child's runtime reads backslashes before a quote as escapes, so those
// that end a quoted argument are doubled and the closing quote stays a quote;
// nothing else is escaped.
template <class Char>
std::basic_string<Char> buildChildCommandLine(const std::vector<std::basic_string_view<Char>>& args,
                                              std::size_t programIndex) {
    std::basic_string<Char> line;
    if (args.size() < 2) return line;
    const std::size_t last = args.size() - 2;
    for (std::size_t k = programIndex; k <= last; ++k) {
        const auto arg = args[k];
        const bool needsQuotes =
            arg.find(Char(' ')) != arg.npos || arg.find(Char('\t')) != arg.npos;
        const bool quoted = !arg.empty() && arg.front() == Char('"') && arg.back() == Char('"');
        if (needsQuotes && !quoted) {
            const std::size_t lastOther = arg.find_last_not_of(Char('\\'));
            const std::size_t backslashes = arg.size() - (lastOther == arg.npos ? 0 : lastOther + 1);
            line += Char('"');
            line += arg;
            line.append(backslashes, Char('\\'));
            line += Char('"');
        } else {
            line += arg;
        }
        if (k < last) line += Char(' ');
    }
    return line;
}

}  // namespace vtsnap
