// Bit-exact agreement with the separate reference implementation that wrote
// golden_vectors.inc (see make_golden_vectors.py).
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "parse_result.h"

namespace {

using namespace parsertest;

struct GoldenVector {
    const char* text;
    int32_t hasText, isNumber, isQuit, isHelp, isYes, isNo, intValue;
    uint32_t floatBits;
    uint64_t doubleBits;
};

constexpr GoldenVector kGolden[] = {
#include "golden_vectors.inc"
};

TEST(ValueParserGolden, EveryVectorMatchesToTheLastBit) {
    int numbers = 0;
    for (const GoldenVector& g : kGolden) {
        const ParsedValue expected{g.hasText, g.isNumber, g.isQuit, g.isHelp, g.isYes, g.isNo,
                                   g.intValue, std::bit_cast<float>(g.floatBits),
                                   std::bit_cast<double>(g.doubleBits)};
        EXPECT_TRUE(parsesTo(g.text, expected));
        numbers += g.isNumber;
    }
    // Guards against a truncated table, and a table without any number.
    EXPECT_GT(std::size(kGolden), 1500u);
    EXPECT_GT(numbers, 1000);
}

}  // namespace
