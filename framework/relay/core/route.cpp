#include "framework/relay/core/route.hpp"

#include "framework/relay/core.hpp"

namespace relay {

template class TRelayCoreRoute<TRelayCore>;

std::shared_ptr<IRelayCoreRoute<TRelayCore>> TRelayCore::Route(const std::string& APath)
{
    GetInstance();
    return std::make_shared<TRelayCoreRoute<TRelayCore>>(APath);
}

} // namespace relay
