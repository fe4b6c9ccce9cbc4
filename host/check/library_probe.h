// A second, plain load of a plug-in, to see what it exports and what it
// reaches of the platform's memory functions before the checker trusts it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace udmhost {

class LibraryProbe {
public:
    // nullptr with `error` set when the library does not load.
    static std::unique_ptr<LibraryProbe> open(const std::string& path, std::string* error);
    ~LibraryProbe();
    LibraryProbe(const LibraryProbe&) = delete;
    LibraryProbe& operator=(const LibraryProbe&) = delete;

    void* symbol(const char* name) const;  // an export, or nullptr
    // Of GlobalAlloc ... GlobalSize, those the library cannot reach: on
    // POSIX systems through its dependencies, on Windows those of
    // GlobalLock and GlobalUnlock it does not import from kernel32.dll.
    std::vector<std::string> missingMemoryFunctions() const;

private:
    explicit LibraryProbe(void* handle) : handle_(handle) {}
    void* handle_;
};

}  // namespace udmhost
