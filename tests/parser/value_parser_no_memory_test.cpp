// A parse whose working copy cannot be allocated leaves every output at 0.
// This binary replaces the nothrow array new, which the parser uses for it.
#include <gtest/gtest.h>

#include <new>

#include "parse_result.h"
#include "value_parser.h"

namespace {
bool g_refuseArrays = false;
int g_refused = 0;
}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (g_refuseArrays) {
        ++g_refused;
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

using namespace parsertest;

TEST(ValueParserNoMemory, AllOutputsStayReset) {
    g_refuseArrays = true;
    const ParsedValue number = parse("4.7k");
    const ParsedValue keyword = parse("on");
    const int32_t answer = vcswitch::parseDefinitionToken("10");
    g_refuseArrays = false;

    EXPECT_EQ(g_refused, 3);
    EXPECT_TRUE(sameBits(number, ParsedValue{})) << describe(number);
    EXPECT_TRUE(sameBits(keyword, ParsedValue{})) << describe(keyword);
    EXPECT_EQ(answer, 0);
    EXPECT_TRUE(sameBits(vcswitch::lastParsedValue(), ParsedValue{}));

    // Memory back, the same text parses again.
    EXPECT_TRUE(parsesTo("4.7k", parsertest::number(4700.0, 4700.0f, 4700)));
}

}  // namespace
