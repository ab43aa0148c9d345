#pragma once
// The framework's error with an HTTP status and the parts of a JSON error body.
#include <cstdint>
#include <memory>
#include <string>

#include "framework/relay/commons.hpp"
#include "platform/base/exception.hpp"

namespace platform {
class TJSONObject;
}

namespace relay {

class ERelayException : public platform::Exception {
public:
    ERelayException() = default;
    ~ERelayException() override = default;

    // Start of a chain: ERelayException::New().Status(...).Error("...").
    static ERelayException New() { return ERelayException(); }

    ERelayException& Error(std::string AValue);
    const std::string& Error() const noexcept { return FError; }
    ERelayException& Status(TResponseStatus AValue)
    {
        FStatus = AValue;
        return *this;
    }
    TResponseStatus Status() const noexcept { return FStatus; }
    ERelayException& Type(TMessageType AValue)
    {
        FType = AValue;
        return *this;
    }
    TMessageType Type() const noexcept { return FType; }
    ERelayException& Title(std::string AValue)
    {
        FTitle = std::move(AValue);
        return *this;
    }
    const std::string& Title() const noexcept { return FTitle; }
    ERelayException& Code(int32_t AValue)
    {
        FCode = AValue;
        return *this;
    }
    int32_t Code() const noexcept { return FCode; }
    ERelayException& Hint(std::string AValue)
    {
        FHint = std::move(AValue);
        return *this;
    }
    const std::string& Hint() const noexcept { return FHint; }
    ERelayException& Unit(std::string AValue)
    {
        FUnit = std::move(AValue);
        return *this;
    }
    const std::string& Unit() const noexcept { return FUnit; }
    ERelayException& Detail(std::string AValue)
    {
        FDetail = std::move(AValue);
        return *this;
    }
    const std::string& Detail() const noexcept { return FDetail; }

    // Compact JSON text of ToJSONObject (through the virtual call).
    virtual std::string ToJSON() const;
    // "type", "title", "code", "error", "hint", "unit" in this order; blank members left out.
    virtual std::unique_ptr<platform::TJSONObject> ToJSONObject() const;

private:
    std::string FError;
    TResponseStatus FStatus = TResponseStatus::InternalServerError;
    TMessageType FType = TMessageType::Default;
    std::string FTitle;
    int32_t FCode = 0;
    std::string FHint;
    std::string FUnit;
    std::string FDetail;
};

} // namespace relay
