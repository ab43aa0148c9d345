#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <typeinfo>
#include <vector>

#include "framework/relay/core.hpp"
#include "framework/relay/core/group.hpp"
#include "framework/relay/relay.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "support/memory_web.hpp"
#include "support/router_walk.hpp"

using namespace relay;
using platform::mtAny;
using platform::mtGet;
using platform::mtPost;
using namespace testing_support;

namespace {

int GTestRelayFreed = 0;

// A class derived from the core, standing in for the program's own core class.
class TTestRelay : public TRelayCore {
public:
    TTestRelay() = default;
    ~TTestRelay() override { ++GTestRelayFreed; }
};

class TDeeperRelay : public TTestRelay {};

TWalkResult Walk(const std::string& AMethod, const std::string& ATarget)
{
    return testing_support::Walk(TRelayCore::RootTree(), AMethod, ATarget);
}

size_t CallbackCount(const std::string& APath, platform::TMethodType AMethod)
{
    const TRelayRouterTree* node = &TRelayCore::RootTree();
    std::string rest = APath;
    size_t start = 1;
    while (start <= rest.size() && rest != "/") {
        size_t slash = rest.find('/', start);
        std::string piece = rest.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        node = node->Child(piece);
        if (!node)
            return 0;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    auto it = node->Callbacks().find(AMethod);
    return it == node->Callbacks().end() ? 0 : it->second.size();
}

// Each test starts with no core, also when the tests share one process.
class RelayCore : public ::testing::Test {
protected:
    void SetUp() override
    {
        TRelayCore::ReleaseAll();
        GTestRelayFreed = 0;
    }
    void TearDown() override { TRelayCore::ReleaseAll(); }
};

} // namespace

TEST_F(RelayCore, CreateThroughADerivedClass)
{
    TDeeperRelay* relay = TRelayCore::CreateAs<TDeeperRelay>();
    ASSERT_NE(relay, nullptr);
    EXPECT_EQ(TRelayCore::GetInstance(), relay);
    EXPECT_EQ(typeid(*TRelayCore::GetInstance()), typeid(TDeeperRelay));
    const TRelayRouterTree& root = TRelayCore::RootTree();
    EXPECT_FALSE(root.IsInitialized());
    EXPECT_TRUE(root.Middleware().empty());
    EXPECT_TRUE(root.Callbacks().empty());
    EXPECT_EQ(&root, &TRelayCore::RootTree());
}

TEST_F(RelayCore, CreateMakesAnObjectOfTheClassItIsCalledOn)
{
    struct TCase {
        const char* Name;
        std::function<TRelayCore*()> Create;
        const std::type_info& Type;
    } cases[] = {
        {"TRelayCore", [] { return TRelayCore::Create(); }, typeid(TRelayCore)},
        {"TRelayProviderAbstract", [] { return TRelayProviderAbstract::Create(); }, typeid(TRelayProviderAbstract)},
        {"TRelayProvider", [] { return TRelayProvider::Create(); }, typeid(TRelayProvider)},
        {"TRelay", [] { return TRelay::Create(); }, typeid(TRelay)},
    };
    for (const TCase& c : cases) {
        TRelayCore::ReleaseAll();
        TRelayCore* core = c.Create();
        EXPECT_EQ(TRelayCore::GetInstance(), core) << c.Name;
        EXPECT_EQ(typeid(*core), c.Type) << c.Name;
    }
}

TEST_F(RelayCore, SecondCreateFailsAndKeepsTheFirst)
{
    TTestRelay* first = TRelayCore::CreateAs<TTestRelay>();
    TLog log;
    TRelayCore::Get("/x", Recorder(log, "x"));
    const std::function<void()> attempts[] = {
        [] { TRelayCore::CreateAs<TTestRelay>(); },
        [] { TRelayCore::Create(); },
    };
    for (const auto& attempt : attempts) {
        try {
            attempt();
            FAIL() << "second core made";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.Message(), "The Relay instance has already been created");
        }
    }
    EXPECT_EQ(GTestRelayFreed, 1); // the refused TTestRelay; the plain core counts nothing
    EXPECT_EQ(TRelayCore::GetInstance(), first);
    EXPECT_EQ(Walk("GET", "/x").Content, "x"); // the first core keeps working
}

