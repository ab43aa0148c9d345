#pragma once
// A dictionary that enumerates in insertion order. Keys compare exactly. Add refuses a key
// that is present (EListError "Duplicates not allowed"), AddOrSetValue replaces its value,
// Items of a missing key fails with "Item not found".
#include <cstddef>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/base/exception.hpp"

namespace platform {

template <class TKey, class TValue, class THash = std::hash<TKey>>
class TDictionary {
public:
    using TPair = std::pair<TKey, TValue>;

    TDictionary() = default;
    TDictionary(const TDictionary&) = delete;
    TDictionary& operator=(const TDictionary&) = delete;
    TDictionary(TDictionary&&) noexcept = default;
    TDictionary& operator=(TDictionary&&) noexcept = default;

    void Add(const TKey& AKey, TValue AValue)
    {
        if (FIndex.find(AKey) != FIndex.end())
            throw EListError(KDuplicateItem);
        FIndex.emplace(AKey, FPairs.size());
        FPairs.emplace_back(AKey, std::move(AValue));
    }

    void AddOrSetValue(const TKey& AKey, TValue AValue)
    {
        auto it = FIndex.find(AKey);
        if (it != FIndex.end()) {
            FPairs[it->second].second = std::move(AValue);
            return;
        }
        FIndex.emplace(AKey, FPairs.size());
        FPairs.emplace_back(AKey, std::move(AValue));
    }

    bool ContainsKey(const TKey& AKey) const { return FIndex.find(AKey) != FIndex.end(); }

    bool ContainsValue(const TValue& AValue) const
    {
        for (const auto& p : FPairs)
            if (p.second == AValue)
                return true;
        return false;
    }

    bool TryGetValue(const TKey& AKey, TValue& AValue) const
    {
        auto it = FIndex.find(AKey);
        if (it == FIndex.end())
            return false;
        AValue = FPairs[it->second].second;
        return true;
    }

    // Pointer to the stored value, or null.
    const TValue* Find(const TKey& AKey) const
    {
        auto it = FIndex.find(AKey);
        return it == FIndex.end() ? nullptr : &FPairs[it->second].second;
    }
    TValue* Find(const TKey& AKey)
    {
        auto it = FIndex.find(AKey);
        return it == FIndex.end() ? nullptr : &FPairs[it->second].second;
    }

    const TValue& Items(const TKey& AKey) const
    {
        const TValue* v = Find(AKey);
        if (!v)
            throw EListError(KItemNotFound);
        return *v;
    }
    TValue& Items(const TKey& AKey)
    {
        TValue* v = Find(AKey);
        if (!v)
            throw EListError(KItemNotFound);
        return *v;
    }

    // Removes the entry; nothing happens when the key is absent.
    void Remove(const TKey& AKey)
    {
        auto it = FIndex.find(AKey);
        if (it == FIndex.end())
            return;
        size_t pos = it->second;
        FIndex.erase(it);
        FPairs.erase(FPairs.begin() + static_cast<std::ptrdiff_t>(pos));
        for (auto& entry : FIndex)
            if (entry.second > pos)
                --entry.second;
    }

    void Clear()
    {
        FIndex.clear();
        FPairs.clear();
    }

    size_t Count() const noexcept { return FPairs.size(); }
    bool IsEmpty() const noexcept { return FPairs.empty(); }

    // Entries in enumeration (insertion) order.
    const std::vector<TPair>& Pairs() const noexcept { return FPairs; }
    auto begin() const noexcept { return FPairs.begin(); }
    auto end() const noexcept { return FPairs.end(); }

private:
    std::vector<TPair> FPairs;
    std::unordered_map<TKey, size_t, THash> FIndex;
};

} // namespace platform
