// Encoding of texts to Windows-1252 and the layout of the resource notes.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "note_writer.h"
#include "rc_script.h"
#include "windows1252.h"

namespace {

using udm::rc::toWindows1252;

TEST(Windows1252, LatinLettersAndTheHighPunctuationMapToSingleBytes) {
    EXPECT_EQ(toWindows1252("plain ASCII"), "plain ASCII");
    EXPECT_EQ(toWindows1252("\xC3\xBC"), "\xFC");                         // u umlaut
    EXPECT_EQ(toWindows1252("\xC3\x9F\xC3\x84"), "\xDF\xC4");             // sharp s, A umlaut
    EXPECT_EQ(toWindows1252("\xC2\xA0"), "\xA0");                         // first of the Latin-1 range
    EXPECT_EQ(toWindows1252("\xE2\x82\xAC"), "\x80");                     // euro sign
    EXPECT_EQ(toWindows1252("\xC5\xB8"), "\x9F");                         // Y with diaeresis
    EXPECT_EQ(toWindows1252("\xE2\x80\x9E" "x" "\xE2\x80\x9C"), "\x84x\x93");  // German quotes
}

TEST(Windows1252, RefusesCharactersOutsideTheCodePageAndMalformedUtf8) {
    EXPECT_FALSE(toWindows1252("\xC2\x81"));          // U+0081: a hole in the code page
    EXPECT_FALSE(toWindows1252("\xE2\x82\xAD"));      // U+20AD
    EXPECT_FALSE(toWindows1252("\xF0\x9F\x98\x80"));  // outside the BMP
    EXPECT_FALSE(toWindows1252("\xC3"));              // truncated sequence
    EXPECT_FALSE(toWindows1252("\xBC"));              // lone continuation byte
    EXPECT_FALSE(toWindows1252("\xC0\xBC"));          // overlong form of '<'
    EXPECT_FALSE(toWindows1252("\xED\xA0\x80"));      // surrogate
}

uint32_t word32(const std::vector<uint8_t>& bytes, std::size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

TEST(ResourceNotes, StringTableAndVersionNotesFollowTheElfNoteLayout) {
    const auto script = udm::rc::parseResourceScript(
        "LANGUAGE 7,1\nSTRINGTABLE BEGIN 300 \"f\xC3\xBCnf\" END\n"
        "1 VERSIONINFO FILEVERSION 1,2,3,4 PRODUCTVERSION 5,6,7,8 BEGIN END");
    const auto bytes = udm::rc::buildResourceNotes(script);
    // string note: header, "UDM\0", language, id, length, 4 text bytes, padding
    const std::vector<uint8_t> strings = {4, 0, 0, 0, 10, 0, 0, 0, 1, 0, 0, 0, 'U', 'D', 'M', 0,
                                          0x07, 0x04, 0x2C, 0x01, 4, 0, 'f', 0xFC, 'n', 'f', 0, 0};
    ASSERT_GE(bytes.size(), strings.size());
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(strings.size())), strings);
    // version note: header, owner, eight 16-bit numbers, no comments
    const std::size_t v = strings.size();
    ASSERT_EQ(bytes.size(), v + 16 + 16);
    EXPECT_EQ(word32(bytes, v), 4u);
    EXPECT_EQ(word32(bytes, v + 4), 16u);
    EXPECT_EQ(word32(bytes, v + 8), 2u);
    EXPECT_EQ(bytes[v + 16], 1);
    EXPECT_EQ(bytes[v + 30], 8);
}

TEST(ResourceNotes, EmptyScriptGivesNoNotesAndUnencodableTextIsAnError) {
    EXPECT_TRUE(udm::rc::buildResourceNotes(udm::rc::parseResourceScript("// nothing")).empty());
    const auto script = udm::rc::parseResourceScript("STRINGTABLE BEGIN 1 \"\xE2\x82\xAD\" END");
    EXPECT_THROW(udm::rc::buildResourceNotes(script), std::runtime_error);
}

}  // namespace
