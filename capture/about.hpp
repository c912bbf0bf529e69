// --help and --version. Each is understood only as a tool's one argument, so
// that a program named --help can still be run with an output file after it.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace vtsnap {

enum class AboutRequest { None, Help, Version };

template <class Char>
AboutRequest aboutRequest(const std::vector<std::basic_string_view<Char>>& args) {
    if (args.size() != 2) return AboutRequest::None;
    auto is = [&](std::string_view word) {
        auto same = [](char a, Char b) { return Char(static_cast<unsigned char>(a)) == b; };
        return args[1].size() == word.size() && std::equal(word.begin(), word.end(), args[1].begin(), same);
    };
    if (is("--help")) return AboutRequest::Help;
    if (is("--version")) return AboutRequest::Version;
    return AboutRequest::None;
}

// "TOOL VERSION", and " (commit HASH)" when the build knew the Git commit, and a line end.
std::string versionText(std::string_view tool);

// vtsnap's usage, options and exit codes.
std::string_view captureHelp();

// Writes `text` to standard output; 0 once it is all there, 1 otherwise.
int printToStandardOutput(std::string_view text);

}  // namespace vtsnap
