#include "output/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "output/interrupt_cleanup.h"

namespace udmhost {

namespace {

// "dir/name.ext" -> "dir/.name.ext.XXXXXX": hidden, and in the same folder.
std::string temporaryTemplate(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameAt) + "." + path.substr(nameAt) + ".XXXXXX";
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    if (path_.empty() || path_.back() == '/') throw std::runtime_error("cannot write '" + path_ + "': not a file name");
    struct stat status = {};
    const bool exists = ::stat(path_.c_str(), &status) == 0;  // follows links
    if (exists && !S_ISREG(status.st_mode)) {
        // A device or a pipe (/dev/stdout, a FIFO) cannot be replaced: written directly.
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error(writeFailure(path_, errno));
        direct_ = true;
        stream_ = std::make_unique<CheckedStream>(fd_);
        return;
    }
    // A link is followed, so that the file it names is replaced, not the link.
    std::error_code error;
    const std::filesystem::path target = exists ? std::filesystem::canonical(path_, error) : std::filesystem::path();
    const std::string final = exists && !error ? target.string() : path_;
    renameTo_ = final;
    temporary_ = temporaryTemplate(final);
    fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error(writeFailure(path_, errno));
    if (!rememberPartialFile(temporary_.c_str())) {
        discard();
        throw std::runtime_error("cannot write " + path_ + ": too many output files");
    }
    // mkostemp creates the file for its owner only; an output gets the
    // permissions any new file of this user gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    try {
        stream_ = std::make_unique<CheckedStream>(fd_);
    } catch (...) {  // out of memory: no destructor will remove the temporary
        discard();
        throw;
    }
}

AtomicFile::~AtomicFile() {
    if (!committed_) discard();
}

void AtomicFile::discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (direct_) return;
    ::unlink(temporary_.c_str());
    forgetPartialFile(temporary_.c_str());
}

void AtomicFile::commit() {
    try {
        stream_->finish(path_);
    } catch (...) {
        discard();
        throw;
    }
    int error = 0;
    if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) error = errno;
    if (::close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    if (error == 0 && !direct_ && ::rename(temporary_.c_str(), renameTo_.c_str()) != 0) error = errno;
    if (error != 0) {
        discard();
        throw std::runtime_error(writeFailure(path_, error));
    }
    if (!direct_) forgetPartialFile(temporary_.c_str());
    committed_ = true;
}

}  // namespace udmhost
