#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "framework/relay/core/router_tree.hpp"
#include "framework/relay/exception.hpp"
#include "framework/relay/exception/interrupted.hpp"
#include "platform/regex/reg_ex.hpp"
#include "platform/text/str_to_int.hpp"
#include "support/memory_web.hpp"
#include "support/router_walk.hpp"

using namespace relay;
using platform::mtAny;
using platform::mtGet;
using platform::mtPost;
using namespace testing_support;

namespace {

// The product's route table with one root middleware.
void RegisterProductRoutes(TRelayRouterTree& ATree, TLog& ALog)
{
    ATree.RegisterMiddleware("/", RecordingMiddleware(ALog, "mw", TThen::Stop));
    const char* gets[] = {"gtin", "fotoexiste", "fotoexistej", "descricao", "um2", "um", "desc", "desc200", "desc_ini"};
    for (const char* name : gets) {
        if (std::string(name) == "fotoexistej")
            ATree.RegisterRoute(mtPost, "/api/grava", Recorder(ALog, "grava"));
        ATree.RegisterRoute(mtGet, std::string("/api/") + name + "/:id", Recorder(ALog, name));
    }
}

// The raw path exactly as given (the exchange's own target setter cuts at "?").
void SetRaw(TMemoryExchange& AExchange, const std::string& ARawPath)
{
    AExchange.WebRequest.SetRawPathInfo(ARawPath);
}

} // namespace

TEST(RouterTree, ProductRoutesWorkedExample)
{
    TRelayRouterTree tree;
    TLog log;
    RegisterProductRoutes(tree, log);

    ExpectRows(tree, log,
               {
                   {"GET", "/api/gtin/123", true, 200, "gtin", "mw,gtin:123"},
                   {"POST", "/api/gtin/123", false, 404, "Not Found", "mw,mw"},
                   {"GET", "/api/grava", true, 405, "Method Not Allowed", "mw"},
                   {"POST", "/api/grava", true, 200, "grava", "mw,grava"},
                   {"GET", "/api/nothing", false, 404, "Not Found", "mw,mw"},
                   {"GET", "/api/descricao/", false, 404, "Not Found", "mw,mw"},
                   {"GET", "/", true, 404, "Not Found", "mw"},
                   {"OPTIONS", "/api/gtin/123", true, 405, "Method Not Allowed", "mw"},
                   {"GET", "/api/fotoexiste/7891", true, 200, "fotoexiste", "mw,fotoexiste:7891"},
                   {"GET", "/api/fotoexistej/7891", true, 200, "fotoexistej", "mw,fotoexistej:7891"},
                   {"GET", "/api/descricao/1", true, 200, "descricao", "mw,descricao:1"},
                   {"GET", "/api/um2/UN", true, 200, "um2", "mw,um2:UN"},
                   {"GET", "/api/um/KG", true, 200, "um", "mw,um:KG"},
                   {"GET", "/api/desc/5", true, 200, "desc", "mw,desc:5"},
                   {"GET", "/api/desc200/5", true, 200, "desc200", "mw,desc200:5"},
                   {"GET", "/api/desc_ini/5", true, 200, "desc_ini", "mw,desc_ini:5"},
                   {"DELETE", "/api/desc/5", false, 404, "Not Found", "mw,mw"},
                   {"GET", "/api/gtin/123/extra", false, 404, "Not Found", "mw,mw"},
                   {"GET", "/api", false, 404, "Not Found", "mw,mw"},
               });
}

TEST(RouterTree, OptionsStoresTheParameterBeforeAnswering405)
{
    TRelayRouterTree tree;
    TLog log;
    RegisterProductRoutes(tree, log);
    TMemoryExchange x("OPTIONS", "/api/gtin/123");
    Walk(tree, "OPTIONS", "", &x);
    EXPECT_EQ(x.Req().Params().Items("id"), "123");
}

