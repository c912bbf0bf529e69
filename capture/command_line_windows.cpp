#include "capture/command_line_windows.hpp"

#include <shellapi.h>

namespace vtsnap {

std::optional<ParsedCommandLine> parseCommandLine(const wchar_t* commandLine) {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &count);
    if (argv == nullptr) return std::nullopt;

    ParsedCommandLine parsed;
    parsed.argv = argv;
    parsed.args.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) parsed.args.emplace_back(argv[i]);

    auto line = scanCommandLine(parsed.args, /*backslashSeparates=*/true);
    if (!line) {
        LocalFree(argv);
        return std::nullopt;
    }
    parsed.line = std::move(*line);
    return parsed;
}

std::optional<ParsedCommandLine> parseCommandLine() {
    return parseCommandLine(GetCommandLineW());
}

AboutRequest aboutRequestOf(const wchar_t* commandLine) {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &count);
    if (argv == nullptr) return AboutRequest::None;
    const std::vector<std::wstring_view> args(argv, argv + count);
    const AboutRequest request = aboutRequest(args);
    LocalFree(argv);
    return request;
}

}  // namespace vtsnap
