#pragma once
#include <cstdint>
#include <string_view>

namespace platform {

// Request methods; route callbacks are filed under these values.
enum TMethodType : uint8_t { mtAny = 0, mtGet = 1, mtPut = 2, mtPost = 3, mtHead = 4, mtDelete = 5, mtPatch = 6 };

// Exact, upper-case method texts; anything else is mtAny.
TMethodType MethodTypeOf(std::string_view AMethod) noexcept;

} // namespace platform
