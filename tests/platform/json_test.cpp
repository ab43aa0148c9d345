#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/base/exception.hpp"
#include "platform/json/json.hpp"
#include "support/process_state.hpp"

using namespace platform;
using TKind = TJSONValue::TKind;

namespace {

std::unique_ptr<TJSONValue> Parse(std::string_view AText)
{
    return TJSONObject::ParseJSONValue(AText, false, false);
}

std::string Nested(size_t ADepth)
{
    return std::string(ADepth, '[') + std::string(ADepth, ']');
}

// Number texts follow the process's locale, which the tests set and get back as they found it.
class JsonNumber : public testing_support::TRestoresPlatform {};

} // namespace

TEST(JsonParse, AcceptsExactlyOneValueEndingWithTheText)
{
    struct Row {
        std::string text;
        bool accepted;
    };
    const Row rows[] = {
        {"{}", true},
        {"{\"a\":\"b\"}", true},
        {"[1,2]", true},
        {"{}\n", true},       // white space after an object
        {"[1] \r\n\t", true}, // ... or an array
        {" \n{}", true},      // white space before the value
        {" 1", true},
        {"\"a\"", true},
        {"1", true},
        {"-0.5e3", true},
        {"true", true},
        {"null", true},
        {"1 ", false}, // anything after a scalar, white space included
        {"\"a\"\n", false},
        {"true ", false},
        {"", false},
        {"   ", false},
        {"{", false},
        {"{\"a\":1", false},
        {"[1,2", false},
        {"nul", false},
        {"{} x", false},
        {"{}{}", false},
        {"1 2", false},
        {"[1,]", false}, // no trailing commas
        {"{'a':1}", false},
        {"/* c */ {}", false}, // no comments
        {"01", false},
        {"\"\\x\"", false},
        {"\"a\nb\"", false}, // raw control character inside a string
        {"\xEF\xBB\xBF{}", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Parse(row.text) != nullptr, row.accepted) << "text: [" << row.text << "]";
}

TEST(JsonParse, ValueKinds)
{
    auto v = Parse("[{\"a\":1},[],\"s\",2,true,false,null]");
    ASSERT_TRUE(v);
    ASSERT_EQ(v->Kind(), TKind::Array);
    const auto& a = static_cast<const TJSONArray&>(*v);
    ASSERT_EQ(a.Count(), 7u);
    EXPECT_EQ(a.Items(0)->Kind(), TKind::Object);
    EXPECT_EQ(a.Items(1)->Kind(), TKind::Array);
    EXPECT_EQ(a.Items(2)->Kind(), TKind::String);
    EXPECT_EQ(a.Items(3)->Kind(), TKind::Number);
    EXPECT_EQ(a.Items(4)->Kind(), TKind::True);
    EXPECT_EQ(a.Items(5)->Kind(), TKind::False);
    EXPECT_EQ(a.Items(6)->Kind(), TKind::Null);
    EXPECT_NE(dynamic_cast<const TJSONTrue*>(a.Items(4)), nullptr);
    EXPECT_NE(dynamic_cast<const TJSONFalse*>(a.Items(5)), nullptr);
}

TEST(JsonParse, NestingDepthIsBounded)
{
    EXPECT_TRUE(Parse(Nested(64)));
    EXPECT_FALSE(Parse(Nested(65)));
    EXPECT_FALSE(Parse(std::string(100000, '[')));
    EXPECT_FALSE(Parse(Nested(100000)));
    std::string objects;
    for (int i = 0; i < 1000; ++i)
        objects += "{\"a\":";
    objects += "1" + std::string(1000, '}');
    EXPECT_FALSE(Parse(objects));
}

TEST(JsonParse, RaiseExcGivesException)
{
    EXPECT_THROW(TJSONObject::ParseJSONValue("{", false, true), Exception);
    EXPECT_THROW(TJSONObject::ParseJSONValue("", false, true), Exception);
    EXPECT_THROW(TJSONObject::ParseJSONValue("1 ", false, true), Exception);
    EXPECT_NO_THROW(TJSONObject::ParseJSONValue("{}", false, true));
}

TEST(JsonParse, ObjectsKeepEveryMemberInOrder)
{
    auto v = Parse("{\"b\":1,\"a\":2,\"b\":3}");
    ASSERT_TRUE(v);
    const auto& o = static_cast<const TJSONObject&>(*v);
    ASSERT_EQ(o.Count(), 3u);
    EXPECT_EQ(o.Pairs(0).first, "b");
    EXPECT_EQ(o.Pairs(1).first, "a");
    EXPECT_EQ(o.Pairs(2).first, "b");
    EXPECT_EQ(o.GetValue("b")->Value(), "1"); // the first of the duplicates
    EXPECT_EQ(o.GetValue("B"), nullptr);      // names are case-sensitive
    EXPECT_EQ(o.ToJSON(), "{\"b\":1,\"a\":2,\"b\":3}");
}

TEST(JsonParse, EscapesAreResolved)
{
    struct Row {
        std::string text;
        std::string value;
    };
    const Row rows[] = {
        {"\"a\\/b\"", "a/b"},
        {"\"\\\"\\\\\\b\\f\\n\\r\\t\"", "\"\\\b\f\n\r\t"},
        {"\"\\u00e9\"", "\xC3\xA9"},
        {"\"\\u00E9\"", "\xC3\xA9"},
        {"\"\\u20AC\"", "\xE2\x82\xAC"},
        {"\"\\uD83D\\uDE00\"", "\xF0\x9F\x98\x80"}, // surrogate pair
        {"\"\\u0000\"", std::string(1, '\0')},
        {"\"caf\xC3\xA9\"", "caf\xC3\xA9"},
    };
    for (const Row& row : rows) {
        auto v = Parse(row.text);
        ASSERT_TRUE(v) << row.text;
        EXPECT_EQ(v->Value(), row.value) << row.text;
    }
    // Escaped names too.
    auto o = Parse("{\"n\\u00e3o\":\"x\"}");
    ASSERT_TRUE(o);
    EXPECT_NE(static_cast<const TJSONObject&>(*o).GetValue("n\xC3\xA3o"), nullptr);
}

TEST(JsonParse, LoneSurrogatesAreRejected)
{
    // A lone surrogate encodes no character; such a body is not valid text.
    EXPECT_FALSE(Parse("\"\\uD83D\""));
    EXPECT_FALSE(Parse("\"\\uD83Dx\""));
    EXPECT_FALSE(Parse("\"\\uDE00\""));
    EXPECT_FALSE(Parse("\"\\uD83D\\u0041\""));
    EXPECT_FALSE(Parse("\"\xED\xA0\x80\"")); // surrogate encoded as UTF-8
}

TEST(JsonParse, LongStringsAndNumbersSplitAcrossParts)
{
    std::string big(100000, 'x');
    auto v = Parse("[\"" + big + "\",\"k\"]");
    ASSERT_TRUE(v);
    EXPECT_EQ(static_cast<const TJSONArray&>(*v).Items(0)->Value(), big);
    std::string digits(5000, '7');
    auto n = Parse(digits);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->Value(), digits);
}

