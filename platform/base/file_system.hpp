#pragma once
// Questions about the file system that more than one layer asks.
#include <string>

namespace platform {

// Whether a regular file of that name exists, symbolic links followed. A folder, a pipe or a
// device of that name does not count: none of them is a file anybody here could read to its end.
bool FileExists(const std::string& AFileName);

} // namespace platform
