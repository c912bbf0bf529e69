// The byte-stream decoder: a small table-driven state machine that turns the
// child's bytes into text, controls and complete sequences for a handler. It
// knows nothing of the grid, never allocates, and keeps all of its state here,
// so that any sequence or character may be split across blocks.
//
// A handler provides:
//   void printAscii(const std::uint8_t* text, std::size_t count);  // 0x20-0x7E
//   void printCells(const char32_t* cells, std::size_t count);  // text as cells
//   char32_t* cellRoom(std::size_t& room);  // where cells may go in place, or null
//   void printedCells(const char32_t* cells, std::size_t count);  // the same, written there
//   void print(char32_t c);                  // a valid character from U+00A0 up
//   void execute(std::uint8_t control);      // a C0 control other than ESC
//   void escDispatch(std::uint32_t intermediates, std::uint8_t final);
//   void csiDispatch(const CsiSequence& sequence);
//   void noAction();   // a C1 control, a string, or an invalid sequence ended
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "terminal/cell.hpp"
#include "terminal/char_width.hpp"
#include "terminal/csi_params.hpp"
#include "terminal/widen.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace vtsnap {

enum class ParserState : std::uint8_t {
    Ground,
    Escape,
    EscapeIntermediate,
    CsiEntry,
    CsiParam,
    CsiIntermediate,
    CsiIgnore,
    OscString,
    String,  // DCS, SOS, PM and APC: skipped like OSC, but BEL does not end them
};
inline constexpr int kParserStates = 9;

namespace decoder_detail {

// What a byte does in a state other than Ground, besides moving to the next state.
enum class Action : std::uint8_t {
    None,         // the byte is dropped
    Execute,      // a C0 control carried out inside a sequence
    Clear,        // a new sequence begins
    Collect,      // an intermediate byte
    Marker,       // a private marker as the first byte of a CSI sequence
    Param,        // a digit, ';' or ':'
    EscDispatch,
    CsiDispatch,
    Abandon,      // the sequence or string ends without an action
};

struct Transition {
    Action action;
    ParserState next;
};

using Table = std::array<std::array<Transition, 256>, kParserStates>;

constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kBel = 0x07;
constexpr std::uint8_t kCan = 0x18;
constexpr std::uint8_t kSub = 0x1A;
constexpr std::uint8_t kDel = 0x7F;

constexpr bool isC0(unsigned b) { return b < 0x20; }
constexpr bool isFinalByte(unsigned b) { return b >= 0x40 && b <= 0x7E; }

constexpr Table makeTable() {
    Table t{};
    using S = ParserState;
    using A = Action;
    for (int s = 0; s < kParserStates; ++s) {
        const auto state = static_cast<S>(s);
        for (unsigned b = 0; b < 256; ++b) {
            Transition& x = t[static_cast<std::size_t>(s)][b];
            x = {A::None, state};  // DEL, and what a state does not name, is dropped
            // Everywhere: ESC starts a new sequence, abandoning any other;
            // CAN and SUB abandon it.
            if (b == kEsc) {
                x = {A::Clear, S::Escape};
                continue;
            }
            if (b == kCan || b == kSub) {
                x = {A::Abandon, S::Ground};
                continue;
            }
            if (b == kDel) continue;
            switch (state) {
            case S::Ground:
                break;  // decoded in code, not through the table
            case S::Escape:
                // A C0 control or a byte from 0x80 up ends the escape and is
                // dropped with it.
                if (isC0(b) || b >= 0x80) x = {A::Abandon, S::Ground};
                else if (b <= 0x2F) x = {A::Collect, S::EscapeIntermediate};
                else if (b == '[') x = {A::Clear, S::CsiEntry};
                else if (b == ']') x = {A::None, S::OscString};
                else if (b == 'P' || b == 'X' || b == '^' || b == '_') x = {A::None, S::String};
                else x = {A::EscDispatch, S::Ground};
                break;
            case S::EscapeIntermediate:
                if (isC0(b)) x = {A::Execute, state};
                else if (b <= 0x2F) x = {A::Collect, state};
                else if (b <= 0x7E) x = {A::EscDispatch, S::Ground};
                else x = {A::Abandon, S::Ground};
                break;
            case S::CsiEntry:
            case S::CsiParam:
                if (isC0(b)) x = {A::Execute, state};
                else if (b >= '0' && b <= ';') x = {A::Param, S::CsiParam};
                // A marker counts only as the first byte.
                else if (b >= '<' && b <= '?') x = state == S::CsiEntry ? Transition{A::Marker, S::CsiParam}
                                                                        : Transition{A::None, S::CsiIgnore};
                else if (b <= 0x2F) x = {A::Collect, S::CsiIntermediate};
                else if (b <= 0x7E) x = {A::CsiDispatch, S::Ground};
                else x = {A::Abandon, S::Ground};
                break;
            case S::CsiIntermediate:
                if (isC0(b)) x = {A::Execute, state};
                else if (b <= 0x2F) x = {A::Collect, state};
                else if (b <= 0x3F) x = {A::None, S::CsiIgnore};  // a parameter after an intermediate
                else if (b <= 0x7E) x = {A::CsiDispatch, S::Ground};
                else x = {A::Abandon, S::Ground};
                break;
            case S::CsiIgnore:
                // Consumed up to its final byte, then nothing happens.
                if (isC0(b)) x = {A::Execute, state};
                else if (b >= 0x40 && b <= 0x7E) x = {A::Abandon, S::Ground};
                else if (b >= 0x80) x = {A::Abandon, S::Ground};
                break;
            case S::OscString:
                if (b == kBel) x = {A::Abandon, S::Ground};
                break;
            case S::String:
                break;
            }
        }
    }
    return t;
}

inline constexpr Table kTable = makeTable();

}  // namespace decoder_detail

