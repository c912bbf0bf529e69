// asciicast lines from arbitrary bytes: the readers (and the replay's)
// take any line without harm, and whatever output the encoder is given, cut anywhere, comes back
// from its events as valid UTF-8, byte for byte where it was UTF-8 already,
// in lines that hold no raw control character or separator.
//
// Input layout: byte 0 picks where the output is cut in two; the rest is the
// output, and also a line for the readers.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/checks.hpp"
#include "snapshot/asciicast.hpp"

using vtsnap::fuzz::check;
using vtsnap::fuzz::validUtf8;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view output(reinterpret_cast<const char*>(data + 1), size - 1);

    vtsnap::readAsciicastHeader(output);
    vtsnap::AsciicastEvent event;
    vtsnap::readAsciicastEvent(output, event);
    vtsnap::replayInput(output, output);
    vtsnap::AsciicastReplay(3, 1.0).next(output);

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
