// The decoder on its own: bytes in, what it hands on out, in one block and
// cut at every place. Text is gathered into one event so that the way a run
// is cut does not show.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/decoder.hpp"

#define ESC "\x1b"
#define CSI "\x1b["

namespace vtsnap::test {
namespace {

class Recorder {
public:
    std::string log;
    // Room offered for cells in place (none when 0), as a screen offers the
    // rest of a blank row; cells written beyond it show as a failure.
    std::size_t room = 0;

    void printAscii(const std::uint8_t* text, std::size_t count) { addText(std::string(text, text + count)); }
    // A wide character's second cell shows as "+".
    void printCells(const char32_t* cells, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            addText(cells[i] == 0 ? "+" : cells[i] < 0x80 ? std::string(1, char(cells[i])) : hex(cells[i]));
    }
    char32_t* cellRoom(std::size_t& size) {
        if (room == 0) return nullptr;
        place.assign(room + kGuard, kUnwritten);
        size = room;
        return place.data();
    }
    void printedCells(const char32_t* cells, std::size_t count) {
        if (cells != place.data()) add("cells not where the room was");
        for (std::size_t i = room; i < place.size(); ++i)
            if (place[i] != kUnwritten) add("written past the room");
        if (count > room) add("more cells than room");
        printCells(place.data(), count);
    }
    // One at a time, as the cells it takes.
    void print(char32_t c) { addText(hex(c) + (charWidth(c) == 2 ? "+" : "")); }
    void execute(std::uint8_t control) { add("^" + hex(control)); }
    void escDispatch(std::uint32_t intermediates, std::uint8_t final) {
        add("esc:" + chars(intermediates) + std::string(1, char(final)));
    }
    void csiDispatch(const CsiSequence& s) {
        std::string e = "csi:";
        if (s.marker) e += char(s.marker);
        for (std::size_t i = 0; i < s.params.size(); ++i) {
            if (i > 0) e += s.params.isSub(i) ? ':' : ';';
            e += std::to_string(s.params[i]);
        }
        add(e + chars(s.intermediates) + char(s.final));
    }
    void noAction() { add("none"); }

private:
    static std::string hex(std::uint32_t v) {
        char b[16];
        std::snprintf(b, sizeof b, "<%X>", v);
        return b;
    }
    static std::string chars(std::uint32_t packed) {
        std::string s;
        for (int shift = 16; shift >= 0; shift -= 8)
            if (packed >> shift & 0xFF) s += char(packed >> shift & 0xFF);
        return s;
    }
    void add(const std::string& e) {
        if (!log.empty()) log += ' ';
        log += e;
        inText = false;
    }
    void addText(const std::string& t) {
        if (!inText) {
            if (!log.empty()) log += ' ';
            log += '"';
            inText = true;
        } else {
            log.pop_back();
        }
        log += t + '"';
    }
    bool inText = false;
    static constexpr std::size_t kGuard = 64;
    static constexpr char32_t kUnwritten = 0xFFFFFFFF;
    std::vector<char32_t> place;
};

std::string decode(std::string_view bytes, std::size_t chunk, std::size_t room = 0) {
    Decoder decoder;
    Recorder recorder;
    recorder.room = room;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        decoder.feed(p + at, p + std::min(bytes.size(), at + chunk), recorder);
    return recorder.log;
}

std::string repeated(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST(Decoder, HandsOnWhatItRecognises) {
    const struct {
        std::string bytes;
        std::string events;
    } cases[] = {
        // Text and UTF-8: whole characters only; a breaking byte starts afresh.
        {"ab\xC3\xA9\xE2\x94\x80\xF0\x9F\x98\x80", "\"ab<E9><2500><1F600>+\""},
        {"\xC3" "A\xE2\x94" "B\xF0\x9F\x98\x1b" "c", "\"AB\" esc:c"},
        {"\xC0\x80\xC1\xBF\xE0\x9F\xBF\xED\xA0\x80\xF4\x90\x80\x80\xF5\x80\xFF\x80x", "\"x\""},
        {"a\xC2\x9B" "b\xC2\x80", "\"a\" none \"b\" none"},
        {"a\x7F" "b\x07\r\n\x0B\x0C\x0E\x0F", "\"ab\" ^<7> ^<D> ^<A> ^<B> ^<C> ^<E> ^<F>"},
        // Escape sequences, with intermediates, C0 inside, and abandoned.
        {ESC "7" ESC "(0" ESC ")B" ESC "#8" ESC " F", "esc:7 esc:(0 esc:)B esc:#8 esc: F"},
        {ESC "(\r0" ESC "(\x18" ESC "\r" ESC ESC "D" ESC "\x80", "^<D> esc:(0 none none none esc:D none"},
        // CSI: numbers, sub-parameters, markers, intermediates, invalid forms.
        {CSI "m" CSI "1;;38:2::1:2:3m" CSI "?25;1049l" CSI ">4;1m" CSI "2 q" CSI "1$r",
         "csi:0m csi:1;0;38:2:0:1:2:3m csi:?25;1049l csi:>4;1m csi:2 q csi:1$r"},
        {CSI "1?2H" CSI "1 2H" CSI "?1?2h" "x", "none none none \"x\""},
        {CSI "2\r\nA" CSI "3\x7F" "B" CSI "4\x18" "C" CSI "5" ESC "[6D" CSI "7\xC3" "E",
         "^<D> ^<A> csi:2A csi:3B none \"C\" none csi:6D none \"E\""},
        {CSI "99999;" + std::string(300, '1') + ";7H", "csi:32767;32767H"},  // 256 bytes count
        {CSI "4:" + std::string(300, ':') + "3m", "csi:4" + repeated(":0", 255) + "m"},  // ':' alike
        {CSI "?4:" + std::string(300, ':') + "3m", "csi:?4" + repeated(":0", 254) + "m"},  // and the marker
        // Past them, intermediates and markers are dropped like digits, and
        // leave the sequence as it was.
        {CSI "31" + std::string(254, ';') + "$1?2 mX", "csi:31" + repeated(";0", 254) + "m \"X\""},
        // Strings: OSC ends at BEL or ESC \; the others only at ESC; CAN and
        // SUB end all; ESC followed by anything else starts a new sequence.
        {ESC "]0;t\x07" "a" ESC "]2;t" ESC "\\b" ESC "P1$r\x07" "x" ESC "\\c", "none \"a\" none esc:\\ \"b\" none esc:\\ \"c\""},
        {ESC "_x\x18" "a" ESC "^x\x1A" "b" ESC "Xx" CSI "1m", "none \"a\" none \"b\" none csi:1m"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode(c.bytes, c.bytes.size()), c.events) << "bytes: " << c.bytes;
        for (std::size_t chunk = 1; chunk < c.bytes.size(); ++chunk)
            ASSERT_EQ(decode(c.bytes, chunk), c.events) << "in blocks of " << chunk << ", bytes: " << c.bytes;
    }
}

// Long text goes through a run decoder that byte-at-a-time feeding never
// reaches (it needs several bytes ahead): both must hand on the same, for
// well-formed and broken UTF-8 at every offset, mixed with controls.
TEST(Decoder, TextRunsDecodeAsByteAtATime) {
    static const char* const kPieces[] = {
        "a", "Z", " ", "~", "\xC3\xA9", "\xD0\x96", "\xE2\x94\x80", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80",
        // Edges: U+00A0, U+07FF, U+0800, U+D7FF, U+E000, U+FFFF, U+10000, U+10FFFF.
        "\xC2\xA0", "\xDF\xBF", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEE\x80\x80", "\xEF\xBF\xBF",
        "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
        // C1 controls, overlong forms, surrogates, beyond U+10FFFF, stray and cut-short bytes.
        "\xC2\x80", "\xC2\x9F", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\x80", "\xBF", "\xFF", "\xC3", "\xE2\x94", "\xF0\x9F\x98",
        "\r\n", "\x7F", "\x1B[1m", "\x1B[38;5;3m",
    };
    std::uint32_t seed = 1;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        const std::uint32_t pieces = 10 + next() % 200;
        // Mostly well-formed text, as programs write it, with a few faults.
        for (std::uint32_t i = 0; i < pieces; ++i)
            bytes += kPieces[next() % 4 == 0 ? next() % std::size(kPieces) : next() % 17];
        const std::string expected = decode(bytes, 1);
        ASSERT_EQ(decode(bytes, bytes.size()), expected) << "round " << round;
        ASSERT_EQ(decode(bytes, 1 + round % 23), expected) << "round " << round;
        // Into room in place, of every size up to a row and more.
        ASSERT_EQ(decode(bytes, bytes.size(), 1 + round % 130), expected) << "round " << round;
    }
}

// What the run decoder makes of the bytes on its own, in one of its forms:
// where it stopped, and the cells.
enum class RunForm { Portable, BitExtract, Avx2 };

std::string runOf(std::string_view bytes, RunForm form) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto* end = p + bytes.size();
    std::vector<char32_t> cells(bytes.size() + 32);
    const decoder_detail::DecodedRun run =
        form == RunForm::Avx2         ? decoder_detail::decodeUtf8WithAvx2(p, end - 11, end, cells.data())
        : form == RunForm::BitExtract ? decoder_detail::decodeUtf8WithBitExtract(p, end - 11, end, cells.data())
                                      : decoder_detail::decodeUtf8(p, end - 11, end, cells.data());
    std::string out = std::to_string(run.stop - p) + ":";
    for (std::size_t i = 0; i < run.count; ++i) out += std::to_string(cells[i]) + ",";
    return out;
}

// Text is decoded several bytes at a time, ASCII and beyond, with masks made
// for 64 bytes at once where that many lie ahead: every byte value, at every
// place in text of one-, two-, three- and four-byte characters and of all of
// them mixed, longer than two windows (so that characters straddle a
// window's edges at every alignment), must end the run, or go on with it, as
// byte-at-a-time feeding does. The run decoder's forms that the processor
// can run must agree with the portable one.
TEST(Decoder, EveryByteAtEveryOffsetDecodesAsByteAtATime) {
    std::vector<RunForm> forms;
    if (decoder_detail::hasBitExtract()) forms.push_back(RunForm::BitExtract);
    if (decoder_detail::hasBitExtract() && decoder_detail::hasAvx2()) forms.push_back(RunForm::Avx2);
    for (const std::string_view filler :
         {"x", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80", "ab\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"}) {
        std::string text;
        while (text.size() < 150) text += filler;
        for (int value = 0; value < 256; ++value) {
            for (std::size_t at = 0; at < 130; ++at) {
                std::string bytes = text;
                bytes[at] = static_cast<char>(value);
                ASSERT_EQ(decode(bytes, bytes.size()), decode(bytes, 1))
                    << "byte " << value << " at " << at << " in " << filler;
                const std::string portable = runOf(bytes, RunForm::Portable);
                for (const RunForm form : forms)
                    ASSERT_EQ(runOf(bytes, form), portable) << "byte " << value << " at " << at << " in " << filler
                                                            << " (form " << static_cast<int>(form) << ")";
            }
        }
    }
}

// Long runs are handed on in pieces of a few hundred bytes: a character that
// straddles a piece's end, or a block's, comes out whole, at any alignment.
TEST(Decoder, LongRunsComeOutWholeAtAnyAlignment) {
    for (const std::string_view piece : {"\xC3\xA9", "\xE4\xB8\xAD" "a", "\xF0\x9F\x98\x80\xD0\x96",
                                         "ab\xE2\x94\x80"}) {
        for (std::size_t lead = 0; lead < 4; ++lead) {
            std::string bytes(lead, 'a');
            while (bytes.size() < 1500) bytes += piece;
            const std::string expected = decode(bytes, 1);
            ASSERT_EQ(decode(bytes, bytes.size()), expected) << piece << " after " << lead;
            for (std::size_t block : {255, 256, 257, 4096})
                ASSERT_EQ(decode(bytes, block), expected) << piece << " after " << lead << " in blocks of " << block;
            for (std::size_t room : {1, 9, 10, 11, 120, 400})
                ASSERT_EQ(decode(bytes, 4096, room), expected) << piece << " after " << lead << " in room " << room;
        }
    }
}

}  // namespace
}  // namespace vtsnap::test
