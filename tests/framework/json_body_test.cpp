#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "framework/relay/exception/interrupted.hpp"
#include "framework/relay/json_body.hpp"
#include "platform/json/json.hpp"
#include "platform/web/content_type.hpp"
#include "support/framework_state.hpp"
#include "support/memory_web.hpp"

using namespace relay;
using platform::TJSONObject;
using platform::TJSONValue;
using testing_support::TMemoryExchange;

namespace {

// A request as the web layer delivers it: the Content-Type header with its charset taken out.
struct TJsonExchange : TMemoryExchange {
    TJsonExchange(const std::string& AMethod, const std::string& AContentTypeHeader, const std::string& ABody)
        : TMemoryExchange(AMethod, "/api/grava")
    {
        WebRequest.SetContentType(platform::StripCharsetParameter(AContentTypeHeader));
        WebRequest.SetRawContent(ABody);
    }

    // Runs the middleware around ARoute; tells whether the route ran.
    bool Run(const TRelayCallback& AMiddleware, const std::function<void()>& ARoute = {})
    {
        bool ran = false;
        AMiddleware(Req(), Res(), [&] {
            ran = true;
            if (ARoute)
                ARoute();
        });
        return ran;
    }

    const TJSONValue* BodyValue() { return Req().Body<TJSONValue>(); }
    const std::string& ContentType() const { return WebResponse.ContentType(); }
};

// The answer of a body that does not parse: 400 "Invalid JSON", the chain stopped quietly.
void ExpectInvalidJson(const std::string& AMethod, const std::string& ABody)
{
    TJsonExchange x(AMethod, "application/json", ABody);
    bool ran = false;
    EXPECT_THROW(x.Run(JsonBody(), [&] { ran = true; }), ERelayCallbackInterrupted) << ABody;
    EXPECT_FALSE(ran) << ABody;
    EXPECT_EQ(x.Status(), 400) << ABody;
    EXPECT_EQ(x.Content(), "Invalid JSON") << ABody;
    EXPECT_EQ(x.ContentType(), "") << ABody;
    EXPECT_EQ(x.Req().BodyObject(), nullptr) << ABody;
}

} // namespace

TEST(JsonBody, ParsesOnlyTheExactJsonMediaType)
{
    struct Row {
        std::string header;
        bool parsed;
    };
    const Row rows[] = {
        {"application/json", true},
        {"application/json; charset=utf-8", true},
        {"application/json;charset=UTF-8", true},
        {"application/json; Charset=utf-8", true},
        {"Application/JSON", false},
        {"application/json; charset=utf-8; version=2", false},
        {"application/json; version=2", false},
        {"text/json", false},
        {"application/problem+json", false},
        {"text/plain", false},
        {"", false},
    };
    for (const Row& row : rows) {
        TJsonExchange x("POST", row.header, "{\"nome\":\"x\"}");
        bool ran = x.Run(JsonBody());
        EXPECT_TRUE(ran) << row.header;
        EXPECT_EQ(x.Status(), 200) << row.header;
        if (!row.parsed) {
            EXPECT_EQ(x.BodyValue(), nullptr) << row.header;
            EXPECT_EQ(x.Req().Body(), "{\"nome\":\"x\"}") << row.header; // still there as text
            continue;
        }
        const auto* body = x.Req().Body<TJSONObject>();
        ASSERT_NE(body, nullptr) << row.header;
        ASSERT_EQ(body->Count(), 1u);
        EXPECT_EQ(body->GetValue("nome")->Value(), "x");
    }
}

TEST(JsonBody, OnlyPutPostAndPatchAreParsed)
{
    for (const char* method : {"PUT", "POST", "PATCH"}) {
        TJsonExchange x(method, "application/json", "{\"a\":1}");
        EXPECT_TRUE(x.Run(JsonBody()));
        EXPECT_NE(x.BodyValue(), nullptr) << method;
    }
    // Not even a malformed body stops the others.
    for (const char* method : {"GET", "DELETE", "HEAD", "OPTIONS"}) {
        for (const char* body : {"{\"a\":1}", "{"}) {
            TJsonExchange x(method, "application/json", body);
            EXPECT_TRUE(x.Run(JsonBody())) << method;
            EXPECT_EQ(x.BodyValue(), nullptr) << method;
            EXPECT_EQ(x.Status(), 200) << method;
        }
    }
}

TEST(JsonBody, BodiesThatDoNotParseAreAnswered400)
{
    ExpectInvalidJson("POST", "");
    ExpectInvalidJson("POST", "{\"ean\":\"789\"");
    ExpectInvalidJson("POST", "{\"a\":1}x");
    ExpectInvalidJson("PUT", "1 ");
    ExpectInvalidJson("PATCH", "nul");
    ExpectInvalidJson("POST", std::string(200, '[') + std::string(200, ']'));
}

TEST(JsonBody, AnyKindOfValueIsStored)
{
    TJsonExchange arr("POST", "application/json", "[1,2]");
    ASSERT_TRUE(arr.Run(JsonBody()));
    ASSERT_NE(arr.BodyValue(), nullptr);
    EXPECT_EQ(arr.BodyValue()->Kind(), TJSONValue::TKind::Array);
    EXPECT_EQ(arr.BodyValue()->ToJSON(), "[1,2]");

    TJsonExchange line("PUT", "application/json", "{\"ean\":\"1\"}\n"); // white space after an object
    ASSERT_TRUE(line.Run(JsonBody()));
    ASSERT_NE(line.Req().Body<TJSONObject>(), nullptr);

    TJsonExchange scalar("POST", "application/json", "\"text\"");
    ASSERT_TRUE(scalar.Run(JsonBody()));
    EXPECT_EQ(scalar.BodyValue()->Kind(), TJSONValue::TKind::String);
}

