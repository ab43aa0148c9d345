#include "framework/relay/core/param.hpp"

#include "platform/text/compare.hpp"

namespace relay {

TRelayCoreParam::TRelayCoreParam(std::unique_ptr<TStringDictionary> AParams)
    : FParams(AParams ? std::move(AParams) : std::make_unique<TStringDictionary>())
{
}

TRelayCoreParam::~TRelayCoreParam()
{
    // Dictionary, content lines, field cache, then the file-stream dictionary (not the streams).
    FParams.reset();
    FContent.reset();
    FFields.reset();
    FFiles.reset();
}

// Linear scan: the collections of one request hold a handful of entries.
const std::string* TRelayCoreParam::FindKey(std::string_view AKey) const
{
    for (const auto& pair : *FParams)
        if (platform::SameTextLocale(pair.first, AKey))
            return &pair.first;
    return nullptr;
}

std::string TRelayCoreParam::Items(std::string_view AKey) const
{
    const std::string* key = FindKey(AKey);
    return key ? FParams->Items(*key) : std::string();
}

bool TRelayCoreParam::ContainsKey(std::string_view AKey) const
{
    return FindKey(AKey) != nullptr;
}

bool TRelayCoreParam::ContainsValue(std::string_view AValue) const
{
    for (const auto& pair : *FParams)
        if (pair.second == AValue)
            return true;
    return false;
}

bool TRelayCoreParam::TryGetValue(std::string_view AKey, std::string& AValue) const
{
    const std::string* key = FindKey(AKey);
    if (!key)
        return false;
    AValue = FParams->Items(*key);
    return true;
}

std::vector<TRelayCoreParam::TPair> TRelayCoreParam::ToArray() const
{
    return std::vector<TPair>(FParams->begin(), FParams->end());
}

const TStrings& TRelayCoreParam::Content() const
{
    if (!FContent) {
        auto lines = std::make_unique<TStrings>();
        lines->reserve(FParams->Count());
        for (const auto& pair : *FParams)
            lines->push_back(pair.first + "=" + pair.second);
        FContent = std::move(lines);
    }
    return *FContent;
}

TRelayCoreParam& TRelayCoreParam::AddStream(const std::string& AKey, platform::TStream* AContent)
{
    if (!FFiles)
        FFiles = std::make_unique<platform::TDictionary<std::string, platform::TStream*>>();
    FFiles->AddOrSetValue(AKey, AContent);
    return *this;
}

} // namespace relay
