#include <gtest/gtest.h>

#include "platform/text/str_to_int.hpp"

using namespace platform;

TEST(StrToInt, AcceptedForms)
{
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"9000", 9000},
        {" 8080", 8080},
        {"   +42", 42},
        {"-1", -1},
        {"0", 0},
        {"-0", 0},
        {"007", 7},
        {"$1F", 31},
        {"x1f", 31},
        {"X10", 16},
        {"0x10", 16},
        {"0XfF", 255},
        {"-$10", -16},
        {"+0x7FFFFFFF", 2147483647},
        {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},
        {"$FFFFFFFF", -1},
        {"$80000000", INT32_MIN},
        {"0", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToInt(c.text), c.value);
    }
}

TEST(StrToInt, RejectedFormsCarryTheExactMessage)
{
    const char* cases[] = {
        "",    " ",  "8080 ", "80 80", "+",          "-",           "+-1",        "--1",
        "- 1", "$",  "0x",    "x",     "2147483648", "-2147483649", "$100000000", "99999999999999999999",
        "12a", "$G", "\t80",  "1.5",   "1e3",        "0x-1",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        int32_t v = 0;
        EXPECT_FALSE(TryStrToInt(text, v));
        try {
            StrToInt(text);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid integer value for Integer type");
        }
    }
}

TEST(StrToInt, ErrorIsAPlatformException)
{
    EXPECT_THROW(StrToInt("abc"), Exception);
    try {
        StrToInt("");
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "'' is not a valid integer value for Integer type");
    }
}
