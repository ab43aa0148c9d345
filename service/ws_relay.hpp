#pragma once
// The product service's web-service object: creates the framework core, installs the JSON body
// middleware at the root, registers the ten product routes, and starts / stops the server.
//
// What every route handler shares (all safe to call from any of the server's threads, which
// run the handlers):
//
//   Counters (service/history.hpp): TotalResolvidos, Total404, std::atomic<int32_t>.
//     int32_t c = ++TotalResolvidos;      // the value this request's increment produced
//
//   History (the window's history area; never wait for the window, lines are queued):
//     TWsRelayHandlers::HistoryTrim();                       // empties it when > 10000 lines
//     TWsRelayHandlers::AddressedLine(ARequest, c, "| ...");  // "<addr> | c|date|time| ..."
//     TWsRelayHandlers::BareLine(c, "| ...");                 // "c|date|time| ..."
//     TWsRelayHandlers::CurrentCountLine(ARequest, "...");    // addressed, c = TotalResolvidos now
//   The route text is appended unchanged (no escaping, no transliteration). Build the line after
//   the counter increment it shows. One line per handled request.
//
//   Text: TWsRelay::somentenumero(s) keeps the ASCII digits; TWsRelay::removeacento(s) gives
//   7-bit US-ASCII (accents dropped, anything else outside U+0000..U+007F becomes "?").
//
//   Handlers have the full callback form and never call ANext. Where a handler sets both, it sets
//   the content first and the status after it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/base/object.hpp"
#include "service/history.hpp"

namespace relay {
class TRelayRequest;
class TRelayResponse;
} // namespace relay

namespace service {

class TWsRelay;

// The ten route handlers, one object per service object; the route tree holds it through the
// registered callbacks, so it lives as long as the tree.
class TWsRelayHandlers {
public:
    using TNext = std::function<void()>;

    explicit TWsRelayHandlers(TWsRelay& AOwner) : FOwner(AOwner) {}

    // Picture routes (ws_relay_pictures.cpp).
    void GetGtin(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    void GetFotoExiste(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    void GetFotoExisteJ(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    // Product insert route (ws_relay_grava.cpp).
    void PostGrava(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    // Catalogue lookup routes (ws_relay_catalogue.cpp).
    void GetDescricao(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    void GetUm2(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    void GetUm(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    void GetDesc(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    void GetDesc200(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);
    void GetDescIni(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext& ANext);

    // --- shared by the handlers ---
    // The client's address (the platform request's RemoteAddr).
    static std::string ClientAddress(const relay::TRelayRequest& ARequest);
    // The history trim: empties the history when it holds more than 10000 lines.
    static void HistoryTrim();
    // Adds "<client address> | <AValue>|<date>|<time><ARouteText>".
    static void AddressedLine(const relay::TRelayRequest& ARequest, int32_t AValue, const std::string& ARouteText);
    // Adds "<AValue>|<date>|<time><ARouteText>".
    static void BareLine(int32_t AValue, const std::string& ARouteText);
    // The addressed line with the current value of TotalResolvidos (no counter changes).
    static void CurrentCountLine(const relay::TRelayRequest& ARequest, const std::string& ARouteText);

    TWsRelay& Owner() const noexcept { return FOwner; }

private:
    TWsRelay& FOwner;
};

class TWsRelay : public platform::TObject {
public:
    // Creates the framework core (once per process: a second one fails with "The Relay instance
    // has already been created"), installs JsonBody("UTF-8") at the root and registers the routes.
    // The server is not started; neither port nor folder is set.
    TWsRelay();

    // The server port, read at the next start (0 or less: 9000).
    TWsRelay& Port(int32_t AValue);
    // The picture folder prefix, stored unchanged.
    TWsRelay& Path(const std::string& AValue);
    const std::string& Path() const noexcept { return FPath; }
    // Whether the server listens.
    bool Active() const;
    // Stops the server when it listens, else starts it. Errors pass to the caller unchanged.
    void Power();

    // The characters "0" to "9" of the text, in order.
    static std::string somentenumero(const std::string& snum);
    // The text converted to 7-bit US-ASCII: letters lose their diacritics, every other character
    // outside U+0000..U+007F becomes "?" (one per UTF-16 code unit, as the code page conversion
    // counts characters).
    static std::string removeacento(const std::string& ptext);

private:
    void AddMethods();

    std::string FPath;
    std::shared_ptr<TWsRelayHandlers> FHandlers;
};

} // namespace service
