#include "platform/regex/reg_ex.hpp"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace platform {

namespace {

std::string ErrorText(int ACode)
{
    PCRE2_UCHAR buffer[256];
    int n = pcre2_get_error_message(ACode, buffer, sizeof buffer);
    if (n < 0)
        return "regular expression error " + std::to_string(ACode);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

} // namespace

TRegEx::TRegEx(std::string_view APattern) : FPattern(APattern)
{
    int error = 0;
    PCRE2_SIZE offset = 0;
    // Invalid UTF-8 in a subject must not make the test fail: such bytes simply never match.
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(FPattern.data()), FPattern.size(),
                                     PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &error, &offset, nullptr);
    if (!code) {
        FError = ErrorText(error) + " at offset " + std::to_string(offset);
        return;
    }
    FCode = code;
}

TRegEx::~TRegEx()
{
    pcre2_code_free(static_cast<pcre2_code*>(FCode));
}

bool TRegEx::IsMatch(std::string_view AInput) const
{
    if (!FCode)
        throw ERegularExpressionError(FError);
    auto* code = static_cast<pcre2_code*>(FCode);
    // Match data belongs to the thread, so one compiled pattern serves all threads at once.
    thread_local std::unique_ptr<pcre2_match_data, void (*)(pcre2_match_data*)> data(
        pcre2_match_data_create(1, nullptr), pcre2_match_data_free);
    if (!data)
        throw ERegularExpressionError("out of memory");
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(AInput.data()), AInput.size(), 0, PCRE2_NOTEMPTY,
                         data.get(), nullptr);
    if (rc >= 0)
        return true;
    if (rc == PCRE2_ERROR_NOMATCH)
        return false;
    throw ERegularExpressionError(ErrorText(rc));
}

bool TRegEx::IsMatch(std::string_view AInput, std::string_view APattern)
{
    return TRegEx(APattern).IsMatch(AInput);
}

} // namespace platform
