// The DLL's string table as the system serves it: in the user's language,
// converted to the ANSI code page. The test run sets the language
// (UDM_TEST_LANGUAGE: en_US or de_DE) and this program first checks that the
// system really took it.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin_loader.h"

namespace {

using udmtest::plugin;

struct Description {
    UINT textId;
    const char* english;
    const char* german;  // code page 1252: "\xFC" is the u umlaut
};

constexpr Description kDescriptions[] = {
    {110, "switching state", "Schalterzustand"},
    {111, "voltage", "Spannung \xFC" "ber dem Schalter"},
    {112, "current", "Strom durch den Schalter"},
    {113, "Derivative of voltage", "Ableitung der Spannung \xFC" "ber dem Schalter"},
    {114, "Derivative of current", "Ableitung des Stromes durch den Schalter"},
    {120, "resistance of closed switch", "Widerstand des geschlossenen Schalters"},
    {121, "resistance of opened switch", "Widerstand des offenen Schalters"},
    {122, "switching threshold", "Schaltschwelle"},
    {123, "switching hysteresis", "Schalthysterese"},
    {124, "initial state (0-open, 1-closed)", "Initialzustand (0-offen, 1-geschlossen)"},
    {101, "node 1 of switch component", "Knoten 1 des Schalters"},
    {102, "node 2 of switch component", "Knoten 2 des Schalters"},
    {103, "node 1 of control component", "Knoten 1 des Steuerelements"},
    {104, "node 2 of control component", "Knoten 2 des Steuerelements"},
};

bool germanRun() {
    const char* language = std::getenv("UDM_TEST_LANGUAGE");
    return language != nullptr && std::string(language) == "de_DE";
}

const char* expected(const Description& d) { return germanRun() ? d.german : d.english; }

TEST(UserLanguage, TheSystemRunsInTheLanguageOfThisRun) {
    const char* language = std::getenv("UDM_TEST_LANGUAGE");
    ASSERT_NE(language, nullptr) << "run through ctest, which sets the language";
    const LANGID want = germanRun() ? MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN)
                                    : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    EXPECT_EQ(GetUserDefaultUILanguage(), want) << language;
    EXPECT_EQ(GetACP(), 1252u);  // Western European in both languages
}

TEST(UserLanguage, EveryStringOfTheDllInThisRunsLanguage) {
    // Straight from the resource compiler's output, without the plug-in's code.
    for (const Description& d : kDescriptions) {
        char text[257] = {};
        const int length = LoadStringA(plugin().module(), d.textId, text, sizeof text);
        EXPECT_EQ(std::string(text, static_cast<size_t>(length > 0 ? length : 0)), expected(d))
            << "id " << d.textId;
    }
}

TEST(UserLanguage, ShortBufferKeepsTheLeadingBytesAndAZero) {
    // 1252 has one byte per character, so 10 bytes of text end with the
    // umlaut of "Spannung \xFCber dem Schalter".
    char text[11];
    std::memset(text, 'x', sizeof text);
    const int length = LoadStringA(plugin().module(), 111, text, sizeof text);
    const std::string want = germanRun() ? "Spannung \xFC" : "voltage";
    EXPECT_EQ(length, static_cast<int>(want.size()));
    EXPECT_EQ(std::string(text), want);
}

}  // namespace