class Decoder {
public:
    ParserState state() const { return state_; }

    template <class Handler>
    void feed(const std::uint8_t* p, const std::uint8_t* end, Handler& handler);

private:
    template <class Handler>
    const std::uint8_t* ground(const std::uint8_t* p, const std::uint8_t* end, Handler& handler);
    template <class Handler>
    void sequenceByte(std::uint8_t b, Handler& handler);
    template <class Handler>
    const std::uint8_t* csiParams(const std::uint8_t* p, const std::uint8_t* end, Handler& handler);
    template <class Handler>
    const std::uint8_t* csiParamsStopped(const std::uint8_t* p, const std::uint8_t* stop, const std::uint8_t* end,
                                         Handler& handler);
    template <class Handler>
    void csiDispatch(std::uint32_t intermediates, std::uint8_t final, Handler& handler);
    template <class Handler>
    void emit(std::uint32_t codePoint, Handler& handler);
    template <class Handler>
    const std::uint8_t* utf8Run(const std::uint8_t* p, const std::uint8_t* end, Handler& handler);
    template <class Handler>
    bool continueUtf8(std::uint8_t b, Handler& handler);
    void startUtf8(std::uint8_t lead);

    ParserState state_ = ParserState::Ground;
    CsiSequence csi_;
    std::uint32_t intermediates_ = 0;
    // A UTF-8 character in progress: its bits so far, the continuation bytes
    // still due, and the range the next one must lie in (which rules out
    // overlong forms, surrogates and values beyond U+10FFFF).
    std::uint32_t utf8Value_ = 0;
    std::uint8_t utf8Pending_ = 0;
    std::uint8_t utf8Low_ = 0x80;
    std::uint8_t utf8High_ = 0xBF;
};

