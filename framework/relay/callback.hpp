#pragma once
// The callback types of middleware and routes.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/web/method_type.hpp"

namespace relay {

class TRelayRequest;
class TRelayResponse;

using TProc = std::function<void()>;

// The stored form of every middleware and route callback: request, response, Next procedure.
using TRelayCallback = std::function<void(TRelayRequest&, TRelayResponse&, const TProc&)>;
// Short forms, wrapped into a TRelayCallback that never calls Next when registered.
using TRelayCallbackRequestResponse = std::function<void(TRelayRequest&, TRelayResponse&)>;
using TRelayCallbackRequest = std::function<void(TRelayRequest&)>;
using TRelayCallbackResponse = std::function<void(TRelayResponse&)>;

// The pieces of a path not yet consumed, first in first out. One queue serves a whole walk.
class TPathQueue {
public:
    TPathQueue() = default;

    void Enqueue(std::string APiece) { FItems.push_back(std::move(APiece)); }
    // Takes the first piece off. The queue must not be empty.
    std::string Dequeue() { return std::move(FItems[FHead++]); }
    const std::string& Peek() const { return FItems[FHead]; }
    size_t Count() const noexcept { return FItems.size() - FHead; }
    bool IsEmpty() const noexcept { return FHead == FItems.size(); }
    // The remaining pieces; index 0 is the next one.
    const std::string* Data() const noexcept { return FItems.data() + FHead; }
    std::vector<std::string> ToArray() const
    {
        return std::vector<std::string>(FItems.begin() + static_cast<std::ptrdiff_t>(FHead), FItems.end());
    }

private:
    std::vector<std::string> FItems;
    size_t FHead = 0;
};

// A node's descent step: true when something below answered.
using TCallNextPath = std::function<bool(TPathQueue& APath, platform::TMethodType AHTTPType,
                                         TRelayRequest& ARequest, TRelayResponse& AResponse)>;

} // namespace relay
