#include "fuzz/pieces.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    fuzz::RunPieces(AData, ASize);
    return 0;
}
