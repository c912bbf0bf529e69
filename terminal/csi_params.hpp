// Fixed-capacity containers for control-sequence parameters, so that decoding
// never allocates.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vtsnap {

// Parameter and intermediate bytes of the CSI sequence being collected.
class ParamBuffer {
public:
    static constexpr std::size_t kCapacity = 256;

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }
    // Bytes beyond the capacity are dropped.
    void push(std::uint8_t b) {
        if (size_ < kCapacity) bytes_[size_++] = b;
    }
    std::uint8_t operator[](std::size_t i) const { return bytes_[i]; }
    std::string_view view() const {
        return {reinterpret_cast<const char*>(bytes_.data()), size_};
    }

private:
    std::array<std::uint8_t, kCapacity> bytes_{};
    std::size_t size_ = 0;
};

// The numbers of one control sequence: never empty, each 0 to 32767, at most
// 257 of them (256 separators make 257 fields).
class ParamList {
public:
    static constexpr std::size_t kCapacity = ParamBuffer::kCapacity + 1;
    static constexpr std::int32_t kMaxValue = 32767;

    std::size_t size() const { return size_; }
    std::int32_t operator[](std::size_t i) const { return values_[i]; }
    void push(std::int32_t v) { values_[size_++] = v; }
    const std::int32_t* begin() const { return values_.data(); }
    const std::int32_t* end() const { return values_.data() + size_; }

private:
    std::array<std::int32_t, kCapacity> values_;
    std::size_t size_ = 0;
};

}  // namespace vtsnap
