#include "platform/base/file_system.hpp"

#include <sys/stat.h>

namespace platform {

bool FileExists(const std::string& AFileName)
{
    struct stat st {};
    return ::stat(AFileName.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace platform
