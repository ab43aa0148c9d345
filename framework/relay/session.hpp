#pragma once
// Session objects of one request, keyed by their class and owned by the container.
#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

#include "platform/base/object.hpp"

namespace relay {

class TSession : public platform::TObject {};

// A session class used as a key: its type and the test whether an object is of it.
class TSessionClass {
public:
    template <class T>
    static TSessionClass Of()
    {
        static_assert(std::is_base_of_v<TSession, T>, "a session class derives from TSession");
        return TSessionClass(typeid(T),
                             [](const TSession& AInstance) { return dynamic_cast<const T*>(&AInstance) != nullptr; });
    }

    const std::type_info& Info() const noexcept { return *FInfo; }
    // True when AInstance is of this class or of a class derived from it.
    bool IsInstance(const TSession& AInstance) const { return FIsInstance(AInstance); }
    bool operator==(const TSessionClass& AOther) const noexcept { return *FInfo == *AOther.FInfo; }

private:
    TSessionClass(const std::type_info& AInfo, bool (*AIsInstance)(const TSession&))
        : FInfo(&AInfo), FIsInstance(AIsInstance)
    {
    }

    const std::type_info* FInfo;
    bool (*FIsInstance)(const TSession&);
};

class TRelaySessions : public platform::TObject {
public:
    TRelaySessions() = default;
    ~TRelaySessions() override = default;

    // Stores AInstance (owned from then on) under ASessionClass, freeing the object stored
    // there before. An object of the session class or of a class derived from it is accepted;
    // any other is refused with "SessionClass differs from of instance[<class>]." and stays
    // the caller's. Storing the very object already stored keeps it; storing it under a second
    // class is refused (it stays where it is).
    TRelaySessions& SetSession(const TSessionClass& ASessionClass, TSession* AInstance);
    template <class T>
    TRelaySessions& SetSession(T* AInstance)
    {
        return SetSession(TSessionClass::Of<T>(), AInstance);
    }

    bool Contains(const TSessionClass& ASessionClass) const;
    // Fail with "Item not found" when nothing is stored under the class.
    TSession* GetSession(const TSessionClass& ASessionClass) const;
    platform::TObject* GetObject(const TSessionClass& ASessionClass) const { return GetSession(ASessionClass); }

    template <class T>
    bool Contains() const
    {
        return Contains(TSessionClass::Of<T>());
    }
    template <class T>
    T* GetSession() const
    {
        return static_cast<T*>(GetSession(TSessionClass::Of<T>()));
    }

private:
    std::unordered_map<std::type_index, std::unique_ptr<TSession>> FSessions;
};

} // namespace relay
