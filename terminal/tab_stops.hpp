// The columns that HT, CHT and CBT stop at: one bit per column, the same for
// every row. They start, and a full reset brings them back, every 8 columns.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

namespace vtsnap {

class TabStops {
public:
    explicit TabStops(std::int32_t cols) : cols_(cols), bits_(static_cast<std::size_t>(cols + 63) / 64) { reset(); }

    void reset() {
        for (auto& word : bits_) word = 0x0101010101010101ull;  // every 8th column, from 0
    }
    void set(std::int32_t col) { word(col) |= bit(col); }
    void clear(std::int32_t col) { word(col) &= ~bit(col); }
    void clearAll() {
        for (auto& word : bits_) word = 0;
    }

    // The first stop right of `col`, or the last column when there is none.
    // (Unsigned, so that the word and the bit take a shift and a mask.)
    std::int32_t next(std::int32_t col) const {
        auto from = static_cast<std::uint32_t>(col + 1);
        const auto last = static_cast<std::uint32_t>(cols_ - 1);
        while (from <= last) {
            const std::uint64_t ahead = bits_[from / 64] >> (from % 64);
            if (ahead != 0) return static_cast<std::int32_t>(std::min(from + std::countr_zero(ahead), last));
            from = (from | 63) + 1;
        }
        return cols_ - 1;
    }

    // The last stop left of `col`, or the first column when there is none.
    std::int32_t previous(std::int32_t col) const {
        std::int32_t to = col - 1;  // inclusive
        while (to > 0) {
            const std::uint64_t behind = bits_[static_cast<std::size_t>(to) / 64] << (63 - to % 64);
            if (behind != 0) return to - std::countl_zero(behind);
            to = to / 64 * 64 - 1;
        }
        return 0;
    }

private:
    std::uint64_t& word(std::int32_t col) { return bits_[static_cast<std::size_t>(col) / 64]; }
    static std::uint64_t bit(std::int32_t col) { return std::uint64_t{1} << (col % 64); }

    std::int32_t cols_;
    std::vector<std::uint64_t> bits_;  // bits past the last column may be set, and are never read
};

}  // namespace vtsnap
