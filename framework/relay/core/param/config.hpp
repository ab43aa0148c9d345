#pragma once
// Process-wide defaults that every new typed parameter field copies: message templates, date and
// time formats, the text that means true, the time zone of ISO 8601 values and bracket reading.
#include <string>

#include "framework/relay/core/param/settings.hpp"
#include "platform/base/object.hpp"

namespace relay {

class TRelayCoreParamConfig : public platform::TObject {
public:
    // The one instance, made on first use (safe when several threads ask at once).
    static TRelayCoreParamConfig& GetInstance();

    // The settings are class-level: every getter reads, every setter writes the one shared set.
    // Setters validate nothing and return the instance so calls chain. Change them only before
    // requests are served; request threads read them without a lock.
    const std::string& RequiredMessage() const noexcept { return FSettings.RequiredMessage; }
    TRelayCoreParamConfig& RequiredMessage(std::string AValue);
    const std::string& InvalidFormatMessage() const noexcept { return FSettings.InvalidFormatMessage; }
    TRelayCoreParamConfig& InvalidFormatMessage(std::string AValue);
    const std::string& DateFormat() const noexcept { return FSettings.DateFormat; }
    TRelayCoreParamConfig& DateFormat(std::string AValue);
    const std::string& TimeFormat() const noexcept { return FSettings.TimeFormat; }
    TRelayCoreParamConfig& TimeFormat(std::string AValue);
    bool ReturnUTC() const noexcept { return FSettings.ReturnUTC; }
    TRelayCoreParamConfig& ReturnUTC(bool AValue);
    const std::string& TrueValue() const noexcept { return FSettings.TrueValue; }
    TRelayCoreParamConfig& TrueValue(std::string AValue);
    bool CheckLhsBrackets() const noexcept { return FCheckLhsBrackets; }
    TRelayCoreParamConfig& CheckLhsBrackets(bool AValue);
    // All of the field settings above at once.
    const TRelayCoreParamSettings& Settings() const noexcept { return FSettings; }
    TRelayCoreParamConfig& Settings(TRelayCoreParamSettings AValue);

private:
    // Writes the defaults; only GetInstance calls it.
    TRelayCoreParamConfig();

    static TRelayCoreParamSettings FSettings;
    static bool FCheckLhsBrackets;
};

} // namespace relay
