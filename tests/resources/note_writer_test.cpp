// Encoding of texts to Windows-1252 for the resource notes.
#include <gtest/gtest.h>

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

TEST(ResourceNotes, EmptyScriptGivesNoNotesAndUnencodableTextIsAnError) {
    EXPECT_TRUE(udm::rc::buildResourceNotes(udm::rc::parseResourceScript("// nothing")).empty());
    const auto script = udm::rc::parseResourceScript("STRINGTABLE BEGIN 1 \"\xE2\x82\xAD\" END");
    EXPECT_THROW(udm::rc::buildResourceNotes(script), std::runtime_error);
}

}  // namespace
