#include "framework/relay/exception.hpp"

#include "platform/json/json.hpp"
#include "platform/text/ascii.hpp"

namespace relay {

namespace {

bool IsBlank(const std::string& AText)
{
    return platform::TrimControl(AText).empty();
}

} // namespace

ERelayException& ERelayException::Error(std::string AValue)
{
    SetMessage(AValue);
    FError = std::move(AValue);
    return *this;
}

std::unique_ptr<platform::TJSONObject> ERelayException::ToJSONObject() const
{
    auto result = std::make_unique<platform::TJSONObject>();
    if (FType != TMessageType::Default)
        result->AddPair("type", std::string(MessageTypeName(FType)));
    if (!IsBlank(FTitle))
        result->AddPair("title", FTitle);
    if (FCode != 0)
        result->AddPair("code", std::make_unique<platform::TJSONNumber>(static_cast<int64_t>(FCode)));
    result->AddPair("error", FError);
    if (!IsBlank(FHint))
        result->AddPair("hint", FHint);
    if (!IsBlank(FUnit))
        result->AddPair("unit", FUnit);
    return result;
}

std::string ERelayException::ToJSON() const
{
    std::unique_ptr<platform::TJSONObject> object = ToJSONObject();
    return object->ToJSON();
}

} // namespace relay