TEST(RouterTree, PathShapes)
{
    TRelayRouterTree tree;
    TLog log;
    RegisterProductRoutes(tree, log);

    ExpectRows(tree, log,
               {
                   RawPath("/api//gtin/123/", 200, "mw,gtin:123"),
                   RawPath("//api/gtin//123//", 200, "mw,gtin:123"),
                   RawPath("", 404, "mw"), // walked as "/"
                   // the query is never part of the path
                   RawPath("/api/gtin/123?x=1", 200, "mw,gtin:123"),
                   // the first piece is the root's
                   RawPath("x/api/gtin/123", 200, "mw,gtin:123"),
                   RawPath("api/gtin/123", 404, "mw,mw"),    // walked as /gtin/123
                   RawPath("/API/gtin/123", 404, "mw,mw"),   // literals compare exactly...
                   RawPath("/api/gt%69n/123", 404, "mw,mw"), // ...and undecoded
                   RawPath("/api/GTIN/123", 404, "mw,mw"),
               });
}

TEST(RouterTree, ParameterValuesAreDecoded)
{
    TRelayRouterTree tree;
    TLog log;
    RegisterProductRoutes(tree, log);
    ExpectRows(tree, log,
               {
                   RawPath("/api/gtin/12%2034", 200, "mw,gtin:12 34"),
                   RawPath("/api/gtin/a+b", 200, "mw,gtin:a b"),
                   RawPath("/api/gtin/a%2Fb", 200, "mw,gtin:a/b"),
                   RawPath("/api/gtin/caf%C3%A9", 200, "mw,gtin:caf\xC3\xA9"),
                   RawPath("/api/gtin/100%%", 200, "mw,gtin:100%"),
               });
}

TEST(RouterTree, MalformedEscapeInAParameterFails)
{
    TRelayRouterTree tree;
    TLog log;
    RegisterProductRoutes(tree, log);
    struct Row {
        const char* raw;
        const char* message;
    };
    const Row rows[] = {
        {"/api/gtin/%zz", "Invalid URL encoded character (%zz) at position 1"},
        {"/api/gtin/12%3", "Error decoding URL style (%XX) encoded string at position 3"},
    };
    for (const auto& r : rows) {
        log.clear();
        TMemoryExchange x("GET", "/");
        SetRaw(x, r.raw);
        try {
            tree.Execute(x.Req(), x.Res());
            ADD_FAILURE() << "no error for " << r.raw;
        } catch (const platform::EConvertError& e) {
            EXPECT_EQ(e.Message(), r.message);
        }
        EXPECT_EQ(Join(log), "mw") << r.raw; // no callback ran
        EXPECT_FALSE(x.Req().Params().ContainsKey("id"));
    }
}

TEST(RouterTree, PatternAndParameterSiblings)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterRoute(mtGet, "/p/(\\d+)/x", Recorder(log, "px"));
    tree.RegisterRoute(mtGet, "/p/:id/y", Recorder(log, "py"));
    ExpectRows(tree, log,
               {
                   {"GET", "/p/5/x", 200, "px"},
                   {"GET", "/p/a/y", 200, "py:a"},
                   // the pattern child is entered and fails; the parameter child is never tried
                   {"GET", "/p/5/y", 404, ""},
                   {"GET", "/p/a/x", 404, ""},
               });
}

TEST(RouterTree, PatternPieces)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterRoute(mtGet, "/n/(\\d+)", Recorder(log, "n"));
    tree.RegisterRoute(mtGet, "/r/(a/b)", Recorder(log, "r")); // cut into the literals "(a" and "b)"

    {
        TMemoryExchange x("GET", "/n/42");
        EXPECT_TRUE(tree.Execute(x.Req(), x.Res()));
        EXPECT_EQ(x.Content(), "n");
        EXPECT_EQ(x.Req().Params().Count(), 0); // a pattern stores nothing
    }
    EXPECT_EQ(Walk(tree, "POST", "/n/42").Status, 405); // the look-ahead of a pattern ignores the method
    EXPECT_EQ(Walk(tree, "POST", "/n/42").Content, "Method Not Allowed");
    EXPECT_EQ(Walk(tree, "GET", "/n/4a").Status, 404);
    EXPECT_EQ(Walk(tree, "GET", "/r/(a/b)").Content, "r");
    const TRelayRouterTree* r = tree.Child("r");
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->Child("(a"), nullptr);
    EXPECT_FALSE(r->Child("(a")->IsRouterRegex());
    EXPECT_TRUE(r->RegexedKeys().empty());
}

