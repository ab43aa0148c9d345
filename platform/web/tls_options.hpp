#pragma once
// Settings vocabulary of a TLS I/O handler: protocol versions and the key password callback.
#include <cstdint>
#include <functional>
#include <set>
#include <string>

namespace platform {

enum TIdSSLVersion : uint8_t {
    sslvSSLv2 = 0,
    sslvSSLv23 = 1,
    sslvSSLv3 = 2,
    sslvTLSv1 = 3,
    sslvTLSv1_1 = 4,
    sslvTLSv1_2 = 5
};
using TIdSSLVersions = std::set<TIdSSLVersion>;

// Asked for the password of an encrypted key file.
using TPasswordEvent = std::function<void(std::string& Password)>;

} // namespace platform
