// The bytes of an output file, for comparing with what a run left behind.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vtsnap::test {

inline constexpr std::string_view kBom = "\xEF\xBB\xBF";

// BOM, then each line followed by CR LF.
inline std::string fileOf(std::initializer_list<std::string_view> lines) {
    std::string file(kBom);
    for (std::string_view line : lines) {
        file += line;
        file += "\r\n";
    }
    return file;
}

}  // namespace vtsnap::test
