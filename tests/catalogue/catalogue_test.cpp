// The catalogue as a host reads it through ListNodeInfo.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host_records.h"
#include "parameters.h"
#include "plugin_loader.h"
#ifndef _WIN32
#include "language_environment.h"
#endif

namespace {

using udmtest::plugin;

struct Expected {
    const char* name;
    int32_t kind;
    const char* english;
    const char* german;  // Windows-1252
    const char* defaultText;  // parameters only
};

const std::array<Expected, 14> kCatalogue = {{
    {"STATE", 3, "switching state", "Schalterzustand", nullptr},
    {"V", 3, "voltage", "Spannung \xFC" "ber dem Schalter", nullptr},
    {"I", 3, "current", "Strom durch den Schalter", nullptr},
    {"dV", 3, "Derivative of voltage", "Ableitung der Spannung \xFC" "ber dem Schalter", nullptr},
    {"dI", 3, "Derivative of current", "Ableitung des Stromes durch den Schalter", nullptr},
    {"RON", 2, "resistance of closed switch", "Widerstand des geschlossenen Schalters", "1.0e-3"},
    {"ROFF", 2, "resistance of opened switch", "Widerstand des offenen Schalters", "1.0e9"},
    {"VTHRES", 2, "switching threshold", "Schaltschwelle", "0.0"},
    {"VHYST", 2, "switching hysteresis", "Schalthysterese", "0.0"},
    {"CTRL0", 2, "initial state (0-open, 1-closed)", "Initialzustand (0-offen, 1-geschlossen)", "0.0"},
    {"N1", 1, "node 1 of switch component", "Knoten 1 des Schalters", nullptr},
    {"N2", 1, "node 2 of switch component", "Knoten 2 des Schalters", nullptr},
    {"NC1", 1, "node 1 of control component", "Knoten 1 des Steuerelements", nullptr},
    {"NC2", 1, "node 2 of control component", "Knoten 2 des Steuerelements", nullptr},
}};

const unsigned char* entry(uint32_t index) {
    return static_cast<const unsigned char*>(plugin().listNodeInfo(index));
}

using udm::CatalogueText;

std::string field(const unsigned char* record, CatalogueText which) {
    return std::string(udm::CatalogueEntryView(record).text(which));
}
int32_t kind(const unsigned char* record) { return udm::CatalogueEntryView(record).kind(); }

// A text field holds its text, its terminating zero and zeros to its end.
void expectField(const unsigned char* record, CatalogueText which, const std::string& text) {
    const auto bytes = udm::CatalogueEntryView(record).raw(which);
    ASSERT_LT(text.size(), bytes.size());
    EXPECT_EQ(std::memcmp(bytes.data(), text.data(), text.size()), 0) << text;
    for (std::size_t i = text.size(); i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << text << " byte " << i;
}

void expectCatalogue(bool german) {
    for (uint32_t index = 0; index < kCatalogue.size(); ++index) {
        SCOPED_TRACE(index);
        const Expected& e = kCatalogue[index];
        const unsigned char* record = entry(index);
        ASSERT_NE(record, nullptr);
        expectField(record, CatalogueText::Name, e.name);
        EXPECT_EQ(kind(record), e.kind);
        expectField(record, CatalogueText::Description, german ? e.german : e.english);
        if (e.defaultText != nullptr) expectField(record, CatalogueText::Default, e.defaultText);
    }
}

#ifdef _WIN32
// The language is the user's, which the system fixes for the process; the
// test program runs once per language and is told which one.
TEST(Catalogue, FourteenEntriesWithDescriptionsInTheUsersLanguage) {
    const char* language = std::getenv("UDM_TEST_LANGUAGE");
    ASSERT_NE(language, nullptr) << "run through ctest, which sets the language";
    const bool german = std::string(language) == "de_DE";
    ASSERT_EQ(PRIMARYLANGID(GetUserDefaultUILanguage()), german ? LANG_GERMAN : LANG_ENGLISH) << language;
    expectCatalogue(german);
}

#else
// The language follows the environment at every call.
using udmtest::LanguageEnvironment;

TEST(Catalogue, FourteenEntriesWithNamesKindsDefaultsAndEnglishDescriptions) {
    LanguageEnvironment env;
    env.use("en_US.UTF-8");
    expectCatalogue(false);
}

TEST(Catalogue, GermanUserGetsGermanDescriptionsInWindows1252) {
    LanguageEnvironment env;
    env.use("de_DE.UTF-8");
    expectCatalogue(true);
}

TEST(Catalogue, LanguageIsDecidedAtEveryCall) {
    LanguageEnvironment env;
    env.use("de_DE");
    EXPECT_EQ(field(entry(9), CatalogueText::Description), "Initialzustand (0-offen, 1-geschlossen)");
    env.use("en_US");
    EXPECT_EQ(field(entry(9), CatalogueText::Description), "initial state (0-open, 1-closed)");
    env.set("LC_ALL", "de_DE");
    EXPECT_EQ(field(entry(1), CatalogueText::Description), "Spannung \xFC" "ber dem Schalter");
}

#endif  // _WIN32

TEST(Catalogue, IndicesBeyondThirteenYieldNullAndLeaveTheRecordAlone) {
    const unsigned char* record = entry(5);
    ASSERT_NE(record, nullptr);
    for (uint32_t index : {14u, 15u, 1000u, 0x80000000u, 4294967295u}) EXPECT_EQ(entry(index), nullptr) << index;
    EXPECT_EQ(field(record, CatalogueText::Name), "RON");
    EXPECT_EQ(kind(record), 2);
    EXPECT_EQ(field(record, CatalogueText::Default), "1.0e-3");
}

// The parameter table is what the catalogue shows, in definition order, and
// what this test expects independently of it.
TEST(Catalogue, ParameterEntriesComeFromTheParameterTable) {
    constexpr uint32_t kFirstParameterEntry = 5;
    for (const vcswitch::Parameter& p : vcswitch::kParameters) {
        SCOPED_TRACE(std::string(p.name));
        const uint32_t index = kFirstParameterEntry + static_cast<uint32_t>(p.slot);
        const Expected& e = kCatalogue[index];
        EXPECT_EQ(p.name, e.name);
        EXPECT_EQ(p.defaultText, e.defaultText);
        const unsigned char* record = entry(index);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(field(record, CatalogueText::Name), p.name);
        EXPECT_EQ(kind(record), UDM_KIND_PARAMETER);
        EXPECT_EQ(field(record, CatalogueText::Default), p.defaultText);
    }
}

TEST(Catalogue, OneRecordAtTheSameAddressForEveryIndex) {
    const unsigned char* first = entry(0);
    ASSERT_NE(first, nullptr);
    for (uint32_t index = 0; index < kCatalogue.size(); ++index) EXPECT_EQ(entry(index), first) << index;
    EXPECT_EQ(entry(13), first);
}

TEST(Catalogue, DefaultFieldKeepsTheLastParameterDefaultForOtherEntries) {
    ASSERT_NE(entry(5), nullptr);
    const unsigned char* record = entry(10);
    EXPECT_EQ(field(record, CatalogueText::Name), "N1");
    EXPECT_EQ(kind(record), 1);
    EXPECT_EQ(field(record, CatalogueText::Default), "1.0e-3");
    entry(6);
    entry(0);
    EXPECT_EQ(field(record, CatalogueText::Name), "STATE");
    EXPECT_EQ(field(record, CatalogueText::Default), "1.0e9");
    entry(7);  // a shorter default leaves no tail of the longer one
    expectField(record, CatalogueText::Default, "0.0");
}

#ifndef _WIN32  // the Windows build has a test program of its own for a fresh process
// Runs the probe in a fresh process and returns its output.
std::string probe(const std::string& environment, const std::string& indices) {
    const std::string command = "env -u LC_ALL -u LC_MESSAGES -u LANG " + environment + " " +
                                CATALOGUE_PROBE_PATH + " " + indices;
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 512> buffer{};
    while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
    EXPECT_EQ(pclose(pipe), 0) << command;
    return output;
}

std::string hex(const std::string& text) {
    std::string out;
    char byte[3];
    for (unsigned char c : text) {
        std::snprintf(byte, sizeof byte, "%02x", c);
        out += byte;
    }
    return out;
}

TEST(Catalogue, FirstCallInAFreshProcessHasAnEmptyDefault) {
    EXPECT_EQ(probe("LANG=en_US", "0"), hex("STATE") + "|3|" + hex("switching state") + "|\n");
    EXPECT_EQ(probe("LANG=de_DE", "1 4294967295 10"),
              hex("V") + "|3|" + hex("Spannung \xFC" "ber dem Schalter") + "|\n" + "null\n" +
                  hex("N1") + "|1|" + hex("Knoten 1 des Schalters") + "|\n");
}

#endif  // _WIN32

}  // namespace
