#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "framework/relay/core/param/header.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/rtti.hpp"
#include "platform/base/exception.hpp"
#include "support/memory_web.hpp"

using namespace relay;
using testing_support::TMemoryWebRequest;

namespace {

// A request of the socket server: it keeps the raw header lines it parsed.
class TRawHeaderRequest : public TMemoryWebRequest {
public:
    explicit TRawHeaderRequest(platform::TStrings ALines) : FLines(std::move(ALines)) {}
    const platform::TStrings* RawHeaders() const override { return &FLines; }

private:
    platform::TStrings FLines;
};

std::vector<TRelayCoreParam::TPair> Entries(const TRelayCoreParam& AParam)
{
    return AParam.ToArray();
}

using Pairs = std::vector<TRelayCoreParam::TPair>;

std::string MultipartBody()
{
    return "--B\r\nContent-Disposition: form-data; name=\"doc\"; filename=\"d.txt\"\r\n\r\nfile content\r\n"
           "--B\r\nContent-Disposition: form-data; name=\"doc\"\r\n\r\nfield text\r\n"
           "--B\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n7\r\n"
           "--B--\r\n";
}

} // namespace

TEST(RequestHeaders, ValuesTrimmedAndFoundIgnoringCase)
{
    TRawHeaderRequest web({"Accept:  text/html  ", "Empty:", "X-Tab:\tv\t", "NoColon", "Host: shop:9000"});
    TRelayRequest request(web);
    TRelayCoreParam& headers = request.Headers();
    EXPECT_EQ(Entries(headers),
              (Pairs{{"Accept", "text/html"}, {"Empty", ""}, {"X-Tab", "v"}, {"", ""}, {"Host", "shop:9000"}}));
    EXPECT_EQ(headers.Items("accept"), "text/html");
    EXPECT_EQ(headers.Items("ACCEPT"), "text/html");
    EXPECT_TRUE(headers.ContainsKey("empty"));
    EXPECT_FALSE(headers.IsRequired());
    EXPECT_EQ(&request.Headers(), &headers);
}

TEST(RequestHeaders, RepeatedNamesCarryTheFirstLinesValue)
{
    TRawHeaderRequest web({"X-A: one", "x-a: two", "X-A: three", "Other: o"});
    TRelayRequest request(web);
    EXPECT_EQ(Entries(request.Headers()), (Pairs{{"X-A", "one"}, {"x-a", "one"}, {"Other", "o"}}));
}

TEST(RequestHeaders, OtherWebLayerGivesNoHeaders)
{
    TMemoryWebRequest web("GET", "/");
    web.AddHeaderField("Accept", "text/html"); // parsed headers exist, raw lines do not
    TRelayRequest request(web);
    EXPECT_EQ(request.Headers().Count(), 0);
    EXPECT_EQ(TRelayCoreParamHeader::GetHeaders(web)->Count(), 0u);
}

TEST(RequestQuery, EqualsRules)
{
    struct Row {
        const char* Target;
        Pairs Out;
    } rows[] = {
        {"/p?a=1&b&c=x=y", {{"a", "1"}, {"", "b"}, {"c", "x=y"}}},
        {"/p?a=1&a=2", {{"a", "2"}}},
        {"/p?A=1&a=2", {{"A", "1"}, {"a", "2"}}}, // exact keys; reads ignore case
        {"/p", {}},
        {"/p?q=caf%C3%A9+au+lait&e=", {{"q", "caf\xC3\xA9 au lait"}, {"e", ""}}},
    };
    for (const auto& r : rows) {
        TMemoryWebRequest web("GET", r.Target);
        TRelayRequest request(web);
        EXPECT_EQ(Entries(request.Query()), r.Out) << r.Target;
        EXPECT_FALSE(request.Query().IsRequired());
    }
}

TEST(RequestQuery, BuiltOnceNeverRebuilt)
{
    TMemoryWebRequest web("GET", "/p?a=1");
    TRelayRequest request(web);
    TRelayCoreParam* first = &request.Query();
    EXPECT_EQ(request.Query().Items("A"), "1");
    EXPECT_EQ(&request.Query(), first);
}

