#include "platform/base/stream.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/base/exception.hpp"
#include "platform/base/file_system.hpp"

namespace platform {

namespace {

[[noreturn]] void ThrowCannotOpen(const std::string& AFileName, int AError)
{
    throw Exception("Cannot open file \"" + AFileName + "\". " + std::strerror(AError));
}

} // namespace

TFileStream::TFileStream(const std::string& AFileName)
{
    FHandle = ::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (FHandle < 0)
        ThrowCannotOpen(AFileName, errno);
}

std::unique_ptr<TFileStream> TFileStream::OpenRegularFile(const std::string& AFileName)
{
    int fd = ::open(AFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (FileExists(AFileName))
            ThrowCannotOpen(AFileName, error);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    // O_NONBLOCK stays: it changes nothing for a regular file.
    auto stream = std::unique_ptr<TFileStream>(new TFileStream(fd, TAdopt{}));
    stream->FKnownSize = static_cast<int64_t>(st.st_size);
    return stream;
}

TFileStream::~TFileStream()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

int64_t TFileStream::Size() const
{
    if (FKnownSize >= 0)
        return FKnownSize;
    struct stat st {};
    if (::fstat(FHandle, &st) != 0)
        throw Exception(std::strerror(errno));
    return static_cast<int64_t>(st.st_size);
}

size_t ReadFileAt(int AHandle, void* ABuffer, size_t ACount, int64_t& APosition)
{
    for (;;) {
        ssize_t n = ::pread(AHandle, ABuffer, ACount, static_cast<off_t>(APosition));
        if (n >= 0) {
            APosition += n;
            return static_cast<size_t>(n);
        }
        if (errno != EINTR)
            throw Exception(std::strerror(errno));
    }
}

size_t TFileStream::Read(void* ABuffer, size_t ACount)
{
    return ReadFileAt(FHandle, ABuffer, ACount, FPosition);
}

size_t TStringStream::Read(void* ABuffer, size_t ACount)
{
    if (FPosition < 0 || FPosition >= Size())
        return 0;
    size_t n = std::min(ACount, FData.size() - static_cast<size_t>(FPosition));
    std::memcpy(ABuffer, FData.data() + FPosition, n);
    FPosition += static_cast<int64_t>(n);
    return n;
}

} // namespace platform
