// Windows: a temporary file that the system deletes when it is closed,
// also when the process dies (_O_TEMPORARY); reads and writes at an offset
// seek first (one thread uses the file).
#include "output/spill_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace udmhost {

namespace {

std::string temporaryFolder() {
    char folder[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length > MAX_PATH) return ".";
    std::string text(folder, length);
    while (text.size() > 1 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
    return text;
}

[[noreturn]] void fail(const std::string& what, const std::string& folder, int error) {
    throw std::runtime_error("cannot keep the rows of the run: " + what + " the temporary file in " + folder + ": " +
                             std::strerror(error) + " (TMP chooses another folder)");
}

void seekTo(int fd, std::uint64_t offset, const char* what, const std::string& folder) {
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) fail(what, folder, EFBIG);
    if (::_lseeki64(fd, static_cast<long long>(offset), SEEK_SET) < 0) fail(what, folder, errno);
}

constexpr size_t kChunk = 1u << 30;  // _read and _write take an unsigned count

}  // namespace

SpillFile::SpillFile() : folder_(temporaryFolder()) {
    char path[MAX_PATH];
    if (GetTempFileNameA(folder_.c_str(), "udm", 0, path) == 0) fail("cannot create", folder_, EACCES);
    // GetTempFileName made the file; it is opened again to be deleted on close.
    fd_ = ::_open(path, _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd_ < 0) {
        const int error = errno;
        DeleteFileA(path);
        fail("cannot create", folder_, error);
    }
}

SpillFile::~SpillFile() { ::_close(fd_); }

void SpillFile::write(const void* data, size_t bytes, std::uint64_t offset) {
    const char* from = static_cast<const char*>(data);
    seekTo(fd_, offset, "writing", folder_);
    while (bytes > 0) {
        const int n = ::_write(fd_, from, static_cast<unsigned>(bytes < kChunk ? bytes : kChunk));
        if (n <= 0) fail("writing", folder_, n < 0 ? errno : ENOSPC);
        from += n;
        bytes -= static_cast<size_t>(n);
    }
}

void SpillFile::read(void* data, size_t bytes, std::uint64_t offset) const {
    char* to = static_cast<char*>(data);
    seekTo(fd_, offset, "reading", folder_);
    while (bytes > 0) {
        const int n = ::_read(fd_, to, static_cast<unsigned>(bytes < kChunk ? bytes : kChunk));
        if (n <= 0) fail("reading", folder_, n < 0 ? errno : EIO);  // 0: the file is shorter than written
        to += n;
        bytes -= static_cast<size_t>(n);
    }
}

}  // namespace udmhost
