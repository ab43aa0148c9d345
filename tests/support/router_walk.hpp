#pragma once
// Walking a router tree with an in-memory request, and the log that callbacks write on the way,
// for the framework tests.
#include <string>
#include <vector>

#include "framework/relay/core/router_tree.hpp"
#include "support/memory_web.hpp"

namespace testing_support {

// What callbacks wrote, in the order they ran.
using TLog = std::vector<std::string>;

// The log as "a,b,c".
inline std::string Join(const TLog& ALog)
{
    std::string out;
    for (const auto& s : ALog)
        out += (out.empty() ? "" : ",") + s;
    return out;
}

// What one walk did: whether a route answered, and the reply it left.
struct TWalkResult {
    bool Found;
    int Status;
    std::string Content;
};

// Walks ATree with the request AMethod ATarget (which may carry a query string), on AExchange
// when one is given.
inline TWalkResult Walk(const relay::TRelayRouterTree& ATree, const std::string& AMethod, const std::string& ATarget,
                        TMemoryExchange* AExchange = nullptr)
{
    TMemoryExchange local(AMethod, ATarget);
    TMemoryExchange& x = AExchange ? *AExchange : local;
    bool found = ATree.Execute(x.Req(), x.Res());
    return {found, x.Status(), x.Content()};
}

} // namespace testing_support
