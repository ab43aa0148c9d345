// Every input kept for the fuzz targets runs here too: the seed corpus and each finding,
// so a fixed crash stays fixed in the normal and the sanitizer builds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fuzz_inputs.hpp"

#include "fuzz/pieces.hpp"

namespace {

using test_support::FuzzInputsOf;
using test_support::ReadFileBytes;

TEST(FuzzInputs, PiecesSurviveEveryKeptInput)
{
    auto files = FuzzInputsOf("pieces");
    ASSERT_GE(files.size(), 5u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        std::string bytes = ReadFileBytes(file);
        fuzz::RunPieces(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}

} // namespace
