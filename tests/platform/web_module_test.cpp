// The web module's dispatch and error page, without sockets.
#include <gtest/gtest.h>

#include "platform/base/exception.hpp"
#include "platform/web/web_module.hpp"
#include "platform/web/web_request_handler.hpp"

using namespace platform;

namespace {

class TRecordingResponse : public TWebResponse {
public:
    int Sends = 0;

protected:
    void DoSendResponse() override { ++Sends; }
};

TWebRequest& Request(TWebRequest& ARequest, const std::string& AMethod, const std::string& APath)
{
    ARequest.SetMethod(AMethod);
    ARequest.SetRawPathInfo(APath);
    ARequest.SetPathInfo(APath);
    return ARequest;
}

} // namespace

TEST(WebModule, ItemsByPathAndMethodThenTheDefaultOnce)
{
    std::string trace;
    TWebModule module;
    auto add = [&](std::string AName, std::string APath, TMethodType AMethod, bool ADefault, bool AHandles) {
        TWebActionItem& a = module.AddAction();
        a.Name = AName;
        a.PathInfo = APath;
        a.MethodType = AMethod;
        a.Default = ADefault;
        a.OnAction = [&trace, AName, AHandles](TObject* ASender, TWebRequest&, TWebResponse&, bool& AHandled) {
            EXPECT_EQ(static_cast<TWebActionItem*>(ASender)->Name, AName);
            trace += AName + ";";
            AHandled = AHandles;
        };
    };
    add("posts", "/api*", mtPost, false, false);
    add("root", "/", mtAny, true, false);
    add("api", "/API/x", mtGet, false, true);

    struct TCase {
        std::string Method, Path, Trace;
        bool Handled;
    };
    for (const TCase& t : std::vector<TCase>{{"GET", "/api/x", "api;", true},
                                             {"POST", "/api/x", "posts;root;", false},
                                             {"GET", "/", "root;", false},
                                             {"GET", "", "root;", false},
                                             {"PUT", "/other", "root;", false}}) {
        trace.clear();
        TWebRequest req;
        TRecordingResponse res;
        EXPECT_EQ(module.DispatchRequest(Request(req, t.Method, t.Path), res), t.Handled) << t.Method << t.Path;
        EXPECT_EQ(trace, t.Trace) << t.Method << t.Path;
    }
}

TEST(WebModule, SentReplyIsNotDispatchedAgain)
{
    bool ran = false;
    TWebModule module;
    TWebActionItem& a = module.AddAction();
    a.Default = true;
    a.OnAction = [&](TObject*, TWebRequest&, TWebResponse&, bool&) { ran = true; };
    TWebRequest req;
    TRecordingResponse res;
    res.SendResponse();
    EXPECT_TRUE(module.DispatchRequest(Request(req, "GET", "/"), res));
    EXPECT_FALSE(ran);
    EXPECT_EQ(res.Sends, 1);
}

TEST(WebModule, ErrorBecomesThePageWithStatus500SentOnce)
{
    TWebModule module;
    TWebActionItem& a = module.AddAction();
    a.Default = true;
    a.OnAction = [](TObject*, TWebRequest&, TWebResponse& AResponse, bool&) {
        AResponse.SetStatusCode(404);
        AResponse.SetContent("partial");
        throw Exception("it's <broken> & \"gone\"");
    };
    TWebRequest req;
    TRecordingResponse res;
    EXPECT_TRUE(module.DispatchRequest(Request(req, "GET", "/a<b>"), res));
    EXPECT_EQ(res.StatusCode(), 500);
    EXPECT_EQ(res.Sends, 1);
    EXPECT_EQ(res.Content(), ErrorPageHtml("it's <broken> & \"gone\"", "/a<b>"));
    EXPECT_NE(res.Content().find("it&#39;s &lt;broken&gt; &amp; &quot;gone&quot;"), std::string::npos);
    EXPECT_NE(res.Content().find("/a&lt;b&gt;"), std::string::npos);
    EXPECT_EQ(res.ContentType(), "");
}

TEST(WebModule, ErrorAfterTheReplyWentOutLeavesIt)
{
    TWebModule module;
    TWebActionItem& a = module.AddAction();
    a.Default = true;
    a.OnAction = [](TObject*, TWebRequest&, TWebResponse& AResponse, bool&) {
        AResponse.SetContent("file bytes");
        AResponse.SendResponse();
        throw Exception("late");
    };
    TWebRequest req;
    TRecordingResponse res;
    EXPECT_TRUE(module.DispatchRequest(Request(req, "GET", "/"), res));
    EXPECT_EQ(res.Sends, 1);
    EXPECT_EQ(res.StatusCode(), 200);
    EXPECT_EQ(res.Content(), "file bytes");
}

TEST(WebRequestHandler, PoolLimitAndModuleClassChange)
{
    static int made = 0;
    TWebRequestHandler handler;
    TWebRequest req;
    TRecordingResponse res;
    EXPECT_THROW(handler.HandleRequest(Request(req, "GET", "/"), res), EWebBrokerException); // no class yet
    handler.SetWebModuleClass([] {
        ++made;
        auto m = std::make_unique<TWebModule>();
        TWebActionItem& a = m->AddAction();
        a.Default = true;
        a.OnAction = [](TObject*, TWebRequest&, TWebResponse& r, bool&) { r.SetContent("x"); };
        return m;
    });
    EXPECT_TRUE(handler.HandleRequest(req, res));
    EXPECT_EQ(res.Sends, 1);
    EXPECT_EQ(handler.InactiveCount(), 1);
    TRecordingResponse again;
    handler.HandleRequest(req, again);
    EXPECT_EQ(made, 1);

    handler.SetMaxConnections(0);
    TRecordingResponse refused;
    try {
        handler.HandleRequest(req, refused);
        FAIL() << "not refused";
    } catch (const EWebBrokerException& e) {
        EXPECT_EQ(e.Message(), "Maximum number of concurrent connections exceeded.  Please try again later");
    }
    EXPECT_EQ(refused.Sends, 0);
    EXPECT_EQ(handler.ActiveCount(), 0);

    // Another class: the idle modules of the old one go.
    handler.SetWebModuleClass([] { return std::make_unique<TWebModule>(); });
    EXPECT_EQ(handler.InactiveCount(), 0);
}
