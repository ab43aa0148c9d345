#pragma once
// g++ 12 at -O2/-O3 reports -Wrestrict inside std::string code it inlines when a short literal
// is assigned to or put in front of a string ("/" + s, s = "/"): it derives memcpy sizes near
// 2^63 on a branch that cannot run and calls them overlapping (GCC bugs 105329 and 105651).
// The two macros wrap exactly such a statement and silence that one warning there, on g++ 12
// only; every other warning, and -Wrestrict everywhere else, stays on.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#define MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wrestrict\"")
#define MIROVANDEL_GCC12_FALSE_RESTRICT_END _Pragma("GCC diagnostic pop")
#else
#define MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
#define MIROVANDEL_GCC12_FALSE_RESTRICT_END
#endif
