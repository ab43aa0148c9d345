#pragma once
// Parameters of structured header values such as Content-Type and Content-Disposition:
// "; name=value" pairs whose value is a token or a quoted string.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

using THeaderParams = std::vector<std::pair<std::string, std::string>>;

// Reads the "name=value" pairs of AText (the header value after its first ";"), separated by
// ";", in order. Names keep their case; quoted values lose their quotes. A backslash escapes
// only a following '"' or '\', so unescaped Windows paths in file names survive. Pieces
// without "=" are skipped. Returns false when a quoted string is not closed.
bool ParseHeaderParams(std::string_view AText, THeaderParams& AParams);

} // namespace platform
