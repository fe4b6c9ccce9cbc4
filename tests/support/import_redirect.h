// Points one entry of a loaded module's import table at a function of the
// test's, so that the module's calls to a system function can be watched or
// refused (Windows has no symbol interposition between modules).
#pragma once

#ifdef _WIN32

#include <windows.h>

#include <cstddef>
#include <cstring>

namespace udmtest {

// Redirects `module`'s import of `function` from `dll` to `replacement` and
// returns the address it had, or nullptr when there is no such import.
inline void* redirectImport(HMODULE module, const char* dll, const char* function, void* replacement) {
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
        for (std::size_t i = 0;; ++i) {
            IMAGE_THUNK_DATA byName;
            std::memcpy(&byName, base + descriptor.OriginalFirstThunk + i * sizeof byName, sizeof byName);
            if (byName.u1.AddressOfData == 0) break;
            if (IMAGE_SNAP_BY_ORDINAL(byName.u1.Ordinal)) continue;
            // IMAGE_IMPORT_BY_NAME: a 16-bit hint, then the name.
            const auto* name = reinterpret_cast<const char*>(base + byName.u1.AddressOfData + sizeof(WORD));
            if (std::strcmp(name, function) != 0) continue;
            void* slot = base + descriptor.FirstThunk + i * sizeof(IMAGE_THUNK_DATA);
            DWORD protection = 0;
            if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection)) return nullptr;
            void* previous = nullptr;
            std::memcpy(&previous, slot, sizeof previous);
            std::memcpy(slot, &replacement, sizeof replacement);
            VirtualProtect(slot, sizeof(void*), protection, &protection);
            return previous;
        }
    }
}

}  // namespace udmtest

#endif  // _WIN32
