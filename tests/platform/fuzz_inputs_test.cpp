// Every input kept for the fuzz targets runs here too: the seed corpus and each finding,
// so a fixed crash stays fixed in the normal and the sanitizer builds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/pieces.hpp"

namespace {

std::vector<std::filesystem::path> InputsOf(const std::string& ATarget)
{
    std::vector<std::filesystem::path> files;
    for (const char* kind : {"corpus", "findings"}) {
        std::filesystem::path dir = std::filesystem::path(MIROVANDEL_SOURCE_DIR) / "fuzz" / kind / ATarget;
        if (!std::filesystem::is_directory(dir))
            continue;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.is_regular_file())
                files.push_back(entry.path());
    }
    return files;
}

std::string ReadAll(const std::filesystem::path& APath)
{
    std::ifstream in(APath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FuzzInputs, PiecesSurviveEveryKeptInput)
{
    auto files = InputsOf("pieces");
    ASSERT_GE(files.size(), 5u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        std::string bytes = ReadAll(file);
        fuzz::RunPieces(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
}

} // namespace
