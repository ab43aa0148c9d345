#include "framework/relay/core/router_tree.hpp"

#include <algorithm>

#include "framework/relay/commons.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/gcc_restrict.hpp"

namespace relay {

TRelayRouterTree::TRelayRouterTree() = default;

TRelayRouterTree::~TRelayRouterTree()
{
    FMiddleware.clear();
    FRoute.clear();
    FRegexedChildren.clear();
    FRegexedKeys.clear();
    FCallBack.clear();
}

const TRelayRouterTree* TRelayRouterTree::Child(const std::string& APiece) const
{
    auto it = FRoute.find(APiece);
    return it == FRoute.end() ? nullptr : it->second.get();
}

TRelayRouterTree& TRelayRouterTree::ChildFor(const std::string& APiece)
{
    auto& slot = FRoute[APiece];
    if (!slot)
        slot = std::make_unique<TRelayRouterTree>();
    return *slot;
}

TRelayRouterTree& TRelayRouterTree::CreateRouter(const std::string& APath)
{
    return ChildFor(APath);
}

void TRelayRouterTree::Prefix(const std::string& APrefix)
{
    FPrefix = JoinSlashPath({}, APrefix);
}

TPathQueue TRelayRouterTree::SplitPath(const std::string& APath, bool AUsePrefix) const
{
    std::string path;
    if (AUsePrefix)
        path = !APath.empty() && APath[0] == '/' ? FPrefix + APath : FPrefix + "/" + APath;
    else
        path = APath;

    TPathQueue queue;
    size_t start = 0;
    bool first = true;
    while (true) {
        size_t slash = path.find('/', start);
        size_t end = slash == std::string::npos ? path.size() : slash;
        if (first || end > start)
            queue.Enqueue(path.substr(start, end - start));
        first = false;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return queue;
}

void TRelayRouterTree::RegisterRoute(platform::TMethodType AHTTPType, const std::string& APath,
                                     const TRelayCallback& ACallback)
{
    TPathQueue queue = SplitPath(APath, true);
    AddRouteSegments(AHTTPType, queue, ACallback);
}

void TRelayRouterTree::RegisterMiddleware(const std::string& APath, const TRelayCallback& AMiddleware)
{
    TPathQueue queue = SplitPath(APath, true);
    AddMiddlewareSegments(queue, AMiddleware);
}

void TRelayRouterTree::RegisterMiddleware(const TRelayCallback& AMiddleware)
{
    FMiddleware.push_back(AMiddleware);
}

void TRelayRouterTree::AddRouteSegments(platform::TMethodType AHTTPType, TPathQueue& APath,
                                        const TRelayCallback& ACallback)
{
    std::string piece = APath.Dequeue();
    if (!FIsInitialized) {
        FPart = piece;
        FIsParamsKey = !piece.empty() && piece.front() == ':';
        FTag = piece.empty() ? std::string() : piece.substr(1);
        FIsRouterRegex = !piece.empty() && piece.front() == '(' && piece.back() == ')';
        FRouterRegex = piece;
        if (FIsRouterRegex)
            FRegex = std::make_unique<platform::TRegEx>("^" + FRouterRegex + "$");
        FIsInitialized = true;
    }
    if (APath.IsEmpty()) {
        FCallBack[AHTTPType].push_back(ACallback);
        return;
    }
    const std::string next = APath.Peek();
    TRelayRouterTree& child = ChildFor(next);
    child.AddRouteSegments(AHTTPType, APath, ACallback);
    if (child.FIsParamsKey || child.FIsRouterRegex) {
        FRegexedKeys.push_back(next);
        if (std::find(FRegexedChildren.begin(), FRegexedChildren.end(), &child) == FRegexedChildren.end())
            FRegexedChildren.push_back(&child);
    }
}

void TRelayRouterTree::AddMiddlewareSegments(TPathQueue& APath, const TRelayCallback& AMiddleware)
{
    APath.Dequeue();
    if (!APath.IsEmpty()) {
        const std::string next = APath.Peek();
        ChildFor(next).AddMiddlewareSegments(APath, AMiddleware);
        return;
    }
    FMiddleware.push_back(AMiddleware);
}

bool TRelayRouterTree::Execute(TRelayRequest& ARequest, TRelayResponse& AResponse) const
{
    const platform::TWebRequest& web = ARequest.RawWebRequest();
    std::string path = web.RawPathInfo();
    // The query string is never part of the path.
    if (auto q = path.find('?'); q != std::string::npos)
        path.resize(q);
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    if (path.empty())
        path = "/";
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
    const platform::TMethodType method = web.MethodType();

    TPathQueue first = SplitPath(path, false);
    if (ExecuteInternal(first, method, ARequest, AResponse))
        return true;

    // Nothing answered: walk again as if the path were "/*".
    TPathQueue second = SplitPath("/*", false);
    bool found = ExecuteInternal(second, method, ARequest, AResponse);
    if (found && AResponse.Status() == StatusToInteger(TResponseStatus::MethodNotAllowed))
        AResponse.Send("Not Found").Status(TResponseStatus::NotFound);
    return found;
}

bool TRelayRouterTree::ExecuteInternal(TPathQueue& APath, platform::TMethodType AHTTPType, TRelayRequest& ARequest,
                                       TRelayResponse& AResponse, bool AIsGroup) const
{
    bool found = false;
    // The walker lives on the heap only so that a Next procedure kept beyond its call can
    // tell that the walker is gone.
    auto walker = std::make_shared<TNextCaller>();
    walker->SetCallback(FCallBack)
        .SetPath(APath)
        .SetHTTPType(AHTTPType)
        .SetRequest(ARequest)
        .SetResponse(AResponse)
        .SetIsGroup(AIsGroup)
        .SetMiddleware(FMiddleware)
        .SetTag(FTag)
        .SetIsParamsKey(FIsParamsKey)
        .SetOnCallNextPath([this](TPathQueue& APath2, platform::TMethodType AType, TRelayRequest& AReq,
                                  TRelayResponse& ARes) { return MatchNextSegment(APath2, AType, AReq, ARes); })
        .SetFound(found);
    walker->Init().Next();
    return found;
}

bool TRelayRouterTree::MatchNextSegment(TPathQueue& APath, platform::TMethodType AHTTPType, TRelayRequest& ARequest,
                                        TRelayResponse& AResponse) const
{
    if (auto exact = FRoute.find(APath.Peek()); exact != FRoute.end())
        return exact->second->ExecuteInternal(APath, AHTTPType, ARequest, AResponse);
    for (const TRelayRouterTree* child : FRegexedChildren)
        if (child->CanReach(AHTTPType, APath.Data(), APath.Count(), 0))
            return child->ExecuteInternal(APath, AHTTPType, ARequest, AResponse);
    return false;
}

bool TRelayRouterTree::CanReach(platform::TMethodType AHTTPType, const std::string* APieces, size_t ACount,
                                size_t AIndex) const
{
    if (AIndex >= ACount)
        return false;
    const std::string& piece = APieces[AIndex];
    if (AIndex + 1 == ACount && (piece == FPart || FIsParamsKey))
        return FCallBack.find(AHTTPType) != FCallBack.end() || AHTTPType == platform::mtAny;
    if (FIsRouterRegex)
        return FRegex->IsMatch(piece);
    // A node reached at the last piece that is neither of the above (one that only
    // middleware registration made) holds no callbacks: nothing follows it.
    if (AIndex + 1 >= ACount)
        return false;
    if (auto exact = FRoute.find(APieces[AIndex + 1]); exact != FRoute.end())
        return exact->second->CanReach(AHTTPType, APieces, ACount, AIndex + 1);
    for (const TRelayRouterTree* child : FRegexedChildren)
        if (child->CanReach(AHTTPType, APieces, ACount, AIndex + 1))
            return true;
    return false;
}

} // namespace relay
