#include "check/import_table.h"

#include <cstddef>
#include <cstring>

namespace udmhost {

void* importSlot(HMODULE module, const char* dll, const char* function) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    IMAGE_DOS_HEADER dos;
    std::memcpy(&dos, base, sizeof dos);
    IMAGE_NT_HEADERS nt;
    std::memcpy(&nt, base + dos.e_lfanew, sizeof nt);
    const IMAGE_DATA_DIRECTORY imports = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    for (std::size_t d = 0;; ++d) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        std::memcpy(&descriptor, base + imports.VirtualAddress + d * sizeof descriptor, sizeof descriptor);
        if (descriptor.Name == 0) return nullptr;
        if (_stricmp(reinterpret_cast<const char*>(base + descriptor.Name), dll) != 0) continue;
        // Names are read from the original thunks; without them (an old
        // linker's image) the table has been overwritten by addresses.
        if (descriptor.OriginalFirstThunk == 0) continue;
        for (std::size_t i = 0;; ++i) {
            IMAGE_THUNK_DATA byName;
            std::memcpy(&byName, base + descriptor.OriginalFirstThunk + i * sizeof byName, sizeof byName);
            if (byName.u1.AddressOfData == 0) break;
            if (IMAGE_SNAP_BY_ORDINAL(byName.u1.Ordinal)) continue;
            // IMAGE_IMPORT_BY_NAME: a 16-bit hint, then the name.
            const auto* name = reinterpret_cast<const char*>(base + byName.u1.AddressOfData + sizeof(WORD));
            if (std::strcmp(name, function) == 0) return base + descriptor.FirstThunk + i * sizeof(IMAGE_THUNK_DATA);
        }
    }
}

void* exchangeSlot(void* slot, void* value) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
    void* previous = nullptr;
    std::memcpy(&previous, slot, sizeof previous);
    std::memcpy(slot, &value, sizeof value);
    VirtualProtect(slot, sizeof(void*), protection, &protection);
    return previous;
}

}  // namespace udmhost
