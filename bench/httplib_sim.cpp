// cpp-httplib's server answering "Sim", set up fairly: TCP_NODELAY on, a 32-thread pool
// (the product service's limit of requests in work), keep-alive not capped at 5 requests.
// Usage: bench_httplib_sim PORT [SECONDS]   (exits by itself after SECONDS, default 600)
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [SECONDS]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1u << 30);
    server.Get(R"(/api/fotoexiste/(.+))", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("Sim", "text/html; charset=utf-8");
    });
    std::thread([seconds, &server] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        server.stop();
    }).detach();
    if (!server.listen("127.0.0.1", port)) {
        std::fprintf(stderr, "cannot listen on %d\n", port);
        return 1;
    }
    return 0;
}
