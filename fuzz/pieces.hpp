#pragma once
// Fuzz entry for the request pieces that parse untrusted text on their own: JSON bodies,
// urlencoded lists, multipart forms, Content-Type values and the request's lazy collections.
// The first byte of an input picks the piece (j, u, m, c, r; any other byte by its value);
// the rest is its text. Shared by the libFuzzer
// target (fuzz/fuzz_pieces.cpp) and the corpus replay test, so every kept input runs in CI.
#include <cstddef>
#include <cstdint>

namespace fuzz {

// Runs one input; aborts (so the fuzzer reports it) when a checked property does not hold.
void RunPieces(const uint8_t* AData, size_t ASize);

} // namespace fuzz
