#include "framework/relay/core/files.hpp"

#include "framework/relay/mime.hpp"
#include "platform/base/exception.hpp"
#include "platform/base/file_system.hpp"

namespace relay {

std::string ExtractFileNameOnly(const std::string& APath)
{
    const size_t delim = APath.find_last_of("/\\:");
    return delim == std::string::npos ? APath : APath.substr(delim + 1);
}

TRelayCoreFile::TRelayCoreFile(const std::string& AFileName)
{
    if (AFileName.empty())
        throw platform::Exception("Invalid FileName");
    // Only regular files: a pipe or a device would never end or block the connection.
    if (!platform::FileExists(AFileName))
        throw platform::Exception("File not exist");
    FFileName = AFileName;
    FName = ExtractFileNameOnly(AFileName);
    FFreeContentStream = true;
    FContentType = MimeTypeOfFile(AFileName);
}

TRelayCoreFile::~TRelayCoreFile()
{
    if (!FFreeContentStream)
        (void)FFileStream.release(); // the stream now belongs to whoever took it over
}

platform::TStream* TRelayCoreFile::ContentStream()
{
    // Opened for reading only, so any number of requests may send the same file at once.
    // (POSIX has no share modes that would keep writers out while it is open.)
    if (!FFileStream)
        FFileStream = std::make_unique<platform::TFileStream>(FFileName);
    return FFileStream.get();
}

int64_t TRelayCoreFile::Size()
{
    return ContentStream()->Size();
}

} // namespace relay
