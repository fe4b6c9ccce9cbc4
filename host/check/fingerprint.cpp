#include "check/fingerprint.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "check/sweep.h"
#include "check/user_language.h"
#include "host_records.h"

namespace udmhost {

namespace {

// Thresholds and the values around them are hit exactly by the 0.25 V ramp.
const std::vector<std::string> kGrid = {"0", "-0.5", "0.5", "1", "1.5", "2", "1e-3", "1k", "1e9", "(1)", "(-0.5)"};

// Parameter texts a plug-in reads on its own: each is defined, evaluated once
// and its outputs read, in every parameter's place.
const std::vector<std::string> kTexts = {
    "", " ", "  10", "4.7k", "4.7K  ", "1M", "1m", "1meg", "5kOhm", "5 k", "1f", "1p", "100n", "1u", "1g", "1T",
    "1e3k", "-3", "-0", "2.5", "0.99", "1.7", "2147483647", "-2147483648", "2147483648", "1e12", "1e40", "1e-40",
    "2e-308", "1e-308", "8.98e307", "8.99e307", "1e308", "1e999", "1e305k", "2e305k", "1e-290f", "1e-300f", "0x10",
    "inf", "nan", "on", "ON", "off", "ja", "J", "nein", "n", "5n", "quit", "Q", "help", "H", "?", "k", "abc", "+",
    ".", "-", "1.5.5", "1e", "1e+", " on", "on "};

// Whole definition texts: field counts, empty fields, messages.
const std::vector<std::string> kDefinitions = {"",          ",,,,",          "1,2,,,",          "1,2,3,4,1,9",
                                               "1,2,3,4,1,9,9", "1,2,3,-0.5,0", "1m,1meg,0,0.1,1", "1,2,3,4,1,,,,,,,,",
                                               "(2),(3),(0.5),(0.25),(1)"};

void catalogueLines(PlugInUnderTest& plugin, const char* language, std::vector<std::string>& lines) {
    setUserLanguage(nullptr, nullptr, language);
    // The raw record: a default field is shown for every entry, whatever it holds.
    // Bytes beyond ASCII as \xHH, so that the file is plain text whatever the code page.
    auto field = [](const udm::CatalogueEntryView& entry, udm::CatalogueText which) {
        std::string text = "\"";
        for (const unsigned char c : entry.raw(which)) {
            if (c == 0) break;
            if (c >= 0x20 && c < 0x7F && c != '\\') {
                text += static_cast<char>(c);
            } else {
                char escape[5];
                std::snprintf(escape, sizeof escape, "\\x%02X", c);
                text += escape;
            }
        }
        return text + "\"";
    };
    for (uint32_t index = 0; index <= plugin.catalogue.size(); ++index) {
        const void* record = plugin.lib.listNodeInfo(index);
        if (record == nullptr) {
            lines.push_back("catalogue " + std::string(language) + " " + std::to_string(index) + " null");
            break;
        }
        const udm::CatalogueEntryView entry(record);
        using udm::CatalogueText;
        lines.push_back("catalogue " + std::string(language) + " " + std::to_string(index) + " " +
                        field(entry, CatalogueText::Name) + " kind " + std::to_string(entry.kind()) + " default " +
                        field(entry, CatalogueText::Default) + " description " +
                        field(entry, CatalogueText::Description));
    }
    setUserLanguage(nullptr, nullptr, nullptr);
}

// A recording checked out on Windows may have CRLF line endings; the lines
// themselves never hold a carriage return (it is written as \x0D).
std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::string fingerprintOf(PlugInUnderTest& plugin) {
    std::vector<std::string> lines = {"# behavioural fingerprint of a model plug-in; written by udmhost check --record",
                                      "# one line per observation; compare with udmhost check --against FILE PLUGIN"};
    const Registration& reg = plugin.registration;
    lines.push_back("registration GetPlugIn " + std::to_string(reg.version) + " record " +
                    std::to_string(reg.record.interfaceCode) + " " + std::to_string(reg.record.instanceBytes) + " " +
                    std::to_string(reg.record.reserved) + " GetVersionNumber " + std::to_string(reg.interfaceVersion));
    catalogueLines(plugin, "en_US.UTF-8", lines);
    catalogueLines(plugin, "de_DE.UTF-8", lines);
    size_t index = 0;
    auto sweep = [&](const std::string& definition, const SweepOptions& options) {
        lines.push_back("case " + std::to_string(++index));
        for (std::string& line : sweepCase(plugin, definition, options, {})) lines.push_back(std::move(line));
    };
    for (const std::string& definition : sweepDefinitions(plugin, kGrid)) sweep(definition, {});
    for (const std::string& definition : kDefinitions) sweep(definition, {});
    SweepOptions once;
    once.controls = {0.5};
    for (const std::string& definition : sweepDefinitions(plugin, kTexts))
        if (definition != plugin.defaultDefinition()) sweep(definition, once);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::vector<std::string> fingerprintDifferences(const std::string& recorded, const std::string& fresh, size_t limit,
                                                size_t* total) {
    const std::vector<std::string> want = splitLines(recorded), got = splitLines(fresh);
    std::vector<std::string> differences;
    std::string currentCase = "header";
    size_t count = 0;
    for (size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
        const std::string w = i < want.size() ? want[i] : "(end of file)";
        const std::string g = i < got.size() ? got[i] : "(end of output)";
        if (w.rfind("case ", 0) == 0) currentCase = w;
        if (w == g) continue;
        if (++count > limit) continue;
        differences.push_back("line " + std::to_string(i + 1) + " (" + currentCase + "): recorded \"" + w.substr(0, 300) +
                              "\", now \"" + g.substr(0, 300) + "\"");
    }
    if (total != nullptr) *total = count;
    return differences;
}

}  // namespace udmhost
