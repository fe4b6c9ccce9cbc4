// Windows: the temporary is created exclusively beside the final file and
// moved over it with MoveFileEx, which replaces an existing file.
#include "output/atomic_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "output/interrupt_cleanup.h"

namespace udmhost {

namespace {

// "dir\name.ext" -> "dir\.name.ext.<process>-<n>", in the same folder.
std::string temporaryName(const std::string& path, unsigned attempt) {
    const size_t slash = path.find_last_of("/\\");
    const size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameAt) + "." + path.substr(nameAt) + "." + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(attempt);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
    if (path_.empty() || path_.back() == '/' || path_.back() == '\\')
        throw std::runtime_error("cannot write '" + path_ + "': not a file name");
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path_, error);
    if (!error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        // A device (NUL, CON) cannot be replaced: written directly.
        fd_ = ::_open(path_.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
        if (fd_ < 0) throw std::runtime_error(writeFailure(path_, errno));
        direct_ = true;
        stream_ = std::make_unique<CheckedStream>(fd_);
        return;
    }
    renameTo_ = path_;
    for (unsigned attempt = 0; fd_ < 0; ++attempt) {
        temporary_ = temporaryName(path_, attempt);
        fd_ = ::_open(temporary_.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                      _S_IREAD | _S_IWRITE);
        if (fd_ < 0 && (errno != EEXIST || attempt == 100)) throw std::runtime_error(writeFailure(path_, errno));
    }
    if (!rememberPartialFile(temporary_.c_str())) {
        discard();
        throw std::runtime_error("cannot write " + path_ + ": too many output files");
    }
    stream_ = std::make_unique<CheckedStream>(fd_);
}

AtomicFile::~AtomicFile() {
    if (!committed_) discard();
}

void AtomicFile::discard() noexcept {
    if (fd_ >= 0) ::_close(fd_);
    fd_ = -1;
    if (direct_) return;
    ::_unlink(temporary_.c_str());
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
    if (!direct_ && ::_commit(fd_) != 0) error = errno;
    if (::_close(fd_) != 0 && error == 0) error = errno;
    fd_ = -1;
    if (error == 0 && !direct_ &&
        !MoveFileExA(temporary_.c_str(), renameTo_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    if (error != 0) {
        discard();
        throw std::runtime_error(writeFailure(path_, error));
    }
    if (!direct_) forgetPartialFile(temporary_.c_str());
    committed_ = true;
}

}  // namespace udmhost
