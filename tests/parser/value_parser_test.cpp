// The parser's documented cases, compared bit for bit on all nine results.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <string>

#include "parse_result.h"
#include "value_parser.h"

namespace {

using namespace parsertest;

TEST(ValueParserBlank, EmptyAndWhiteSpaceOnlyYieldNothing) {
    for (const char* text : {"", " ", "  \t", "\t\n\v\f\r "}) EXPECT_TRUE(parsesTo(text, nothing()));
}

TEST(ValueParserBlank, TrailingWhiteSpaceIsIgnored) {
    EXPECT_TRUE(parsesTo("4.7K  ", number(4700.0, 4700.0f, 4700)));
    EXPECT_TRUE(parsesTo("7\t\n\v\f\r", number(7.0, 7.0f, 7)));
    EXPECT_TRUE(parsesTo("on \t", ParsedValue{1, 1, 0, 0, 1, 0, 1, 1.0f, 1.0}));
}

TEST(ValueParserBlank, HighBytesAreNotWhiteSpace) {
    // 0xA0 is a no-break space in common 8-bit code pages, yet it is text here.
    EXPECT_TRUE(parsesTo("\xA0", textOnly()));
    EXPECT_TRUE(parsesTo("5\xA0", textOnly()));
    EXPECT_TRUE(parsesTo("5\x85", textOnly()));
}

TEST(ValueParserBlank, LeadingBlanksBelongToTheNumberButNotToKeywords) {
    EXPECT_TRUE(parsesTo("  10", number(10.0, 10.0f, 10)));
    EXPECT_TRUE(parsesTo("\t-2k", number(-2000.0, 0.0f, -2000)));
    EXPECT_TRUE(parsesTo(" on", textOnly()));
    EXPECT_TRUE(parsesTo(" q", textOnly()));
}

TEST(ValueParserUnits, EveryLetterInBothCases) {
    struct Case {
        const char* text;
        double value;
    };
    // Expected values are the step-by-step products, written out as literals.
    const Case cases[] = {
        {"3f", 3.0 / 1000.0 / 1000.0 / 1000.0 / 1000.0 / 1000.0},
        {"3F", 3.0 / 1000.0 / 1000.0 / 1000.0 / 1000.0 / 1000.0},
        {"3p", 3.0 / 1000.0 / 1000.0 / 1000.0 / 1000.0},
        {"3P", 3.0 / 1000.0 / 1000.0 / 1000.0 / 1000.0},
        {"3n", 3.0 / 1000.0 / 1000.0 / 1000.0},
        {"3N", 3.0 / 1000.0 / 1000.0 / 1000.0},
        {"3u", 3.0 / 1000.0 / 1000.0},
        {"3U", 3.0 / 1000.0 / 1000.0},
        {"3m", 0.003},
        {"3M", 0.003},
        {"3k", 3000.0},
        {"3K", 3000.0},
        {"3g", 3e9},
        {"3G", 3e9},
        {"3t", 3e12},
        {"3T", 3e12},
    };
    for (const Case& c : cases) {
        const ParsedValue r = parse(c.text);
        EXPECT_EQ(r.isNumber, 1) << c.text;
        EXPECT_EQ(std::bit_cast<uint64_t>(r.doubleValue), std::bit_cast<uint64_t>(c.value)) << c.text;
    }
}

TEST(ValueParserUnits, StepwiseScalingFixesTheLastBits) {
    EXPECT_EQ(parse("1f").doubleValue, 9.999999999999997e-16);
    EXPECT_NE(parse("1f").doubleValue, 1e-15);
    EXPECT_EQ(parse("100n").doubleValue, 1.0000000000000001e-07);
    EXPECT_EQ(parse("1u").doubleValue, 1e-06);
    EXPECT_TRUE(parsesTo("1e3k", number(1000000.0, 1000000.0f, 1000000)));
    EXPECT_TRUE(parsesTo("4.7k", number(4700.0, 4700.0f, 4700)));
    const double fiveNano = 5.0 / 1000.0 / 1000.0 / 1000.0;
    EXPECT_TRUE(parsesTo("5n", number(fiveNano, static_cast<float>(fiveNano), 0)));
}

TEST(ValueParserUnits, MIsMilliAndThereIsNoMega) {
    EXPECT_TRUE(parsesTo("1M", number(0.001, 0.001f, 0)));
    EXPECT_TRUE(parsesTo("1m", number(0.001, 0.001f, 0)));
    for (const char* text : {"1meg", "1MEG", "5kOhm", "5 k", "5x", "1e", "1ek", "2kk", "3.3V", "1%"})
        EXPECT_TRUE(parsesTo(text, textOnly()));
}

TEST(ValueParserValues, IntegerAndSingleForms) {
    EXPECT_TRUE(parsesTo("-3", number(-3.0, 0.0f, -3)));
    EXPECT_TRUE(parsesTo("0", number(0.0, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("-0", number(-0.0, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("2.5", number(2.5, 2.5f, 0)));
    EXPECT_TRUE(parsesTo("0.1", number(0.1, 0.1f, 0)));
    EXPECT_TRUE(parsesTo("+12", number(12.0, 12.0f, 12)));
    EXPECT_TRUE(parsesTo("2147483647", number(2147483647.0, 2147483648.0f, 2147483647)));
    EXPECT_TRUE(parsesTo("-2147483648", number(-2147483648.0, 0.0f, INT32_MIN)));
    EXPECT_TRUE(parsesTo("2147483648", number(2147483648.0, 2147483648.0f, 0)));
    EXPECT_TRUE(parsesTo("-2147483649", number(-2147483649.0, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("2147483646.5", number(2147483646.5, 2147483648.0f, 0)));
    EXPECT_TRUE(parsesTo("1e40", number(1e40, 0.0f, 0)));
}

TEST(ValueParserValues, SingleRangeBoundsAreInclusive) {
    const double fltMax = FLT_MAX;
    const double fltMin = FLT_MIN;
    EXPECT_TRUE(parsesTo("3.4028234663852886e+38", number(fltMax, FLT_MAX, 0)));
    EXPECT_TRUE(parsesTo("3.4028234663852889e+38",
                         number(std::nextafter(fltMax, INFINITY), 0.0f, 0)));
    EXPECT_TRUE(parsesTo("1.1754943508222875e-38", number(fltMin, FLT_MIN, 0)));
    EXPECT_TRUE(parsesTo("1.1754943508222874e-38", number(std::nextafter(fltMin, 0.0), 0.0f, 0)));
    // Just below FLT_MAX still rounds to FLT_MAX, never to infinity.
    EXPECT_TRUE(parsesTo("3.40282346e+38", number(3.40282346e+38, FLT_MAX, 0)));
}

TEST(ValueParserRange, ScaleGuardWithoutUnit) {
    EXPECT_EQ(parse("2e-308").isNumber, 1);
    EXPECT_TRUE(parsesTo("1e-308", textOnly()));
    EXPECT_TRUE(parsesTo("8.98e307", number(8.98e307, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("-8.98e307", number(-8.98e307, 0.0f, 0)));
    for (const char* text : {"8.99e307", "-8.99e307", "1e308", "1.7976931348623157e308"})
        EXPECT_TRUE(parsesTo(text, textOnly()));
    // 2^1023 is the first refused magnitude, the double below it passes.
    EXPECT_TRUE(parsesTo("8.98846567431158e307", textOnly()));
    EXPECT_TRUE(parsesTo("8.9884656743115785e307", number(8.9884656743115785e307, 0.0f, 0)));
    // 2^-1023 = 0.5 * 2^-1022 is the smallest magnitude that passes, so the
    // upper half of the subnormals does while the double below 2^-1023 does not.
    EXPECT_TRUE(parsesTo("1.1125369292536007e-308", number(0x1p-1023, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("-2.2250738585072009e-308", number(-0x0.fffffffffffffp-1022, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("1.1125369292536e-308", textOnly()));
    EXPECT_TRUE(parsesTo("4.9e-324", textOnly()));
}

TEST(ValueParserRange, ScaleGuardWithUnit) {
    EXPECT_TRUE(parsesTo("1e305k", number(1e308, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("2e305k", textOnly()));
    EXPECT_TRUE(parsesTo("1e-290f", number(1e-305, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("1e-300f", textOnly()));
    // A unit lets a value the bare guard refuses become a number (e1 - 9 <= 1024).
    EXPECT_EQ(parse("1e308m").isNumber, 1);
}

TEST(ValueParserRange, InfinityNaNAndOverflowAreNeverNumbers) {
    for (const char* text : {"1e999", "-1e999", "1e999m", "inf", "-INF", "infinity", "nan", "NaN",
                             "nan(7)", "infk", "-nanm"})
        EXPECT_TRUE(parsesTo(text, textOnly()));
}

TEST(ValueParserRange, UnderflowToZeroIsTheNumberZero) {
    // strtod returns 0 for a magnitude below the subnormals; zero passes the guard.
    EXPECT_TRUE(parsesTo("1e-400", number(0.0, 0.0f, 0)));
    EXPECT_TRUE(parsesTo("-1e-400k", number(-0.0, 0.0f, 0)));
}

TEST(ValueParserKeywords, QuitAndHelp) {
    const ParsedValue quit{1, 0, 1, 0, 0, 0, 0, 0.0f, 0.0};
    const ParsedValue help{1, 0, 0, 1, 0, 0, 0, 0.0f, 0.0};
    for (const char* text : {"quit", "QUIT", "QuIt", "q", "Q"}) EXPECT_TRUE(parsesTo(text, quit));
    for (const char* text : {"help", "Help", "h", "H", "?", "? "}) EXPECT_TRUE(parsesTo(text, help));
}

TEST(ValueParserKeywords, YesAndNoWordsAreNotNumbers) {
    const ParsedValue yes{1, 0, 0, 0, 1, 0, 0, 0.0f, 0.0};
    const ParsedValue no{1, 0, 0, 0, 0, 1, 0, 0.0f, 0.0};
    for (const char* text : {"ja", "JA", "Ja", "j", "J"}) EXPECT_TRUE(parsesTo(text, yes));
    for (const char* text : {"nein", "NEIN", "n", "N"}) EXPECT_TRUE(parsesTo(text, no));
}

TEST(ValueParserKeywords, OnAndOffAreNumbers) {
    for (const char* text : {"on", "ON", "On", "oN"})
        EXPECT_TRUE(parsesTo(text, ParsedValue{1, 1, 0, 0, 1, 0, 1, 1.0f, 1.0}));
    for (const char* text : {"off", "OFF", "oFf"})
        EXPECT_TRUE(parsesTo(text, ParsedValue{1, 1, 0, 0, 0, 1, 0, 0.0f, 0.0}));
}

TEST(ValueParserKeywords, AnythingElseIsTextOnly) {
    for (const char* text : {"k", "m", "abc", "+", "-", ".", "+.", "e5", "yes", "no", "of", "onn",
                             "quitt", "qu", "?? ", "ja!", "\xC4", "o\xCEn", "1,5"})
        EXPECT_TRUE(parsesTo(text, textOnly()));
}

TEST(ValueParserNotation, WhatStrtodAcceptsPassesThroughTheUnitSteps) {
    // Hexadecimal mantissas come with the host's strtod; they scale like decimals.
    EXPECT_TRUE(parsesTo("0x10", number(16.0, 16.0f, 16)));
    EXPECT_TRUE(parsesTo("0x10k", number(16000.0, 16000.0f, 16000)));
    EXPECT_TRUE(parsesTo("0x1p-2", number(0.25, 0.25f, 0)));
    // "f" is a hex digit here, so this is 31 and not 1 femto.
    EXPECT_TRUE(parsesTo("0x1f", number(31.0, 31.0f, 31)));
}

TEST(ValueParserLongText, HasNoLengthLimit) {
    std::string padded = "7";
    padded.append(1 << 20, ' ');
    EXPECT_TRUE(parsesTo(padded.c_str(), number(7.0, 7.0f, 7)));

    std::string tiny = "0.";
    tiny.append(100000, '0');
    tiny += "5k";
    EXPECT_TRUE(parsesTo(tiny.c_str(), number(0.0, 0.0f, 0)));

    std::string digits(400, '9');
    EXPECT_TRUE(parsesTo(digits.c_str(), textOnly()));  // 1e400: overflow
}

}  // namespace
