// An output file that appears complete or not at all: it is written under a
// temporary name in its own folder (so that the rename stays within one file
// system) and renamed over the final name only by commit(). Until then an
// interruption or a failure removes the temporary. A path naming a device or
// a pipe (/dev/stdout) is written directly, with the same checks.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "output/checked_stream.h"

namespace udmhost {

class AtomicFile {
public:
    // Creates the temporary; throws std::runtime_error with the reason.
    explicit AtomicFile(std::string path);
    ~AtomicFile();  // removes the temporary unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    const std::string& path() const { return path_; }
    bool direct() const { return direct_; }
    // Where the content is being written (the path itself when direct).
    const std::string& temporaryPath() const { return direct_ ? path_ : temporary_; }
    std::ostream& stream() { return stream_->stream(); }
    // The temporary's descriptor, for content written by another process.
    int descriptor() const { return fd_; }

    // Flushes, syncs, closes and renames; throws std::runtime_error naming
    // the file and the reason when any of it failed (the temporary is then
    // removed and the final name left as it was).
    void commit();

private:
    void discard() noexcept;

    std::string path_, renameTo_, temporary_;
    int fd_ = -1;
    std::unique_ptr<CheckedStream> stream_;
    bool committed_ = false;
    bool direct_ = false;
};

}  // namespace udmhost
