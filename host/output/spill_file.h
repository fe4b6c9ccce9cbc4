// An anonymous temporary file for data that does not fit in memory: created
// in $TMPDIR (or /tmp) without a name anyone can see, gone when closed or
// when the process dies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace udmhost {

class SpillFile {
public:
    // Throws std::runtime_error naming the folder and the reason.
    SpillFile();
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // All `bytes` at `offset`, or std::runtime_error (a full disk above all).
    void write(const void* data, size_t bytes, std::uint64_t offset);
    // All `bytes` from `offset`, or std::runtime_error.
    void read(void* data, size_t bytes, std::uint64_t offset) const;

    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
    int fd_ = -1;
};

}  // namespace udmhost
