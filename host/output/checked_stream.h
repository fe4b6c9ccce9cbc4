// An output stream over a file descriptor that remembers why a write
// failed, so that the failure can be reported with its reason instead of
// being lost in a stream's bad bit.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace udmhost {

class FdStreamBuffer : public std::streambuf {
public:
    explicit FdStreamBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
    FdStreamBuffer(const FdStreamBuffer&) = delete;
    FdStreamBuffer& operator=(const FdStreamBuffer&) = delete;

    // errno of the first failed write, 0 while all went through.
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* data, std::streamsize size) override;
    int sync() override;

private:
    bool writeAll(const char* data, size_t size);
    bool drain();

    int fd_;
    int error_ = 0;
    char buffer_[1 << 16];
};

// A stream on a descriptor the caller keeps open (standard output, a
// temporary file). finish() flushes and throws std::runtime_error naming
// `what` and the reason when any write failed.
class CheckedStream {
public:
    explicit CheckedStream(int fd) : buffer_(fd), stream_(&buffer_) {}
    std::ostream& stream() { return stream_; }
    void finish(const std::string& what);

private:
    FdStreamBuffer buffer_;
    std::ostream stream_;
};

// Standard output as a checked stream, for results written there.
CheckedStream& checkedStandardOutput();

// "cannot write X: <reason of errno>"
std::string writeFailure(const std::string& what, int error);

}  // namespace udmhost
