// Picture routes: the product's PNG file from the picture folder, or whether it exists.
#include <memory>

#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/file_system.hpp"
#include "platform/base/stream.hpp"
#include "platform/json/json.hpp"
#include "service/ws_relay.hpp"

namespace service {

namespace {

std::string PictureFileName(const TWsRelay& AOwner, relay::TRelayRequest& ARequest)
{
    return AOwner.Path() + TWsRelay::somentenumero(ARequest.Params()["id"]) + ".png";
}

} // namespace

void TWsRelayHandlers::GetGtin(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    const std::string file = PictureFileName(FOwner, ARequest);
    HistoryTrim();
    // Opened once: the test for the file and the reply use the same open file, instead of
    // looking its name up twice more.
    if (std::unique_ptr<platform::TFileStream> picture = platform::TFileStream::OpenRegularFile(file)) {
        AResponse.SendFile(*picture, file, "");
        AResponse.Status(200); // the reply has already left with 200
        const int32_t c = ++TotalResolvidos;
        AddressedLine(ARequest, c, "| Entregue arquivo: " + file);
    } else {
        const int32_t c = ++Total404;
        AddressedLine(ARequest, c, "| Arquivo nao encontrado: " + file);
        AResponse.Send("").Status(404);
    }
}

void TWsRelayHandlers::GetFotoExiste(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    const std::string file = PictureFileName(FOwner, ARequest);
    HistoryTrim();
    const bool exists = platform::FileExists(file);
    AResponse.Send(exists ? "Sim" : "Nao").Status(200);
    const int32_t c = ++TotalResolvidos;
    AddressedLine(ARequest, c, "| Consulta Arquivo : " + file + (exists ? " Sim" : " Nao"));
}

void TWsRelayHandlers::GetFotoExisteJ(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    const std::string file = PictureFileName(FOwner, ARequest);
    HistoryTrim();
    auto json = std::make_unique<platform::TJSONObject>();
    const bool exists = platform::FileExists(file);
    if (exists) {
        json->AddPair("Status", std::string("200"));
        json->AddPair("Status_Desc", "Foto encontrada: " + ARequest.Params()["id"]);
    } else {
        json->AddPair("Status", std::string("404"));
        json->AddPair("Status_Desc", "Foto nao encontrada: " + ARequest.Params()["id"]);
    }
    AResponse.Send(json.release()).Status(200);
    const int32_t c = ++TotalResolvidos;
    AddressedLine(ARequest, c, "| Consulta Arquivo : " + file + (exists ? " Sim" : " Nao"));
}

} // namespace service
