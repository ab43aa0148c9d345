#pragma once
// Regular expressions over PCRE2 (UTF-8, letter case significant).
#include <memory>
#include <string>
#include <string_view>

#include "platform/base/exception.hpp"

namespace platform {

// A pattern that does not compile, or a match that PCRE2 cannot finish.
class ERegularExpressionError : public Exception {
public:
    using Exception::Exception;
};

class TRegEx {
public:
    // Compiles APattern. An invalid pattern is kept, not refused: every IsMatch on it then
    // fails with ERegularExpressionError carrying PCRE2's message.
    explicit TRegEx(std::string_view APattern);
    ~TRegEx();
    TRegEx(const TRegEx&) = delete;
    TRegEx& operator=(const TRegEx&) = delete;

    // Whether AInput holds a non-empty match. Safe to call from many threads at once.
    bool IsMatch(std::string_view AInput) const;
    // Compiles the pattern for this one test.
    static bool IsMatch(std::string_view AInput, std::string_view APattern);

    bool IsValid() const noexcept { return FCode != nullptr; }
    const std::string& Pattern() const noexcept { return FPattern; }
    // PCRE2's compile error; empty for a valid pattern.
    const std::string& ErrorMessage() const noexcept { return FError; }

private:
    std::string FPattern;
    void* FCode = nullptr; // pcre2_code_8
    std::string FError;
};

} // namespace platform
