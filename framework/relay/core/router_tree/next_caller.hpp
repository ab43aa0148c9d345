#pragma once
// The chain walker: the work of one router node for one request.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/relay/callback.hpp"
#include "platform/base/object.hpp"
#include "platform/web/method_type.hpp"

namespace relay {

using TCallbackList = std::vector<TRelayCallback>;
// Route callbacks of a node by method; a list exists only for a method with a callback.
using TCallbackMap = std::map<platform::TMethodType, TCallbackList>;

class TNextCaller : public platform::TObject, public std::enable_shared_from_this<TNextCaller> {
public:
    TNextCaller() = default;
    TNextCaller(const TNextCaller&) = delete;
    TNextCaller& operator=(const TNextCaller&) = delete;

    TNextCaller& SetCallback(const TCallbackMap& ACallback)
    {
        FCallBack = &ACallback;
        return *this;
    }
    TNextCaller& SetPath(TPathQueue& APath)
    {
        FPath = &APath;
        return *this;
    }
    TNextCaller& SetHTTPType(platform::TMethodType AHTTPType)
    {
        FHTTPType = AHTTPType;
        return *this;
    }
    TNextCaller& SetRequest(TRelayRequest& ARequest)
    {
        FRequest = &ARequest;
        return *this;
    }
    TNextCaller& SetResponse(TRelayResponse& AResponse)
    {
        FResponse = &AResponse;
        return *this;
    }
    TNextCaller& SetIsGroup(bool AIsGroup)
    {
        FIsGroup = AIsGroup;
        return *this;
    }
    TNextCaller& SetMiddleware(const TCallbackList& AMiddleware)
    {
        FMiddleware = &AMiddleware;
        return *this;
    }
    TNextCaller& SetTag(const std::string& ATag)
    {
        FTag = ATag;
        return *this;
    }
    TNextCaller& SetIsParamsKey(bool AIsParamsKey)
    {
        FIsParamsKey = AIsParamsKey;
        return *this;
    }
    TNextCaller& SetOnCallNextPath(TCallNextPath ACallNextPath)
    {
        FCallNextPath = std::move(ACallNextPath);
        return *this;
    }
    TNextCaller& SetFound(bool& AFound)
    {
        FFound = &AFound;
        return *this;
    }

    // Takes the node's piece off the path and stores a parameter piece's decoded value.
    TNextCaller& Init();
    // Runs the next step of the node: a middleware, the descent, or a route callback.
    void Next();

private:
    // The Next procedure handed to middleware and callbacks. It refers to the walker weakly:
    // called after the walker is gone (kept beyond its call), it does nothing.
    const TProc& NextProc();

    int FIndex = -1;
    int FIndexCallback = -1;
    TPathQueue* FPath = nullptr;
    platform::TMethodType FHTTPType = platform::mtAny;
    TRelayRequest* FRequest = nullptr;
    TRelayResponse* FResponse = nullptr;
    const TCallbackList* FMiddleware = nullptr;
    const TCallbackMap* FCallBack = nullptr;
    TCallNextPath FCallNextPath;
    bool FIsGroup = false;
    std::string FTag;
    bool FIsParamsKey = false;
    bool* FFound = nullptr;
    TProc FNext;
};

} // namespace relay