namespace decoder_detail {

// A word's bytes that end a run of printable ASCII (0x20-0x7E), as their top
// bits: a byte's top bit ends up set when it is below 0x20, when it is 0x7F
// (adding 1 carries into the top bit), or when it had it already. Borrows and
// carries only run upwards from a byte that is flagged anyway, so the lowest
// flagged byte is the first one that ends the run. (Bytes are read
// little-endian, as on every machine we build for.)
inline std::uint64_t printableStops(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    return ((word - kOnes * 0x20) | (word + kOnes) | word) & kHigh;
}

// The end of a run of printable ASCII starting at `p`: sixteen bytes at a
// time where SSE2 is (every x86-64), then eight.
inline const std::uint8_t* asciiTextEnd(const std::uint8_t* p, const std::uint8_t* end) {
#if defined(__SSE2__)
    // Adding 0x60 takes 0x20-0x7E, and nothing else, to the signed bytes
    // below -33.
    const __m128i shift = _mm_set1_epi8(0x60);
    const __m128i limit = _mm_set1_epi8(-33);
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i printable = _mm_cmplt_epi8(_mm_add_epi8(bytes, shift), limit);
        if (const auto stops = static_cast<std::uint32_t>(~_mm_movemask_epi8(printable)) & 0xFFFFu; stops != 0)
            return p + std::countr_zero(stops);
        p += 16;
    }
#endif
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (const std::uint64_t stops = printableStops(word); stops != 0) return p + std::countr_zero(stops) / 8;
        p += 8;
    }
    while (p < end && *p >= 0x20 && *p < 0x7F) ++p;
    return p;
}

// Lead bytes of well-formed UTF-8: the continuation bytes that follow, and the
// range the first of them must lie in. 0 continuations: not a lead byte.
struct Utf8Lead {
    std::uint8_t continuations;
    std::uint8_t low;
    std::uint8_t high;
};

constexpr Utf8Lead classifyLead(unsigned b) {
    if (b >= 0xC2 && b <= 0xDF) return {1, 0x80, 0xBF};
    if (b == 0xE0) return {2, 0xA0, 0xBF};
    if (b == 0xED) return {2, 0x80, 0x9F};  // no surrogates
    if (b >= 0xE1 && b <= 0xEF) return {2, 0x80, 0xBF};
    if (b == 0xF0) return {3, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {3, 0x80, 0xBF};
    if (b == 0xF4) return {3, 0x80, 0x8F};  // nothing beyond U+10FFFF
    return {0, 0, 0};  // continuation bytes, C0, C1 (overlong) and F5-FF
}

constexpr std::array<Utf8Lead, 256> makeLeadTable() {
    std::array<Utf8Lead, 256> table{};
    for (unsigned b = 0; b < 256; ++b) table[b] = classifyLead(b);
    return table;
}

inline constexpr std::array<Utf8Lead, 256> kUtf8Leads = makeLeadTable();

inline Utf8Lead utf8Lead(std::uint8_t b) { return kUtf8Leads[b]; }

// What a byte says of the well-formed character beyond ASCII it would start,
// for the run decoder: the checks that need no branch of their own, and how
// to decode it. The ranges the second byte must lie in come to ranges of the
// code point: below the least one of its length (an overlong form), or one
// that is never shown (a surrogate, a C1 control, beyond U+10FFFF), which the
// width answers. A byte that starts no character fails the first check.
struct Utf8Start {
    std::uint32_t contMask;   // the bytes after the lead, where the character
    std::uint32_t contWant;   // has them, must be continuation bytes
    std::uint32_t least;      // the least code point of the character's length
    std::uint32_t leadBits;   // the lead's bits, in place
    std::uint32_t shift;      // 6 * (4 - length): drops the bits a short character lacks
    std::uint32_t fields;     // the character's bits in its bytes, read big-endian
    std::uint32_t unused[2];  // 32 bytes: an index scales by a shift
};

constexpr std::array<Utf8Start, 256> makeStartTable() {
    std::array<Utf8Start, 256> table{};
    for (unsigned b = 0; b < 0x100; ++b) {
        const Utf8Lead lead = classifyLead(b);
        Utf8Start& s = table[b];
        if (lead.continuations == 0) {
            s.contWant = 1;  // nothing passes
            continue;
        }
        const unsigned length = lead.continuations + 1u;
        for (unsigned i = 1; i < length; ++i) {
            s.contMask |= 0xC0u << (8 * i);
            s.contWant |= 0x80u << (8 * i);
        }
        s.least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        s.leadBits = (b & (0x7Fu >> length)) << (6 * (length - 1));
        s.shift = 6 * (4 - length);
        s.fields = (0x7Fu >> length) << 24;
        for (unsigned i = 1; i < length; ++i) s.fields |= 0x3Fu << (24 - 8 * i);
    }
    return table;
}

inline constexpr std::array<Utf8Start, 256> kUtf8Starts = makeStartTable();

}  // namespace decoder_detail

