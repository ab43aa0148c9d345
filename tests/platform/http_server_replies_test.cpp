// The HTTP server writes replies: headers and bodies, error pages, replies from streams and files.
#include "http_server_fixture.hpp"

using namespace http_server_test;

TEST_F(HttpServer, ReplyWithBodyAndNoContentTypeIsHtmlUtf8)
{
    std::string type, text;
    int status = 200;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetStatusCode(status);
        res.SetContentType(type);
        res.SetContent(text);
    };
    Start();

    text = "Not Found", status = 404;
    auto c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 404);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(c.Reply.Body, "Not Found");

    type = "application/json; charset=UTF-8", text = "{}", status = 200;
    c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "application/json; charset=UTF-8");

    // No body, no content type: none is invented.
    type = "", text = "";
    c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_FALSE(c.Reply.Header("Content-Type"));
    EXPECT_EQ(c.Reply.HeaderOr("Content-Length"), "0");
}

TEST_F(HttpServer, TextIsSentInTheCharsetItsContentTypeNames)
{
    std::string type;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetContentType(type);
        res.SetContent("caf\xC3\xA9");
    };
    Start();
    type = "text/plain; charset=ISO-8859-1";
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "caf\xE9");
    type = "text/plain; charset=utf-8";
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "caf\xC3\xA9");
    type = "text/plain; charset=no-such-charset";
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "caf\xC3\xA9");
}

TEST_F(HttpServer, NoBodyFor204And304AndHead)
{
    int status = 200;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetContent("hello");
        res.SetStatusCode(status);
    };
    Start();
    TRawClient c("127.0.0.1", Port);
    for (int s : {204, 304}) {
        {
            std::lock_guard lock(HandlerLock);
            status = s;
        }
        ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
        auto r = c.ReadReply(5s);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->Status, s);
        EXPECT_FALSE(r->Header("Content-Length"));
    }
    {
        std::lock_guard lock(HandlerLock);
        status = 200;
    }
    ASSERT_TRUE(c.Send("HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"));
    auto r = c.ReadReply(5s, true);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->HeaderOr("Content-Length"), "5");
    // The next reply on the connection starts right after: nothing of the HEAD body was sent.
    ASSERT_TRUE(c.Send("GET / HTTP/1.1\r\nHost: x\r\n\r\n"));
    r = c.ReadReply(5s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Body, "hello");
    EXPECT_EQ(c.Pending(), "");
}

TEST_F(HttpServer, ErrorPageShowsMessageAndPathEscaped)
{
    std::string type;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetContentType(type);
        res.SetContent("half-written");
        throw Exception("bad <input> & \"quotes\"");
    };
    Start();
    auto c = CurlSync({Url("/x%3Cscript%3E")});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/html; charset=utf-8");
    const std::string& page = c.Reply.Body;
    EXPECT_NE(page.find("<title>Error 500: Internal Server Error</title>"), std::string::npos) << page;
    EXPECT_NE(page.find("Internal Server Error"), std::string::npos);
    EXPECT_NE(page.find("bad &lt;input&gt; &amp; &quot;quotes&quot;"), std::string::npos) << page;
    EXPECT_NE(page.find("/x&lt;script&gt;"), std::string::npos) << page;
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_EQ(page.find("half-written"), std::string::npos);

    type = "text/plain"; // a content type set before the error stays
    c = CurlSync({Url("/")});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_EQ(c.Reply.HeaderOr("Content-Type"), "text/plain");
}

TEST_F(HttpServer, ErrorPageForThrownObjectsOutsideTheExceptionFamily)
{
    int kind = 0;
    Handler = [&](TWebRequest&, TWebResponse&) {
        if (kind == 0)
            throw std::runtime_error("plain std error");
        throw 42;
    };
    Start();
    auto c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_NE(c.Reply.Body.find("plain std error"), std::string::npos);
    kind = 1;
    c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 500);
    EXPECT_NE(c.Reply.Body.find("Error 500: Internal Server Error"), std::string::npos);
}

TEST_F(HttpServer, StreamReplySentOnceThenAnErrorChangesNothing)
{
    char name[] = "/tmp/mirovandel-http-XXXXXX";
    int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    std::string bytes;
    for (int i = 0; i < 300000; ++i)
        bytes += static_cast<char>(i * 7 % 256);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    bool fail = true;
    bool memory = false;
    Handler = [&](TWebRequest&, TWebResponse& res) {
        std::unique_ptr<TStream> s;
        if (memory)
            s = std::make_unique<TStringStream>(bytes);
        else
            s = std::make_unique<TFileStream>(name);
        s->SetPosition(s->Size()); // sent from its start all the same
        res.SetFreeContentStream(false);
        res.SetContentLength(s->Size());
        res.SetContentStream(s.get());
        res.SetCustomHeader("Content-Disposition", "inline; filename=\"p.png\"");
        res.SetContentType("image/png");
        res.SendResponse();
        EXPECT_TRUE(res.Sent());
        s.reset(); // freed right after sending, as file replies do
        res.SetStatusCode(418);
        if (fail)
            throw Exception("after the file");
    };
    Start();
    TRawClient c("127.0.0.1", Port);
    for (int round = 0; round < 3; ++round) {
        {
            std::lock_guard lock(HandlerLock);
            memory = round == 2;
            fail = round != 1;
        }
        ASSERT_TRUE(c.Send("GET /p.png HTTP/1.1\r\nHost: x\r\n\r\n"));
        auto r = c.ReadReply(10s);
        ASSERT_TRUE(r) << round;
        EXPECT_EQ(r->Status, 200);
        EXPECT_EQ(r->HeaderOr("Content-Type"), "image/png");
        EXPECT_EQ(r->HeaderOr("Content-Disposition"), "inline; filename=\"p.png\"");
        EXPECT_EQ(r->HeaderOr("Content-Length"), std::to_string(bytes.size()));
        EXPECT_TRUE(r->Body == bytes) << round;
    }
    // Nothing followed the files: no error page anywhere on the connection.
    EXPECT_FALSE(c.ReadReply(300ms));
    EXPECT_EQ(c.Pending(), "");
    // The last handler is done with this test's locals (their stack is reused next): it let go
    // of the handler lock, in an order thread checkers see.
    Sync();
    std::remove(name);
}

TEST_F(HttpServer, CustomHeadersCannotSplitTheReply)
{
    Handler = [&](TWebRequest&, TWebResponse& res) {
        res.SetCustomHeader("X-Note", "a\r\nSet-Cookie: evil=1");
        res.SetCustomHeader("Content-Length", "999");
        res.SetContent("body");
    };
    Start();
    auto c = CurlSync({Url()});
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_FALSE(c.Reply.Header("Set-Cookie"));
    EXPECT_EQ(c.Reply.HeaderOr("Content-Length"), "4");
    EXPECT_EQ(c.Reply.Body, "body");
}

TEST_F(HttpServer, ModulesArePooledAndReused)
{
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("x"); };
    Start();
    int before = ModulesMade.load();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(CurlSync({Url()}).Reply.Status, 200);
    EXPECT_EQ(ModulesMade.load() - before, 1);
}
