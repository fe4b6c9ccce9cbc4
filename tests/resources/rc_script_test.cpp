// Reading resource scripts: the plug-in's own script, the syntax the Windows
// resource compiler accepts, and refusal of what this reader does not know.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>

#include "rc_script.h"

namespace {

using udm::rc::parseResourceScript;
using udm::rc::ResourceScript;
using udm::rc::ScriptError;

std::map<std::pair<int, int>, std::string> byLanguageAndId(const ResourceScript& script) {
    std::map<std::pair<int, int>, std::string> texts;
    for (const auto& entry : script.strings) texts[{entry.language, entry.id}] = entry.text;
    return texts;
}

TEST(ResourceScript, PluginScriptHasEveryDescriptionInBothLanguagesAndItsVersion) {
    std::ifstream in(UDM_PLUGIN_SCRIPT_PATH, std::ios::binary);
    ASSERT_TRUE(in.good());
    std::ostringstream text;
    text << in.rdbuf();
    const auto script = parseResourceScript(text.str());
    const auto texts = byLanguageAndId(script);
    EXPECT_EQ(script.strings.size(), 28u);
    for (int id : {101, 102, 103, 104, 110, 111, 112, 113, 114, 120, 121, 122, 123, 124}) {
        EXPECT_EQ(texts.count({1033, id}), 1u) << id;
        EXPECT_EQ(texts.count({1031, id}), 1u) << id;
    }
    EXPECT_EQ(texts.at({1031, 111}), "Spannung \xC3\xBC" "ber dem Schalter");  // still UTF-8 here
    ASSERT_TRUE(script.version.has_value());
    EXPECT_EQ(script.version->fileVersion, (std::array<uint16_t, 4>{6, 0, 0, 3}));
    EXPECT_EQ(script.version->productVersion, (std::array<uint16_t, 4>{6, 0, 0, 0}));
    ASSERT_EQ(script.version->comments.size(), 2u);
    EXPECT_EQ(script.version->comments[0].language, 1033);
    EXPECT_EQ(script.version->comments[0].text, "Voltage Controlled Switch for TRAN");
    EXPECT_EQ(script.version->comments[1].language, 1031);
    EXPECT_EQ(script.version->comments[1].text, "Spannungsgesteuerter Schalter f\xC3\xBCr TRAN");
}

TEST(ResourceScript, StringSyntaxAsTheWindowsCompilerReadsIt) {
    const auto script = parseResourceScript(R"(
        #define FIRST 10
        #define ALIAS FIRST   // a macro naming another
        /* block comment
           over lines */
        LANGUAGE 0x07, 0x01
        STRINGTABLE MOVEABLE DISCARDABLE
        {
            ALIAS, "quote "" inside"
            0x0B   L"back\\slash \"and\" tab\tend"
            12     "joined " "literals"
            13L,   ""
        }
        STRINGTABLE LANGUAGE 9, 1 BEGIN 10 "ten" END
    )");
    const auto texts = byLanguageAndId(script);
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts.at({1031, 10}), "quote \" inside");
    EXPECT_EQ(texts.at({1031, 11}), "back\\slash \"and\" tab\tend");
    EXPECT_EQ(texts.at({1031, 12}), "joined literals");
    EXPECT_EQ(texts.at({1031, 13}), "");
    EXPECT_EQ(texts.at({1033, 10}), "ten");
    EXPECT_FALSE(script.version.has_value());
}

TEST(ResourceScript, StringsBeforeAnyLanguageStatementAreNeutral) {
    const auto script = parseResourceScript("STRINGTABLE BEGIN 1 \"x\" END");
    ASSERT_EQ(script.strings.size(), 1u);
    EXPECT_EQ(script.strings[0].language, 0);
}

// The line of the error tells the author where to look.
int errorLine(const char* text) {
    try {
        parseResourceScript(text);
    } catch (const ScriptError& e) {
        return e.line();
    }
    return 0;
}

TEST(ResourceScript, RefusesWhatItDoesNotUnderstandNamingTheLine) {
    EXPECT_EQ(errorLine("LANGUAGE 9,1\nSTRINGTABLE\nBEGIN\n 1 \"a\"\n 1 \"b\"\nEND"), 5);  // duplicate id
    EXPECT_EQ(errorLine("\n1 ICON \"app.ico\""), 2);                          // other resource types
    EXPECT_EQ(errorLine("#include \"resource.h\""), 1);                       // no includes
    EXPECT_EQ(errorLine("#pragma code_page(1252)"), 1);                       // only UTF-8 scripts
    EXPECT_EQ(errorLine("STRINGTABLE BEGIN\n 1 \"open"), 2);                  // unterminated text
    EXPECT_EQ(errorLine("STRINGTABLE BEGIN 1 \"a\\q\" END"), 1);              // unknown escape
    EXPECT_EQ(errorLine("STRINGTABLE BEGIN 65536 \"a\" END"), 1);             // id beyond 16 bits
    EXPECT_EQ(errorLine("STRINGTABLE BEGIN\n 1 \"a\"\n"), 3);                 // no END
    EXPECT_EQ(errorLine("STRINGTABLE BEGIN UNDEFINED \"a\" END"), 1);         // unknown macro
    EXPECT_EQ(errorLine("#define A B\n#define B A\nSTRINGTABLE BEGIN A \"a\" END"), 3);
    EXPECT_EQ(errorLine("1 VERSIONINFO\nFILEVERSION 1,2,3\nBEGIN END"), 3);  // three numbers
    EXPECT_EQ(errorLine("1 VERSIONINFO BEGIN BLOCK \"StringFileInfo\" BEGIN BLOCK \"0409\"\n"
                        "BEGIN VALUE \"Comments\", \"x\" END END END"),
              2);  // block name not 8 hex digits
    EXPECT_EQ(errorLine("/* never closed"), 1);
}

TEST(ResourceScript, VersionRecordTakesNumbersAndCommentsPerLanguage) {
    const auto script = parseResourceScript(R"(
        1 VERSIONINFO
        FILEVERSION 1, 2, 3, 0xFFFF
        PRODUCTVERSION 5,6,7,8
        FILEFLAGS (0x1 | 0x2) + 4
        BEGIN
            BLOCK "StringFileInfo"
            BEGIN
                BLOCK "040704E4" BEGIN VALUE "Comments", "Kommentar" END
                BLOCK "040904E4" BEGIN VALUE "ProductName", "x" VALUE "Comments", "comment" END
            END
            BLOCK "VarFileInfo" BEGIN VALUE "Translation", 0x409, 1252 END
        END
    )");
    ASSERT_TRUE(script.version.has_value());
    EXPECT_EQ(script.version->fileVersion, (std::array<uint16_t, 4>{1, 2, 3, 0xFFFF}));
    EXPECT_EQ(script.version->productVersion, (std::array<uint16_t, 4>{5, 6, 7, 8}));
    ASSERT_EQ(script.version->comments.size(), 2u);
    EXPECT_EQ(script.version->comments[0].language, 1031);
    EXPECT_EQ(script.version->comments[0].text, "Kommentar");
    EXPECT_EQ(script.version->comments[1].language, 1033);
    EXPECT_EQ(script.version->comments[1].text, "comment");
}

}  // namespace
