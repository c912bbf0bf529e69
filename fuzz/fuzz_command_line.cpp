// The tool's own command line and the child's, from arbitrary arguments:
// checked against what a user relies on rather than against a second copy of
// the code.
//
// Input layout: byte 0 holds flags (bit 0: backslash separates directories,
// bit 1: UTF-16 arguments); the rest is the argument vector after the tool's
// own name, arguments separated by NUL bytes (no argument can hold one).
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "capture/command_line.hpp"
#include "fuzz/checks.hpp"

namespace {

using vtsnap::fuzz::check;

template <class Char>
std::string narrow(std::basic_string_view<Char> text) {
    // Non-ASCII units neither count as digits nor as white space; 'x' keeps
    // that and stands for them in the C library's reading.
    std::string out;
    for (Char c : text) {
        const auto u = static_cast<std::make_unsigned_t<Char>>(c);
        out += u < 0x80 ? static_cast<char>(u) : 'x';
    }
    return out;
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The C library's strtol, saturated to 32 bits, is the reference for the
// number after "-rows=".
std::int32_t referenceNumber(const std::string& text) {
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

bool needsQuotes(std::string_view arg) {
    return arg.find(' ') != arg.npos || arg.find('\t') != arg.npos;
}

bool alreadyQuoted(std::string_view arg) {
    return !arg.empty() && arg.front() == '"' && arg.back() == '"';
}

std::size_t trailingBackslashes(std::string_view arg) {
    std::size_t n = 0;
    while (n < arg.size() && arg[arg.size() - 1 - n] == '\\') ++n;
    return n;
}

// How the child's runtime splits a command line (the Windows rules, without
// the special case for the program name, which is unneeded here since the
// arguments below hold no double quote).
std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> args;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i == line.size()) break;
        std::string arg;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            std::size_t slashes = 0;
            while (i < line.size() && line[i] == '\\') ++slashes, ++i;
            if (i < line.size() && line[i] == '"') {
                arg.append(slashes / 2, '\\');
                if (slashes % 2) {
                    arg += '"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                arg.append(slashes, '\\');
                if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
            }
        }
        args.push_back(arg);
    }
    return args;
}

template <class Char>
void checkLine(const std::vector<std::basic_string_view<Char>>& args, bool backslashSeparates) {
    const auto line = vtsnap::scanCommandLine(args, backslashSeparates);

    // Options run up to the first argument that is not one.
    std::size_t program = 1;
    bool color = false;
    std::int32_t rows = vtsnap::kDefaultRows;
    for (; program < args.size(); ++program) {
        const std::string arg = lower(narrow(args[program]));
        // Non-ASCII units were narrowed to 'x', so they never match an option.
        if (arg.compare(0, 6, "-rows=") == 0) {
            const std::int32_t n = referenceNumber(narrow(args[program].substr(6)));
            if (n > 0) rows = n > vtsnap::kMaxRows ? vtsnap::kMaxRows : n;
        } else if (arg == "-color") {
            color = true;
        } else {
            break;
        }
    }

    const bool usable = args.size() >= program + 2;
    check(line.has_value() == usable, "usable command line rejected, or unusable one accepted");
    if (!line) return;
    check(line->programIndex == program, "program is not the first argument that is not an option");
    check(line->useColor == color, "-color not recognised as given");
    check(line->rowCount == rows, "row count differs from the last valid -rows=");
    check(line->rowCount >= 1 && line->rowCount <= vtsnap::kMaxRows, "row count out of range");
    check(line->programPath == args[program], "program path is not the program argument");
    check(line->outputPath() == args.back(), "output path is not the last argument");

    // The working directory is the program path up to its last separator.
    const auto& path = line->programPath;
    const auto& dir = line->workingDirectory;
    auto isSeparator = [&](Char c) { return c == Char('/') || (backslashSeparates && c == Char('\\')); };
    std::size_t lastSeparator = path.size();
    for (std::size_t i = 0; i < path.size(); ++i)
        if (isSeparator(path[i])) lastSeparator = i;
    if (lastSeparator == path.size())
        check(dir.empty(), "working directory without a separator in the program path");
    else
        check(dir == path.substr(0, lastSeparator), "working directory is not the part before the last separator");

    // The child's command line: the program and its arguments, never the
    // output file.
    const auto child = vtsnap::buildChildCommandLine(args, line->programIndex);
    std::vector<std::string> childArgs;
    for (std::size_t k = program; k + 1 < args.size(); ++k) childArgs.push_back(narrow(args[k]));
    const std::string childLine = narrow(std::basic_string_view<Char>(child));

    std::string joined;
    std::size_t added = 0;
    for (std::size_t k = 0; k < childArgs.size(); ++k) {
        const std::string& arg = childArgs[k];
        if (k) joined += ' ';
        joined += arg;
        if (needsQuotes(arg) && !alreadyQuoted(arg)) added += 2 + trailingBackslashes(arg);
    }
    // Quotes are added only around arguments with a blank or tab, and then
    // always two, with the backslashes before the closing one doubled;
    // nothing else is added, escaped or dropped.
    check(childLine.size() == joined.size() + added, "child command line has other characters than its arguments");
    if (added == 0) check(childLine == joined, "quotes or escapes added to arguments without blank or tab");
    const std::string& lastArg = childArgs.back();
    const bool lastWrapped = needsQuotes(lastArg) && !alreadyQuoted(lastArg);
    const std::string tail = lastWrapped ? lastArg + std::string(trailingBackslashes(lastArg), '\\') + '"' : lastArg;
    check(childLine.size() >= tail.size() && childLine.compare(childLine.size() - tail.size(), tail.size(), tail) == 0,
          "child command line does not end with the last child argument");

    // Arguments that the child gets back intact: any without a double quote
    // that is not empty, trailing backslashes included.
    bool plain = true;
    for (const std::string& arg : childArgs)
        if (arg.empty() || arg.find('"') != arg.npos) plain = false;
    if (plain) check(splitCommandLine(childLine) == childArgs, "child does not get its arguments back");
}

template <class Char>
Char widen(std::uint8_t b) {
    if constexpr (sizeof(Char) == 1) {
        return static_cast<Char>(b);
    } else {
        // Bytes from 0x80 reach beyond Latin-1, surrogates included.
        return static_cast<Char>(b < 0x80 ? b : (b < 0xC0 ? 0x100 + b : 0xD700 + b));
    }
}

template <class Char>
void run(const std::uint8_t* data, std::size_t size, bool backslashSeparates) {
    std::vector<std::basic_string<Char>> storage(1);  // the tool's own name
    storage[0] = {Char('v'), Char('t')};
    storage.emplace_back();
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            storage.emplace_back();
        else
            storage.back() += widen<Char>(data[i]);
    }
    std::vector<std::basic_string_view<Char>> args(storage.begin(), storage.end());
    checkLine(args, backslashSeparates);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const bool backslashSeparates = data[0] & 1;
    if (data[0] & 2)
        run<char16_t>(data + 1, size - 1, backslashSeparates);
    else
        run<char>(data + 1, size - 1, backslashSeparates);
    return 0;
}