TEST(RequestCookie, PieceRules)
{
    struct Row {
        const char* Header;
        Pairs Out;
    } rows[] = {
        {"a=b=c", {{"a", "b"}}},
        {"a=", {{"a", ""}}},
        {"a=1; b=2;c=3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        {"a=1; a=2", {{"a", "2"}}},
        {"flag; k=v", {{"k", "v"}}}, // a piece without "=" has no value and is left out
        {"=v", {{"", "v"}}},
        {"", {}},
    };
    for (const auto& r : rows) {
        TMemoryWebRequest web("GET", "/");
        web.AddHeaderField("Cookie", r.Header);
        TRelayRequest request(web);
        EXPECT_EQ(Entries(request.Cookie()), r.Out) << r.Header;
    }
}

TEST(RequestContentFields, FormContentTypes)
{
    struct Row {
        const char* ContentType;
        bool Form;
    } rows[] = {
        {"multipart/form-data; boundary=B", true},
        {"MULTIPART/FORM-DATA; boundary=B", true},
        {"Multipart/Form-Data;boundary=B", true},
        {"multipart/form", false},
        {"multipart/mixed; boundary=B", false},
        {"application/json", false},
        {"", false},
    };
    for (const auto& r : rows) {
        TMemoryWebRequest web("POST", "/up");
        web.SetContentType(r.ContentType);
        web.SetRawContent(MultipartBody());
        TRelayRequest request(web);
        TRelayCoreParam& fields = request.ContentFields();
        if (r.Form) {
            EXPECT_EQ(Entries(fields), (Pairs{{"doc", "field text"}, {"n", "7"}})) << r.ContentType;
            ASSERT_NE(fields.Files(), nullptr) << r.ContentType;
            ASSERT_EQ(fields.Files()->Count(), 1u);
            EXPECT_EQ(fields.Files()->Pairs()[0].first, "doc");
            EXPECT_EQ(fields.Files()->Pairs()[0].second, web.Files()[0].Stream.get());
        } else {
            EXPECT_EQ(fields.Count(), 0) << r.ContentType;
            EXPECT_EQ(fields.Files(), nullptr) << r.ContentType;
        }
    }
}

TEST(RequestContentFields, UrlEncodedAndNamelessLines)
{
    TMemoryWebRequest web("POST", "/f");
    web.SetContentType("application/x-www-form-urlencoded");
    web.SetRawContent("name=Ana+Maria&novalue&=skipped&x=1=2&name=Bia");
    TRelayRequest request(web);
    EXPECT_EQ(Entries(request.ContentFields()), (Pairs{{"name", "Bia"}, {"x", "1=2"}}));
}

TEST(RequestContentFields, UrlEncodedPrefixWithParameters)
{
    TMemoryWebRequest web("POST", "/f");
    web.SetContentType("application/X-WWW-FORM-urlencoded; extra=1");
    web.SetRawContent("a=1");
    TRelayRequest request(web);
    EXPECT_EQ(request.ContentFields().Items("A"), "1");
}

TEST(RequestCollections, NothingReadUntilAsked)
{
    TMemoryWebRequest web("GET", "/p?a=1");
    {
        TRelayRequest request(web);
    }
    // the request was freed without building anything: the platform's lazy lists were never made
    // (asking now builds them for the first time from the current query)
    web.SetQuery("b=2");
    EXPECT_EQ(web.QueryFields(), platform::TStrings{"b=2"});
}

TEST(RelayRtti, OneInstance)
{
    TRelayRtti& first = TRelayRtti::GetInstance();
    EXPECT_EQ(&TRelayRtti::GetInstance(), &first);
    try {
        TRelayRtti::Create();
        FAIL() << "a second instance was made";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "The Relay Rtti instance has already been created");
    }
    EXPECT_EQ(&TRelayRtti::GetInstance(), &first);
    EXPECT_EQ(first.GetType(typeid(TRelayRequest)), typeid(TRelayRequest));
}

TEST(RelayRtti, ExplicitCreateBecomesTheInstance)
{
    TRelayRtti::ReleaseAll(); // in case this process made one already
    TRelayRtti* made = TRelayRtti::Create();
    EXPECT_EQ(&TRelayRtti::GetInstance(), made);
    TRelayRtti::ReleaseAll();
    EXPECT_NE(&TRelayRtti::GetInstance(), nullptr); // a new one after release
}

TEST(RelayRtti, ConcurrentFirstUseMakesOne)
{
    std::atomic<bool> go{false};
    std::vector<TRelayRtti*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            while (!go.load())
                std::this_thread::yield();
            seen[i] = &TRelayRtti::GetInstance();
        });
    go = true;
    for (auto& t : threads)
        t.join();
    for (TRelayRtti* p : seen)
        EXPECT_EQ(p, seen[0]);
}
