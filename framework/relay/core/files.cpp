#include "framework/relay/core/files.hpp"

#include <sys/stat.h>

#include "framework/relay/mime.hpp"
#include "platform/base/exception.hpp"

namespace relay {

std::string ExtractFileNameOnly(const std::string& APath)
{
    const size_t delim = APath.find_last_of("/\\:");
    return delim == std::string::npos ? APath : APath.substr(delim + 1);
}

bool RegularFileExists(const std::string& APath)
{
    // Only regular files: a pipe or a device would never end or block the connection.
    struct stat st {};
    return ::stat(APath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TRelayCoreFile::TRelayCoreFile(const std::string& AFileName)
{
    if (AFileName.empty())
        throw platform::Exception("Invalid FileName");
    if (!RegularFileExists(AFileName))
        throw platform::Exception("File not exist");
    FFileName = AFileName;
    FName = ExtractFileNameOnly(AFileName);
    FFreeContentStream = true;
    FContentType = MimeTypeOfFile(AFileName);
}

TRelayCoreFile::~TRelayCoreFile()
{
    if (!FFreeContentStream)
        (void)FFileStream.release();  // the stream now belongs to whoever took it over
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
