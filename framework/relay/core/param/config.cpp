#include "framework/relay/core/param/config.hpp"

namespace relay {

std::string TRelayCoreParamConfig::FRequiredMessage;
std::string TRelayCoreParamConfig::FInvalidFormatMessage;
std::string TRelayCoreParamConfig::FDateFormat;
std::string TRelayCoreParamConfig::FTimeFormat;
bool TRelayCoreParamConfig::FReturnUTC = false;
std::string TRelayCoreParamConfig::FTrueValue;
bool TRelayCoreParamConfig::FCheckLhsBrackets = false;

TRelayCoreParamConfig::TRelayCoreParamConfig()
{
    FRequiredMessage = "The %s param is required.";
    FInvalidFormatMessage = "The %0:s param '%1:s' is not valid a %2:s type.";
    FDateFormat = "yyyy-MM-dd";
    FTimeFormat = "hh:mm:ss";
    FReturnUTC = true;
    FTrueValue = "true";
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
    FRequiredMessage = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::InvalidFormatMessage(std::string AValue)
{
    FInvalidFormatMessage = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::DateFormat(std::string AValue)
{
    FDateFormat = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::TimeFormat(std::string AValue)
{
    FTimeFormat = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::ReturnUTC(bool AValue)
{
    FReturnUTC = AValue;
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::TrueValue(std::string AValue)
{
    FTrueValue = std::move(AValue);
    return *this;
}

TRelayCoreParamConfig& TRelayCoreParamConfig::CheckLhsBrackets(bool AValue)
{
    FCheckLhsBrackets = AValue;
    return *this;
}

} // namespace relay
