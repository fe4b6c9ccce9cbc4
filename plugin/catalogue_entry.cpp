#include "catalogue_entry.h"

#include <algorithm>
#include <array>
#include <string_view>
#ifdef UDM_BREAK_DESCRIPTION_UTF8
#include <cstdio>
#include <string>
#endif

#include "host_records.h"
#include "parameters.h"

namespace vcswitch {
namespace {

struct CatalogueItem {
    std::string_view name;
    int32_t kind;
    UINT textId;
    std::string_view defaultText;  // parameters only
};

constexpr CatalogueItem parameterItem(std::size_t i) {
    return {kParameters[i].name, UDM_KIND_PARAMETER, kParameters[i].textId, kParameters[i].defaultText};
}

// Outputs first, then the parameters in the order the definition text lists
// them, then the terminals.
constexpr std::array<CatalogueItem, kCatalogueEntries> kCatalogue = {{
    {"STATE", UDM_KIND_OUTPUT, 110, {}},
    {"V", UDM_KIND_OUTPUT, 111, {}},
    {"I", UDM_KIND_OUTPUT, 112, {}},
    {"dV", UDM_KIND_OUTPUT, 113, {}},
    {"dI", UDM_KIND_OUTPUT, 114, {}},
    parameterItem(kRon),
    parameterItem(kRoff),
    parameterItem(kVthres),
    parameterItem(kVhyst),
    parameterItem(kCtrl0),
    {"N1", UDM_KIND_TERMINAL, 101, {}},
    {"N2", UDM_KIND_TERMINAL, 102, {}},
    {"NC1", UDM_KIND_TERMINAL, 103, {}},
    {"NC2", UDM_KIND_TERMINAL, 104, {}},
}};

// Size of the buffer the description is loaded into before it is cut to
// the record's field.
constexpr int kTextBufferBytes = 257;

static_assert(std::all_of(kCatalogue.begin(), kCatalogue.end(), [](const CatalogueItem& item) {
    return item.name.size() < udm::catalogueTextBytes(udm::CatalogueText::Name) &&
           item.defaultText.size() < udm::catalogueTextBytes(udm::CatalogueText::Default);
}));

}  // namespace

bool writeCatalogueEntry(unsigned char* record, uint32_t index, HINSTANCE module) {
    std::array<char, kTextBufferBytes> description{};
    if (index >= kCatalogue.size()) return false;
    const CatalogueItem& item = kCatalogue[index];
    const udm::CatalogueEntryWriter entry(record);
    entry.setName(item.name);
    entry.setKind(item.kind);
    if (item.kind == UDM_KIND_PARAMETER) entry.setDefaultText(item.defaultText);
    LoadStringA(module, item.textId, description.data(), kTextBufferBytes - 1);
#ifdef UDM_BREAK_DESCRIPTION_UTF8  // fault: hands out UTF-8 instead of the code page
    std::string utf8;
    for (const char c : std::string(description.data())) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) utf8 += c;
        else utf8 += {static_cast<char>(0xC0 | (byte >> 6)), static_cast<char>(0x80 | (byte & 0x3F))};
    }
    std::snprintf(description.data(), description.size(), "%s", utf8.c_str());
#endif
    entry.setDescription(description.data());
    return true;
}

}  // namespace vcswitch
