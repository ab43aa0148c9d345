#pragma once
// Fuzz entry for the whole road of a request: the bytes of one client connection go through
// the server's per-connection code (HTTP parsing, limits, keep-alive), the web request handler,
// the router with the product route table (percent-decoding of parameters), the JSON body
// middleware and the request's value collections (query, cookies, urlencoded and multipart
// forms). Shared by the libFuzzer target (fuzz/fuzz_http.cpp) and the corpus replay test.
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Serves AData as everything one client sends on one connection, then the end of its stream;
// returns what the server wrote back. Aborts when a checked property does not hold.
std::string RunHttp(const uint8_t* AData, size_t ASize);

} // namespace fuzz
