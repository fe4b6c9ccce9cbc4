// gtest assertions over the bitwise comparison of parse results.
#pragma once

#include <gtest/gtest.h>

#include "parsed_value_compare.h"

namespace parsertest {

inline ::testing::AssertionResult parsesTo(const char* text, const ParsedValue& expected) {
    const ParsedValue got = parse(text);
    if (sameBits(got, expected)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "text \"" << text << "\"\n  got      " << describe(got)
                                         << "\n  expected " << describe(expected);
}

// Expected records for the common shapes.
inline ParsedValue textOnly() { return ParsedValue{1, 0, 0, 0, 0, 0, 0, 0.0f, 0.0}; }
inline ParsedValue nothing() { return ParsedValue{}; }
inline ParsedValue number(double d, float f, int32_t i) {
    return ParsedValue{1, 1, 0, 0, 0, 0, i, f, d};
}

}  // namespace parsertest
