#include <gtest/gtest.h>

#include "platform/web/content_type.hpp"

using namespace platform;

TEST(ContentType, CharsetParameterIsTakenOut)
{
    struct Row {
        std::string header;
        std::string delivered;
    };
    const Row rows[] = {
        {"application/json", "application/json"},
        {"application/json; charset=utf-8", "application/json"},
        {"application/json;charset=UTF-8", "application/json"},
        {"application/json; Charset=utf-8", "application/json"},
        {"application/json; CHARSET = \"utf-8\"", "application/json"},
        {"  application/json  ; charset=utf-8", "application/json"},
        {"Application/JSON", "Application/JSON"},
        {"Application/JSON; charset=utf-8", "Application/JSON"},
        {"application/json; charset=utf-8; version=2", "application/json; version=2"},
        {"application/json;version=2;charset=utf-8", "application/json; version=2"},
        {"text/plain; format=\"a;b\"; charset=x", "text/plain; format=\"a;b\""},
        // Without a charset parameter nothing is rebuilt.
        {"application/json;version=2", "application/json;version=2"},
        {" text/json ", " text/json "},
        {"application/problem+json", "application/problem+json"},
        {"multipart/form-data; boundary=----x", "multipart/form-data; boundary=----x"},
        {"text/plain; xcharset=1", "text/plain; xcharset=1"},
        {"", ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(StripCharsetParameter(row.header), row.delivered) << row.header;
}

TEST(ContentType, CharsetValue)
{
    EXPECT_EQ(CharsetParameter("application/json; charset=utf-8"), "utf-8");
    EXPECT_EQ(CharsetParameter("text/plain;Charset=\"ISO-8859-1\";a=b"), "ISO-8859-1");
    EXPECT_EQ(CharsetParameter("text/plain"), "");
    EXPECT_EQ(CharsetParameter("text/plain; format=\"charset=x\""), "");
}