TEST(JsonBody, SecondRunOverTheSameRequestReplacesTheBody)
{
    // A request without a route is walked twice; the root middleware parses it each time.
    TJsonExchange x("POST", "application/json", "{\"a\":1}");
    ASSERT_TRUE(x.Run(JsonBody()));
    ASSERT_TRUE(x.Run(JsonBody()));
    ASSERT_NE(x.Req().Body<TJSONObject>(), nullptr);
    EXPECT_EQ(x.BodyValue()->ToJSON(), "{\"a\":1}");

    // Taken over by the response as content between the runs: both objects stay valid.
    TJsonExchange y("POST", "application/json", "{\"b\":2}");
    ASSERT_TRUE(y.Run(JsonBody(), [&] { y.Res().Content(y.Req().BodyObject()); }));
    ASSERT_TRUE(y.Run(JsonBody()));
    EXPECT_NE(y.Res().Content(), y.Req().BodyObject());
    EXPECT_EQ(y.Content(), "{\"b\":2}");
}

TEST(JsonBody, JsonContentIsWrittenCompactWithJsonContentType)
{
    TJsonExchange x("GET", "", "");
    x.Run(JsonBody(), [&] {
        auto* o = new TJSONObject;
        o->AddPair("Status", "404").AddPair("Status_Desc", "Registro n\xC3\xA3o encontrado a/b");
        x.Res().Send("ignored text").ContentType("text/plain");
        x.Res().Send(o).Status(404);
    });
    EXPECT_EQ(x.Content(), "{\"Status\":\"404\",\"Status_Desc\":\"Registro n\\u00E3o encontrado a\\/b\"}");
    EXPECT_EQ(x.ContentType(), "application/json; charset=UTF-8");
    EXPECT_EQ(x.Status(), 404);
}

TEST(JsonBody, ArraysAreWrittenTheSameWay)
{
    TJsonExchange x("GET", "", "");
    x.Run(JsonBody(), [&] {
        auto* a = new platform::TJSONArray;
        a->Add(std::make_unique<platform::TJSONString>("\xC3\xA9"));
        x.Res().Send(a);
    });
    EXPECT_EQ(x.Content(), "[\"\\u00E9\"]");
    EXPECT_EQ(x.ContentType(), "application/json; charset=UTF-8");
}

TEST(JsonBody, PlainAnswersAreLeftAlone)
{
    TJsonExchange x("GET", "", "");
    x.Run(JsonBody(), [&] { x.Res().Send("Sim").ContentType("text/plain").Status(202); });
    EXPECT_EQ(x.Content(), "Sim");
    EXPECT_EQ(x.ContentType(), "text/plain");
    EXPECT_EQ(x.Status(), 202);

    // A content object that is no JSON value is not written either.
    TJsonExchange y("GET", "", "");
    y.Run(JsonBody(), [&] { y.Res().Send("t").Content(new platform::TObject); });
    EXPECT_EQ(y.Content(), "t");
    EXPECT_EQ(y.ContentType(), "");
}

TEST(JsonBody, CharsetOfTheLatestCallServesEveryCopy)
{
    const testing_support::TFrameworkState restored; // the charset is process-wide
    TRelayCallback first = JsonBody("ISO-8859-1");
    EXPECT_EQ(JsonCharset(), "ISO-8859-1");
    TJsonExchange x("GET", "", "");
    x.Run(first, [&] { x.Res().Send(new TJSONObject); });
    EXPECT_EQ(x.ContentType(), "application/json; charset=ISO-8859-1");
    EXPECT_EQ(x.Content(), "{}");

    TRelayCallback second = JsonBody("windows-1252");
    for (const TRelayCallback* cb : {&first, &second}) {
        TJsonExchange y("GET", "", "");
        y.Run(*cb, [&] { y.Res().Send(new TJSONObject); });
        EXPECT_EQ(y.ContentType(), "application/json; charset=windows-1252");
    }
    JsonBody();
    EXPECT_EQ(JsonCharset(), "UTF-8");
}

TEST(JsonBody, JsonContentIsWrittenAlsoWhenTheChainRaises)
{
    TJsonExchange x("GET", "", "");
    try {
        x.Run(JsonBody(), [&] {
            auto* o = new TJSONObject;
            o->AddPair("id", "00000001");
            x.Res().Send(o);
            throw std::runtime_error("route failed");
        });
        FAIL() << "the route's error was swallowed";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "route failed");
    }
    EXPECT_EQ(x.Content(), "{\"id\":\"00000001\"}");
    EXPECT_EQ(x.ContentType(), "application/json; charset=UTF-8");

    // The same for the quiet interruption of a later middleware.
    TJsonExchange y("GET", "", "");
    EXPECT_THROW(y.Run(JsonBody(),
                       [&] {
                           y.Res().Send(new TJSONObject);
                           throw ERelayCallbackInterrupted("stop");
                       }),
                 ERelayCallbackInterrupted);
    EXPECT_EQ(y.Content(), "{}");
}
