#pragma once
#include <string_view>

namespace platform {

// Calls AEach with every piece of AText between two ASeparator (a non-empty separator): the
// piece before the first and the one after the last too, empty ones included, so "a&&b" gives
// "a", "" and "b", and "" gives "".
template <class F>
void ForEachPiece(std::string_view AText, std::string_view ASeparator, const F& AEach)
{
    size_t start = 0;
    for (;;) {
        const size_t end = AText.find(ASeparator, start);
        if (end == std::string_view::npos) {
            AEach(AText.substr(start));
            return;
        }
        AEach(AText.substr(start, end - start));
        start = end + ASeparator.size();
    }
}

} // namespace platform