TEST_F(RelayCore, AnyOperationBeforeCreateMakesAPlainCore)
{
    TLog log;
    const std::function<void()> early[] = {
        [] { TRelayCore::GetInstance(); },
        [&log] { TRelayCore::Get("/x", Recorder(log, "x")); },
        [&log] { TRelayCore::Use(RecordingMiddleware(log, "m")); },
        [&log] { TRelayCore::AddCallback(Recorder(log, "a")); },
        [] { TRelayCore::AddCallbacks({}); },
        [] { TRelayCore::RootTree(); },
    };
    for (const auto& operation : early) {
        TRelayCore::ReleaseAll();
        operation();
        ASSERT_NE(TRelayCore::GetInstance(), nullptr);
        EXPECT_EQ(typeid(*TRelayCore::GetInstance()), typeid(TRelayCore));
        try {
            TRelayCore::CreateAs<TTestRelay>();
            ADD_FAILURE() << "derived core made after a plain one";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.Message(), "The Relay instance has already been created");
        }
    }
}

TEST_F(RelayCore, VersionDoesNotMakeTheCore)
{
    EXPECT_EQ(TRelayCore::Version(), "3.1.4");
    EXPECT_NO_THROW(TRelayCore::CreateAs<TTestRelay>());
}

TEST_F(RelayCore, RegistrationsReturnTheCoreAndChain)
{
    TTestRelay* relay = TRelayCore::CreateAs<TTestRelay>();
    TLog log;
    TRelayCore& core =
        TRelayCore::Get("/a", Recorder(log, "a")).Post("/b", Recorder(log, "b")).Use(RecordingMiddleware(log, "m"));
    EXPECT_EQ(&core, relay);
    EXPECT_EQ(Walk("GET", "/a").Content, "a");
    EXPECT_EQ(Walk("POST", "/b").Content, "b");
    EXPECT_EQ(Join(log), "m,a,m,b");
}

TEST_F(RelayCore, PendingCallbacksAttachToTheNextMethodRegistration)
{
    TRelayCore::CreateAs<TTestRelay>();
    TLog log;
    TRelayCore::AddCallback(Recorder(log, "A")).AddCallback(Recorder(log, "B"));
    TRelayCore::Get("/x", Recorder(log, "H"));
    TRelayCore::Post("/x", Recorder(log, "P"));
    EXPECT_EQ(CallbackCount("/x", mtGet), 3u);
    EXPECT_EQ(CallbackCount("/x", mtPost), 1u);
    ExpectRows(TRelayCore::RootTree(), log, {{"GET", "/x", 200, "A,B,H"}, {"POST", "/x", 200, "P"}});
}

TEST_F(RelayCore, PendingCallbacksWithAllAttachUnderAnyOnly)
{
    TRelayCore::CreateAs<TTestRelay>();
    TLog log;
    TRelayCore::AddCallbacks({Recorder(log, "A")});
    TRelayCore::All("/x", Recorder(log, "H"));
    EXPECT_EQ(CallbackCount("/x", mtAny), 2u);
    for (auto m :
         {platform::mtGet, platform::mtPut, platform::mtPost, platform::mtHead, platform::mtDelete, platform::mtPatch})
        EXPECT_EQ(CallbackCount("/x", m), 1u) << int(m);
    ExpectRows(TRelayCore::RootTree(), log, {{"OPTIONS", "/x", 200, "A,H"}, {"DELETE", "/x", 200, "H"}});
}

