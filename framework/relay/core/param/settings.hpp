#pragma once
// The settings a typed parameter field reads its value with. The config holds the ones every new
// field starts from; each field keeps its own copy, which its setters change.
#include <string>

namespace relay {

struct TRelayCoreParamSettings {
    std::string RequiredMessage;      // template of the missing-value error: the field's name
    std::string InvalidFormatMessage; // template of the format error: name, value, type word
    std::string DateFormat;
    std::string TimeFormat;
    bool ReturnUTC = false; // ISO 8601 values in UTC (else in local time)
    std::string TrueValue;  // the text AsBoolean takes as true
};

} // namespace relay
