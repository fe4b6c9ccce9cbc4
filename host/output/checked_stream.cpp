#include "output/checked_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace udmhost {

bool FdStreamBuffer::writeAll(const char* data, size_t size) {
    if (error_ != 0) return false;
    while (size > 0) {
#ifdef _WIN32
        // The C runtime's write takes an unsigned count.
        const int n = ::write(fd_, data, static_cast<unsigned>(size < (1u << 30) ? size : (1u << 30)));
#else
        const ssize_t n = ::write(fd_, data, size);
#endif
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool FdStreamBuffer::drain() {
    const auto pending = static_cast<size_t>(pptr() - pbase());
    setp(buffer_, buffer_ + sizeof buffer_);
    return writeAll(buffer_, pending);
}

FdStreamBuffer::int_type FdStreamBuffer::overflow(int_type c) {
    if (!drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

std::streamsize FdStreamBuffer::xsputn(const char* data, std::streamsize size) {
    const auto count = static_cast<size_t>(size);
    if (count <= static_cast<size_t>(epptr() - pptr())) {
        std::memcpy(pptr(), data, count);
        pbump(static_cast<int>(size));
        return size;
    }
    if (!drain() || !writeAll(data, count)) return 0;
    return size;
}

int FdStreamBuffer::sync() { return drain() ? 0 : -1; }

std::string writeFailure(const std::string& what, int error) {
    return "cannot write " + what + ": " + std::strerror(error);
}

void CheckedStream::finish(const std::string& what) {
    stream_.flush();
    if (buffer_.error() != 0) throw std::runtime_error(writeFailure(what, buffer_.error()));
    if (!stream_) throw std::runtime_error(writeFailure(what, EIO));
}

CheckedStream& checkedStandardOutput() {
    static CheckedStream out(STDOUT_FILENO);
    return out;
}

}  // namespace udmhost
