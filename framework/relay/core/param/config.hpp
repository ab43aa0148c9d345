#pragma once
// Process-wide defaults that every new typed parameter field copies: message templates, date and
// time formats, the text that means true, the time zone of ISO 8601 values and bracket reading.
#include <string>

#include "platform/base/object.hpp"

namespace relay {

class TRelayCoreParamConfig : public platform::TObject {
public:
    // The one instance, made on first use (safe when several threads ask at once).
    static TRelayCoreParamConfig& GetInstance();

    // The settings are class-level: every getter reads, every setter writes the one shared set.
    // Setters validate nothing and return the instance so calls chain. Change them only before
    // requests are served; request threads read them without a lock.
    const std::string& RequiredMessage() const noexcept { return FRequiredMessage; }
    TRelayCoreParamConfig& RequiredMessage(std::string AValue);
    const std::string& InvalidFormatMessage() const noexcept { return FInvalidFormatMessage; }
    TRelayCoreParamConfig& InvalidFormatMessage(std::string AValue);
    const std::string& DateFormat() const noexcept { return FDateFormat; }
    TRelayCoreParamConfig& DateFormat(std::string AValue);
    const std::string& TimeFormat() const noexcept { return FTimeFormat; }
    TRelayCoreParamConfig& TimeFormat(std::string AValue);
    bool ReturnUTC() const noexcept { return FReturnUTC; }
    TRelayCoreParamConfig& ReturnUTC(bool AValue);
    const std::string& TrueValue() const noexcept { return FTrueValue; }
    TRelayCoreParamConfig& TrueValue(std::string AValue);
    bool CheckLhsBrackets() const noexcept { return FCheckLhsBrackets; }
    TRelayCoreParamConfig& CheckLhsBrackets(bool AValue);

private:
    // Writes the defaults; only GetInstance calls it.
    TRelayCoreParamConfig();

    static std::string FRequiredMessage;
    static std::string FInvalidFormatMessage;
    static std::string FDateFormat;
    static std::string FTimeFormat;
    static bool FReturnUTC;
    static std::string FTrueValue;
    static bool FCheckLhsBrackets;
};

} // namespace relay
