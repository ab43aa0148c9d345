// Every input kept for the HTTP fuzz target runs here too, through the server's per-connection
// code over a socketpair: the seed corpus and each finding.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fuzz_inputs.hpp"
#include "support/process_state.hpp"

#include "fuzz/http_entry.hpp"

namespace {

using test_support::FuzzInputsOf;
using test_support::ReadFileBytes;

// The harness sets up the core, its routes and a server once for its process, as the fuzzer's
// process needs, and keeps them: so each test runs in a process of its own.
std::string Serve(const std::string& ABytes)
{
    return fuzz::RunHttp(reinterpret_cast<const uint8_t*>(ABytes.data()), ABytes.size());
}

TEST(FuzzHttpInputs, EveryKeptInputIsServed)
{
    MIROVANDEL_IN_FRESH_PROCESS();
    auto files = FuzzInputsOf("http");
    ASSERT_GE(files.size(), 5u);
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        Serve(ReadFileBytes(file));
    }
}

// The harness itself: it must see the server's real answers, or the fuzzer explores nothing.
TEST(FuzzHttpInputs, HarnessSeesTheServersAnswers)
{
    MIROVANDEL_IN_FRESH_PROCESS();
    EXPECT_EQ(Serve(""), "");
    std::string two = Serve("GET /api/nothing HTTP/1.1\r\n\r\nGET /api/grava HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(two.find("HTTP/1.1 404"), 0u) << two;
    EXPECT_NE(two.find("HTTP/1.1 405"), std::string::npos) << two;
    std::string json =
        Serve("POST /api/grava HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n[1");
    EXPECT_EQ(json.find("HTTP/1.1 400"), 0u) << json;
    EXPECT_NE(json.find("Invalid JSON"), std::string::npos) << json;
    std::string garbage = Serve("\x01\x02 nonsense\r\n\r\n");
    EXPECT_EQ(garbage.find("HTTP/1.1 400"), 0u) << garbage;
}

} // namespace