template <class Handler>
void Decoder::feed(const std::uint8_t* p, const std::uint8_t* end, Handler& handler) {
    while (p < end) {
        switch (state_) {
        case ParserState::Ground:
            p = ground(p, end, handler);
            break;
        case ParserState::CsiEntry:
        case ParserState::CsiParam:
            p = csiParams(p, end, handler);
            break;
        default:
            // Other sequences are short and rare: one table lookup per byte.
            sequenceByte(*p++, handler);
            break;
        }
    }
}

// Every complete CSI sequence ends here, whichever way its bytes came, in the
// Ground state. The record is cleared when the next sequence begins.
template <class Handler>
inline void Decoder::csiDispatch(std::uint32_t intermediates, std::uint8_t final, Handler& handler) {
    csi_.params.finish();
    csi_.intermediates = intermediates;
    csi_.final = final;
    handler.csiDispatch(csi_);
}

// Digits, ';' and ':' make up nearly every CSI sequence (SGR above all): they
// are read in one tight loop, and a final byte straight after them goes to
// the dispatch. (The text loop starts sequences the same way, inline.)
template <class Handler>
const std::uint8_t* Decoder::csiParams(const std::uint8_t* p, const std::uint8_t* end, Handler& handler) {
    const std::uint8_t* stop = csi_.params.readNumbers(p, end);
    if (stop != end && decoder_detail::isFinalByte(*stop)) {
        state_ = ParserState::Ground;
        csiDispatch(intermediates_, *stop, handler);
        return stop + 1;
    }
    return csiParamsStopped(p, stop, end, handler);
}

// The run of parameters read from p stopped at `stop` on another byte, or at
// the end of the block: the table takes that byte.
template <class Handler>
[[gnu::noinline]] const std::uint8_t* Decoder::csiParamsStopped(const std::uint8_t* p, const std::uint8_t* stop,
                                                                const std::uint8_t* end, Handler& handler) {
    if (stop != p)
        state_ = ParserState::CsiParam;
    else if (state_ == ParserState::Ground)
        state_ = ParserState::CsiEntry;
    if (stop == end) return stop;
    sequenceByte(*stop, handler);
    return stop + 1;
}

// Text and controls until the block ends or a sequence begins.
template <class Handler>
const std::uint8_t* Decoder::ground(const std::uint8_t* p, const std::uint8_t* end, Handler& handler) {
    using namespace decoder_detail;
    if (utf8Pending_ != 0) {
        // The rest of a character cut by the end of the last block.
        while (p < end && utf8Pending_ != 0)
            if (continueUtf8(*p, handler)) ++p;
        if (p == end) return p;
    }
    while (p < end) {
        const std::uint8_t b = *p;
        if (b >= 0x20 && b < 0x7F) {
            const std::uint8_t* runEnd = asciiTextEnd(p + 1, end);
            // A short run that UTF-8 follows goes with it, in one hand-over.
            if (runEnd - p < 32 && runEnd != end && *runEnd >= 0x80) {
                if (const std::uint8_t* textEnd = utf8Run(p, end, handler); textEnd != p) {
                    p = textEnd;
                    continue;
                }
            }
            handler.printAscii(p, static_cast<std::size_t>(runEnd - p));
            p = runEnd;
            continue;
        }
        if (b < 0x20) {
            ++p;
            if (b == kEsc) {
                intermediates_ = 0;
                // ESC [ is by far the most common: straight into the sequence,
                // with none of the state that a clear would reset read back.
                // Most end in the same block, and text goes on in this loop.
                if (p < end && *p == '[') {
                    csi_.marker = 0;
                    const std::uint8_t* stop = csi_.params.readNumbers<true>(++p, end);
                    if (stop != end && isFinalByte(*stop)) [[likely]] {
                        csiDispatch(0, *stop, handler);
                        p = stop + 1;
                        continue;
                    }
                    p = csiParamsStopped(p, stop, end, handler);
                    if (state_ != ParserState::Ground) return p;
                    continue;
                }
                state_ = ParserState::Escape;
                return p;
            }
            handler.execute(b);
            continue;
        }
        if (b == kDel) {
            ++p;
            continue;
        }
        const std::uint8_t* runEnd = utf8Run(p, end, handler);
        if (runEnd != p) {
            p = runEnd;
            continue;
        }
        // A character broken, or cut by the end of the block: byte by byte.
        // A byte that breaks it ends it and is decoded afresh.
        if (utf8Lead(b).continuations == 0) {
            ++p;  // stray or invalid: dropped
            continue;
        }
        startUtf8(b);
        ++p;
        while (p < end && utf8Pending_ != 0)
            if (continueUtf8(*p, handler)) ++p;
    }
    return p;
}

