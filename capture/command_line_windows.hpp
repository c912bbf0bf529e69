// The tool's own command line on Windows, split by the platform's rules.
#pragma once

#include <windows.h>

#include <optional>
#include <string_view>
#include <vector>

#include "capture/about.hpp"
#include "capture/command_line.hpp"

namespace vtsnap {

struct ParsedCommandLine {
    // One block from CommandLineToArgvW; `args` points into it. The caller
    // releases it with LocalFree once the child's command line is built.
    LPWSTR* argv = nullptr;
    std::vector<std::wstring_view> args;
    CommandLine<wchar_t> line;
};

// Splits `commandLine` with CommandLineToArgvW and scans it. Empty when the
// line cannot be used; the block is then already released.
std::optional<ParsedCommandLine> parseCommandLine(const wchar_t* commandLine);

// The process's own command line.
std::optional<ParsedCommandLine> parseCommandLine();

// --help or --version as the only argument of `commandLine`.
AboutRequest aboutRequestOf(const wchar_t* commandLine);

}  // namespace vtsnap
