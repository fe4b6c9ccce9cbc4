// Conversions of doubles that come from the host into integers. Every one is
// range-checked first: a value the target type cannot hold never reaches a
// cast, so a stray NaN or a huge number has a defined, harmless result.
#pragma once

#include <cstdint>

namespace vcswitch {

// Truncation toward zero to a signed 32-bit integer; NaN and values whose
// truncation does not fit give 0.
inline int32_t truncateToInt32OrZero(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return 0;
    return static_cast<int32_t>(v);
}

// An output selector: truncated toward zero to 64 bits, of which the low 16
// count. NaN and magnitudes of 2^63 or more select nothing (0).
inline uint16_t outputIndexFromSelector(double selector) {
    constexpr double kTwoPow63 = 9223372036854775808.0;
    if (!(selector > -kTwoPow63 && selector < kTwoPow63)) return 0;
    const auto whole = static_cast<int64_t>(selector);
    return static_cast<uint16_t>(static_cast<uint64_t>(whole) & 0xFFFFu);
}

}  // namespace vcswitch
