#include <gtest/gtest.h>

#include "platform/net/url_encoding.hpp"
#include "platform/text/str_to_int.hpp"
#include "platform/regex/reg_ex.hpp"

using namespace platform;

TEST(UrlDecode, Table)
{
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {"123", "123"},
        {"12%2034", "12 34"},
        {"a+b", "a b"},
        {"a%2Fb", "a/b"},
        {"a%2fb", "a/b"},
        {"%%", "%"},
        {"100%%", "100%"},
        {"%25", "%"},
        {"%41%42c", "ABc"},
        {"caf%C3%A9", "caf\xC3\xA9"},
        {"caf\xC3\xA9", "caf\xC3\xA9"}, // characters stand for their UTF-8 bytes
        {"%C3", "\xEF\xBF\xBD"},        // a lone lead byte becomes U+FFFD
        {"%FF%FE", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"%00", std::string("\0", 1)},
        {"+%2B+", " + "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TNetEncoding::URL::Decode(c.in), c.out) << c.in;
}

TEST(UrlDecode, Errors)
{
    struct Case {
        const char* in;
        const char* message;
    };
    const Case cases[] = {
        {"%zz", "Invalid URL encoded character (%zz) at position 1"},
        {"ab%G1", "Invalid URL encoded character (%G1) at position 3"},
        {"ab%1G", "Invalid URL encoded character (%1G) at position 3"},
        {"%", "Error decoding URL style (%XX) encoded string at position 1"},
        {"abc%", "Error decoding URL style (%XX) encoded string at position 4"},
        {"abc%4", "Error decoding URL style (%XX) encoded string at position 4"},
        {"%41%", "Error decoding URL style (%XX) encoded string at position 4"},
        // Positions count UTF-16 units: "é" is one, "😀" (U+1F600) two.
        {"\xC3\xA9%zz", "Invalid URL encoded character (%zz) at position 2"},
        {"\xF0\x9F\x98\x80%", "Error decoding URL style (%XX) encoded string at position 3"},
        {"%\xC3\xA9x", "Invalid URL encoded character (%\xC3\xA9x) at position 1"},
    };
    for (const auto& c : cases) {
        try {
            TNetEncoding::URL::Decode(c.in);
            ADD_FAILURE() << "no error for " << c.in;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), c.message) << c.in;
        }
    }
}

TEST(RegEx, AnchoredMatching)
{
    TRegEx digits("^(\\d+)$");
    EXPECT_TRUE(digits.IsValid());
    EXPECT_TRUE(digits.IsMatch("42"));
    EXPECT_FALSE(digits.IsMatch("4a"));
    EXPECT_FALSE(digits.IsMatch(""));
    EXPECT_FALSE(digits.IsMatch("\xD9\xA3")); // Arabic-Indic digit: \d is ASCII only
    TRegEx word("^(ab)$");
    EXPECT_FALSE(word.IsMatch("AB"));                        // letter case counts
    EXPECT_TRUE(TRegEx::IsMatch("caf\xC3\xA9", "^(caf.)$")); // UTF-8: one character
    EXPECT_FALSE(TRegEx("^(a*)$").IsMatch(""));              // no empty match
    EXPECT_FALSE(word.IsMatch("a\xFF"));                     // invalid UTF-8 just fails to match
}

TEST(RegEx, InvalidPatternFailsOnEveryTest)
{
    TRegEx bad("^([a-)$");
    EXPECT_FALSE(bad.IsValid());
    EXPECT_FALSE(bad.ErrorMessage().empty());
    for (int i = 0; i < 2; ++i) {
        try {
            bad.IsMatch("a");
            ADD_FAILURE() << "no error";
        } catch (const ERegularExpressionError& e) {
            EXPECT_EQ(e.Message(), bad.ErrorMessage());
            EXPECT_NE(e.Message().find("offset"), std::string::npos) << e.Message();
        }
    }
}
