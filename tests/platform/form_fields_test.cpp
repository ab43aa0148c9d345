#include <gtest/gtest.h>

#include "platform/web/form_fields.hpp"
#include "platform/web/header_params.hpp"
#include "platform/web/web_request.hpp"

using namespace platform;

TEST(FormDecode, Table)
{
    struct Row {
        const char* In;
        const char* Out;
    } rows[] = {
        {"", ""},
        {"abc", "abc"},
        {"a+b", "a b"},
        {"a%20b", "a b"},
        {"%2B", "+"},
        {"%3d%3D", "=="},
        {"caf%C3%A9", "caf\xC3\xA9"},
        {"%", "%"},       // lone "%" stays
        {"%4", "%4"},     // one digit stays
        {"%zz1", "%zz1"}, // no hex digits
        {"100%", "100%"},
        {"%FF", "\xEF\xBF\xBD"}, // not UTF-8
    };
    for (const auto& r : rows)
        EXPECT_EQ(FormDecode(r.In), std::string(r.Out)) << r.In;
    EXPECT_EQ(FormDecode("%00x"), std::string("\0x", 2));
}

TEST(ExtractUrlEncodedFields, Table)
{
    struct Row {
        const char* In;
        TStrings Out;
    } rows[] = {
        {"", {}},
        {"a=1", {"a=1"}},
        {"a=1&b&c=x=y", {"a=1", "b", "c=x=y"}},
        {"a=1&&b=2&", {"a=1", "b=2"}},
        {"&", {}},
        {"=v", {"=v"}},
        {"k=", {"k="}},
        {"first+name=J%C3%BCrgen+M", {"first name=J\xC3\xBCrgen M"}},
        {"a=1&a=2", {"a=1", "a=2"}},
        {"x%26y=1%262", {"x&y=1&2"}}, // encoded "&" does not split
    };
    for (const auto& r : rows) {
        TStrings lines;
        ExtractUrlEncodedFields(r.In, lines);
        EXPECT_EQ(lines, r.Out) << r.In;
    }
}

TEST(ContentTypeParameters, MediaTypeAndParameters)
{
    EXPECT_TRUE(IsMediaType("Multipart/Form-Data; boundary=x", "multipart/form-data"));
    EXPECT_TRUE(IsMediaType("  application/x-www-form-urlencoded  ", "application/x-www-form-urlencoded"));
    EXPECT_FALSE(IsMediaType("multipart/form", "multipart/form-data"));
    EXPECT_FALSE(IsMediaType("multipart/form-data-x", "multipart/form-data"));
    EXPECT_FALSE(IsMediaType("", "multipart/form-data"));

    EXPECT_EQ(ContentTypeParameter("multipart/form-data; boundary=abc", "boundary"), "abc");
    EXPECT_EQ(ContentTypeParameter("multipart/form-data; BOUNDARY=\"a b;c\"", "boundary"), "a b;c");
    EXPECT_EQ(ContentTypeParameter("multipart/form-data;charset=x;boundary= q ", "boundary"), "q");
    EXPECT_EQ(ContentTypeParameter("multipart/form-data", "boundary"), std::nullopt);
    EXPECT_EQ(ContentTypeParameter("multipart/form-data; boundary=\"open", "boundary"), std::nullopt);
    EXPECT_EQ(ContentTypeParameter("multipart/form-data; boundaryx=1", "boundary"), std::nullopt);
}

TEST(HeaderParams, QuotedValuesAndEscapes)
{
    THeaderParams p;
    ASSERT_TRUE(ParseHeaderParams(R"( name="a\"b"; filename="C:\dir\f.txt"; junk; x=1 )", p));
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], (std::pair<std::string, std::string>{"name", "a\"b"}));
    EXPECT_EQ(p[1], (std::pair<std::string, std::string>{"filename", R"(C:\dir\f.txt)"}));
    EXPECT_EQ(p[2], (std::pair<std::string, std::string>{"x", "1"}));
    THeaderParams q;
    EXPECT_FALSE(ParseHeaderParams("name=\"unterminated", q));
}

namespace {

TStrings QueryLines(const std::string& AQuery)
{
    TWebRequest r;
    r.SetQuery(AQuery);
    return r.QueryFields();
}

TStrings CookieLines(const std::vector<std::string>& AHeaders)
{
    TWebRequest r;
    for (const auto& h : AHeaders)
        r.AddHeaderField("Cookie", h);
    return r.CookieFields();
}

} // namespace

TEST(WebRequestFields, QueryFieldsAreDecodedLines)
{
    EXPECT_EQ(QueryLines("a=1&b&c=x%3Dy"), (TStrings{"a=1", "b", "c=x=y"}));
    EXPECT_EQ(QueryLines(""), TStrings{});
    EXPECT_EQ(QueryLines("q=hello+world&n=%E2%82%AC"), (TStrings{"q=hello world", "n=\xE2\x82\xAC"}));
}

TEST(WebRequestFields, QueryFieldsAreBuiltOnceAndKept)
{
    TWebRequest r;
    r.SetQuery("a=1");
    const TStrings* first = &r.QueryFields();
    r.SetQuery("b=2");
    EXPECT_EQ(&r.QueryFields(), first);
    EXPECT_EQ(r.QueryFields(), TStrings{"a=1"});
}

TEST(WebRequestFields, CookieFieldsAreTrimmedPieces)
{
    struct Row {
        std::vector<std::string> Headers;
        TStrings Out;
    } rows[] = {
        {{}, {}},
        {{"a=b"}, {"a=b"}},
        {{"a=b; c=d"}, {"a=b", "c=d"}},
        {{"  a=b=c ;  d= ;;e"}, {"a=b=c", "d=", "e"}},
        {{";"}, {}},
        {{"a=1", "b=2"}, {"a=1", "b=2"}}, // split over two headers
        {{"x=%41"}, {"x=%41"}},           // not decoded
    };
    for (const auto& r : rows)
        EXPECT_EQ(CookieLines(r.Headers), r.Out) << (r.Headers.empty() ? "" : r.Headers[0]);

    TWebRequest lower;
    lower.AddHeaderField("cookie", "k=v");
    EXPECT_EQ(lower.CookieFields(), TStrings{"k=v"});
}

TEST(WebRequestFields, UrlEncodedBodyGivesContentFields)
{
    TWebRequest r;
    r.SetMethod("POST");
    r.SetContentType("Application/X-WWW-Form-Urlencoded");
    r.SetRawContent("name=Ana+Maria&code=78%2F9&flag");
    EXPECT_EQ(r.ContentFields(), (TStrings{"name=Ana Maria", "code=78/9", "flag"}));
    EXPECT_TRUE(r.Files().empty());
}

TEST(WebRequestFields, OtherBodiesGiveNoContentFields)
{
    for (const char* type : {"application/json", "text/plain", "", "multipart/form", "application/x-www-form"}) {
        TWebRequest r;
        r.SetContentType(type);
        r.SetRawContent("a=1&b=2");
        EXPECT_TRUE(r.ContentFields().empty()) << type;
        EXPECT_TRUE(r.Files().empty()) << type;
    }
}
