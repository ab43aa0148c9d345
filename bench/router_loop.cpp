// The framework's own cost per request, without sockets: the product service's middleware
// and route shape (JsonBody at the root, GET routes with ":id"), one request and response
// object pair per call, walked through the router tree from THREADS threads for SECONDS.
// Usage: bench_router_loop [THREADS] [SECONDS]
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "framework/relay/core.hpp"
#include "framework/relay/json_body.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/web/web_request.hpp"
#include "platform/web/web_response.hpp"

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv)
{
    const int threads = argc > 1 ? std::atoi(argv[1]) : 1;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 3;
    relay::TRelayCore::Create();
    relay::TRelayCore::Use(relay::JsonBody("UTF-8"));
    const char* const routes[] = {"/api/gtin/:id",      "/api/fotoexiste/:id", "/api/fotoexistej/:id",
                                  "/api/descricao/:id", "/api/um2/:id",        "/api/um/:id",
                                  "/api/desc/:id",      "/api/desc200/:id",    "/api/desc_ini/:id"};
    for (const char* path : routes)
        relay::TRelayCore::Get(path, [](relay::TRelayRequest& AReq, relay::TRelayResponse& ARes, auto&&) {
            ARes.Send(AReq.Params()["id"].empty() ? "Nao" : "Sim").Status(200);
        });
    relay::TRelayCore::Post("/api/grava", [](relay::TRelayRequest&, relay::TRelayResponse&, auto&&) {});

    std::atomic<long> total{0};
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            long n = 0;
            while (Clock::now() < end) {
                for (int k = 0; k < 100; ++k) {
                    platform::TWebRequest web;
                    web.SetMethod("GET");
                    web.SetRawPathInfo("/api/fotoexiste/7890000000000");
                    web.SetPathInfo("/api/fotoexiste/7890000000000");
                    web.SetRemoteAddr("127.0.0.1");
                    platform::TWebResponse raw;
                    relay::TRelayRequest request(web);
                    relay::TRelayResponse response(raw);
                    relay::TRelayCore::RootTree().Execute(request, response);
                    if (raw.Content() != "Sim")
                        std::abort();
                }
                n += 100;
            }
            total += n;
        });
    for (auto& t : pool)
        t.join();
    std::printf("threads=%d requests=%ld  %.0f req/s  %.2f us per request per thread\n", threads, total.load(),
                total.load() / double(seconds), seconds * 1e6 * threads / total.load());
    return 0;
}
