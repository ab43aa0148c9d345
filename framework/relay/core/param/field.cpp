#include "framework/relay/core/param/field.hpp"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <unicode/unistr.h>

#include "framework/relay/core/param/config.hpp"
#include "framework/relay/exception.hpp"
#include "platform/base/exception.hpp"
#include "platform/base/gcc_restrict.hpp"
#include "platform/text/ascii.hpp"
#include "platform/text/compare.hpp"
#include "platform/text/convert.hpp"
#include "platform/text/str_to_int.hpp"
#include "platform/text/utf8.hpp"

namespace relay {

namespace {

[[noreturn]] void RaiseBadRequest(const std::string& AText)
{
    throw ERelayException::New().Status(TResponseStatus::BadRequest).Error(AText);
}

[[noreturn]] void RaiseFormatted(const std::string& ATemplate, const std::vector<std::string>& AArgs)
{
    RaiseBadRequest(platform::Format(ATemplate, AArgs));
}

// Lower case by the default locale's rules (not only ASCII), the key of the field cache.
std::string LocaleLower(const std::string& AText)
{
    if (platform::IsAsciiText(AText))
        return platform::AsciiLower(AText);
    icu::UnicodeString text =
        icu::UnicodeString::fromUTF8(icu::StringPiece(AText.data(), static_cast<int32_t>(AText.size())));
    std::string out;
    text.toLower().toUTF8String(out);
    return out;
}

platform::TFormatSettings PrepareFormatSettings(const std::string& ADateFormat, const std::string& ATimeFormat)
{
    platform::TFormatSettings settings = platform::TFormatSettings::Create();
    size_t dash = ADateFormat.find('-');
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    if (dash != std::string::npos && dash > 0)
        settings.DateSeparator = "-";
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
    settings.ShortDateFormat = ADateFormat;
    settings.ShortTimeFormat = ATimeFormat;
    return settings;
}

} // namespace

// --- TRelayCoreParam.Field -------------------------------------------------------------------

TRelayCoreParamField& TRelayCoreParam::Field(const std::string& AKey)
{
    if (!FFields)
        FFields = std::make_unique<std::unordered_map<std::string, std::unique_ptr<platform::TObject>>>();
    std::string cacheKey = LocaleLower(AKey);
    auto found = FFields->find(cacheKey);
    if (found != FFields->end())
        return static_cast<TRelayCoreParamField&>(*found->second);

    // an uploaded file hides a named value of the same name
    std::unique_ptr<TRelayCoreParamField> field;
    if (FFiles)
        for (const auto& [name, stream] : *FFiles)
            if (platform::SameTextLocale(name, AKey)) {
                field = std::make_unique<TRelayCoreParamField>(stream, AKey);
                break;
            }
    if (!field)
        field = std::make_unique<TRelayCoreParamField>(*FParams, AKey);

    field->Required(FRequired).Settings(TRelayCoreParamConfig::GetInstance().Settings());
    TRelayCoreParamField& result = *field;
    (*FFields)[cacheKey] = std::move(field);
    return result;
}

// --- TRelayCoreParamField --------------------------------------------------------------------

TRelayCoreParamField::TRelayCoreParamField(const TStringDictionary& AParams, std::string AFieldName)
    : FFieldName(std::move(AFieldName))
{
    for (const auto& [key, value] : AParams)
        if (platform::SameTextLocale(key, FFieldName)) {
            FContains = true;
            FValue = value;
            break;
        }
    LoadBracketValues(AParams);
}

TRelayCoreParamField::TRelayCoreParamField(platform::TStream* AStream, std::string AFieldName)
    : FContains(true), FFieldName(std::move(AFieldName)), FStream(AStream)
{
}

TRelayCoreParamField::~TRelayCoreParamField() = default;

void TRelayCoreParamField::LoadBracketValues(const TStringDictionary& AParams)
{
    FLhsBrackets = std::make_unique<TRelayCoreParamFieldLhsBrackets>();
    if (!TRelayCoreParamConfig::GetInstance().CheckLhsBrackets())
        return;
    TLhsBrackets types;
    for (TLhsBracketsType type : KLhsBracketsTypes) {
        // the dictionary's own lookup: exact, so "price[GTE]" is never read
        if (const std::string* value = AParams.Find(FFieldName + std::string(BracketSuffix(type)))) {
            FLhsBrackets->SetValue(type, *value);
            types.Include(type);
        }
    }
    FLhsBrackets->Types(types);
}

TRelayCoreParamField& TRelayCoreParamField::DateFormat(std::string AValue)
{
    FSettings.DateFormat = std::move(AValue);
    return *this;
}

TRelayCoreParamField& TRelayCoreParamField::TimeFormat(std::string AValue)
{
    FSettings.TimeFormat = std::move(AValue);
    return *this;
}

TRelayCoreParamField& TRelayCoreParamField::TrueValue(std::string AValue)
{
    FSettings.TrueValue = std::move(AValue);
    return *this;
}

TRelayCoreParamField& TRelayCoreParamField::RequiredMessage(std::string AValue)
{
    FSettings.RequiredMessage = std::move(AValue);
    return *this;
}

TRelayCoreParamField& TRelayCoreParamField::InvalidFormatMessage(std::string AValue)
{
    FSettings.InvalidFormatMessage = std::move(AValue);
    return *this;
}

TRelayCoreParamField& TRelayCoreParamField::ReturnUTC(bool AValue)
{
    FSettings.ReturnUTC = AValue;
    return *this;
}

TRelayCoreParamField& TRelayCoreParamField::Settings(TRelayCoreParamSettings AValue)
{
    FSettings = std::move(AValue);
    return *this;
}

TRelayCoreParamField& TRelayCoreParamField::Required(bool AValue)
{
    FRequired = AValue;
    return *this;
}

void TRelayCoreParamField::RaiseInvalid(const std::string& AValue, const char* ATypeWord) const
{
    RaiseFormatted(FSettings.InvalidFormatMessage, {FFieldName, AValue, ATypeWord});
}

std::string TRelayCoreParamField::AsString()
{
    if (FContains)
        return FValue; // present, even when empty
    if (FRequired)
        RaiseFormatted(FSettings.RequiredMessage, {FFieldName});
    return {};
}

std::string TRelayCoreParamField::TrimmedValue()
{
    return std::string(platform::TrimControl(AsString()));
}

bool TRelayCoreParamField::AsBoolean()
{
    std::string value = TrimmedValue();
    if (value.empty())
        return false;
    return platform::AsciiLower(value) == platform::AsciiLower(FSettings.TrueValue);
}

template <class T, class TConvert>
T TRelayCoreParamField::Converted(const char* ATypeWord, TConvert AConvert)
{
    std::string value = TrimmedValue();
    if (value.empty())
        return T{};
    T result;
    // a converter may rewrite the text into the form it reads; the error shows that form
    if (!AConvert(value, result))
        RaiseInvalid(value, ATypeWord);
    return result;
}

int32_t TRelayCoreParamField::AsInteger()
{
    // no leading blanks are left, so the platform reading sees exactly the trimmed text
    return Converted<int32_t>("integer", platform::TryStrToInt);
}

int64_t TRelayCoreParamField::AsInt64()
{
    return Converted<int64_t>("int64", platform::TryStrToInt64);
}

double TRelayCoreParamField::AsFloat()
{
    return Converted<double>("numeric", [](std::string& AText, double& AValue) {
        // "," and "." both mean the decimal separator, on any locale
        const platform::TFormatSettings& settings = platform::FormatSettings();
        std::string unified;
        for (char c : AText) {
            if (c == ',' || c == '.')
                unified += settings.DecimalSeparator;
            else
                unified += c;
        }
        AText = std::move(unified);
        return platform::TryStrToFloat(AText, AValue, settings);
    });
}

long double TRelayCoreParamField::AsExtended()
{
    return static_cast<long double>(AsFloat());
}

TCurrency TRelayCoreParamField::AsCurrency()
{
    double value = AsFloat();
    // ten-thousandths, rounded under the default rounding mode (ties to even)
    double units = std::nearbyint(value * 10000.0);
    if (!(units >= -9223372036854775808.0 && units < 9223372036854775808.0))
        RaiseInvalid(TrimmedValue(), "numeric");
    return TCurrency{static_cast<int64_t>(units)};
}

TDateTime TRelayCoreParamField::AsDate()
{
    return Converted<TDateTime>("date", [this](const std::string& AText, TDateTime& AValue) {
        return platform::TryStrToDate(platform::Utf16Left(AText, platform::Utf16Length(FSettings.DateFormat)), AValue,
                                      PrepareFormatSettings(FSettings.DateFormat, FSettings.TimeFormat));
    });
}

TTime TRelayCoreParamField::AsTime()
{
    return Converted<TTime>("time", [this](const std::string& AText, TTime& AValue) {
        return platform::TryStrToTime(platform::Utf16Left(AText, platform::Utf16Length(FSettings.TimeFormat)), AValue,
                                      PrepareFormatSettings(FSettings.DateFormat, FSettings.TimeFormat));
    });
}

TDateTime TRelayCoreParamField::AsDateTime()
{
    return Converted<TDateTime>("datetime", [this](const std::string& AText, TDateTime& AValue) {
        return platform::TryStrToDateTime(AText, AValue,
                                          PrepareFormatSettings(FSettings.DateFormat, FSettings.TimeFormat));
    });
}

TDateTime TRelayCoreParamField::AsISO8601DateTime()
{
    return Converted<TDateTime>("ISO8601 date", [this](const std::string& AText, TDateTime& AValue) {
        return platform::TryISO8601ToDate(AText, AValue, FSettings.ReturnUTC);
    });
}

platform::TStream* TRelayCoreParamField::AsStream()
{
    if (FContains) {
        if (FStream)
            FStream->SetPosition(0);
        return FStream;
    }
    if (FRequired)
        RaiseFormatted(FSettings.RequiredMessage, {FFieldName});
    return nullptr;
}

void TRelayCoreParamField::SaveToFile(const std::string& AFileName)
{
    platform::TStream* stream = AsStream();
    if (!stream)
        return;
    int fd = ::open(AFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw platform::Exception("Cannot create file \"" + AFileName + "\". " + std::strerror(errno));
    // copied in pieces rather than whole: uploads may be large, and the file ends the same
    char buffer[64 * 1024];
    try {
        for (;;) {
            size_t n = stream->Read(buffer, sizeof buffer);
            if (n == 0)
                break;
            size_t done = 0;
            while (done < n) {
                ssize_t w = ::write(fd, buffer + done, n - done);
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    throw platform::Exception("Cannot write file \"" + AFileName + "\". " + std::strerror(errno));
                }
                done += static_cast<size_t>(w);
            }
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (::close(fd) != 0)
        throw platform::Exception("Cannot write file \"" + AFileName + "\". " + std::strerror(errno));
}

} // namespace relay
