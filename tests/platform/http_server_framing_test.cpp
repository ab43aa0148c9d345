// The HTTP server reads requests: what reaches the module, and the requests it refuses before
// any handler runs (one table of raw-byte cases).
#include "http_server_fixture.hpp"

using namespace http_server_test;

namespace {

// A request the server ends before any handler runs, sent on a connection of its own: the status
// of its reply (0: closed without a word), whether the reply says "Connection: close", and how
// long the server waits first at the least (a timeout's rows).
struct TRefusal {
    const char* Name;
    std::string Bytes;
    int Status;
    bool SaysClose;
    std::chrono::milliseconds NotBefore{0};
};

// A chunked body that grows past the body limit while it is read.
std::string ChunkedPastTheBodyLimit()
{
    std::string stream = "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string chunk(1024 * 1024, 'z');
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
    for (size_t sent = 0; sent <= limits::KMaxBodyBytes; sent += chunk.size())
        stream += size + chunk + "\r\n";
    return stream;
}

} // namespace

TEST_F(HttpServer, HandsTheParsedRequestToTheModule)
{
    std::string seen;
    std::vector<std::string> raw;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        seen = r.Method() + "|" + std::to_string(r.MethodType()) + "|" + r.RawPathInfo() + "|" + r.PathInfo() + "|" +
               r.Query() + "|" + r.Host() + "|" + r.ContentType() + "|" + r.Content() + "|" + r.RemoteAddr();
        raw = *r.RawHeaders();
        res.SetContent("ok");
    };
    Start();
    auto c = CurlSync({"-X", "PUT", "-H", "Content-Type: application/json; charset=utf-8", "-H", "X-Thing:   a b  ",
                       "--data-binary", "{\"a\":\"\xC3\xA9\"}", Url("/api/caf%C3%A9/a%2Fb+c?x=1&y=%20")});
    ASSERT_EQ(c.ExitCode, 0) << c.Output;
    EXPECT_EQ(c.Reply.Status, 200);
    EXPECT_EQ(c.Reply.Body, "ok");
    EXPECT_EQ(seen,
              "PUT|2|/api/caf%C3%A9/a%2Fb+c|/api/caf\xC3\xA9/a/b+c|x=1&y=%20|127.0.0.1|application/json|"
              "{\"a\":\"\xC3\xA9\"}|127.0.0.1");
    EXPECT_NE(std::find(raw.begin(), raw.end(), "X-Thing: a b"), raw.end()) << Lines(raw);
    EXPECT_NE(std::find(raw.begin(), raw.end(), "Host: 127.0.0.1:" + std::to_string(Port)), raw.end());
}

TEST_F(HttpServer, MethodsOutsideTheSixAreAny)
{
    std::vector<std::pair<std::string, TMethodType>> cases = {
        {"GET", mtGet},     {"PUT", mtPut},     {"POST", mtPost}, {"DELETE", mtDelete},
        {"PATCH", mtPatch}, {"OPTIONS", mtAny}, {"get", mtAny},   {"PROPFIND", mtAny}};
    TMethodType seen = mtAny;
    Handler = [&](TWebRequest& r, TWebResponse&) { seen = r.MethodType(); };
    Start();
    for (const auto& [method, expected] : cases) {
        seen = static_cast<TMethodType>(99);
        auto reply = RawExchangeSync(Port, method + " / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
        ASSERT_TRUE(reply) << method;
        EXPECT_EQ(seen, expected) << method;
    }
}

TEST_F(HttpServer, HostIsTheHeaderBeforeItsPort)
{
    std::string host;
    Handler = [&](TWebRequest& r, TWebResponse&) { host = r.Host(); };
    Start();
    for (auto [header, expected] : std::vector<std::pair<std::string, std::string>>{
             {"shop.local:9000", "shop.local"}, {"shop.local", "shop.local"}, {"[::1]:9000", "[::1]"}}) {
        ASSERT_TRUE(RawExchangeSync(Port, "GET / HTTP/1.1\r\nHost: " + header + "\r\n\r\n"));
        EXPECT_EQ(host, expected);
    }
}

TEST_F(HttpServer, QueryCookieAndFormFieldsReachTheRequest)
{
    std::string query, cookies, fields, files;
    Handler = [&](TWebRequest& r, TWebResponse&) {
        query = Lines(r.QueryFields());
        cookies = Lines(r.CookieFields());
        fields = Lines(r.ContentFields());
        files.clear();
        for (const auto& f : r.Files()) {
            std::string data(static_cast<size_t>(f.Stream->Size()), '\0');
            f.Stream->SetPosition(0);
            f.Stream->Read(data.data(), data.size());
            files += f.FieldName + ":" + f.FileName + ":" + data + "\n";
        }
    };
    Start();
    auto c =
        CurlSync({"-b", "a=b=c; s=1", "-F", "name=Caf\xC3\xA9", "-F", "pic=@-;filename=x.png", Url("/?a=1&b&c=x=y")});
    ASSERT_EQ(c.ExitCode, 0);
    EXPECT_EQ(query, "a=1\nb\nc=x=y\n");
    EXPECT_EQ(cookies, "a=b=c\ns=1\n");
    EXPECT_EQ(fields, "name=Caf\xC3\xA9\n");
    EXPECT_EQ(files, "pic:x.png:\n");

    c = CurlSync({"--data", "k=v+w&z=%41", Url("/")});
    EXPECT_EQ(fields, "k=v w\nz=A\n");
}

TEST_F(HttpServer, AuthorizationSchemes)
{
    std::string user;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        user = static_cast<THTTPAppRequest&>(r).AuthUserName();
        res.SetContent("in");
    };
    Start();
    // Without an authentication handler: Basic is decoded, other schemes are refused.
    auto c = CurlSync({"-u", "ana:secret", Url()});
    EXPECT_EQ(c.Reply.Body, "in");
    EXPECT_EQ(user, "ana");
    c = CurlSync({"-H", "Authorization: Bearer abc", Url()});
    EXPECT_EQ(c.Reply.Status, 401);

    // A handler that takes every header: any scheme passes, nothing is decoded. (Events are
    // set while the server is stopped: its threads read them without a lock.)
    Server->SetActive(false);
    Server->OnParseAuthentication = [](const std::string&, const std::string&, std::string&, std::string&,
                                       bool& AHandled) { AHandled = true; };
    Server->SetActive(true);
    c = CurlSync({"-H", "Authorization: Bearer abc", Url()});
    EXPECT_EQ(c.Reply.Body, "in");
    c = CurlSync({"-u", "ana:secret", Url()});
    EXPECT_EQ(c.Reply.Body, "in");
    EXPECT_EQ(user, "");
}

