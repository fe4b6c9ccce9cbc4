#include "fuzz_text.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace parsertest {
namespace {

struct Tail {
    const char* text;
    int e2;  // base-2 exponent of the unit's 10^k; 1 where there is no unit
};

constexpr Tail kTails[] = {{"", 1},   {"f", -49}, {"p", -39}, {"n", -29}, {"u", -19}, {"m", -9},
                           {"k", 10}, {"g", 30},  {"t", 40},  {"K", 10},  {"G", 30},  {"T", 40},
                           {"M", -9}, {" ", 1},   {"x", 1},   {" k", 1}};

// Moves the value's frexp exponent to a few steps from the guard's upper
// (1024 - e2) or lower (-1021 - e2) bound.
double pinExponent(double value, int e2, uint8_t edge) {
    int ignored = 0;
    double fraction = std::frexp(value, &ignored);
    if (!std::isfinite(value) || value == 0.0) fraction = 0.75;
    const int bound = (edge & 0x40u) != 0 ? 1024 - e2 : -1021 - e2;
    return std::ldexp(fraction, bound + static_cast<int>(edge & 7u) - 3);
}

}  // namespace

std::string textFromFuzzInput(const uint8_t* data, size_t size) {
    if (size < kStructuredSize || data[0] != kStructuredInput)
        return std::string(reinterpret_cast<const char*>(data), size);

    uint64_t bits = 0;
    std::memcpy(&bits, data + 1, sizeof bits);
    const uint8_t choice = data[9];
    const uint8_t edge = data[10];
    const Tail& tail = kTails[(choice >> 3) & 15u];
    double value = std::bit_cast<double>(bits);
    if ((edge & 0x80u) != 0) value = pinExponent(value, tail.e2, edge);

    static const char* const kFormats[] = {"%.17g", "%.16g", "%.3g", "%a", "%.0f", "%g", "%.20e", "%.1f"};
    char number[400];
    std::snprintf(number, sizeof number, kFormats[choice & 7u], value);
    std::string text = (choice & 0x80u) != 0 ? " " : "";
    text += number;
    text += tail.text;
    return text;
}

}  // namespace parsertest
