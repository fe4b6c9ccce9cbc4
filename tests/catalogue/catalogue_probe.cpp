// catalogue_probe INDEX...
// Loads the plug-in and prints, for each index in turn, one line:
// name|kind|description|default, with the texts as hexadecimal bytes, or
// "null" when ListNodeInfo returns null.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include <span>

#include "host_records.h"
#include "plugin_loader.h"

namespace {

void printHex(std::span<const unsigned char> field) {
    for (std::size_t i = 0; i < field.size() && field[i] != 0; ++i) std::printf("%02x", field[i]);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        udmtest::PluginLibrary library;
        for (int i = 1; i < argc; ++i) {
            const unsigned long index = std::strtoul(argv[i], nullptr, 10);
            if (index > UINT32_MAX) return 2;
            const auto* record = static_cast<const unsigned char*>(library.listNodeInfo(static_cast<uint32_t>(index)));
            if (record == nullptr) {
                std::printf("null\n");
                continue;
            }
            const udm::CatalogueEntryView entry(record);
            printHex(entry.raw(udm::CatalogueText::Name));
            std::printf("|%d|", entry.kind());
            printHex(entry.raw(udm::CatalogueText::Description));
            std::printf("|");
            printHex(entry.raw(udm::CatalogueText::Default));
            std::printf("\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