TEST(RouterTree, FailedLookAheadKeepsTheParameter)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterRoute(mtGet, "/q/:id/(\\d+)/z", Recorder(log, "q"));
    TMemoryExchange x("GET", "/q/7/8/w");
    EXPECT_FALSE(tree.Execute(x.Req(), x.Res()));
    EXPECT_EQ(x.Status(), 404);
    EXPECT_EQ(x.Req().Params().Items("id"), "7");
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(Walk(tree, "GET", "/q/7/8/z").Content, "q");
}

TEST(RouterTree, InvalidPatternFailsOnlyWhenTested)
{
    TRelayRouterTree tree;
    TLog log;
    EXPECT_NO_THROW(tree.RegisterRoute(mtGet, "/v/([a-)", Recorder(log, "v")));
    tree.RegisterRoute(mtGet, "/ok", Recorder(log, "ok"));
    EXPECT_EQ(Walk(tree, "GET", "/ok").Content, "ok");
    for (int i = 0; i < 2; ++i) {
        TMemoryExchange x("GET", "/v/a");
        try {
            tree.Execute(x.Req(), x.Res());
            ADD_FAILURE() << "no error";
        } catch (const platform::Exception& e) {
            EXPECT_NE(dynamic_cast<const platform::ERegularExpressionError*>(&e), nullptr);
            EXPECT_EQ(e.Message(), platform::TRegEx("^([a-)$").ErrorMessage());
        }
    }
    EXPECT_TRUE(log.empty() || Join(log) == "ok");
}

TEST(RouterTree, RouteRegisteredTwiceRunsTwice)
{
    TRelayRouterTree tree;
    TLog log;
    auto handler = Recorder(log, "g");
    tree.RegisterRoute(mtGet, "/a/:id", handler);
    tree.RegisterRoute(mtGet, "/a/:id", handler);
    tree.RegisterRoute(mtGet, "/a/(x+)", Recorder(log, "x"));
    const TRelayRouterTree* a = tree.Child("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->RegexedKeys(), (std::vector<std::string>{":id", ":id", "(x+)"}));
    TWalkResult res = Walk(tree, "GET", "/a/xx"); // :id comes first in the key list
    EXPECT_EQ(res.Status, 200);
    EXPECT_EQ(Join(log), "g:xx,g:xx");
}

TEST(RouterTree, RepeatedParameterNameEndsInAnError)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterRoute(mtGet, "/d/:id/e/:id", Recorder(log, "d"));
    TMemoryExchange x("GET", "/d/1/e/2");
    try {
        tree.Execute(x.Req(), x.Res());
        FAIL() << "no error";
    } catch (const platform::EListError& e) {
        EXPECT_EQ(e.Message(), "Duplicates not allowed");
    }
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(x.Req().Params().Items("id"), "1");
}

TEST(RouterTree, SecondWalkAsStar)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterMiddleware("/", RecordingMiddleware(log, "mw", TThen::Stop));
    tree.RegisterRoute(mtGet, "/*", Recorder(log, "star"));
    tree.RegisterRoute(mtGet, "/api/:id", Recorder(log, "api"));

    ExpectRows(tree, log,
               {
                   {"GET", "/api/5", true, 200, "api", "mw,api:5"},
                   // The first walk's 404 stays: the route only writes its text.
                   {"GET", "/nothing/here", true, 404, "star", "mw,mw,star"},
                   {"GET", "/", true, 404, "Not Found", "mw"},
                   {"POST", "/nothing", true, 404, "Not Found", "mw,mw"}, // the 405 of the second walk reads as 404
                   {"POST", "/api/5", true, 404, "Not Found", "mw,mw"},
                   {"GET", "/*", true, 200, "star", "mw,star"},
               });
}

TEST(RouterTree, SecondWalkEntersARootParameterNamedLikeTheFirst)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterRoute(mtGet, "/:id", Recorder(log, "root"));
    tree.RegisterRoute(mtGet, "/x/:id/(\\d+)/y", Recorder(log, "xy"));
    TMemoryExchange x("GET", "/x/1/2/z"); // stores id = 1, then the second walk enters :id with "*"
    EXPECT_THROW(tree.Execute(x.Req(), x.Res()), platform::EListError);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(Join((log.clear(), Walk(tree, "GET", "/zz"), log)), "root:zz");
}

