// The parameters of a control sequence, collected by the decoder as their
// bytes arrive, in fixed-capacity storage so that decoding never allocates.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace vtsnap {

// Intermediates of a sequence that has more of them than anything uses.
inline constexpr std::uint32_t kTooManyIntermediates = 0xFFFFFFFFu;

// The numbers of one sequence in order. ';' starts a parameter, ':' a
// sub-parameter of the one before it. Never empty: no digits give one 0.
// Each value is 0 to 32767; an empty field is 0. Only the first 256 bytes of
// parameters, markers and intermediates count; the rest are read and dropped.
class CsiParams {
public:
    static constexpr std::size_t kMaxBytes = 256;
    static constexpr std::size_t kCapacity = kMaxBytes + 1;
    static constexpr std::int32_t kMaxValue = 32767;

    std::size_t size() const { return size_; }
    std::int32_t operator[](std::size_t i) const { return values_[i]; }
    // True when value i came after ':'.
    bool isSub(std::size_t i) const { return sub_[i] != 0; }
    // True when any value came after ':'.
    bool hasSubs() const { return hasSubs_; }
    // Parameter i's value without its sub-parameters; 0 when absent.
    // (Callers index top-level parameters with `nth`.)
    std::int32_t nth(std::size_t n) const {
        for (std::size_t i = 0; i < size_; ++i) {
            if (sub_[i]) continue;
            if (n-- == 0) return values_[i];
        }
        return 0;
    }
    // Number of top-level parameters.
    std::size_t count() const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < size_; ++i) n += sub_[i] ? 0 : 1;
        return n;
    }

    void clear() {
        size_ = 0;
        values_[0] = 0;
        sub_[0] = 0;
        hasSubs_ = false;
        bytes_ = 0;
    }
    // True once the first 256 bytes are taken: the rest change nothing.
    bool full() const { return bytes_ == kMaxBytes; }
    // Counts a byte of the sequence; false once the first 256 are taken.
    bool take() {
        if (bytes_ == kMaxBytes) return false;
        ++bytes_;
        return true;
    }
    // Ends the list: the field being read becomes its last value.
    void finish() { ++size_; }

    // Reads parameter bytes at p: digits, ';' and ':', with the field being
    // read kept in registers, up to the first other byte; returns where it
    // stopped. Whole sequences and pieces cut by a block's end go through
    // here alike: it keeps the 256-byte count and the cap on values. Bytes
    // past the first 256 are read, but change nothing. `Fresh`: the list is
    // empty so far, whatever it holds (a sequence that starts here), which
    // spares loading what a clear would have stored.
    template <bool Fresh = false>
    const std::uint8_t* readNumbers(const std::uint8_t* p, const std::uint8_t* end) {
        std::int32_t value = Fresh ? 0 : values_[size_];
        std::size_t size = Fresh ? 0 : size_;
        std::uint8_t nextIsSub = Fresh ? 0 : sub_[size_];
        const std::size_t before = Fresh ? 0 : bytes_;
        std::uint8_t anySub = 0;
        const std::uint8_t* const counted = end - p > std::ptrdiff_t(kMaxBytes - before) ? p + (kMaxBytes - before) : end;
        const std::uint8_t* const start = p;
        for (; p < counted; ++p) {
            const unsigned d = static_cast<unsigned>(*p - '0');
            if (d < 10) {
                value = std::min(value * 10 + static_cast<std::int32_t>(d), kMaxValue);
            } else if (d - 10 < 2) {  // ':' or ';'
                values_[size] = value;
                sub_[size] = nextIsSub;
                ++size;
                value = 0;
                nextIsSub = d == 10;
                anySub |= nextIsSub;
            } else {
                break;
            }
        }
        bytes_ = before + static_cast<std::size_t>(p - start);
        if (p == counted)
            while (p < end && static_cast<unsigned>(*p - '0') < 12) ++p;
        values_[size] = value;
        sub_[size] = nextIsSub;
        size_ = size;
        hasSubs_ = (!Fresh && hasSubs_) || anySub != 0;
        return p;
    }

private:
    // Values 0 .. size_ - 1 are complete; while the list is read, values_[size_]
    // and sub_[size_] hold the field being read. 256 bytes hold at most 256
    // separators, so there is always room.
    std::array<std::int32_t, kCapacity> values_;
    std::array<std::uint8_t, kCapacity> sub_;
    std::size_t size_ = 0;
    bool hasSubs_ = false;
    std::size_t bytes_ = 0;
};

// A complete control sequence introduced by CSI.
struct CsiSequence {
    std::uint8_t marker = 0;         // '<', '=', '>' or '?' as the first byte; 0: none
    std::uint32_t intermediates = 0;  // up to three bytes 0x20-0x2F, first in the high byte
    std::uint8_t final = 0;
    CsiParams params;

    void clear() {
        marker = 0;
        intermediates = 0;
        params.clear();
    }
};

}  // namespace vtsnap
