#pragma once
// The inputs kept for a fuzz target: its seed corpus and every finding, replayed by the tests.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace test_support {

inline std::vector<std::filesystem::path> FuzzInputsOf(const std::string& ATarget)
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

inline std::string ReadFileBytes(const std::filesystem::path& APath)
{
    std::ifstream in(APath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace test_support