TEST_F(JsonNumber, ValueText)
{
    std::setlocale(LC_NUMERIC, "C");
    struct Row {
        std::string text;
        std::string value;
    };
    const Row rows[] = {
        {"0", "0"},
        {"-0", "-0"},
        {"42", "42"},
        {"-7", "-7"},
        {"00123", "00123"}, // made from text: the digits as given
        {"18446744073709551616", "18446744073709551616"},
        {"123456789012345678901234567890", "123456789012345678901234567890"},
        {"1.5", "1.5"},
        {"1.50", "1.5"},
        {"2.0", "2"},
        {"-0.0", "0"},
        {"0.1", "0.1"},
        {"0.30000000000000004", "0.3"},
        {"3.14159265358979", "3.14159265358979"},
        {"3.141592653589793", "3.14159265358979"},
        {"1e2", "100"},
        {"1E2", "100"},
        {"1e20", "1E20"},
        {"1e15", "1E15"},
        {"1e14", "100000000000000"},
        {"123456789012345.6", "123456789012346"},
        {"1.5e-7", "1.5E-7"},
        {"0.0001", "0.0001"},
        {"0.00001", "1E-5"},
        {"-2.5e-10", "-2.5E-10"},
        {"1.23456789012345678e300", "1.23456789012346E300"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TJSONNumber(row.text).Value(), row.value) << row.text;
}

TEST_F(JsonNumber, ParsedNumbersKeepTheirText)
{
    auto v = Parse("[1.50,1e2,-0,12345678901234567890]");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->ToJSON(), "[1.50,1e2,-0,12345678901234567890]");
    const auto& a = static_cast<const TJSONArray&>(*v);
    EXPECT_EQ(a.Items(0)->Value(), "1.5");
    EXPECT_EQ(a.Items(3)->Value(), "12345678901234567890");
}

