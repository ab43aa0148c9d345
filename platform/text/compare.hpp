#pragma once
#include <string_view>

namespace platform {

// Equality of two UTF-8 texts with letter case ignored, the comparison every case-insensitive
// read of request values uses. Letters fold as Unicode full case folding folds them
// (ICU, default folding): "ID" equals "id", "ÇÃO" equals "ção", and "ß" equals "SS".
// Pure ASCII texts take a fast path with the same answers.
bool SameTextLocale(std::string_view ALeft, std::string_view ARight);

} // namespace platform
