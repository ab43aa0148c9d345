#pragma once
// A plain list of text lines: header lines, "name=value" fields and the like.
#include <string>
#include <vector>

namespace platform {

using TStrings = std::vector<std::string>;

} // namespace platform
