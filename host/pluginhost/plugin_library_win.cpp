// Plug-ins loaded by LoadLibraryA; their movable memory is kernel32's own,
// the functions the plug-in imports, as in the host it was written for.
#include "pluginhost/plugin_library.h"

#include <windows.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace udmhost {

namespace {

std::string systemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message + " (error " + std::to_string(code) + ")";
}

template <class Fn>
Fn required(HMODULE module, const std::string& path, const char* name) {
    FARPROC address = GetProcAddress(module, name);
    if (address == nullptr)
        throw std::runtime_error(path + ": not a model plug-in: no exported function " + name);
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

}  // namespace

std::string loadablePath(const std::string& path) {
    // A bare name would be looked for in the system folders before the
    // working folder.
    std::error_code error;
    if (path.find_first_of("/\\:") == std::string::npos && std::filesystem::is_regular_file(path, error))
        return ".\\" + path;
    return path;
}

// The binding is the same either way: the checker watches the locks by
// patching the plug-in's import table (check/lock_watch_win.cpp).
PluginLibrary::PluginLibrary(const std::string& path, LockBinding) : path_(path) {
    HMODULE module = LoadLibraryA(loadablePath(path).c_str());
    if (module == nullptr) throw std::runtime_error("cannot load plug-in: " + path + ": " + systemMessage(GetLastError()));
    handle_ = module;
    try {
        getPlugin = required<GetPlugInFn>(module, path, "GetPlugIn");
        init = required<UDMInitFn>(module, path, "UDMInit");
        getVersionNumber = required<GetVersionNumberFn>(module, path, "GetVersionNumber");
        listNodeInfo = required<ListNodeInfoFn>(module, path, "ListNodeInfo");
        main_ = required<UDMMainFn>(module, path, "UDMMain");
    } catch (...) {
        FreeLibrary(module);
        throw;
    }
    globalAlloc = &::GlobalAlloc;
    globalLock = &::GlobalLock;
    globalUnlock = &::GlobalUnlock;
    globalFree = &::GlobalFree;
    globalFlags = &::GlobalFlags;
    globalSize = &::GlobalSize;
}

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* PluginLibrary::symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

}  // namespace udmhost
