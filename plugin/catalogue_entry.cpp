#include "catalogue_entry.h"

#include <algorithm>
#include <array>
#include <cstring>
#ifdef UDM_BREAK_DESCRIPTION_UTF8
#include <cstdio>
#include <string>
#endif
#include <string_view>

#include "host_records.h"

namespace vcswitch {
namespace {

struct CatalogueItem {
    std::string_view name;
    int32_t kind;
    UINT textId;
    std::string_view defaultText;  // parameters only
};

// Outputs first, then the parameters in the order the definition text lists
// them, then the terminals.
constexpr std::array<CatalogueItem, kCatalogueEntries> kCatalogue = {{
    {"STATE", UDM_KIND_OUTPUT, 110, {}},
    {"V", UDM_KIND_OUTPUT, 111, {}},
    {"I", UDM_KIND_OUTPUT, 112, {}},
    {"dV", UDM_KIND_OUTPUT, 113, {}},
    {"dI", UDM_KIND_OUTPUT, 114, {}},
    {"RON", UDM_KIND_PARAMETER, 120, "1.0e-3"},
    {"ROFF", UDM_KIND_PARAMETER, 121, "1.0e9"},
    {"VTHRES", UDM_KIND_PARAMETER, 122, "0.0"},
    {"VHYST", UDM_KIND_PARAMETER, 123, "0.0"},
    {"CTRL0", UDM_KIND_PARAMETER, 124, "0.0"},
    {"N1", UDM_KIND_TERMINAL, 101, {}},
    {"N2", UDM_KIND_TERMINAL, 102, {}},
    {"NC1", UDM_KIND_TERMINAL, 103, {}},
    {"NC2", UDM_KIND_TERMINAL, 104, {}},
}};

// Size of the buffer the description is loaded into before it is cut to
// the record's field.
constexpr int kTextBufferBytes = 257;

// Copies `text` into a zero-terminated field of `fieldBytes`, cutting it to
// fieldBytes - 1 bytes and clearing the rest of the field.
void writeField(unsigned char* record, std::size_t offset, std::size_t fieldBytes, std::string_view text) {
    const std::size_t count = std::min(text.size(), fieldBytes - 1);
    std::memcpy(record + offset, text.data(), count);
    std::memset(record + offset + count, 0, fieldBytes - count);
}

static_assert(std::all_of(kCatalogue.begin(), kCatalogue.end(), [](const CatalogueItem& item) {
    return item.name.size() < UDM_CAT_NAME_BYTES && item.defaultText.size() < UDM_CAT_DEFAULT_BYTES;
}));

}  // namespace

bool writeCatalogueEntry(unsigned char* record, uint32_t index, HINSTANCE module) {
    std::array<char, kTextBufferBytes> description{};
    if (index >= kCatalogue.size()) return false;
    const CatalogueItem& item = kCatalogue[index];
    writeField(record, UDM_CAT_NAME, UDM_CAT_NAME_BYTES, item.name);
    udm::storeAt<int32_t>(record, UDM_CAT_KIND, item.kind);
    if (item.kind == UDM_KIND_PARAMETER) writeField(record, UDM_CAT_DEFAULT, UDM_CAT_DEFAULT_BYTES, item.defaultText);
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
    writeField(record, UDM_CAT_DESCRIPTION, UDM_CAT_DESCRIPTION_BYTES, description.data());
    return true;
}

}  // namespace vcswitch
