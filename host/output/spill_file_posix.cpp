#include "output/spill_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace udmhost {

namespace {

std::string temporaryFolder() {
    const char* given = std::getenv("TMPDIR");
    return given != nullptr && *given != '\0' ? given : "/tmp";
}

[[noreturn]] void fail(const std::string& what, const std::string& folder, int error) {
    throw std::runtime_error("cannot keep the rows of the run: " + what + " the temporary file in " + folder + ": " +
                             std::strerror(error) + " (TMPDIR chooses another folder)");
}

}  // namespace

SpillFile::SpillFile() : folder_(temporaryFolder()) {
#ifdef O_TMPFILE
    fd_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) return;
#endif
    // File systems without unnamed files: a private name, removed at once.
    std::string path = folder_ + "/udmhost_rows_XXXXXX";
    fd_ = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd_ < 0) fail("cannot create", folder_, errno);
    ::unlink(path.c_str());
}

SpillFile::~SpillFile() { ::close(fd_); }

void SpillFile::write(const void* data, size_t bytes, std::uint64_t offset) {
    const char* from = static_cast<const char*>(data);
    while (bytes > 0) {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) fail("writing", folder_, EFBIG);
        const ssize_t n = ::pwrite(fd_, from, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        // A write that takes nothing and reports no error would loop forever.
        if (n <= 0) fail("writing", folder_, n < 0 ? errno : ENOSPC);
        from += n;
        bytes -= static_cast<size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

void SpillFile::read(void* data, size_t bytes, std::uint64_t offset) const {
    char* to = static_cast<char*>(data);
    while (bytes > 0) {
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) fail("reading", folder_, EINVAL);
        const ssize_t n = ::pread(fd_, to, bytes, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("reading", folder_, n < 0 ? errno : EIO);  // 0: the file is shorter than written
        to += n;
        bytes -= static_cast<size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
}

}  // namespace udmhost