TEST_F(HttpServer, TLSHandlerAskedPerConnection)
{
    bool useTLS = false;
    std::atomic<int> asked{0};
    Server->SetTLSIOHandler(true);
    Server->OnQuerySSLPort = [&](uint16_t, bool& VUseSSL) {
        std::lock_guard lock(HandlerLock);
        ++asked;
        VUseSSL = useTLS;
    };
    Handler = [&](TWebRequest&, TWebResponse& res) { res.SetContent("plain"); };
    Start();
    EXPECT_EQ(CurlSync({Url()}).Reply.Body, "plain");
    EXPECT_EQ(asked, 1);
    {
        std::lock_guard lock(HandlerLock);
        useTLS = true; // no TLS in this build: such a connection is closed
    }
    EXPECT_NE(CurlSync({Url()}).ExitCode, 0);
}

TEST_F(HttpServer, RefusedRequestsGetTheirStatusAndTheConnectionCloses)
{
    Server->SetIdleTimeout(1s);
    Server->SetRequestTimeout(1500ms);
    std::atomic<int> refusedRan{0};
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        if (r.PathInfo() != "/other")
            ++refusedRan;
        res.SetContent("fine");
    };
    Start();
    const TRefusal rows[] = {
        {"not HTTP", "HELLO\r\n\r\n", 400, true},
        {"unknown version", "GET / HTTP/9.9\r\n\r\n", 400, true},
        {"header without a colon", "GET / HTTP/1.1\r\nNo colon here\r\n\r\n", 400, true},
        {"TLS hello", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11) + "\r\n\r\n", 400, true},
        {"length not a number", "POST / HTTP/1.1\r\nContent-Length: abc\r\n\r\n", 400, true},
        {"header too large",
         "GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(limits::KMaxHeaderBytes, 'a') + "\r\n\r\n", 431, true},
        // refused before the body is read
        {"announced body too large",
         "POST / HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(limits::KMaxBodyBytes + 1) + "\r\n\r\nabc",
         413, true},
        {"chunked body growing too large", ChunkedPastTheBodyLimit(), 413, true},
        {"request not whole in time", "GET / HTTP/1.1\r\nHost: x\r\n", 408, true, 1500ms},
        {"silent since accepted", "", 0, false, 1s},
    };
    for (const TRefusal& row : rows) {
        SCOPED_TRACE(row.Name);
        TRawClient c("127.0.0.1", Port);
        const auto sentAt = std::chrono::steady_clock::now();
        // In pieces: the server may refuse, and stop reading, before it has all of them.
        for (size_t at = 0; at < row.Bytes.size(); at += 1024 * 1024)
            if (!c.Send(row.Bytes.substr(at, 1024 * 1024)))
                break;
        // Others are served meanwhile.
        EXPECT_EQ(CurlSync({Url("/other")}).Reply.Body, "fine");
        auto r = c.ReadReply(10s);
        if (row.Status == 0) {
            EXPECT_FALSE(r);
            EXPECT_EQ(c.Pending(), "");
        } else {
            ASSERT_TRUE(r);
            EXPECT_EQ(r->Status, row.Status);
            EXPECT_EQ(r->HeaderOr("Connection") == "close", row.SaysClose) << r->HeaderOr("Connection");
        }
        EXPECT_TRUE(c.WaitClosed(10s));
        EXPECT_GE(std::chrono::steady_clock::now() - sentAt, row.NotBefore);
    }
    EXPECT_EQ(refusedRan.load(), 0);
    EXPECT_TRUE(WaitFor([&] { return Server->ConnectionCount() == 0; }, 5s));
}

TEST_F(HttpServer, RequestsJustWithinTheLimitsAreServed)
{
    size_t got = 0;
    Handler = [&](TWebRequest& r, TWebResponse& res) {
        got = r.RawContent().size();
        res.SetContent("fine");
    };
    Start();
    auto ok = CurlSync({"-H", "X-Big: " + std::string(limits::KMaxHeaderBytes - 200, 'a'), Url()});
    EXPECT_EQ(ok.Reply.Body, "fine");

    // curl's large upload (Expect: 100-continue) within the limit is served.
    std::string body(2 * 1024 * 1024, 'q');
    char name[] = "/tmp/mirovandel-body-XXXXXX";
    int fd = ::mkstemp(name);
    ASSERT_EQ(::write(fd, body.data(), body.size()), static_cast<ssize_t>(body.size()));
    ::close(fd);
    auto c2 = CurlSync({"--data-binary", std::string("@") + name, Url()});
    std::remove(name);
    EXPECT_EQ(c2.Reply.Body, "fine");
    EXPECT_EQ(got, body.size());
}