TEST(RouterTree, MiddlewareOrder)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterMiddleware("/", RecordingMiddleware(log, "one", TThen::Stop));
    tree.RegisterMiddleware("/", RecordingMiddleware(log, "two", TThen::NextThenNote));
    tree.RegisterMiddleware("/api", RecordingMiddleware(log, "api", TThen::NextThenNote));
    tree.RegisterRoute(mtGet, "/api/:id", Recorder(log, "h"));
    tree.RegisterRoute(mtGet, "/other", Recorder(log, "other"));

    ExpectRows(tree, log,
               {{"GET", "/api/1", true, 200, "h", "one,two,api,h:1,api-after,two-after"},
                {"GET", "/other", true, 200, "other", "one,two,other,two-after"}});
}

TEST(RouterTree, TwoCallbacksRunOnceEachInOrder)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterRoute(mtGet, "/c", Recorder(log, "first"));
    tree.RegisterRoute(mtGet, "/c", Recorder(log, "second"));
    tree.RegisterRoute(mtGet, "/n", [&log](TRelayRequest&, TRelayResponse&, const TProc& ANext) {
        log.push_back("calls-next");
        ANext();
    });
    tree.RegisterRoute(mtGet, "/n", Recorder(log, "after"));
    ExpectRows(tree, log, {{"GET", "/c", true, 200, "second", "first,second"}, {"GET", "/n", 200, "calls-next,after"}});
}

TEST(RouterTree, MiddlewareOnlyNodeAtTheLastPiece)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterRoute(mtGet, "/c/:id/z", Recorder(log, "z"));
    tree.RegisterMiddleware("/c/:id/w", RecordingMiddleware(log, "w", TThen::NextThenNote));
    EXPECT_EQ(Walk(tree, "GET", "/c/5/w").Status, 404);
    EXPECT_EQ(Walk(tree, "GET", "/c/5/z").Content, "z");
    EXPECT_EQ(Join(log), "z:5");
}

TEST(RouterTree, PrefixAndSplitting)
{
    TRelayRouterTree tree;
    TLog log;
    tree.Prefix("//base/");
    EXPECT_EQ(tree.GetPrefix(), "/base");
    tree.RegisterRoute(mtGet, "/api", Recorder(log, "a"));
    tree.RegisterRoute(mtGet, "rel", Recorder(log, "r"));
    EXPECT_EQ(Walk(tree, "GET", "/base/api").Content, "a");
    EXPECT_EQ(Walk(tree, "GET", "/base/rel").Content, "r");
    EXPECT_EQ(Walk(tree, "GET", "/api").Status, 404);
    EXPECT_EQ(&tree.CreateRouter("k"), &tree.CreateRouter("k"));
    EXPECT_FALSE(tree.Child("k")->IsInitialized());
}

namespace {

class ECustomRelay : public ERelayException {};
class EListDescendant : public platform::EListError {
public:
    using platform::EListError::EListError;
};

template <class TError>
TRelayCallback Thrower(int AStatusFirst, TError AError)
{
    return [AStatusFirst, AError](TRelayRequest&, TRelayResponse& AResponse, const TProc&) {
        AResponse.Send("partial");
        if (AStatusFirst)
            AResponse.Status(AStatusFirst);
        throw AError;
    };
}

template <class TCatch>
TWalkResult RunExpecting(const TRelayRouterTree& ATree, const std::string& ATarget)
{
    TMemoryExchange x("GET", ATarget);
    bool thrown = false;
    try {
        ATree.Execute(x.Req(), x.Res());
    } catch (const TCatch&) {
        thrown = true;
    }
    EXPECT_TRUE(thrown) << ATarget;
    return {true, x.Status(), x.Content()};
}

} // namespace

