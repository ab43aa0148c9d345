#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/relay/core/router_tree.hpp"
#include "platform/base/gcc_restrict.hpp"
#include "support/memory_web.hpp"

using namespace relay;
using testing_support::TMemoryExchange;

// Many threads walk one tree that is only read; each must see only its own values.
TEST(RouterTreeConcurrency, ThreadsSeeOnlyTheirOwnParameters)
{
    TRelayRouterTree tree;
    std::atomic<int> middlewareRuns{0};
    tree.RegisterMiddleware("/", [&middlewareRuns](TRelayRequest&, TRelayResponse&, const TProc& ANext) {
        middlewareRuns.fetch_add(1, std::memory_order_relaxed);
        ANext();
    });
    tree.RegisterRoute(platform::mtGet, "/api/gtin/:id",
                       [](TRelayRequest& ARequest, TRelayResponse& AResponse, const TProc&) {
                           AResponse.Send("gtin=" + ARequest.Params().Items("id"));
                       });
    tree.RegisterRoute(platform::mtGet, "/p/(\\d+)/:name",
                       [](TRelayRequest& ARequest, TRelayResponse& AResponse, const TProc&) {
                           AResponse.Send("name=" + ARequest.Params().Items("NAME"));
                       });
    tree.RegisterRoute(platform::mtPost, "/api/grava",
                       [](TRelayRequest&, TRelayResponse& AResponse, const TProc&) { AResponse.Send("grava"); });

    constexpr int KThreads = 8;
    constexpr int KIterations = 3000;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < KThreads; ++t) {
        threads.emplace_back([&tree, &failures, t] {
            for (int i = 0; i < KIterations && failures.load() < 10; ++i) {
                MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
                const std::string value = "t" + std::to_string(t) + "v" + std::to_string(i);
                MIROVANDEL_GCC12_FALSE_RESTRICT_END
                std::string target;
                std::string expected;
                int expectedStatus = 200;
                switch (i % 4) {
                case 0:
                    target = "/api/gtin/" + value;
                    expected = "gtin=" + value;
                    break;
                case 1:
                    target = "/p/" + std::to_string(i) + "/" + value;
                    expected = "name=" + value;
                    break;
                case 2:
                    target = "/api/gtin/" + value + "%20x";
                    expected = "gtin=" + value + " x";
                    break;
                default:
                    target = "/nothing/" + value;
                    expected = "Not Found";
                    expectedStatus = 404;
                    break;
                }
                TMemoryExchange x("GET", target);
                tree.Execute(x.Req(), x.Res());
                if (x.Content() != expected || x.Status() != expectedStatus)
                    failures.fetch_add(1);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    // Matched requests run the root middleware once, unmatched ones twice.
    EXPECT_EQ(middlewareRuns.load(), KThreads * KIterations / 4 * 5);
}
