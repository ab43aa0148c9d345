#include "framework/relay/json_body.hpp"

#include <memory>

#include "framework/relay/exception/interrupted.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/json/json.hpp"

namespace relay {

namespace {

// Written by JsonBody during registration only, read by every request afterwards.
std::string GJsonCharset;

bool CarriesBody(platform::TMethodType AMethod) noexcept
{
    return AMethod == platform::mtPut || AMethod == platform::mtPost || AMethod == platform::mtPatch;
}

// Writes a JSON content object as the reply text with the JSON content type; a reply without
// one (or with another kind of object) is left as it is.
void WriteJsonContent(TRelayResponse& AResponse)
{
    const auto* json = dynamic_cast<const platform::TJSONValue*>(AResponse.Content());
    if (!json)
        return;
    platform::TWebResponse& raw = AResponse.RawWebResponse();
    raw.SetContent(json->ToJSON());
    raw.SetContentType("application/json; charset=" + GJsonCharset);
}

void JsonBodyMiddleware(TRelayRequest& ARequest, TRelayResponse& AResponse, const TProc& ANext)
{
    // The web layer has already taken a charset parameter out of the content type, so only
    // the exact media type counts.
    if (CarriesBody(ARequest.MethodType()) && ARequest.RawWebRequest().ContentType() == "application/json") {
        std::unique_ptr<platform::TJSONValue> value;
        try {
            value = platform::TJSONObject::ParseJSONValue(ARequest.Body(), false, false);
        } catch (...) {
            value.reset();
        }
        if (!value) {
            AResponse.Send("Invalid JSON").Status(TResponseStatus::BadRequest);
            throw ERelayCallbackInterrupted();
        }
        // A request that matches no route is walked again, so this can run twice for it: the
        // body parsed the first time is the request's own and is freed here, unless the
        // response took it over as its content.
        std::unique_ptr<platform::TObject> previous(ARequest.BodyObject());
        ARequest.Body(value.release());
        if (previous && previous.get() == AResponse.Content())
            (void)previous.release();
    }

    try {
        ANext();
    } catch (...) {
        // The JSON answer is still written; the chain's error goes on unchanged.
        try {
            WriteJsonContent(AResponse);
        } catch (...) {
        }
        throw;
    }
    WriteJsonContent(AResponse);
}

} // namespace

TRelayCallback JsonBody()
{
    return JsonBody("UTF-8");
}

TRelayCallback JsonBody(const std::string& ACharset)
{
    GJsonCharset = ACharset;
    return TRelayCallback(&JsonBodyMiddleware);
}

const std::string& JsonCharset() noexcept
{
    return GJsonCharset;
}

} // namespace relay
