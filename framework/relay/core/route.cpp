#include "framework/relay/core/route.hpp"

#include "framework/relay/core.hpp"

namespace relay {

template class TRelayCoreRoute<TRelayCore>;

std::shared_ptr<IRelayCoreRoute<TRelayCore>> TRelayCore::Route(const std::string& APath)
{
    GetInstance();
    return TRelayCoreRoute<TRelayCore>::Create(APath);
}

} // namespace relay
