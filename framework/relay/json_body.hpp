#pragma once
// Middleware that parses JSON request bodies on the way in and writes JSON content objects
// as text on the way out.
#include <string>

#include "framework/relay/callback.hpp"

namespace relay {

// JsonBody with "UTF-8".
TRelayCallback JsonBody();
// Stores ACharset as the charset of every JSON answer (all installed copies use the latest
// value), then returns a new middleware callback. Call it only while routes are registered,
// before the server listens: requests read the charset without a lock.
TRelayCallback JsonBody(const std::string& ACharset);

// The charset JSON answers name ("application/json; charset=" + JsonCharset()); empty until
// the first JsonBody call.
const std::string& JsonCharset() noexcept;

} // namespace relay
