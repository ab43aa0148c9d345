// The request value collections over a real loopback socket: curl or a raw client sends, the
// HTTP server parses, the core's router tree runs a small echo route registered through
// TRelayCore, which answers with the collection its path names ("/headers", "/query",
// "/cookie", "/form") as "key=value" lines, uploaded files as "file:key=content" lines first.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "framework/relay/core.hpp"
#include "framework/relay/core/param/field.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/http/http_server.hpp"
#include "platform/web/web_module.hpp"
#include "platform/web/web_request_handler.hpp"
#include "support/framework_state.hpp"
#include "support/http.hpp"

using namespace relay;
using namespace testing_support;

namespace {

std::string ReadStream(platform::TStream& AStream)
{
    AStream.SetPosition(0);
    std::string data;
    char buf[4096];
    for (int guard = 0; guard < 10000; ++guard) {
        size_t n = AStream.Read(buf, sizeof buf);
        if (n == 0)
            break;
        data.append(buf, n);
    }
    return data;
}

std::string Echo(TRelayCoreParam& AParam)
{
    std::string out;
    if (const auto* files = AParam.Files())
        for (const auto& [key, stream] : *files)
            out += "file:" + key + "=" + ReadStream(*stream) + "\n";
    for (const auto& [key, value] : AParam.ToArray())
        out += key + "=" + value + "\n";
    return out;
}

// The echo routes, registered through the core.
void RegisterEchoRoutes()
{
    auto text = [](TRelayResponse& AResponse, const std::string& AText) {
        AResponse.Send(AText).ContentType("text/plain");
    };
    TRelayCore::Get("/headers", [=](TRelayRequest& ARequest, TRelayResponse& AResponse) {
        text(AResponse, Echo(ARequest.Headers()));
    });
    TRelayCore::Get(
        "/query", [=](TRelayRequest& ARequest, TRelayResponse& AResponse) { text(AResponse, Echo(ARequest.Query())); });
    TRelayCore::Get("/cookie", [=](TRelayRequest& ARequest, TRelayResponse& AResponse) {
        text(AResponse, Echo(ARequest.Cookie()));
    });
    TRelayCore::Post("/form", [=](TRelayRequest& ARequest, TRelayResponse& AResponse) {
        text(AResponse, Echo(ARequest.ContentFields()));
    });
    // the typed view of the form field "doc"
    TRelayCore::Post("/field", [=](TRelayRequest& ARequest, TRelayResponse& AResponse) {
        text(AResponse, ARequest.ContentFields().Field("doc").AsStream() ? "stream" : "text");
    });
}

// A web module whose one action hands every request to the core's router tree.
std::unique_ptr<platform::TWebModule> MakeEchoModule()
{
    auto module = std::make_unique<platform::TWebModule>();
    platform::TWebActionItem& action = module->AddAction();
    action.Default = true;
    action.PathInfo = "/";
    action.OnAction = [](platform::TObject*, platform::TWebRequest& AWebRequest, platform::TWebResponse& AWebResponse,
                         bool& AHandled) {
        AHandled = true;
        TRelayRequest request(AWebRequest);
        TRelayResponse response(AWebResponse);
        TRelayCore::RootTree().Execute(request, response);
    };
    return module;
}

class CollectionsOverHttp : public testing_support::TRestoresFramework {
protected:
    void SetUp() override
    {
        RegisterEchoRoutes();
        platform::WebRequestHandler().SetWebModuleClass(&MakeEchoModule);
        Port = FreePort();
        Server = std::make_unique<platform::THTTPWebBrokerBridge>();
        platform::TSocketHandle& binding = Server->Bindings().Add();
        binding.IP = "127.0.0.1";
        binding.Port = Port;
        Server->SetActive(true);
    }
    void TearDown() override { Server.reset(); }

    std::string Url(const std::string& APath) const { return LoopbackUrl(Port, APath); }
    std::string Body(std::vector<std::string> AArgs)
    {
        TCurlResult c = Curl(std::move(AArgs));
        EXPECT_EQ(c.ExitCode, 0) << c.Output;
        EXPECT_EQ(c.Reply.Status, 200) << c.Output;
        return c.Reply.Body;
    }

