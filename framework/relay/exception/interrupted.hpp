#pragma once
// Ends a request quietly once its reply has been prepared.
#include <string>

#include "platform/base/exception.hpp"

namespace relay {

class ERelayCallbackInterrupted : public platform::Exception {
public:
    ERelayCallbackInterrupted() = default;
    explicit ERelayCallbackInterrupted(std::string AMessage) : platform::Exception(std::move(AMessage)) {}
};

} // namespace relay