TEST_F(RelayCore, AllSharesOneCallableAcrossItsMethods)
{
    // One callback with state of its own: all seven registrations count on the same counter.
    int calls = 0;
    TRelayCore::All("/n", [&calls, count = 0](TRelayRequest&, TRelayResponse& AResponse) mutable {
        ++calls;
        AResponse.Send(std::to_string(++count));
    });
    TRelayCore::All("/f", TRelayCallback([count = 0](TRelayRequest&, TRelayResponse& AResponse, const TProc&) mutable {
                        AResponse.Send(std::to_string(++count));
                    }));
    EXPECT_EQ(Walk("GET", "/n").Content, "1");
    EXPECT_EQ(Walk("POST", "/n").Content, "2");
    EXPECT_EQ(Walk("GET", "/n").Content, "3");
    EXPECT_EQ(Walk("OPTIONS", "/n").Content, "4");
    EXPECT_EQ(calls, 4);
    EXPECT_EQ(Walk("DELETE", "/f").Content, "1");
    EXPECT_EQ(Walk("PATCH", "/f").Content, "2");
}

TEST_F(RelayCore, EmptyCallbacksAreRefusedWhenRegistered)
{
    TLog log;
    TRelayCore::AddCallback(Recorder(log, "A"));
    const std::function<void()> registrations[] = {
        [] { TRelayCore::Get("/e", TRelayCallback()); },
        [] { TRelayCore::Post("/e", TRelayCallbackRequestResponse()); },
        [] { TRelayCore::Put("/e", TRelayCallbackRequest()); },
        [] { TRelayCore::Delete("/e", TRelayCallbackResponse()); },
        [] { TRelayCore::All("/e", TRelayCallbackRequest()); },
        [] { TRelayCore::Use(TRelayCallback()); },
        [] { TRelayCore::Use("/e", TRelayCallback()); },
        [&log] {
            TRelayCore::Use("/e", {RecordingMiddleware(log, "M"), TRelayCallback()});
        },
        [] { TRelayCore::AddCallback(TRelayCallback()); },
        [&log] {
            TRelayCore::AddCallbacks({Recorder(log, "B"), TRelayCallback()});
        },
        [] { TRelayCore::Group()->Prefix("g")->Get("e", TRelayCallbackResponse()); },
        [] { TRelayCore::Route("/e")->Patch(TRelayCallbackRequest()); },
    };
    for (size_t i = 0; i < std::size(registrations); ++i) {
        try {
            registrations[i]();
            ADD_FAILURE() << "registration " << i << " took an empty callback";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.Message(), "An empty callback cannot be registered") << i;
        }
    }
    // Nothing was registered, and the pending callback still waits for the next registration.
    EXPECT_EQ(TRelayCore::RootTree().Child("e"), nullptr);
    EXPECT_EQ(TRelayCore::RootTree().Child("g"), nullptr);
    EXPECT_TRUE(TRelayCore::RootTree().Middleware().empty());
    TRelayCore::Get("/x", Recorder(log, "H"));
    Walk("GET", "/x");
    EXPECT_EQ(Join(log), "A,H");
}

TEST_F(RelayCore, UseLeavesPendingCallbacksQueued)
{
    TRelayCore::CreateAs<TTestRelay>();
    TLog log;
    TRelayCore::AddCallback(Recorder(log, "A"));
    TRelayCore::Use("/x", RecordingMiddleware(log, "M"));
    TRelayCore::Get("/x", Recorder(log, "X"));
    TRelayCore::Get("/y", Recorder(log, "Y"));
    ASSERT_NE(TRelayCore::RootTree().Child("x"), nullptr);
    EXPECT_EQ(TRelayCore::RootTree().Child("x")->Middleware().size(), 1u);
    ExpectRows(TRelayCore::RootTree(), log, {{"GET", "/x", 200, "M,A,X"}, {"GET", "/y", 200, "Y"}});
}

