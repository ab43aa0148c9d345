#pragma once
// A typed, validated view of one request value: route parameter, query value, header, cookie,
// form field or uploaded file. A required value that is missing, or a value that does not
// convert, raises ERelayException with status 400 and a message made from a template.
#include <cstdint>
#include <memory>
#include <string>

#include "framework/relay/core/param.hpp"
#include "framework/relay/core/param/field/brackets.hpp"
#include "framework/relay/core/param/settings.hpp"
#include "platform/base/date_time.hpp"
#include "platform/base/object.hpp"
#include "platform/base/stream.hpp"

namespace relay {

using platform::TDateTime;
using platform::TTime;

// Fixed point with four decimal places, held as a count of ten-thousandths.
struct TCurrency {
    int64_t Units = 0;
    double ToDouble() const noexcept { return static_cast<double>(Units) / 10000.0; }
    bool operator==(const TCurrency&) const noexcept = default;
};

class TRelayCoreParamField : public platform::TObject {
public:
    // The field of a text value: present when a key of AParams equals AFieldName ignoring case.
    // Bracket values are read from AParams when the config's CheckLhsBrackets is on.
    TRelayCoreParamField(const TStringDictionary& AParams, std::string AFieldName);
    // The field of an uploaded file (the stream stays its owner's): present, empty text, no
    // bracket object.
    TRelayCoreParamField(platform::TStream* AStream, std::string AFieldName);
    ~TRelayCoreParamField() override;

    // Setters store the argument and return the field, so calls chain.
    TRelayCoreParamField& DateFormat(std::string AValue);
    TRelayCoreParamField& TimeFormat(std::string AValue);
    TRelayCoreParamField& TrueValue(std::string AValue);
    TRelayCoreParamField& RequiredMessage(std::string AValue);
    TRelayCoreParamField& InvalidFormatMessage(std::string AValue);
    TRelayCoreParamField& ReturnUTC(bool AValue);
    TRelayCoreParamField& Settings(TRelayCoreParamSettings AValue); // all of the above at once
    TRelayCoreParamField& Required(bool AValue);
    TRelayCoreParamField& Required() { return Required(true); }

    const std::string& FieldName() const noexcept { return FFieldName; }
    bool Contains() const noexcept { return FContains; }
    bool IsRequired() const noexcept { return FRequired; }
    const std::string& DateFormat() const noexcept { return FSettings.DateFormat; }
    const std::string& TimeFormat() const noexcept { return FSettings.TimeFormat; }
    const std::string& TrueValue() const noexcept { return FSettings.TrueValue; }
    const std::string& RequiredMessage() const noexcept { return FSettings.RequiredMessage; }
    const std::string& InvalidFormatMessage() const noexcept { return FSettings.InvalidFormatMessage; }
    bool ReturnUTC() const noexcept { return FSettings.ReturnUTC; }
    const TRelayCoreParamSettings& Settings() const noexcept { return FSettings; }
    // Null for a field made from a stream.
    TRelayCoreParamFieldLhsBrackets* LhsBrackets() const noexcept { return FLhsBrackets.get(); }

    // Every reading first applies the required rule: a missing value of a required field raises
    // the missing-value error. Empty text (after trimming) gives the empty result.
    std::string AsString();
    bool AsBoolean();
    int32_t AsInteger();
    int64_t AsInt64();
    double AsFloat();
    long double AsExtended();
    TCurrency AsCurrency();
    TDateTime AsDate();
    TTime AsTime();
    TDateTime AsDateTime();
    TDateTime AsISO8601DateTime();
    // The uploaded stream rewound to 0; null for a text field.
    platform::TStream* AsStream();

    // Writes the uploaded content to AFileName (created or overwritten); nothing for a field
    // without a stream. File system errors pass on as platform::Exception.
    void SaveToFile(const std::string& AFileName);

private:
    void LoadBracketValues(const TStringDictionary& AParams);
    std::string TrimmedValue();
    [[noreturn]] void RaiseInvalid(const std::string& AValue, const char* ATypeWord) const;
    // The trimmed value read by AConvert(text, result): the empty result for empty text, the
    // invalid-format error naming ATypeWord and the text when it does not read.
    template <class T, class TConvert>
    T Converted(const char* ATypeWord, TConvert AConvert);

    bool FContains = false;
    std::string FFieldName;
    bool FRequired = false;
    TRelayCoreParamSettings FSettings; // empty until set (TRelayCoreParam::Field copies the config's)
    std::string FValue;
    platform::TStream* FStream = nullptr;
    std::unique_ptr<TRelayCoreParamFieldLhsBrackets> FLhsBrackets;
};

} // namespace relay
