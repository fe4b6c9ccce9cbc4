// Reads the fields of a fuzz input front to back. An exhausted input reads
// as zeros, so every byte string decodes to some session.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace udmfuzz {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }

    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    template <class T>
    T integer() {
        T value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) value = static_cast<T>((value << 8) | byte());
        return value;
    }

    // A value in [0, bound), bound > 0.
    uint32_t below(uint32_t bound) { return integer<uint16_t>() % bound; }

    // Mostly the values a host meets at the edges, sometimes any bit pattern.
    double number() {
        static constexpr double kSpecial[] = {
            0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 1e-3, 1e9,
            std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::max(),
            std::numeric_limits<double>::denorm_min(), 2147483647.0, 2147483648.0, -2147483649.0,
            9223372036854775808.0, 65539.0, 2.938736052218037e-39, 1.7};
        const uint8_t kind = byte();
        if (kind < 128) return kSpecial[kind % (sizeof kSpecial / sizeof kSpecial[0])];
        if (kind < 192) return static_cast<double>(static_cast<int8_t>(byte())) / 4.0;
        return std::bit_cast<double>(integer<uint64_t>());
    }

    // A text of at most maxLength bytes into out, without a terminating zero;
    // returns its length. It may hold zero bytes, which end it for the
    // plug-in as for any C text.
    size_t text(char* out, size_t maxLength) {
        const size_t length = byte() % (maxLength + 1);
        size_t n = 0;
        while (n < length && !empty()) out[n++] = static_cast<char>(byte());
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace udmfuzz
