#pragma once
// The callback types of middleware and routes.
#include <cstddef>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
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

// A route callback in whichever of the four forms it was given, as every method registration
// (of the core, a group or a route) takes it and hands it on unchanged; the core alone adapts it.
// The form is the first of TRelayCallback, TRelayCallbackRequestResponse, TRelayCallbackRequest,
// TRelayCallbackResponse that the callable can be called as, so a lambda picks its own form.
class TRelayCallbackForm {
public:
    using TForms =
        std::variant<TRelayCallback, TRelayCallbackRequestResponse, TRelayCallbackRequest, TRelayCallbackResponse>;

    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, TRelayCallbackForm> &&
                 (std::is_invocable_v<F&, TRelayRequest&, TRelayResponse&, const TProc&> ||
                  std::is_invocable_v<F&, TRelayRequest&, TRelayResponse&> || std::is_invocable_v<F&, TRelayRequest&> ||
                  std::is_invocable_v<F&, TRelayResponse&>))
    TRelayCallbackForm(F&& ACallback) : FForms(Pick(std::forward<F>(ACallback))) {}

    const TForms& Forms() const noexcept { return FForms; }
    // False for an empty callback (of any form), which registration refuses.
    bool Assigned() const noexcept
    {
        return std::visit([](const auto& ACallback) { return static_cast<bool>(ACallback); }, FForms);
    }

private:
    template <class F>
    static TForms Pick(F&& ACallback)
    {
        if constexpr (std::is_invocable_v<F&, TRelayRequest&, TRelayResponse&, const TProc&>)
            return TForms(std::in_place_index<0>, std::forward<F>(ACallback));
        else if constexpr (std::is_invocable_v<F&, TRelayRequest&, TRelayResponse&>)
            return TForms(std::in_place_index<1>, std::forward<F>(ACallback));
        else if constexpr (std::is_invocable_v<F&, TRelayRequest&>)
            return TForms(std::in_place_index<2>, std::forward<F>(ACallback));
        else
            return TForms(std::in_place_index<3>, std::forward<F>(ACallback));
    }

    TForms FForms;
};

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
using TCallNextPath = std::function<bool(TPathQueue& APath, platform::TMethodType AHTTPType, TRelayRequest& ARequest,
                                         TRelayResponse& AResponse)>;

} // namespace relay
