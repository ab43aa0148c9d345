// A small program on the routing framework: a few routes, then the server until Ctrl+C.
//
//   relay_example [port] [folder]     (defaults: 9000 and the current directory)
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include <unistd.h>

#include "framework/relay/json_body.hpp"
#include "framework/relay/relay.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/exception.hpp"
#include "platform/base/process_tuning.hpp"
#include "platform/json/json.hpp"

using namespace relay;

namespace {

volatile std::sig_atomic_t Stop = 0;
void OnSignal(int)
{
    Stop = 1;
}

} // namespace

int main(int argc, char** argv)
{
    // Process-wide settings of a server program (descriptor limit, SIGPIPE, allocator).
    platform::TuneProcess();
    int port = argc > 1 ? std::atoi(argv[1]) : 9000;
    std::string folder = argc > 2 ? argv[2] : ".";

    TRelay::Create();
    TRelay::Use({JsonBody()});

    // A literal path.
    TRelay::Get("/hello", [](TRelayRequest&, TRelayResponse& res) { res.Send("Hello from the relay example"); });

    // A parameter piece: its value arrives URL-decoded in Params.
    TRelay::Get("/greet/:name", [](TRelayRequest& req, TRelayResponse& res) {
        res.Send("Hello, " + req.Params().Items("name") + "!");
    });

    // A pattern piece: only digits reach this route; anything else is "Not Found".
    TRelay::Get("/square/(\\d{1,9})", [](TRelayRequest& req, TRelayResponse& res) {
        std::string path = req.PathInfo();
        long long n = std::atoll(path.substr(path.rfind('/') + 1).c_str());
        res.Send(std::to_string(n * n));
    });

    // A JSON answer: the JSON body middleware writes it as text with its content type.
    TRelay::Get("/info", [](TRelayRequest& req, TRelayResponse& res) {
        auto info = std::make_unique<platform::TJSONObject>();
        info->AddPair("name", "relay example");
        info->AddPair("client", req.RawWebRequest().RemoteAddr());
        res.Send(info.release());
    });

    // A posted JSON body comes back with one member added.
    TRelay::Post("/echo", [](TRelayRequest& req, TRelayResponse& res) {
        auto* body = req.Body<platform::TJSONObject>();
        if (!body) {
            res.Send("Send a JSON object with Content-Type: application/json").Status(400);
            return;
        }
        auto answer = std::make_unique<platform::TJSONObject>();
        answer->AddPair("received", body->Clone());
        answer->AddPair("members", std::make_unique<platform::TJSONNumber>(static_cast<int64_t>(body->Count())));
        res.Send(answer.release());
    });

    // A file reply from the folder; names with a path in them are refused (a parameter's value
    // is decoded, so "%2F" would otherwise walk out of the folder).
    TRelay::Get("/files/:name", [folder](TRelayRequest& req, TRelayResponse& res) {
        std::string name = req.Params().Items("name");
        if (name.empty() || name.front() == '.' || name.find('/') != std::string::npos ||
            ::access((folder + "/" + name).c_str(), R_OK) != 0) {
            res.Send("No such file").Status(404);
            return;
        }
        res.SendFile(folder + "/" + name, "");
    });

    TRelay::SetPort(port);
    try {
        TRelay::Listen(
            [port] { std::cout << "Listening on port " << (port > 0 ? port : 9000) << " (Ctrl+C stops)" << std::endl; },
            [] { std::cout << "Stopped" << std::endl; });
    } catch (const platform::Exception& e) {
        std::cerr << "Cannot listen: " << e.Message() << std::endl;
        return 1;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    while (!Stop)
        ::pause();
    TRelay::StopListen();
    return 0;
}
