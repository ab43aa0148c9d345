#include "framework/relay/rtti.hpp"

#include <mutex>

#include "platform/base/exception.hpp"

namespace relay {

TRelayRtti* TRelayRtti::FInstance = nullptr;

namespace {

// Constant-initialised, so it outlives GRelease below.
std::mutex GLock;

// Frees the instance at program end.
struct TRelease {
    ~TRelease() { TRelayRtti::ReleaseAll(); }
} GRelease;

} // namespace

TRelayRtti* TRelayRtti::CreateLocked()
{
    if (FInstance)
        throw platform::Exception("The Relay Rtti instance has already been created");
    FInstance = new TRelayRtti();
    return FInstance;
}

TRelayRtti* TRelayRtti::Create()
{
    std::lock_guard<std::mutex> guard(GLock);
    return CreateLocked();
}

TRelayRtti& TRelayRtti::GetInstance()
{
    std::lock_guard<std::mutex> guard(GLock);
    return FInstance ? *FInstance : *CreateLocked();
}

void TRelayRtti::ReleaseAll()
{
    TRelayRtti* instance;
    {
        std::lock_guard<std::mutex> guard(GLock);
        instance = FInstance;
        FInstance = nullptr;
    }
    delete instance;
}

TRelayRtti::~TRelayRtti()
{
    // a stray delete of the instance must not leave it dangling
    std::lock_guard<std::mutex> guard(GLock);
    if (FInstance == this)
        FInstance = nullptr;
}

} // namespace relay
