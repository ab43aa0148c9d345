// Every input kept for the HTTP fuzz target runs here too, through the server's per-connection
// code over a socketpair: the seed corpus and each finding.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/http_entry.hpp"

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

std::string Serve(const std::string& ABytes)
{
    return fuzz::RunHttp(reinterpret_cast<const uint8_t*>(ABytes.data()), ABytes.size());
}

TEST(FuzzHttpInputs, EveryKeptInputIsServed)
{
    auto files = InputsOf("http");
    ASSERT_GE(files.size(), 5u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        Serve(ReadAll(file));
    }
}

// The harness itself: it must see the server's real answers, or the fuzzer explores nothing.
TEST(FuzzHttpInputs, HarnessSeesTheServersAnswers)
{
    EXPECT_EQ(Serve(""), "");
    std::string two = Serve("GET /api/nothing HTTP/1.1\r\n\r\nGET /api/grava HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(two.find("HTTP/1.1 404"), 0u) << two;
    EXPECT_NE(two.find("HTTP/1.1 405"), std::string::npos) << two;
    std::string json = Serve("POST /api/grava HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n[1");
    EXPECT_EQ(json.find("HTTP/1.1 400"), 0u) << json;
    EXPECT_NE(json.find("Invalid JSON"), std::string::npos) << json;
    std::string garbage = Serve("\x01\x02 nonsense\r\n\r\n");
    EXPECT_EQ(garbage.find("HTTP/1.1 400"), 0u) << garbage;
}

} // namespace
