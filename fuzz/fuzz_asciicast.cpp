// asciicast lines from arbitrary bytes: the reader takes any line without
// harm, and whatever output the encoder is given, cut anywhere, comes back
// from its events as valid UTF-8, byte for byte where it was UTF-8 already,
// in lines that hold no raw control character or separator.
//
// Input layout: byte 0 picks where the output is cut in two; the rest is the
// output, and also a line for the readers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "snapshot/asciicast.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
bool validUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = p[i];
        std::size_t length = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
                             : b >= 0xF0 && b <= 0xF4                ? 4
                                                                     : 0;
        if (length == 0 || i + length > text.size()) return false;
        std::uint32_t code = length == 1 ? b : b & (0xFF >> (length + 1));
        for (std::size_t k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            code = code << 6 | (p[i + k] & 0x3F);
        }
        const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view output(reinterpret_cast<const char*>(data + 1), size - 1);

    vtsnap::readAsciicastHeader(output);
    vtsnap::AsciicastEvent event;
    vtsnap::readAsciicastEvent(output, event);

    const std::size_t cut = data[0] % (output.size() + 1);
    vtsnap::AsciicastEncoder encoder;
    std::string lines;
    encoder.appendEvent(lines, 1, reinterpret_cast<const std::uint8_t*>(output.data()), cut);
    encoder.appendEvent(lines, 2'500'000, reinterpret_cast<const std::uint8_t*>(output.data()) + cut,
                        output.size() - cut);
    encoder.appendEnd(lines, 3'000'000);

    std::string back;
    std::size_t start = 0;
    for (std::size_t end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
        check(vtsnap::readAsciicastEvent(std::string_view(lines).substr(start, end - start), event),
              "an event line reads back");
        check(event.type == "o", "an output event");
        check(validUtf8(event.text), "event text is valid UTF-8");
        back += event.text;
    }
    check(start == lines.size(), "the events end with a line end");
    check(validUtf8(lines), "the lines are valid UTF-8");
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const auto b = static_cast<unsigned char>(lines[k]);
        const auto next = k + 1 < lines.size() ? static_cast<unsigned char>(lines[k + 1]) : 0;
        const auto third = k + 2 < lines.size() ? static_cast<unsigned char>(lines[k + 2]) : 0;
        check((b >= 0x20 || b == '\n') && b != 0x7F, "no raw C0 control or DEL");
        check(!(b == 0xC2 && next >= 0x80 && next <= 0x9F), "no raw C1 control");
        check(!(b == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)), "no raw line or paragraph separator");
    }
    if (validUtf8(output)) check(back == output, "UTF-8 output comes back byte for byte");
    return 0;
}