namespace decoder_detail {

// The bytes decoded before a hand-over, at most.
inline constexpr std::size_t kRunBytes = 256;

// Room for cells that a run never fills: the bytes bound it.
inline constexpr std::size_t kAnyRoom = std::size_t{1} << 40;

struct DecodedRun {
    const std::uint8_t* stop;
    std::size_t count;  // cells written
};

#if defined(__SSE2__)
// What each of 64 bytes is, a bit a byte: not printable ASCII (where a step's
// run of ASCII stops), 0xE0 and up, 0xF0 and up (what a lead's length needs).
struct TextMasks {
    std::uint64_t stops;
    std::uint64_t three;
    std::uint64_t four;
};

inline TextMasks textMasks(const std::uint8_t* p) {
    // As in asciiTextEnd. A byte added to itself is shifted left by one, so
    // the top bits of b & 2b & 4b say whether b is 0xE0 or above, and with 8b
    // 0xF0.
    const __m128i shift = _mm_set1_epi8(0x60);
    const __m128i limit = _mm_set1_epi8(-33);
    TextMasks m{0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
        const __m128i v2 = _mm_add_epi8(v, v);
        const __m128i v4 = _mm_add_epi8(v2, v2);
        const __m128i three = _mm_and_si128(_mm_and_si128(v, v2), v4);
        const auto printable = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmplt_epi8(_mm_add_epi8(v, shift), limit)));
        m.stops |= static_cast<std::uint64_t>(printable ^ 0xFFFF) << (16 * i);
        m.three |= static_cast<std::uint64_t>(_mm_movemask_epi8(three)) << (16 * i);
        m.four |= static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_and_si128(three, _mm_add_epi8(v4, v4)))) << (16 * i);
    }
    return m;
}
#endif

#if defined(__x86_64__) && defined(__GNUC__)
// The same masks and the same widening with AVX2, for the form compiled for
// it: 32 bytes an instruction where SSE2 takes 16.
[[gnu::target("avx2")]] inline TextMasks textMasksAvx2(const std::uint8_t* p) {
    const __m256i shift = _mm256_set1_epi8(0x60);
    const __m256i limit = _mm256_set1_epi8(-33);
    TextMasks m{0, 0, 0};
    for (int i = 0; i < 2; ++i) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
        const __m256i v2 = _mm256_add_epi8(v, v);
        const __m256i v4 = _mm256_add_epi8(v2, v2);
        const __m256i three = _mm256_and_si256(_mm256_and_si256(v, v2), v4);
        const auto printable =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(limit, _mm256_add_epi8(v, shift))));
        m.stops |= static_cast<std::uint64_t>(~printable) << (32 * i);
        m.three |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(three))) << (32 * i);
        m.four |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(
                      _mm256_movemask_epi8(_mm256_and_si256(three, _mm256_add_epi8(v4, v4)))))
                  << (32 * i);
    }
    return m;
}

[[gnu::target("avx2")]] inline void widenBytesAvx2(char32_t* out, const std::uint8_t* in) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in))));
}
#endif

// Whether the processor gathers bits under a mask in one fast instruction
// (BMI2's PEXT): found once. AMD's processors before Zen 3 (family 0x19), and
// Hygon's built on them, have it but decode it in microcode, where it takes
// up to hundreds of cycles: they take the portable step. The build targets
// baseline x86-64, so the instruction is written out rather than left to the
// compiler.
#if defined(__x86_64__) && defined(__GNUC__)
inline bool hasBitExtract() {
    static const bool has = [] {
        __builtin_cpu_init();
        if (!__builtin_cpu_supports("bmi2")) return false;
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return false;
        const bool amd = ebx == 0x68747541u || ebx == 0x6F677948u;  // "Auth"enticAMD, "Hygo"nGenuine
        if (!amd) return true;
        if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
        unsigned family = (eax >> 8) & 0xF;
        if (family == 0xF) family += (eax >> 20) & 0xFF;
        return family >= 0x19;
    }();
    return has;
}

