#include "framework/relay/provider/abstract.hpp"

#include "platform/base/exception.hpp"

namespace relay {

TProc& TRelayProviderAbstract::OnListenRef()
{
    static TProc onListen;
    return onListen;
}

TProc& TRelayProviderAbstract::OnStopListenRef()
{
    static TProc onStopListen;
    return onStopListen;
}

void TRelayProviderAbstract::Listen()
{
    throw platform::EAbstractError(platform::KAbstractError);
}

void TRelayProviderAbstract::StopListen()
{
    throw platform::Exception("StopListen not implemented");
}

void TRelayProviderAbstract::SetOnListen(const TProc& AOnListen)
{
    OnListenRef() = AOnListen;
}

void TRelayProviderAbstract::SetOnStopListen(const TProc& AOnStopListen)
{
    OnStopListenRef() = AOnStopListen;
}

void TRelayProviderAbstract::FireOnListen()
{
    // A copy: the callback may replace itself while it runs.
    TProc callback = OnListenRef();
    if (callback)
        callback();
}

void TRelayProviderAbstract::FireOnStopListen()
{
    TProc callback = OnStopListenRef();
    if (callback)
        callback();
}

} // namespace relay
