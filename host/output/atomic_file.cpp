#include "output/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

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

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)), temporary_(temporaryTemplate(path_)) {
    if (path_.empty() || path_.back() == '/') throw std::runtime_error("cannot write '" + path_ + "': not a file name");
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
    stream_ = std::make_unique<CheckedStream>(fd_);
}

AtomicFile::~AtomicFile() {
    if (!committed_) discard();
}

void AtomicFile::discard() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
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
    if (::fsync(fd_) != 0 && errno != EINVAL) error = errno;
    if (::close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    if (error == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) error = errno;
    if (error != 0) {
        discard();
        throw std::runtime_error(writeFailure(path_, error));
    }
    forgetPartialFile(temporary_.c_str());
    committed_ = true;
}

}  // namespace udmhost
