#include "framework/relay/core/router_tree/next_caller.hpp"

#include <exception>

#include "framework/relay/exception.hpp"
#include "framework/relay/exception/interrupted.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/net/url_encoding.hpp"

namespace relay {

TNextCaller& TNextCaller::Init()
{
    std::string piece;
    if (!FIsGroup && !FPath->IsEmpty())
        piece = FPath->Dequeue();
    FIndex = -1;
    FIndexCallback = -1;
    if (FIsParamsKey)
        FRequest->Params().Dictionary().Add(FTag, platform::TNetEncoding::URL::Decode(piece));
    return *this;
}

const TProc& TNextCaller::NextProc()
{
    // One closure per walker serves every call of Next: all of them do the same thing.
    if (!FNext)
        FNext = [self = weak_from_this()]() {
            if (auto walker = self.lock())
                walker->Next();
        };
    return FNext;
}

void TNextCaller::Next()
{
    const TProc& next = NextProc();
    ++FIndex;
    const int middlewareCount = static_cast<int>(FMiddleware->size());
    if (FIndex < middlewareCount) {
        *FFound = true;
        (*FMiddleware)[static_cast<size_t>(FIndex)](*FRequest, *FResponse, next);
        // The middleware did not call Next: the walk goes on anyway.
        if (FIndex < middlewareCount)
            Next();
    } else if (!FPath->IsEmpty()) {
        *FFound = FCallNextPath(*FPath, FHTTPType, *FRequest, *FResponse);
    } else {
        ++FIndexCallback;
        auto list = FCallBack->find(FHTTPType);
        if (list != FCallBack->end()) {
            if (FIndexCallback < static_cast<int>(list->second.size())) {
                *FFound = true;
                try {
                    list->second[static_cast<size_t>(FIndexCallback)](*FRequest, *FResponse, next);
                } catch (const ERelayCallbackInterrupted&) {
                    throw;
                } catch (const ERelayException&) {
                    throw;
                } catch (const std::exception&) {
                    // Any other error, also one of the standard library's (std::bad_alloc...), so
                    // that a middleware catching around Next sees the failure in the response.
                    if (FResponse->Status() < 400)
                        FResponse->Send("Internal Application Error").Status(TResponseStatus::InternalServerError);
                    throw;
                }
                Next();
            }
        } else if (!FCallBack->empty()) {
            *FFound = true;
            FResponse->Send("Method Not Allowed").Status(TResponseStatus::MethodNotAllowed);
        } else {
            FResponse->Send("Not Found").Status(TResponseStatus::NotFound);
        }
    }
    if (!*FFound)
        FResponse->Send("Not Found").Status(TResponseStatus::NotFound);
}

} // namespace relay