TEST(RouterTree, ErrorsOutOfACallback)
{
    TRelayRouterTree tree;
    tree.RegisterRoute(mtGet, "/plain", Thrower(0, platform::Exception("boom")));
    tree.RegisterRoute(mtGet, "/list", Thrower(0, EListDescendant("boom")));
    tree.RegisterRoute(mtGet, "/plain404", Thrower(404, platform::Exception("boom")));
    tree.RegisterRoute(mtGet, "/plain399", Thrower(399, platform::Exception("boom")));
    tree.RegisterRoute(mtGet, "/relay",
                       Thrower(0, ERelayException::New().Status(TResponseStatus::BadRequest).Error("bad")));
    tree.RegisterRoute(mtGet, "/relaychild", Thrower(0, ECustomRelay()));
    tree.RegisterRoute(mtGet, "/interrupted", Thrower(400, ERelayCallbackInterrupted()));
    tree.RegisterRoute(mtGet, "/std", Thrower(0, std::runtime_error("other")));
    tree.RegisterRoute(mtGet, "/std404", Thrower(404, std::runtime_error("other")));
    tree.RegisterRoute(mtGet, "/badalloc", Thrower(0, std::bad_alloc()));
    tree.RegisterRoute(mtGet, "/int", Thrower(0, 42));

    auto plain = RunExpecting<platform::Exception>(tree, "/plain");
    EXPECT_EQ(plain.Status, 500);
    EXPECT_EQ(plain.Content, "Internal Application Error");
    auto list = RunExpecting<EListDescendant>(tree, "/list");
    EXPECT_EQ(list.Status, 500);
    auto p404 = RunExpecting<platform::Exception>(tree, "/plain404");
    EXPECT_EQ(p404.Status, 404);
    EXPECT_EQ(p404.Content, "partial");
    auto p399 = RunExpecting<platform::Exception>(tree, "/plain399");
    EXPECT_EQ(p399.Status, 500);

    auto relay = RunExpecting<ERelayException>(tree, "/relay");
    EXPECT_EQ(relay.Status, 200);
    EXPECT_EQ(relay.Content, "partial");
    auto relayChild = RunExpecting<ECustomRelay>(tree, "/relaychild");
    EXPECT_EQ(relayChild.Status, 200);
    auto interrupted = RunExpecting<ERelayCallbackInterrupted>(tree, "/interrupted");
    EXPECT_EQ(interrupted.Status, 400);
    EXPECT_EQ(interrupted.Content, "partial");
    // The standard library's errors are ordinary errors too.
    auto other = RunExpecting<std::runtime_error>(tree, "/std");
    EXPECT_EQ(other.Status, 500);
    EXPECT_EQ(other.Content, "Internal Application Error");
    auto other404 = RunExpecting<std::runtime_error>(tree, "/std404");
    EXPECT_EQ(other404.Status, 404);
    EXPECT_EQ(other404.Content, "partial");
    auto memory = RunExpecting<std::bad_alloc>(tree, "/badalloc");
    EXPECT_EQ(memory.Status, 500);
    // A thrown object that is no error at all passes untouched.
    auto number = RunExpecting<int>(tree, "/int");
    EXPECT_EQ(number.Status, 200);
    EXPECT_EQ(number.Content, "partial");
}

TEST(RouterTree, ErrorOutOfAMiddlewarePassesWithoutTheRule)
{
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterMiddleware("/",
                            [](TRelayRequest&, TRelayResponse&, const TProc&) { throw platform::Exception("mw"); });
    tree.RegisterRoute(mtGet, "/x", Recorder(log, "x"));
    auto res = RunExpecting<platform::Exception>(tree, "/x");
    EXPECT_EQ(res.Status, 200);
    EXPECT_EQ(res.Content, "");
    EXPECT_TRUE(log.empty());
}

TEST(RouterTree, NextKeptBeyondItsCallDoesNothing)
{
    TRelayRouterTree tree;
    TLog log;
    TProc kept;
    tree.RegisterMiddleware("/", [&kept](TRelayRequest&, TRelayResponse&, const TProc& ANext) { kept = ANext; });
    tree.RegisterRoute(mtGet, "/x", Recorder(log, "x"));
    {
        TMemoryExchange x("GET", "/x");
        tree.Execute(x.Req(), x.Res());
    }
    EXPECT_EQ(Join(log), "x");
    ASSERT_TRUE(kept);
    kept(); // the walker, request and response are gone
    EXPECT_EQ(Join(log), "x");
}

TEST(RouterTree, NextCalledTwiceByAMiddleware)
{
    // The second call finds the path consumed and runs the root's callback step: 404.
    TRelayRouterTree tree;
    TLog log;
    tree.RegisterMiddleware("/", [](TRelayRequest&, TRelayResponse&, const TProc& ANext) {
        ANext();
        ANext();
    });
    tree.RegisterRoute(mtGet, "/x", Recorder(log, "x"));
    TWalkResult res = Walk(tree, "GET", "/x");
    EXPECT_EQ(Join(log), "x");
    EXPECT_TRUE(res.Found);
    EXPECT_EQ(res.Status, 404);
}
