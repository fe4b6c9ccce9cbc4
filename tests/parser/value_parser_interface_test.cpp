// How results reach the caller: optional output places, the library's result
// record behind parseDefinitionToken, and an input text that stays untouched.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "parse_result.h"
#include "value_parser.h"

namespace {

using namespace parsertest;

// Parses with the places chosen by `present` (bit i = field i in field order);
// absent fields keep the poison value they start with.
ParsedValue parseWithPlaces(const char* text, unsigned present) {
    ParsedValue r{7, 7, 7, 7, 7, 7, 7, 7.0f, 7.0};
    auto place = [present](unsigned bit, auto* p) { return (present >> bit) & 1u ? p : nullptr; };
    vcswitch::parseValue(place(0, &r.hasText), place(1, &r.isNumber), place(2, &r.isQuit),
                         place(3, &r.isHelp), place(4, &r.isYes), place(5, &r.isNo),
                         place(6, &r.intValue), place(7, &r.floatValue), place(8, &r.doubleValue),
                         text);
    return r;
}

ParsedValue keepOnly(ParsedValue full, unsigned present) {
    ParsedValue r{7, 7, 7, 7, 7, 7, 7, 7.0f, 7.0};
    int32_t* fullInts[] = {&full.hasText, &full.isNumber, &full.isQuit, &full.isHelp,
                           &full.isYes,   &full.isNo,     &full.intValue};
    int32_t* outInts[] = {&r.hasText, &r.isNumber, &r.isQuit, &r.isHelp,
                          &r.isYes,   &r.isNo,     &r.intValue};
    for (unsigned i = 0; i < 7; ++i)
        if ((present >> i) & 1u) *outInts[i] = *fullInts[i];
    if ((present >> 7) & 1u) r.floatValue = full.floatValue;
    if ((present >> 8) & 1u) r.doubleValue = full.doubleValue;
    return r;
}

TEST(ValueParserPlaces, AnyOfTheFirstEightMayBeNull) {
    const char* texts[] = {"4.7k", "-3", "2.5", "on", "off", "quit", "?", "ja", "nein", "abc", "", "5 k"};
    for (const char* text : texts) {
        const ParsedValue full = parse(text);
        for (unsigned present = 0x100; present < 0x200; ++present) {
            const ParsedValue got = parseWithPlaces(text, present);
            ASSERT_TRUE(sameBits(got, keepOnly(full, present)))
                << "text \"" << text << "\" places 0x" << std::hex << present << "\n  got "
                << describe(got);
        }
    }
}

TEST(ValueParserPlaces, NullDoublePlaceOrNullTextOnlyResets) {
    for (unsigned present : {0x0FFu, 0x001u, 0x0C0u}) {
        EXPECT_TRUE(sameBits(parseWithPlaces("4.7k", present), keepOnly(ParsedValue{}, present)));
        EXPECT_TRUE(sameBits(parseWithPlaces("on", present), keepOnly(ParsedValue{}, present)));
    }
    EXPECT_TRUE(sameBits(parseWithPlaces(nullptr, 0x1FF), ParsedValue{}));
    // Nothing present at all is allowed too.
    vcswitch::parseValue(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, "1");
}

TEST(ValueParserPlaces, InputTextIsOnlyRead) {
    const char original[] = "  12.5k \t\r\n";
    std::array<char, sizeof original> text{};
    std::memcpy(text.data(), original, sizeof original);
    EXPECT_EQ(parse(text.data()).doubleValue, 12500.0);
    EXPECT_EQ(std::memcmp(text.data(), original, sizeof original), 0);
}

TEST(ValueParserDefinitionToken, AnswersWhetherTheEntryIsANumber) {
    EXPECT_EQ(vcswitch::parseDefinitionToken("10k"), 1);
    EXPECT_EQ(vcswitch::parseDefinitionToken("on"), 1);
    EXPECT_EQ(vcswitch::parseDefinitionToken("off"), 1);
    EXPECT_EQ(vcswitch::parseDefinitionToken("V(ctl)*2"), 0);
    EXPECT_EQ(vcswitch::parseDefinitionToken("ja"), 0);
    EXPECT_EQ(vcswitch::parseDefinitionToken("   "), 0);
    EXPECT_EQ(vcswitch::parseDefinitionToken(nullptr), 0);
}

TEST(ValueParserDefinitionToken, RecordHoldsTheLatestParseAlone) {
    ASSERT_EQ(vcswitch::parseDefinitionToken("-7"), 1);
    EXPECT_TRUE(sameBits(vcswitch::lastParsedValue(), number(-7.0, 0.0f, -7)));

    ASSERT_EQ(vcswitch::parseDefinitionToken("on"), 1);
    EXPECT_TRUE(sameBits(vcswitch::lastParsedValue(), ParsedValue{1, 1, 0, 0, 1, 0, 1, 1.0f, 1.0}));

    ASSERT_EQ(vcswitch::parseDefinitionToken("help"), 0);
    EXPECT_TRUE(sameBits(vcswitch::lastParsedValue(), ParsedValue{1, 0, 0, 1, 0, 0, 0, 0.0f, 0.0}));

    ASSERT_EQ(vcswitch::parseDefinitionToken("2.5"), 1);
    ASSERT_EQ(vcswitch::parseDefinitionToken(""), 0);
    EXPECT_TRUE(sameBits(vcswitch::lastParsedValue(), ParsedValue{}));

    ASSERT_EQ(vcswitch::parseDefinitionToken("1e3k"), 1);
    ASSERT_EQ(vcswitch::parseDefinitionToken(nullptr), 0);
    EXPECT_TRUE(sameBits(vcswitch::lastParsedValue(), ParsedValue{}));
}

}  // namespace
