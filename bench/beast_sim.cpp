// The transport's ceiling: a bare Boost.Beast server, one thread per connection, that
// answers every request with "Sim" as the product service does for a known picture.
// Usage: bench_beast_sim PORT [SECONDS]   (exits by itself after SECONDS, default 600)
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

static void Session(tcp::socket socket)
{
    boost::system::error_code ec;
    socket.set_option(tcp::no_delay(true), ec);
    boost::beast::flat_buffer buffer;
    for (;;) {
        http::request<http::string_body> req;
        http::read(socket, buffer, req, ec);
        if (ec)
            break;
        http::response<http::string_body> res{http::status::ok, req.version()};
        res.set(http::field::content_type, "text/html; charset=utf-8");
        res.keep_alive(req.keep_alive());
        res.body() = "Sim";
        res.prepare_payload();
        http::write(socket, res, ec);
        if (ec || !res.keep_alive())
            break;
    }
    socket.shutdown(tcp::socket::shutdown_send, ec);
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [SECONDS]\n", argv[0]);
        return 2;
    }
    const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 600;
    std::thread([seconds] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        std::_Exit(0);
    }).detach();
    asio::io_context ioc{1};
    tcp::acceptor acceptor{ioc, {asio::ip::make_address("127.0.0.1"), port}};
    for (;;) {
        tcp::socket socket{ioc};
        boost::system::error_code ec;
        acceptor.accept(socket, ec);
        if (ec)
            continue;
        std::thread(Session, std::move(socket)).detach();
    }
}
