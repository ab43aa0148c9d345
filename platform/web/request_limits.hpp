#pragma once
// Limits of the web-request layer, past the HTTP server's own (platform/http/http_limits.hpp):
// requests in work at once, and what a request's body may make the program build (its JSON
// tree, its multipart form). Bodies come from the network and are not believed. README.md
// "## Limits" lists them with what a client gets.
#include <cstddef>

namespace platform::limits {

// Requests in work at once (web modules in use). Each holds its module, and what its route
// holds, until it is answered: one more is refused with 500 rather than queued without bound.
inline constexpr int KMaxRequestsInWork = 32;

// Deepest nesting of arrays and objects a parsed JSON text may have. The parser, the tree's
// destructor and the writer all recurse per level: the bound keeps them far from the stack's
// end, and no product body needs more than one level. Past it: "Invalid JSON" (400).
inline constexpr std::size_t KMaxJsonDepth = 64;

// Parts of one multipart form, and bytes of the header block of one part (its lines up to the
// blank line): what one body may make us allocate beyond its own size. Past either the form
// reads as empty (no fields, no files).
inline constexpr std::size_t KMaxMultipartParts = 1000;
inline constexpr std::size_t KMaxMultipartPartHeaderBytes = 8 * 1024;
// Uploaded files up to this size are kept in memory, larger ones in an unnamed temporary file
// (gone with the request), so many large uploads at once do not exhaust memory.
inline constexpr std::size_t KMultipartMemoryFileBytes = 256 * 1024;

} // namespace platform::limits