TEST_F(RelayCore, PendingCallbacksTravelToAnyPath)
{
    TRelayCore::CreateAs<TTestRelay>();
    TLog log;
    TRelayCore::AddCallback(Recorder(log, "A"));
    TRelayCore::Put("/other", Recorder(log, "O"));
    TRelayCore::Put("/x", Recorder(log, "X"));
    ExpectRows(TRelayCore::RootTree(), log, {{"PUT", "/x", 200, "X"}, {"PUT", "/other", 200, "A,O"}});
}

TEST_F(RelayCore, EmptySequencesRegisterNothing)
{
    TRelayCore& core = TRelayCore::AddCallbacks({});
    EXPECT_EQ(&core, TRelayCore::GetInstance());
    std::vector<TRelayCallback> none;
    TRelayCore::Use(none);
    TRelayCore::Use("/x", none);
    TRelayCore::Use(std::initializer_list<TRelayCallback>{});
    EXPECT_TRUE(TRelayCore::RootTree().Middleware().empty());
    EXPECT_EQ(TRelayCore::RootTree().Child("x"), nullptr);
    TLog log;
    TRelayCore::Get("/g", Recorder(log, "G"));
    EXPECT_EQ(CallbackCount("/g", mtGet), 1u);
}

TEST_F(RelayCore, UseFormsOnTheRoot)
{
    TLog log;
    TRelayCore::Use(RecordingMiddleware(log, "1"));
    TRelayCore::Use("", RecordingMiddleware(log, "2"));
    TRelayCore::Use("/", RecordingMiddleware(log, "3"));
    TRelayCore::Use("///", {RecordingMiddleware(log, "4"), RecordingMiddleware(log, "5")});
    std::vector<TRelayCallback> more{RecordingMiddleware(log, "6")};
    TRelayCore::Use(more);
    EXPECT_EQ(TRelayCore::RootTree().Middleware().size(), 6u);
    TRelayCore::Get("/", Recorder(log, "root"));
    Walk("GET", "/");
    EXPECT_EQ(Join(log), "1,2,3,4,5,6,root");
}

TEST_F(RelayCore, PathsAreNormalised)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"", "/"},
        {"/", "/"},
        {"///", "/"},
        {"api/gtin/:id", "/api/gtin/:id"},
        {"/api/gtin/:id/", "/api/gtin/:id"},
        {"//api//x//", "/api//x"},
        {" a b/", "/ a b"},
        {"/API/", "/API"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TRelayCore::NormalizePath(c.in), c.out) << c.in;

    TLog log;
    TRelayCore::Get("api/gtin/:id/", Recorder(log, "gtin"));
    TRelayCore::Get("", Recorder(log, "root"));
    EXPECT_EQ(CallbackCount("/api/gtin/:id", mtGet), 1u);
    EXPECT_EQ(Walk("GET", "/api/gtin/1").Content, "gtin");
    EXPECT_EQ(Walk("GET", "/").Content, "root");
}

TEST_F(RelayCore, ShortForms)
{
    TLog log;
    int statusAtStart = 0;
    TRelayCore::Get("/req", TRelayCallbackRequest([&](TRelayRequest&) { log.push_back("req"); }));
    TRelayCore::Get("/req2", TRelayCallbackRequest([&](TRelayRequest& ARequest) {
                        statusAtStart = 0;
                        log.push_back("req2:" + ARequest.Params().Items("id"));
                    }));
    TRelayCore::Post("/res", TRelayCallbackResponse([&](TRelayResponse& AResponse) {
                         statusAtStart = AResponse.Status();
                         AResponse.Send("res");
                     }));
    TRelayCore::Put("/rr", TRelayCallbackRequestResponse([&](TRelayRequest&, TRelayResponse& AResponse) {
                        statusAtStart = AResponse.Status();
                        AResponse.Send("rr").Status(201);
                    }));
    TRelayCore::Get("/reqstatus", TRelayCallbackRequest([&](TRelayRequest&) {}));
    TRelayCore::Delete("/reqstatus", [&](TRelayRequest&) {}); // lambdas pick their form by themselves
    TRelayCore::Patch("/rr", [&](TRelayRequest&, TRelayResponse& AResponse) { AResponse.Send("patched"); });
    TRelayCore::Head("/res", [&](TRelayResponse& AResponse) { AResponse.Status(200); });

    auto r = Walk("GET", "/req");
    EXPECT_EQ(r.Status, 204);
    EXPECT_EQ(Join(log), "req");
    r = Walk("POST", "/res");
    EXPECT_EQ(statusAtStart, 200);
    EXPECT_EQ(r.Content, "res");
    r = Walk("PUT", "/rr");
    EXPECT_EQ(statusAtStart, 200);
    EXPECT_EQ(r.Status, 201);
    EXPECT_EQ(Walk("DELETE", "/reqstatus").Status, 204);
    EXPECT_EQ(Walk("PATCH", "/rr").Content, "patched");
    EXPECT_EQ(Walk("HEAD", "/res").Status, 200);
}

