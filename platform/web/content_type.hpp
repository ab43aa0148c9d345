#pragma once
// The Content-Type value as the web layer hands it to the framework: the charset parameter is
// held apart (request bodies are decoded as UTF-8), so the framework compares bare media types.
#include <string>
#include <string_view>

namespace platform {

// With a "charset" parameter (name matched ignoring case) the value is rebuilt as its first
// item (the text before the first ";", trimmed) followed by each other parameter as
// "; name=value"; without one the header comes back exactly as given.
//   "application/json;charset=UTF-8"              -> "application/json"
//   "application/json; charset=utf-8; version=2"  -> "application/json; version=2"
std::string StripCharsetParameter(std::string_view AHeader);

// The value of the header's "charset" parameter (quotes removed), or the empty text.
std::string CharsetParameter(std::string_view AHeader);

} // namespace platform
