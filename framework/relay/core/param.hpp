#pragma once
// A string-to-string dictionary of request values whose reads ignore letter case.
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/base/dictionary.hpp"
#include "platform/base/object.hpp"
#include "platform/base/stream.hpp"
#include "platform/base/strings.hpp"

namespace relay {

class TRelayCoreParamField;

using TStringDictionary = platform::TDictionary<std::string, std::string>;
using platform::TStrings;

class TRelayCoreParam : public platform::TObject {
public:
    using TPair = std::pair<std::string, std::string>;

    // Takes ownership of AParams (null gives an empty dictionary).
    explicit TRelayCoreParam(std::unique_ptr<TStringDictionary> AParams);
    ~TRelayCoreParam() override;

    // Value of the first key equal to AKey ignoring case; empty when there is none.
    std::string Items(std::string_view AKey) const;
    std::string operator[](std::string_view AKey) const { return Items(AKey); }
    bool ContainsKey(std::string_view AKey) const;
    // Exact comparison of values.
    bool ContainsValue(std::string_view AValue) const;
    // AValue is left unchanged when the key is missing.
    bool TryGetValue(std::string_view AKey, std::string& AValue) const;
    std::vector<TPair> ToArray() const;
    // "key=value" lines, built on the first read and returned unchanged afterwards.
    const TStrings& Content() const;
    int Count() const noexcept { return static_cast<int>(FParams->Count()); }
    TStringDictionary& Dictionary() noexcept { return *FParams; }
    const TStringDictionary& Dictionary() const noexcept { return *FParams; }

    TRelayCoreParam& Required(bool AValue)
    {
        FRequired = AValue;
        return *this;
    }
    bool IsRequired() const noexcept { return FRequired; }

    // Puts the stream (not owned) under exactly AKey, replacing one held there.
    TRelayCoreParam& AddStream(const std::string& AKey, platform::TStream* AContent);
    // Uploaded file streams by field name; null until the first AddStream.
    const platform::TDictionary<std::string, platform::TStream*>* Files() const noexcept { return FFiles.get(); }

    // Typed view of a value, cached per lower-cased key; the parameter object owns it.
    TRelayCoreParamField& Field(const std::string& AKey);

private:
    const std::string* FindKey(std::string_view AKey) const;

    std::unique_ptr<TStringDictionary> FParams;
    std::unique_ptr<platform::TDictionary<std::string, platform::TStream*>> FFiles;
    // Typed-field cache, lower-cased key -> field. Held as TObject so this unit does not
    // depend on the field class; the code of Field casts back.
    std::unique_ptr<std::unordered_map<std::string, std::unique_ptr<platform::TObject>>> FFields;
    mutable std::unique_ptr<TStrings> FContent;
    bool FRequired = false;
};

} // namespace relay