// Whether the processor has AVX2 (with the OS keeping its registers): found
// once.
inline bool hasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

inline std::uint32_t bitExtract(std::uint32_t value, std::uint32_t mask) {
    std::uint32_t out;
    asm("pext %2, %1, %0" : "=r"(out) : "r"(value), "rm"(mask));
    return out;
}
#else
inline bool hasBitExtract() { return false; }
inline bool hasAvx2() { return false; }
inline std::uint32_t bitExtract(std::uint32_t, std::uint32_t) { return 0; }
#endif

// The character beyond ASCII at p, written as the cells it takes: its width,
// or 0 or less when it is broken or never shown. One branch for the checks
// (a control or DEL fails them), and one for the width: they are nearly
// always not taken.
template <bool kBitExtract>
[[gnu::always_inline]] inline int decodeCharacter(const std::uint8_t* p, char32_t* cells) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    const Utf8Start& start = kUtf8Starts[w & 0xFF];
    char32_t c;
    if constexpr (kBitExtract) {
        c = bitExtract(__builtin_bswap32(w), start.fields);
    } else {
        const std::uint32_t tail = ((w >> 8 & 0x3F) << 12) | ((w >> 16 & 0x3F) << 6) | (w >> 24 & 0x3F);
        c = start.leadBits | tail >> start.shift;
    }
    if (((w & start.contMask) != start.contWant) | (c < start.least)) return 0;
    const int width = charWidth(c);
    // The character and a wide one's second cell, in one store.
    const std::uint64_t pair = c | static_cast<std::uint64_t>(kWideContinuation) << 32;
    std::memcpy(cells, &pair, sizeof pair);
    return width;
}

// Decodes text from p, as long as p is at most `last`, into the cells it
// takes (a wide character two), until a byte comes that is not printable
// ASCII or part of a well-formed character beyond it. No character takes more
// cells than bytes, so `cells` needs room for last - p + 16. Marks and
// characters that are never shown end the run too: they go one at a time.
//
// In mixed text, whether the next character is ASCII and how long it is are
// both random, so branching on them mispredicts several times per word. Each
// step here takes instead the run of printable ASCII that starts the next
// eight bytes and the one character after it, with no branch that depends on
// either: the run is copied eight at a time and only its length counts,
// and the character is checked and decoded through a table on its lead byte
// (its bits gathered by PEXT where the processor has it: kBitExtract).
// Where 64 bytes lie ahead, the step finds the run's length and the lead's
// in bit masks made for all 64 at once: what the next step's position waits
// for is then a few operations on registers rather than a load and the
// arithmetic on the word it loads. Nothing here calls out, so the loop keeps
// its registers. With kAvx2 the masks and the widening take AVX2's wider
// registers.
template <bool kBitExtract, bool kAvx2 = false>
[[gnu::always_inline]] inline DecodedRun decodeUtf8Steps(const std::uint8_t* p, const std::uint8_t* last,
                                                        const std::uint8_t* end, char32_t* cells,
                                                        std::size_t room) {
    std::size_t n = 0;
#if defined(__SSE2__)
    while (p <= last && end - p >= 64) {
        TextMasks m;
#if defined(__x86_64__) && defined(__GNUC__)
        if constexpr (kAvx2)
            m = textMasksAvx2(p);
        else
#endif
            m = textMasks(p);
        // A step reads at most 8 bytes from where it starts and 4 from its
        // lead: from below 48 on, all of them lie in the window.
        // And the cells stay within `room`: a step writes at most 9 beyond
        // the cells before it, which are no more than its bytes.
        const auto cellsLeft = static_cast<std::ptrdiff_t>(room - n) - 9;
        if (cellsLeft <= 0) return {p, n};
        const std::uint64_t limit =
            static_cast<std::uint64_t>(std::min<std::ptrdiff_t>(std::min<std::ptrdiff_t>(48, last - p + 1), cellsLeft));
        // Each lead's bytes beyond two, in two bits from its place: a
        // three-byte lead sets the first, a four-byte one the second (the
        // byte after a lead is no lead, so nothing overlaps).
        const std::uint64_t longer = (m.three & ~m.four) | (m.four << 1);
        std::uint64_t at = 0;
        while (at < limit) {
#if defined(__x86_64__) && defined(__GNUC__)
            if constexpr (kAvx2)
                widenBytesAvx2(cells + n, p + at);
            else
#endif
                widenBytes<8>(cells + n, p + at);
            // At most 8: a stop past the step's bytes counts as one there.
            const auto ascii = static_cast<unsigned>(std::countr_zero((m.stops >> at) | 0x100));
            if (ascii == 8) {
                n += 8;
                at += 8;
                continue;
            }
            n += ascii;
            at += ascii;
            const int width = decodeCharacter<kBitExtract>(p + at, cells + n);
            if (width <= 0) return {p + at, n};
            n += static_cast<unsigned>(width);
            at += 2u + (longer >> at & 3);
        }
        p += at;
    }
#endif
    while (p <= last && n + 9 <= room) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        widenBytes<8>(cells + n, p);
        const auto ascii = static_cast<unsigned>(std::countr_zero(printableStops(word))) / 8;
        n += ascii;
        p += ascii;
        if (ascii == 8) continue;
        // From the word already loaded: a load would lengthen the chain from
        // one step's position to the next.
        const auto lead = static_cast<std::uint8_t>(word >> (8 * ascii));
        const int width = decodeCharacter<kBitExtract>(p, cells + n);
        if (width <= 0) break;
        n += static_cast<unsigned>(width);
        // The length in compares, for the same reason (a lead that is not
        // one failed the checks).
        p += 2u + (lead >= 0xE0) + (lead >= 0xF0);
    }
    return {p, n};
}

