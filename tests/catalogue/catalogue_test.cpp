// The catalogue as a host reads it through ListNodeInfo.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "host_records.h"
#include "language_environment.h"
#include "plugin_loader.h"

namespace {

using udmtest::LanguageEnvironment;
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

std::string field(const unsigned char* record, std::size_t offset) {
    return reinterpret_cast<const char*>(record + offset);
}
int32_t kind(const unsigned char* record) { return udm::loadAt<int32_t>(record, UDM_CAT_KIND); }

// A text field holds its text, its terminating zero and zeros to its end.
void expectField(const unsigned char* record, std::size_t offset, std::size_t bytes, const std::string& text) {
    ASSERT_LT(text.size(), bytes);
    EXPECT_EQ(std::memcmp(record + offset, text.data(), text.size()), 0) << text;
    for (std::size_t i = text.size(); i < bytes; ++i) ASSERT_EQ(record[offset + i], 0) << text << " byte " << i;
}

void expectCatalogue(bool german) {
    for (uint32_t index = 0; index < kCatalogue.size(); ++index) {
        SCOPED_TRACE(index);
        const Expected& e = kCatalogue[index];
        const unsigned char* record = entry(index);
        ASSERT_NE(record, nullptr);
        expectField(record, UDM_CAT_NAME, UDM_CAT_NAME_BYTES, e.name);
        EXPECT_EQ(kind(record), e.kind);
        expectField(record, UDM_CAT_DESCRIPTION, UDM_CAT_DESCRIPTION_BYTES, german ? e.german : e.english);
        if (e.defaultText != nullptr) expectField(record, UDM_CAT_DEFAULT, UDM_CAT_DEFAULT_BYTES, e.defaultText);
    }
}

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
    EXPECT_EQ(field(entry(9), UDM_CAT_DESCRIPTION), "Initialzustand (0-offen, 1-geschlossen)");
    env.use("en_US");
    EXPECT_EQ(field(entry(9), UDM_CAT_DESCRIPTION), "initial state (0-open, 1-closed)");
    env.set("LC_ALL", "de_DE");
    EXPECT_EQ(field(entry(1), UDM_CAT_DESCRIPTION), "Spannung \xFC" "ber dem Schalter");
}

TEST(Catalogue, IndicesBeyondThirteenYieldNullAndLeaveTheRecordAlone) {
    const unsigned char* record = entry(5);
    ASSERT_NE(record, nullptr);
    for (uint32_t index : {14u, 15u, 1000u, 0x80000000u, 4294967295u}) EXPECT_EQ(entry(index), nullptr) << index;
    EXPECT_EQ(field(record, UDM_CAT_NAME), "RON");
    EXPECT_EQ(kind(record), 2);
    EXPECT_EQ(field(record, UDM_CAT_DEFAULT), "1.0e-3");
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
    EXPECT_EQ(field(record, UDM_CAT_NAME), "N1");
    EXPECT_EQ(kind(record), 1);
    EXPECT_EQ(field(record, UDM_CAT_DEFAULT), "1.0e-3");
    entry(6);
    entry(0);
    EXPECT_EQ(field(record, UDM_CAT_NAME), "STATE");
    EXPECT_EQ(field(record, UDM_CAT_DEFAULT), "1.0e9");
    entry(7);  // a shorter default leaves no tail of the longer one
    expectField(record, UDM_CAT_DEFAULT, UDM_CAT_DEFAULT_BYTES, "0.0");
}

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

}  // namespace
