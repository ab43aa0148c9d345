#include "fuzz/http_entry.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    fuzz::RunHttp(AData, ASize);
    return 0;
}
