#pragma once
// The shared run-time type context of the framework.
//
// On this platform it holds nothing real: the header reader gets the socket server's raw header
// lines through TWebRequest::RawHeaders() instead of reading a private field by name, so no type
// context is needed. The class keeps its contract (one instance, made on first use; a second
// Create fails) for code written against it.
#include <typeinfo>

#include "platform/base/object.hpp"

namespace relay {

class TRelayRtti : public platform::TObject {
public:
    // Makes the instance; fails with "The Relay Rtti instance has already been created" when one
    // exists. The class owns the instance and frees it in ReleaseAll.
    static TRelayRtti* Create();
    // The instance, made on first use; safe when several threads ask at once.
    static TRelayRtti& GetInstance();
    // The type description of a class: here just its std::type_info.
    const std::type_info& GetType(const std::type_info& AClass) const noexcept { return AClass; }
    // Clears the instance, then frees it. Runs at program end; a later GetInstance makes a new one.
    static void ReleaseAll();

    ~TRelayRtti() override;

private:
    TRelayRtti() = default;
    static TRelayRtti* CreateLocked();

    static TRelayRtti* FInstance;
};

} // namespace relay
