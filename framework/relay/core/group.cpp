#include "framework/relay/core/group.hpp"

#include "framework/relay/core.hpp"

namespace relay {

template class TRelayCoreGroup<TRelayCore>;

std::shared_ptr<IRelayCoreGroup<TRelayCore>> TRelayCore::Group()
{
    GetInstance();
    return TRelayCoreGroup<TRelayCore>::Create();
}

} // namespace relay