// The same with the bit gathering, and compiled for processors that have it
// (so that shifts by a register take one instruction).
#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("bmi,bmi2")]]
#endif
inline DecodedRun decodeUtf8WithBitExtract(const std::uint8_t* p, const std::uint8_t* last, const std::uint8_t* end,
                                           char32_t* cells, std::size_t room = kAnyRoom) {
    return decodeUtf8Steps<true>(p, last, end, cells, room);
}

// And with AVX2 as well, where the processor has it.
#if defined(__x86_64__) && defined(__GNUC__)
[[gnu::target("avx2,bmi,bmi2"), gnu::flatten]]
#endif
inline DecodedRun decodeUtf8WithAvx2(const std::uint8_t* p, const std::uint8_t* last, const std::uint8_t* end,
                                     char32_t* cells, std::size_t room = kAnyRoom) {
    return decodeUtf8Steps<true, true>(p, last, end, cells, room);
}

inline DecodedRun decodeUtf8(const std::uint8_t* p, const std::uint8_t* last, const std::uint8_t* end,
                             char32_t* cells, std::size_t room = kAnyRoom) {
    return decodeUtf8Steps<false>(p, last, end, cells, room);
}

}  // namespace decoder_detail

// Text that holds characters beyond ASCII, from `p` up to the first control,
// DEL, or a character that is broken or cut short, handed on as cells; the
// last few bytes of a block are left to the byte-at-a-time path. Returns
// where it stopped.
template <class Handler>
const std::uint8_t* Decoder::utf8Run(const std::uint8_t* p, const std::uint8_t* end, Handler& handler) {
    using namespace decoder_detail;
    // A step reads the next 8 bytes, and up to 4 from the last of them, and
    // writes at most 9 cells beyond where it starts.
    if (end - p < 11) return p;
    const std::uint8_t* const last = end - 11;
    // Straight into the handler's storage where it has room: no copy from
    // the buffer. The cells, not the bytes, are bounded by the room.
    std::size_t room = 0;
    if (char32_t* place = handler.cellRoom(room); place != nullptr) {
        const DecodedRun run = !hasBitExtract() ? decodeUtf8(p, last, end, place, room)
                               : hasAvx2()      ? decodeUtf8WithAvx2(p, last, end, place, room)
                                                : decodeUtf8WithBitExtract(p, last, end, place, room);
        if (run.count > 0) handler.printedCells(place, run.count);
        p = run.stop;
        // The rest, where the room ran out, goes on below.
        if (p > last || run.count + 9 < room) return p;
    }
    char32_t cells[kRunBytes + 16];
    for (;;) {
        const std::uint8_t* const share = last - p > static_cast<std::ptrdiff_t>(kRunBytes) ? p + kRunBytes : last;
        const DecodedRun run = !hasBitExtract() ? decodeUtf8(p, share, end, cells)
                               : hasAvx2()      ? decodeUtf8WithAvx2(p, share, end, cells)
                                                : decodeUtf8WithBitExtract(p, share, end, cells);
        if (run.count > 0) handler.printCells(cells, run.count);
        p = run.stop;
        // Only a run that went past its share of the bytes may go on.
        if (p <= share || share == last) return p;
    }
}

