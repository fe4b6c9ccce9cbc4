// Runs ParseValue on a text and compares all nine results bit for bit, so a
// -0.0 for +0.0 or a value one ulp off counts as a difference.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>

#include "value_parser.h"

namespace parsertest {

using vcswitch::ParsedValue;

// Poison every place first, so a result the parse fails to reset shows up.
inline ParsedValue parse(const char* text) {
    ParsedValue r{};
    r.hasText = r.isNumber = r.isQuit = r.isHelp = r.isYes = r.isNo = r.intValue = 0x5A5A5A5A;
    r.floatValue = -7.25f;
    r.doubleValue = -7.25;
    vcswitch::parseValue(&r.hasText, &r.isNumber, &r.isQuit, &r.isHelp, &r.isYes, &r.isNo,
                         &r.intValue, &r.floatValue, &r.doubleValue, text);
    return r;
}

inline std::string describe(const ParsedValue& r) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "{text %d number %d quit %d help %d yes %d no %d int %d float %.9g double %.17g"
                  " (0x%016llx)}",
                  r.hasText, r.isNumber, r.isQuit, r.isHelp, r.isYes, r.isNo, r.intValue,
                  static_cast<double>(r.floatValue), r.doubleValue,
                  static_cast<unsigned long long>(std::bit_cast<uint64_t>(r.doubleValue)));
    return buf;
}

inline bool sameBits(const ParsedValue& a, const ParsedValue& b) {
    return a.hasText == b.hasText && a.isNumber == b.isNumber && a.isQuit == b.isQuit &&
           a.isHelp == b.isHelp && a.isYes == b.isYes && a.isNo == b.isNo &&
           a.intValue == b.intValue &&
           std::bit_cast<uint32_t>(a.floatValue) == std::bit_cast<uint32_t>(b.floatValue) &&
           std::bit_cast<uint64_t>(a.doubleValue) == std::bit_cast<uint64_t>(b.doubleValue);
}

}  // namespace parsertest
