// The version record from the library's VERSIONINFO resource, through
// version.dll, with the comments of the user's language.
#include "pluginhost/version_record.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace udmhost {

namespace {

struct Translation {
    WORD language;
    WORD codePage;
};

// The user's language when the record has it, else English, else the first.
Translation pickTranslation(const Translation* list, size_t count) {
    const WORD user = PRIMARYLANGID(GetUserDefaultUILanguage());
    for (size_t i = 0; i < count; ++i)
        if (PRIMARYLANGID(list[i].language) == user) return list[i];
    for (size_t i = 0; i < count; ++i)
        if (list[i].language == 0x409) return list[i];
    return list[0];
}

}  // namespace

std::optional<VersionRecord> readVersionRecord(const PluginLibrary& library) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<const char*>(reinterpret_cast<void*>(library.getPlugin)), &module))
        return std::nullopt;
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    if (length == 0 || length >= sizeof path) return std::nullopt;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return std::nullopt;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path, 0, size, data.data())) return std::nullopt;
    void* value = nullptr;
    UINT valueBytes = 0;
    if (!VerQueryValueA(data.data(), "\\", &value, &valueBytes) || valueBytes < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    VersionRecord record;
    const DWORD parts[4] = {fixed.dwFileVersionMS, fixed.dwFileVersionLS, fixed.dwProductVersionMS,
                            fixed.dwProductVersionLS};
    for (int i = 0; i < 2; ++i) {
        record.fileVersion[2 * i] = HIWORD(parts[i]);
        record.fileVersion[2 * i + 1] = LOWORD(parts[i]);
        record.productVersion[2 * i] = HIWORD(parts[2 + i]);
        record.productVersion[2 * i + 1] = LOWORD(parts[2 + i]);
    }
    if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &valueBytes) &&
        valueBytes >= sizeof(Translation)) {
        std::vector<Translation> list(valueBytes / sizeof(Translation));
        std::memcpy(list.data(), value, list.size() * sizeof(Translation));
        const Translation chosen = pickTranslation(list.data(), list.size());
        char key[64];
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\Comments", chosen.language, chosen.codePage);
        if (VerQueryValueA(data.data(), key, &value, &valueBytes) && valueBytes > 0)
            record.comments.assign(static_cast<const char*>(value), strnlen(static_cast<const char*>(value), valueBytes));
    }
    return record;
}

}  // namespace udmhost