// A locale with a decimal comma: an installed one, or one compiled into a private folder.
bool UseCommaLocale()
{
    if (std::setlocale(LC_NUMERIC, "pt_BR.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        return true;
    const std::string dir = std::string(MIROVANDEL_BINARY_DIR) + "/test-locales";
    const std::string cmd = "mkdir -p '" + dir + "' && localedef -i pt_BR -f UTF-8 '" + dir +
                            "/pt_BR.UTF-8' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
        return false;
    ::setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "pt_BR.UTF-8") != nullptr;
}

TEST_F(JsonNumber, DecimalSeparatorFollowsLocale)
{
    if (!UseCommaLocale())
        GTEST_SKIP() << "no locale with a decimal comma available";
    EXPECT_EQ(TJSONNumber("1.5").Value(), "1,5");
    EXPECT_EQ(TJSONNumber("1.5e-7").Value(), "1,5E-7");
    EXPECT_EQ(TJSONNumber("15").Value(), "15");
    EXPECT_EQ(TJSONNumber("1.5").ToJSON(), "1.5"); // the JSON text is not localised
    std::setlocale(LC_NUMERIC, "C");
}

TEST_F(JsonNumber, MadeFromValues)
{
    EXPECT_EQ(TJSONNumber(int64_t{-1}).ToJSON(), "-1");
    EXPECT_EQ(TJSONNumber(int64_t{7}).Value(), "7");
    EXPECT_EQ(TJSONNumber(0.5).ToJSON(), "0.5");
    EXPECT_EQ(TJSONNumber(std::nan("")).ToJSON(), "null"); // JSON has no NaN or infinity
    EXPECT_EQ(TJSONNumber(HUGE_VAL).ToJSON(), "null");
    auto back = Parse(TJSONNumber(1e300).ToJSON());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Kind(), TKind::Number);
}

TEST(JsonValue, TextValues)
{
    EXPECT_EQ(Parse("true")->Value(), "true");
    EXPECT_EQ(Parse("false")->Value(), "false");
    EXPECT_EQ(Parse("null")->Value(), "null");
    EXPECT_EQ(Parse("{\"a\":1}")->Value(), "");
    EXPECT_EQ(Parse("[1]")->Value(), "");
    EXPECT_EQ(Parse("\"x y\"")->Value(), "x y");
}

TEST(JsonWriter, StringEscapes)
{
    struct Row {
        std::string value;
        std::string json;
    };
    const Row rows[] = {
        {"a/b", "\"a\\/b\""},
        {"\"", "\"\\\"\""},
        {"\\", "\"\\\\\""},
        {"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
        {std::string(1, '\0'), "\"\\u0000\""},
        {"\x01\x1F", "\"\\u0001\\u001F\""},
        {"\x0B", "\"\\u000B\""},
        {"\x7F", "\"\x7F\""}, // 127 unchanged
        {" ~", "\" ~\""},
        {"\xC2\x80", "\"\\u0080\""},
        {"\xC3\xA9", "\"\\u00E9\""},
        {"\xE2\x82\xAC", "\"\\u20AC\""},
        {"\xEF\xBF\xBF", "\"\\uFFFF\""},
        {"\xF0\x9F\x98\x80", "\"\\uD83D\\uDE00\""}, // outside the basic plane: two escapes
        {"\xFF", "\"\\uFFFD\""},                    // not UTF-8: replacement character
        {"\xC3", "\"\\uFFFD\""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TJSONString(row.value).ToJSON(), row.json) << row.json;
}

TEST(JsonWriter, CompactMembersInOrderWithEscapedNames)
{
    TJSONObject o;
    o.AddPair("Status", "404").AddPair("Status_Desc", "n\xC3\xA3o encontrado");
    o.AddPair("a/b", std::make_unique<TJSONNumber>(int64_t{1}));
    auto arr = std::make_unique<TJSONArray>();
    arr->Add(std::make_unique<TJSONTrue>()).Add(std::make_unique<TJSONNull>()).Add(std::make_unique<TJSONObject>());
    o.AddPair("l", std::move(arr));
    const std::string expected =
        "{\"Status\":\"404\",\"Status_Desc\":\"n\\u00E3o encontrado\",\"a\\/b\":1,\"l\":[true,null,{}]}";
    EXPECT_EQ(o.ToJSON(), expected);
    EXPECT_EQ(o.Clone()->ToJSON(), expected);
}

TEST(JsonWriter, ParsedTextWritesBackCompact)
{
    auto v = Parse(" { \"a\" : [ 1 , \"\\u00e9\" , { } ] , \"b\" : false }\n");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->ToJSON(), "{\"a\":[1,\"\\u00E9\",{}],\"b\":false}");
}
