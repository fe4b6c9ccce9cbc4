// Reading resource scripts: the syntax the Windows resource compiler accepts,
// and refusal of what this reader does not know.
#include <gtest/gtest.h>

#include <map>
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

}  // namespace