TEST_F(RelayCore, RequestOnlyFormSees204WhenItStarts)
{
    int seen = 0;
    TRelayCore::Get("/s", [&seen](TRelayResponse& AResponse) { seen = AResponse.Status(); });
    TRelayCore::Get("/s", [](TRelayRequest&) {});
    TRelayCore::Get("/s", [&seen](TRelayResponse& AResponse) { seen = AResponse.Status(); });
    auto r = Walk("GET", "/s");
    EXPECT_EQ(seen, 204);
    EXPECT_EQ(r.Status, 204);
}

TEST_F(RelayCore, ShortFormErrorsReachTheWalker)
{
    TRelayCore::Get("/a", [](TRelayRequest&) { throw platform::Exception("a"); });
    TRelayCore::Get("/b", [](TRelayResponse&) { throw platform::Exception("b"); });
    TRelayCore::Get("/c", [](TRelayRequest&, TRelayResponse&) { throw platform::Exception("c"); });
    for (const char* path : {"/a", "/b", "/c"}) {
        TMemoryExchange x("GET", path);
        try {
            TRelayCore::RootTree().Execute(x.Req(), x.Res());
            ADD_FAILURE() << path;
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.Message(), std::string(path + 1));
        }
        EXPECT_EQ(x.Status(), 500) << path;
        EXPECT_EQ(x.Content(), "Internal Application Error") << path;
    }
}

TEST_F(RelayCore, ModuleHandsOverTheState)
{
    TTestRelay* relay = TRelayCore::CreateAs<TTestRelay>();
    TRelayModule module = TRelayCore::ToModule();
    EXPECT_EQ(module.ToRelay(), relay);
    TLog log;
    TRelayCore::Get("/m", Recorder(log, "m"));
    EXPECT_EQ(TRelayCore::GetInstance(), relay);
    EXPECT_EQ(Walk("GET", "/m").Content, "m");
}

TEST_F(RelayCore, ReleaseAllFreesEverything)
{
    int callbackFreed = 0;
    struct TTrack {
        explicit TTrack(int* ACounter) : Counter(ACounter) {}
        ~TTrack() { ++*Counter; }
        int* Counter;
    };
    {
        auto track = std::make_shared<TTrack>(&callbackFreed);
        TRelayCore::CreateAs<TTestRelay>();
        TRelayCore::Get("/x", [track](TRelayRequest&) {});
        TRelayCore::AddCallback([track](TRelayRequest&, TRelayResponse&, const TProc&) {});
    }
    EXPECT_EQ(callbackFreed, 0);
    TRelayCore::ReleaseAll();
    EXPECT_EQ(GTestRelayFreed, 1);
    EXPECT_EQ(callbackFreed, 1);
    EXPECT_NO_THROW(TRelayCore::CreateAs<TTestRelay>());
    EXPECT_TRUE(TRelayCore::RootTree().Callbacks().empty());
    EXPECT_EQ(TRelayCore::RootTree().Child("x"), nullptr);
}