inline void Decoder::startUtf8(std::uint8_t lead) {
    const decoder_detail::Utf8Lead l = decoder_detail::utf8Lead(lead);
    utf8Pending_ = l.continuations;
    utf8Low_ = l.low;
    utf8High_ = l.high;
    utf8Value_ = lead & (0x7Fu >> (l.continuations + 1));
}

// Takes `b` as the next byte of the pending character. False when `b` does
// not belong to it: the character is dropped and `b` must be decoded afresh.
template <class Handler>
bool Decoder::continueUtf8(std::uint8_t b, Handler& handler) {
    if (b < utf8Low_ || b > utf8High_) {
        utf8Pending_ = 0;
        utf8Value_ = 0;
        return false;
    }
    utf8Low_ = 0x80;
    utf8High_ = 0xBF;
    utf8Value_ = (utf8Value_ << 6) | (b & 0x3Fu);
    if (--utf8Pending_ == 0) {
        emit(utf8Value_, handler);
        utf8Value_ = 0;
    }
    return true;
}

// C1 controls are never written: as text they could smuggle a control into
// the file.
template <class Handler>
inline void Decoder::emit(std::uint32_t codePoint, Handler& handler) {
    if (codePoint < 0xA0)
        handler.noAction();
    else
        handler.print(static_cast<char32_t>(codePoint));
}

template <class Handler>
void Decoder::sequenceByte(std::uint8_t b, Handler& handler) {
    using namespace decoder_detail;
    const ParserState from = state_;
    // Parameter and intermediate bytes past the first 256 are dropped, and
    // so cannot make the sequence one that is ignored.
    if (b >= 0x20 && b <= 0x3F && csi_.params.full() &&
        (from == ParserState::CsiParam || from == ParserState::CsiIntermediate))
        return;
    const Transition t = kTable[static_cast<std::size_t>(from)][b];
    state_ = t.next;
    switch (t.action) {
    case Action::None:
        break;
    case Action::Execute:
        handler.execute(b);
        break;
    case Action::Clear:
        // ESC inside a string ends it; inside a sequence (a lone ESC
        // included) it abandons it.
        if (b == kEsc) handler.noAction();
        intermediates_ = 0;
        csi_.clear();
        break;
    case Action::Collect:
        // Up to three intermediates are told apart; more make the sequence
        // one that matches nothing.
        if (from != ParserState::Escape && from != ParserState::EscapeIntermediate && !csi_.params.take()) break;
        if (intermediates_ < 0x10000u)
            intermediates_ = (intermediates_ << 8) | b;
        else
            intermediates_ = kTooManyIntermediates;
        break;
    case Action::Marker:
        csi_.params.take();
        csi_.marker = b;
        break;
    case Action::Param:
        csi_.params.readNumbers(&b, &b + 1);
        break;
    case Action::EscDispatch:
        handler.escDispatch(intermediates_, b);
        break;
    case Action::CsiDispatch:
        csiDispatch(intermediates_, b, handler);
        break;
    case Action::Abandon:
        handler.noAction();
        break;
    }
}

}  // namespace vtsnap
