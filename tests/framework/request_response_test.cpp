#include <gtest/gtest.h>

#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "support/memory_web.hpp"

using namespace relay;
using testing_support::TMemoryExchange;

namespace {

// Counts its own destruction so ownership can be observed.
class TTracked : public platform::TObject {
public:
    explicit TTracked(int& ACounter) : FCounter(ACounter) {}
    ~TTracked() override { ++FCounter; }

private:
    int& FCounter;
};

class TOther : public platform::TObject {};

} // namespace

TEST(RelayResponse, StartsAt200AndChainsSetters)
{
    TMemoryExchange x("GET", "/");
    x.WebResponse.SetStatusCode(418);
    TRelayResponse res(x.WebResponse);
    EXPECT_EQ(res.Status(), 200);
    EXPECT_EQ(x.WebResponse.StatusCode(), 200);

    res.Send("hello").Status(404).ContentType("text/plain");
    EXPECT_EQ(x.WebResponse.Content(), "hello");
    EXPECT_EQ(res.Status(), 404);
    EXPECT_EQ(x.WebResponse.ContentType(), "text/plain");
    res.Status(TResponseStatus::MethodNotAllowed);
    EXPECT_EQ(res.Status(), 405);
    res.Status(999); // nothing validated
    EXPECT_EQ(res.Status(), 999);
    EXPECT_EQ(&res.RawWebResponse(), &x.WebResponse);
}

TEST(RelayResponse, RedirectToAndStatusActOnIndependentThings)
{
    TMemoryExchange x("GET", "/");
    auto& res = x.Res();
    res.RedirectTo("/a");
    EXPECT_EQ(x.WebResponse.GetCustomHeader("Location"), "/a");
    EXPECT_EQ(res.Status(), 303);

    res.Status(200);
    EXPECT_EQ(res.Status(), 200);
    EXPECT_EQ(x.WebResponse.GetCustomHeader("Location"), "/a");

    res.RedirectTo("/b", TResponseStatus::MovedPermanently);
    EXPECT_EQ(res.Status(), 301);
    ASSERT_EQ(x.WebResponse.CustomHeaders().size(), 1u);
    EXPECT_EQ(x.WebResponse.GetCustomHeader("Location"), "/b");
}

TEST(RelayResponse, AddHeaderReplacesIgnoringCaseAndRemoveHeader)
{
    TMemoryExchange x("GET", "/");
    auto& res = x.Res();
    res.AddHeader("X-One", "1").AddHeader("x-one", "2");
    ASSERT_EQ(x.WebResponse.CustomHeaders().size(), 1u);
    EXPECT_EQ(x.WebResponse.CustomHeaders()[0].second, "2");

    res.AddHeader("X-Two", "t");
    res.RemoveHeader("absent");
    EXPECT_EQ(x.WebResponse.CustomHeaders().size(), 2u);
    res.RemoveHeader("X-TWO");
    ASSERT_EQ(x.WebResponse.CustomHeaders().size(), 1u);

    res.AddHeader("X-One", ""); // an empty value deletes
    EXPECT_TRUE(x.WebResponse.CustomHeaders().empty());
}

TEST(RelayResponse, ContentObjectOwnershipAndHandBack)
{
    int freed = 0;
    auto* first = new TTracked(freed);
    {
        TMemoryExchange x("GET", "/");
        x.Res().Send(first);
        x.Res().Send("text"); // a text leaves the object in place
        EXPECT_EQ(x.Res().Content(), first);
        EXPECT_EQ(x.Content(), "text");
        x.Res().Content(nullptr); // hands it back
        EXPECT_EQ(x.Res().Content(), nullptr);
    }
    EXPECT_EQ(freed, 0);
    {
        TMemoryExchange x("GET", "/");
        x.Res().Content(first);
        int freed2 = 0;
        auto* second = new TTracked(freed2);
        x.Res().Send<TTracked>(second); // the first is handed back again
        EXPECT_EQ(x.Res().Content(), second);
        x.Response.reset();
        EXPECT_EQ(freed2, 1);
    }
    EXPECT_EQ(freed, 0);
    delete first;
    EXPECT_EQ(freed, 1);
}

TEST(RelayRequest, ReadsThroughThePlatformRequest)
{
    TMemoryExchange x("POST", "/api/x");
    x.WebRequest.SetHost("shop");
    x.WebRequest.SetContentType("application/json");
    x.WebRequest.SetRawContent("{\"a\":1}");
    auto& req = x.Req();
    EXPECT_EQ(req.MethodType(), platform::mtPost);
    EXPECT_EQ(req.Host(), "shop");
    EXPECT_EQ(req.ContentType(), "application/json");
    EXPECT_EQ(req.Body(), "{\"a\":1}");
    x.WebRequest.SetRawContent("changed");
    EXPECT_EQ(req.Body(), "changed"); // read on every call
    EXPECT_EQ(&req.RawWebRequest(), &x.WebRequest);
}

TEST(RelayRequest, PathInfoIsSlashOnlyWhenEmpty)
{
    struct Case {
        const char* platform;
        const char* expected;
    };
    const Case cases[] = {{"", "/"}, {"/", "/"}, {"/api/x", "/api/x"}, {"api/x", "api/x"}, {"//", "//"}};
    for (const auto& c : cases) {
        TMemoryExchange x("GET", "/");
        x.WebRequest.SetPathInfo(c.platform);
        EXPECT_EQ(x.Req().PathInfo(), c.expected) << "platform path '" << c.platform << "'";
    }
}

TEST(RelayRequest, BodyObjectOwnershipAndHandBack)
{
    int freed = 0;
    auto* first = new TTracked(freed);
    {
        TMemoryExchange x("GET", "/");
        EXPECT_EQ(x.Req().Body<TTracked>(), nullptr);
        x.Req().Body(first);
        EXPECT_EQ(x.Req().Body<TTracked>(), first);
        EXPECT_EQ(x.Req().Body<TOther>(), nullptr); // not a TOther
        int freed2 = 0;
        x.Req().Body(new TTracked(freed2));
        EXPECT_EQ(freed, 0); // handed back, not freed
        x.Request.reset();
        EXPECT_EQ(freed2, 1);
    }
    EXPECT_EQ(freed, 0);
    delete first;
}

TEST(RelayRequest, SessionReferenceIsNeverFreed)
{
    int freed = 0;
    TTracked session(freed);
    {
        TMemoryExchange x("GET", "/");
        x.Req().Session(&session).Session(&session);
        EXPECT_EQ(x.Req().Session(), &session);
    }
    EXPECT_EQ(freed, 0);
}

TEST(RelayRequest, ParamsAreLazyRequiredAndStable)
{
    TMemoryExchange x("GET", "/");
    auto& params = x.Req().Params();
    EXPECT_EQ(&params, &x.Req().Params());
    EXPECT_TRUE(params.IsRequired());
    EXPECT_EQ(params.Count(), 0);
    EXPECT_EQ(params.Items("id"), "");
    EXPECT_FALSE(params.ContainsKey("id"));
}
