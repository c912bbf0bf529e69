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
        value_ = 0;
        nextIsSub_ = 0;
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
    void digit(std::uint8_t d) {
        if (!take()) return;
        value_ = value_ * 10 + (d - '0');
        if (value_ > kMaxValue) value_ = kMaxValue;
    }
    // Ends the field being read; `sub`: the next one is a sub-parameter.
    void separate(bool sub) {
        if (!take()) return;
        push();
        nextIsSub_ = sub ? 1 : 0;
        hasSubs_ = hasSubs_ || sub;
    }
    void finish() { push(); }

    // Nearly every sequence is digits and ';' up to its final byte: this reads
    // such a sequence whole, from p just after CSI to before `end`, into a
    // cleared list, with nothing kept between bytes but registers. Returns
    // its final byte; nullptr, leaving the list to be cleared and read again
    // byte by byte, when anything else comes first or 256 bytes pass.
    const std::uint8_t* readWhole(const std::uint8_t* p, const std::uint8_t* end) {
        const std::uint8_t* const limit = end - p > std::ptrdiff_t(kMaxBytes) ? p + kMaxBytes : end;
        std::size_t size = 0;
        std::int32_t value = 0;
        for (; p < limit; ++p) {
            const unsigned d = static_cast<unsigned>(*p - '0');
            if (d < 10) {
                value = std::min(value * 10 + static_cast<std::int32_t>(d), kMaxValue);
            } else if (*p == ';') {
                values_[size] = value;
                sub_[size] = 0;
                ++size;
                value = 0;
            } else {
                break;
            }
        }
        if (p == limit || *p < 0x40 || *p > 0x7E) return nullptr;
        values_[size] = value;
        sub_[size] = 0;
        size_ = size + 1;
        return p;
    }

    // Reads a run of digits and ';' at p, the bulk of nearly every sequence,
    // with the field being read kept in registers; returns where it stopped.
    const std::uint8_t* readNumbers(const std::uint8_t* p, const std::uint8_t* end) {
        std::int32_t value = value_;
        std::size_t size = size_;
        std::uint8_t nextIsSub = nextIsSub_;
        // Bytes past the first 256 are still read, but change nothing.
        const std::uint8_t* const counted = end - p > std::ptrdiff_t(kMaxBytes - bytes_) ? p + (kMaxBytes - bytes_) : end;
        const std::uint8_t* const start = p;
        for (; p < counted; ++p) {
            const unsigned d = static_cast<unsigned>(*p - '0');
            if (d < 10) {
                value = std::min(value * 10 + static_cast<std::int32_t>(d), kMaxValue);
            } else if (*p == ';') {
                values_[size] = value;  // at most 256 separators: always room
                sub_[size] = nextIsSub;
                ++size;
                value = 0;
                nextIsSub = 0;
            } else {
                break;
            }
        }
        bytes_ += static_cast<std::size_t>(p - start);
        if (p == counted)
            while (p < end && (static_cast<unsigned>(*p - '0') < 10 || *p == ';')) ++p;
        value_ = value;
        size_ = size;
        nextIsSub_ = nextIsSub;
        return p;
    }

private:
    // 256 bytes hold at most 256 separators, so there is always room.
    void push() {
        values_[size_] = value_;
        sub_[size_] = nextIsSub_;
        ++size_;
        value_ = 0;
    }

    std::array<std::int32_t, kCapacity> values_;
    std::array<std::uint8_t, kCapacity> sub_;
    std::size_t size_ = 0;
    std::int32_t value_ = 0;
    std::uint8_t nextIsSub_ = 0;
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
