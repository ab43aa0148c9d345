#include "framework/relay/session.hpp"

#include "platform/base/exception.hpp"

namespace relay {

TRelaySessions& TRelaySessions::SetSession(const TSessionClass& ASessionClass, TSession* AInstance)
{
    // A null instance has no class to test; storing it would only leave an empty slot.
    if (!AInstance || !ASessionClass.IsInstance(*AInstance))
        throw platform::Exception("SessionClass differs from of instance[" +
                                  (AInstance ? AInstance->ClassName() : std::string("nil")) + "].");
    const std::type_index key(ASessionClass.Info());
    // The container owns what it holds: one object under two classes would be freed twice.
    for (const auto& [other, held] : FSessions)
        if (held.get() == AInstance && other != key)
            throw platform::Exception("The session object [" + AInstance->ClassName() +
                                      "] is already stored under another session class.");
    auto& slot = FSessions[key];
    if (slot.get() != AInstance)
        slot.reset(AInstance);
    return *this;
}

bool TRelaySessions::Contains(const TSessionClass& ASessionClass) const
{
    return FSessions.find(std::type_index(ASessionClass.Info())) != FSessions.end();
}

TSession* TRelaySessions::GetSession(const TSessionClass& ASessionClass) const
{
    auto it = FSessions.find(std::type_index(ASessionClass.Info()));
    if (it == FSessions.end())
        throw platform::EListError(platform::KItemNotFound);
    return it->second.get();
}

} // namespace relay
