// catalogue_probe INDEX...
// Loads the plug-in and prints, for each index in turn, one line:
// name|kind|description|default, with the texts as hexadecimal bytes, or
// "null" when ListNodeInfo returns null.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "host_records.h"
#include "plugin_loader.h"

namespace {

void printHex(const unsigned char* field, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes && field[i] != 0; ++i) std::printf("%02x", field[i]);
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
            printHex(record + UDM_CAT_NAME, UDM_CAT_NAME_BYTES);
            std::printf("|%d|", udm::loadAt<int32_t>(record, UDM_CAT_KIND));
            printHex(record + UDM_CAT_DESCRIPTION, UDM_CAT_DESCRIPTION_BYTES);
            std::printf("|");
            printHex(record + UDM_CAT_DEFAULT, UDM_CAT_DEFAULT_BYTES);
            std::printf("\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
