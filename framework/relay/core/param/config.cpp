#include "framework/relay/core/param/config.hpp"

namespace relay {

TRelayCoreParamSettings TRelayCoreParamConfig::FSettings;
bool TRelayCoreParamConfig::FCheckLhsBrackets = false;

TRelayCoreParamConfig::TRelayCoreParamConfig()
{
    FSettings = {.RequiredMessage = "The %s param is required.",
                 .InvalidFormatMessage = "The %0:s param '%1:s' is not valid a %2:s type.",
                 .DateFormat = "yyyy-MM-dd",
                 .TimeFormat = "hh:mm:ss",
                 .ReturnUTC = true,
                 .TrueValue = "true"};
    FCheckLhsBrackets = false;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::GetInstance()
{
    // A function-local static is made exactly once, even under concurrent first calls, and is
    // freed at program end.
    static TRelayCoreParamConfig instance;
    return instance;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::RequiredMessage(std::string AValue)
{
    FSettings.RequiredMessage = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::InvalidFormatMessage(std::string AValue)
{
    FSettings.InvalidFormatMessage = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::DateFormat(std::string AValue)
{
    FSettings.DateFormat = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::TimeFormat(std::string AValue)
{
    FSettings.TimeFormat = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::ReturnUTC(bool AValue)
{
    FSettings.ReturnUTC = AValue;
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::TrueValue(std::string AValue)
{
    FSettings.TrueValue = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::CheckLhsBrackets(bool AValue)
{
    FCheckLhsBrackets = AValue;
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::Settings(TRelayCoreParamSettings AValue)
{
    FSettings = std::move(AValue);
    return *this;
}

} // namespace relay
