#pragma once
// URL-style (%XX) text decoding, as the router applies it to parameter values.
#include <string>
#include <string_view>

namespace platform {

struct TNetEncoding {
    struct URL {
        // "%%" gives "%", "%" and two hexadecimal digits give that byte, "+" gives a space,
        // every other character stands for its own UTF-8 bytes; the bytes are then read as
        // UTF-8 (invalid sequences become U+FFFD). A "%" with fewer than two characters after
        // it, or with two that are not both hexadecimal digits, fails with EConvertError; the
        // position in the message counts UTF-16 units from 0 and points just after the "%".
        static std::string Decode(std::string_view AInput);
    };
};

} // namespace platform