    int Port = 0;
    std::unique_ptr<platform::THTTPWebBrokerBridge> Server;
};

} // namespace

TEST_F(CollectionsOverHttp, HeadersWithPaddingAndRepeatedNames)
{
    auto reply = RawExchange(Port,
                             "GET /headers HTTP/1.1\r\n"
                             "Host: x\r\n"
                             "Accept:  text/html  \r\n"
                             "X-Empty:\r\n"
                             "X-Rep: one\r\n"
                             "x-rep: two\r\n"
                             "Connection: close\r\n\r\n");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Status, 200);
    EXPECT_EQ(reply->Body, "Host=x\nAccept=text/html\nX-Empty=\nX-Rep=one\nx-rep=one\nConnection=close\n");
}

TEST_F(CollectionsOverHttp, QueryRepeatedNamesAndEqualsRules)
{
    EXPECT_EQ(Body({Url("/query?a=1&b&c=x=y&a=2&q=caf%C3%A9+com+leite")}), "a=2\n=b\nc=x=y\nq=caf\xC3\xA9 com leite\n");
}

TEST_F(CollectionsOverHttp, CookiePieces)
{
    EXPECT_EQ(Body({"-b", "a=b=c; d=; flag; e=5", Url("/cookie")}), "a=b\nd=\ne=5\n");
}

TEST_F(CollectionsOverHttp, MultipartFileAndFieldOfOneName)
{
    EXPECT_EQ(Body({"-F", "doc=@-;filename=d.txt", "-F", "doc=field text", "-F", "n=7", Url("/form")}),
              "file:doc=\ndoc=field text\nn=7\n");
    EXPECT_EQ(Body({"-F", "doc=@-;filename=d.txt", "-F", "doc=field text", Url("/field")}), "stream");
    EXPECT_EQ(Body({"-F", "doc=only text", Url("/field")}), "text");
}

TEST_F(CollectionsOverHttp, MultipartFileContentArrivesWhole)
{
    std::string content(300 * 1024, 'x'); // above the in-memory threshold
    for (size_t i = 0; i < content.size(); i += 997)
        content[i] = static_cast<char>('a' + i % 26);
    std::string body = "--BOUND\r\nContent-Disposition: form-data; name=\"up\"; filename=\"u.bin\"\r\n\r\n" + content +
                       "\r\n--BOUND--\r\n";
    auto reply = RawExchange(Port,
                             "POST /form HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
                             "Content-Type: Multipart/Form-Data; boundary=BOUND\r\n"
                             "Content-Length: " +
                                 std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->Body, "file:up=" + content + "\n");
}

TEST_F(CollectionsOverHttp, UrlEncodedBody)
{
    EXPECT_EQ(Body({"--data", "name=Ana+Maria&novalue&x=1%3D2&name=Bia", Url("/form")}), "name=Bia\nx=1=2\n");
}

TEST_F(CollectionsOverHttp, OnlyFormContentTypesFillTheForm)
{
    std::string body = "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n--B--\r\n";
    EXPECT_EQ(Body({"-H", "Content-Type: multipart/form-data; boundary=B", "--data-binary", body, Url("/form")}),
              "a=1\n");
    EXPECT_EQ(Body({"-H", "Content-Type: multipart/form; boundary=B", "--data-binary", body, Url("/form")}), "");
    EXPECT_EQ(Body({"-H", "Content-Type: application/json", "--data-binary", "a=1", Url("/form")}), "");
}

TEST_F(CollectionsOverHttp, MalformedMultipartGivesAnEmptyForm)
{
    for (const std::string& body : {std::string("--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1"),
                                    std::string("no boundary at all"), std::string(20000, '-')}) {
        EXPECT_EQ(Body({"-H", "Content-Type: multipart/form-data; boundary=B", "--data-binary", body, Url("/form")}),
                  "");
    }
}
