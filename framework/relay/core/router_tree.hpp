#pragma once
// The router tree: a trie of path pieces (literal, :parameter, (pattern)) holding middleware
// and per-method route callbacks. Built on one thread before the server listens; afterwards
// only Execute runs, from many threads at once, and only reads the tree.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "framework/relay/callback.hpp"
#include "framework/relay/core/router_tree/next_caller.hpp"
#include "platform/base/object.hpp"
#include "platform/regex/reg_ex.hpp"
#include "platform/web/method_type.hpp"

namespace relay {

class TRelayRouterTree : public platform::TObject {
public:
    TRelayRouterTree();
    ~TRelayRouterTree() override;

    // The child under exactly APath, created (uninitialised) when there is none.
    TRelayRouterTree& CreateRouter(const std::string& APath);
    const std::string& GetPrefix() const noexcept { return FPrefix; }
    // The prefix becomes "/" and APrefix without "/" at either end.
    void Prefix(const std::string& APrefix);

    void RegisterRoute(platform::TMethodType AHTTPType, const std::string& APath, const TRelayCallback& ACallback);
    void RegisterMiddleware(const std::string& APath, const TRelayCallback& AMiddleware);
    void RegisterMiddleware(const TRelayCallback& AMiddleware);

    // Runs one request from this node (the root). True when something answered.
    bool Execute(TRelayRequest& ARequest, TRelayResponse& AResponse) const;

    // Read-only views of a node.
    const std::string& Part() const noexcept { return FPart; }
    bool IsInitialized() const noexcept { return FIsInitialized; }
    bool IsParamsKey() const noexcept { return FIsParamsKey; }
    bool IsRouterRegex() const noexcept { return FIsRouterRegex; }
    const std::vector<std::string>& RegexedKeys() const noexcept { return FRegexedKeys; }
    const TCallbackList& Middleware() const noexcept { return FMiddleware; }
    const TCallbackMap& Callbacks() const noexcept { return FCallBack; }
    // The child under exactly APiece, or null.
    const TRelayRouterTree* Child(const std::string& APiece) const;

private:
    bool ExecuteInternal(TPathQueue& APath, platform::TMethodType AHTTPType, TRelayRequest& ARequest,
                         TRelayResponse& AResponse, bool AIsGroup = false) const;
    bool MatchNextSegment(TPathQueue& APath, platform::TMethodType AHTTPType, TRelayRequest& ARequest,
                          TRelayResponse& AResponse) const;
    // Whether the pieces from AIndex on can be walked from this node (APieces[AIndex] is this
    // node's piece). Never reads past ACount.
    bool CanReach(platform::TMethodType AHTTPType, const std::string* APieces, size_t ACount, size_t AIndex) const;
    TPathQueue SplitPath(const std::string& APath, bool AUsePrefix) const;
    void AddRouteSegments(platform::TMethodType AHTTPType, TPathQueue& APath, const TRelayCallback& ACallback);
    void AddMiddlewareSegments(TPathQueue& APath, const TRelayCallback& AMiddleware);
    TRelayRouterTree& ChildFor(const std::string& APiece);

    std::string FPrefix;
    bool FIsInitialized = false;
    std::string FPart;
    std::string FTag;
    bool FIsParamsKey = false;
    std::string FRouterRegex;
    bool FIsRouterRegex = false;
    TCallbackList FMiddleware;
    std::vector<std::string> FRegexedKeys;
    TCallbackMap FCallBack;
    std::unordered_map<std::string, std::unique_ptr<TRelayRouterTree>> FRoute;
    // The children of FRegexedKeys without the repeats, in first-registration order: a repeated
    // key can only give the answer its first occurrence gave, so walks try each child once.
    std::vector<const TRelayRouterTree*> FRegexedChildren;
    // "^<piece>$" of a pattern node, compiled once when the node takes its piece. An invalid
    // pattern is kept and fails each request that tests it.
    std::unique_ptr<platform::TRegEx> FRegex;
};

} // namespace relay
