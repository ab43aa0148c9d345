#include "service/ws_relay.hpp"

#include <initializer_list>

#include "framework/relay/relay.hpp"
#include "framework/relay/json_body.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "service/main/basedados.hpp"

namespace service {

TWsRelay::TWsRelay()
{
    // The one core of the process; the framework keeps it and frees it when the program ends,
    // and every later call reaches it through TRelay's class operations.
    relay::TRelay::Create();
    const std::initializer_list<relay::TRelayCallback> middleware{relay::JsonBody("UTF-8")};
    relay::TRelay::Use(middleware);
    AddMethods();
}

void TWsRelay::AddMethods()
{
    FHandlers = std::make_shared<TWsRelayHandlers>(*this);
    using THandler =
        void (TWsRelayHandlers::*)(relay::TRelayRequest&, relay::TRelayResponse&, const TWsRelayHandlers::TNext&);
    auto route = [h = FHandlers](THandler AHandler) -> relay::TRelayCallback {
        return [h, AHandler](relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse,
                             const relay::TProc& ANext) { ((*h).*AHandler)(ARequest, AResponse, ANext); };
    };
    relay::TRelay::Get("/api/gtin/:id", route(&TWsRelayHandlers::GetGtin));
    relay::TRelay::Get("/api/fotoexiste/:id", route(&TWsRelayHandlers::GetFotoExiste));
    relay::TRelay::Post("/api/grava", route(&TWsRelayHandlers::PostGrava));
    relay::TRelay::Get("/api/fotoexistej/:id", route(&TWsRelayHandlers::GetFotoExisteJ));
    relay::TRelay::Get("/api/descricao/:id", route(&TWsRelayHandlers::GetDescricao));
    relay::TRelay::Get("/api/um2/:id", route(&TWsRelayHandlers::GetUm2));
    relay::TRelay::Get("/api/um/:id", route(&TWsRelayHandlers::GetUm));
    relay::TRelay::Get("/api/desc/:id", route(&TWsRelayHandlers::GetDesc));
    relay::TRelay::Get("/api/desc200/:id", route(&TWsRelayHandlers::GetDesc200));
    relay::TRelay::Get("/api/desc_ini/:id", route(&TWsRelayHandlers::GetDescIni));
}

TWsRelay& TWsRelay::Port(int32_t AValue)
{
    relay::TRelay::SetPort(AValue);
    return *this;
}

TWsRelay& TWsRelay::Path(const std::string& AValue)
{
    FPath = AValue;
    return *this;
}

bool TWsRelay::Active() const
{
    return relay::TRelay::IsRunning();
}

void TWsRelay::Power()
{
    if (relay::TRelay::IsRunning()) {
        // Stop waits for the requests in work; none waits on the database past the grace.
        TBaseDados::TStopGrace grace(BaseDados);
        relay::TRelay::StopListen();
    } else
        relay::TRelay::Listen();
}

} // namespace service
