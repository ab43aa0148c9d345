// Groups and routes over a recording core: which core operation each registration reaches, with
// which path, callbacks and form, in which order.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "framework/relay/core.hpp"
#include "framework/relay/core/group.hpp"
#include "framework/relay/core/route.hpp"
#include "support/memory_web.hpp"
#include "support/router_walk.hpp"

using namespace relay;
using testing_support::Recorder;

namespace {

// Runs a callback once to learn its name: each test callback notes its name in Ran.
testing_support::TLog Ran;

std::string NameOf(const TRelayCallback& ACallback)
{
    testing_support::TMemoryExchange ex("GET", "/");
    Ran.clear();
    ACallback(ex.Req(), ex.Res(), [] {});
    return testing_support::Join(Ran);
}
template <class F>
std::string NameOfShort(const F& ACallback)
{
    testing_support::TMemoryExchange ex("GET", "/");
    Ran.clear();
    if constexpr (std::is_same_v<F, TRelayCallbackRequestResponse>)
        ACallback(ex.Req(), ex.Res());
    else if constexpr (std::is_same_v<F, TRelayCallbackRequest>)
        ACallback(ex.Req());
    else
        ACallback(ex.Res());
    return testing_support::Join(Ran);
}

class TFakeCore : public platform::TObject {
public:
    static TFakeCore& GetInstance()
    {
        static TFakeCore core;
        ++GetInstanceCalls;
        return core;
    }

    static inline std::vector<std::string> Log;
    static inline int GetInstanceCalls = 0;

    static TFakeCore& AddCallback(const TRelayCallback& ACallback)
    {
        Log.push_back("AddCallback " + NameOf(ACallback));
        return GetInstance();
    }
    static TFakeCore& Use(const std::string& APath, const TRelayCallback& ACallback)
    {
        Log.push_back("Use " + APath + " " + NameOf(ACallback));
        return GetInstance();
    }
    static TFakeCore& Use(const std::string& APath, const std::vector<TRelayCallback>& ACallbacks)
    {
        std::string names;
        for (const auto& c : ACallbacks)
            names += NameOf(c) + ",";
        Log.push_back("Use " + APath + " [" + names + "]");
        return GetInstance();
    }
    static std::shared_ptr<IRelayCoreRoute<TFakeCore>> Route(const std::string& APath)
    {
        Log.push_back("Route " + APath);
        return TRelayCoreRoute<TFakeCore>::Create(APath);
    }

    // Each method notes the form the callback arrived in, and its name.
    static std::string FormAndName(const TRelayCallbackForm& ACallback)
    {
        static const char* const forms[] = {"full", "reqres", "req", "res"};
        std::string name = std::visit(
            [](const auto& AHeld) {
                using F = std::decay_t<decltype(AHeld)>;
                if constexpr (std::is_same_v<F, TRelayCallback>)
                    return NameOf(AHeld);
                else
                    return NameOfShort(AHeld);
            },
            ACallback.Forms());
        return std::string(forms[ACallback.Forms().index()]) + " " + name;
    }
    static TFakeCore& Note(const char* AMethod, const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        Log.push_back(std::string(AMethod) + " " + APath + " " + FormAndName(ACallback));
        return GetInstance();
    }
    static TFakeCore& Get(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Note("Get", APath, ACallback);
    }
    static TFakeCore& Put(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Note("Put", APath, ACallback);
    }
    static TFakeCore& Head(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Note("Head", APath, ACallback);
    }
    static TFakeCore& Post(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Note("Post", APath, ACallback);
    }
    static TFakeCore& Patch(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Note("Patch", APath, ACallback);
    }
    static TFakeCore& Delete(const std::string& APath, const TRelayCallbackForm& ACallback)
    {
        return Note("Delete", APath, ACallback);
    }
};

using TGroup = TRelayCoreGroup<TFakeCore>;
using TRoute = TRelayCoreRoute<TFakeCore>;

std::shared_ptr<IRelayCoreGroup<TFakeCore>> NewGroup()
{
    TFakeCore::Log.clear();
    return TGroup::Create();
}

std::shared_ptr<IRelayCoreRoute<TFakeCore>> NewRoute(const std::string& APath)
{
    TFakeCore::Log.clear();
    return TRoute::Create(APath);
}

using Log = std::vector<std::string>;

} // namespace

TEST(GroupForwarding, JoinPrefixTable)
{
    struct Row {
        const char* Prefix; // nullptr: no Prefix call
        const char* Path;
        const char* Joined;
    } rows[] = {
        {"/api", "users", "/api/users"}, {"/api", "/users/:id/", "/api/users/:id"},
        {"/api", "", "/api/"},           {"/api", "/", "/api/"},
        {nullptr, "users", "/users"},    {"/", "users", "//users"},
        {"api", "a//b", "/api/a//b"},    {"api", " x ", "/api/ x "},
    };
    for (const auto& r : rows) {
        auto group = NewGroup();
        if (r.Prefix)
            group->Prefix(r.Prefix);
        group->Get(r.Path, Recorder(Ran, "H"));
        EXPECT_EQ(TFakeCore::Log, Log{std::string("Get ") + r.Joined + " full H"}) << r.Path;
    }
}

TEST(GroupForwarding, PrefixTable)
{
    struct Row {
        const char* Prefix;
        const char* Stored;
    } rows[] = {
        {"api", "/api"},   {"/api", "/api"},     {"api/", "/api"},
        {"/api/", "/api"}, {"///api//", "/api"}, {"shop/items", "/shop/items"},
        {"", "/"},         {"/", "/"},           {"a//b", "/a//b"},
    };
    for (const auto& r : rows) {
        auto group = TGroup::Create();
        group->Prefix(r.Prefix);
        EXPECT_EQ(group->CurrentPrefix(), r.Stored) << r.Prefix;
    }
}

TEST(GroupForwarding, EveryMethodAndFormKeepsItsForm)
{
    auto group = NewGroup();
    group->Prefix("p");
    TRelayCallbackRequestResponse rr = [](TRelayRequest&, TRelayResponse&) { Ran.push_back("rr"); };
    TRelayCallbackRequest rq = [](TRelayRequest&) { Ran.push_back("rq"); };
    TRelayCallbackResponse rs = [](TRelayResponse&) { Ran.push_back("rs"); };
    group->Get("a", Recorder(Ran, "f"))->Get("a", rr)->Get("a", rq)->Get("a", rs);
    group->Put("b", Recorder(Ran, "f"))->Put("b", rr)->Put("b", rq)->Put("b", rs);
    group->Head("c", Recorder(Ran, "f"))->Head("c", rr)->Head("c", rq)->Head("c", rs);
    group->Post("d", Recorder(Ran, "f"))->Post("d", rr)->Post("d", rq)->Post("d", rs);
    group->Patch("e", Recorder(Ran, "f"))->Patch("e", rr)->Patch("e", rq)->Patch("e", rs);
    group->Delete("g", Recorder(Ran, "f"))->Delete("g", rr)->Delete("g", rq)->Delete("g", rs);
    Log expected;
    for (auto [method, path] : std::vector<std::pair<std::string, std::string>>{{"Get", "/p/a"},
                                                                                {"Put", "/p/b"},
                                                                                {"Head", "/p/c"},
                                                                                {"Post", "/p/d"},
                                                                                {"Patch", "/p/e"},
                                                                                {"Delete", "/p/g"}}) {
        expected.push_back(method + " " + path + " full f");
        expected.push_back(method + " " + path + " reqres rr");
        expected.push_back(method + " " + path + " req rq");
        expected.push_back(method + " " + path + " res rs");
    }
    EXPECT_EQ(TFakeCore::Log, expected);
}

TEST(GroupForwarding, UseIsMiddlewareOnThePrefixPath)
{
    auto group = NewGroup();
    group->Prefix("/api/");
    group->Use(Recorder(Ran, "M"));
    group->Use(Recorder(Ran, "M1"), Recorder(Ran, "M2"));
    group->Use(std::vector<TRelayCallback>{Recorder(Ran, "A"), Recorder(Ran, "B")});
    group->Use(std::vector<TRelayCallback>{Recorder(Ran, "A"), Recorder(Ran, "B")}, Recorder(Ran, "C"));
    group->Use(std::vector<TRelayCallback>{});
    EXPECT_EQ(TFakeCore::Log, (Log{"Use /api/ M", "Use /api/ [M1,M2,]", "Use /api/ [A,B,]", "Use /api/ [A,B,]",
                                   "Use /api/ [C,]", "Use /api/ []"}));

    auto root = NewGroup();
    root->Use(Recorder(Ran, "R"));
    EXPECT_EQ(TFakeCore::Log, (Log{"Use / R"}));
}

TEST(GroupForwarding, PendingCallbacksRouteAndEnd)
{
    auto group = NewGroup();
    group->AddCallback(Recorder(Ran, "A"))->AddCallbacks({Recorder(Ran, "B"), Recorder(Ran, "C")})->AddCallbacks({});
    EXPECT_EQ(TFakeCore::Log, (Log{"AddCallback A", "AddCallback B", "AddCallback C"}));

    group->Prefix("api");
    TFakeCore::Log.clear();
    auto route = group->Route("users/");
    EXPECT_EQ(TFakeCore::Log, (Log{"Route /api/users"}));
    group->Prefix("other");
    TFakeCore::Log.clear();
    route->Get(Recorder(Ran, "H"));
    EXPECT_EQ(TFakeCore::Log, (Log{"Get /api/users full H"})); // not moved by the new prefix

    EXPECT_EQ(&group->End(), &TFakeCore::GetInstance());
    EXPECT_EQ(&route->End(), &TFakeCore::GetInstance());
}

TEST(GroupForwarding, ChainedCallsReturnTheSameObject)
{
    auto group = NewGroup();
    EXPECT_EQ(group->Prefix("x").get(), group.get());
    EXPECT_EQ(group->Get("a", Recorder(Ran, "H")).get(), group.get());
    EXPECT_EQ(group->Use(Recorder(Ran, "M")).get(), group.get());
    EXPECT_EQ(group->AddCallbacks({}).get(), group.get());
    auto other = NewGroup();
    EXPECT_NE(other.get(), group.get());
}

TEST(RouteForwarding, PathKeptAndEveryFormForwarded)
{
    auto route = NewRoute("api/x/");
    TRelayCallbackRequestResponse rr = [](TRelayRequest&, TRelayResponse&) { Ran.push_back("rr"); };
    TRelayCallbackRequest rq = [](TRelayRequest&) { Ran.push_back("rq"); };
    TRelayCallbackResponse rs = [](TRelayResponse&) { Ran.push_back("rs"); };
    route->Get(Recorder(Ran, "f"))
        ->Put(rr)
        ->Head(rq)
        ->Post(rs)
        ->Patch(Recorder(Ran, "p"))
        ->Delete(rr)
        ->Patch(rq)
        ->Delete(rs);
    EXPECT_EQ(TFakeCore::Log,
              (Log{"Get api/x/ full f", "Put api/x/ reqres rr", "Head api/x/ req rq", "Post api/x/ res rs",
                   "Patch api/x/ full p", "Delete api/x/ reqres rr", "Patch api/x/ req rq", "Delete api/x/ res rs"}));
    EXPECT_EQ(std::static_pointer_cast<TRoute>(route)->Path(), "api/x/");
}

TEST(RouteForwarding, AllIsMiddlewareOnly)
{
    auto route = NewRoute("/r");
    route->All(Recorder(Ran, "M"))
        ->All(Recorder(Ran, "M1"), Recorder(Ran, "M2"))
        ->All(std::vector<TRelayCallback>{Recorder(Ran, "A"), Recorder(Ran, "B")})
        ->All(std::vector<TRelayCallback>{Recorder(Ran, "A")}, Recorder(Ran, "C"));
    EXPECT_EQ(TFakeCore::Log, (Log{"Use /r M", "Use /r [M1,M2,]", "Use /r [A,B,]", "Use /r [A,]", "Use /r [C,]"}));
}

TEST(RouteForwarding, ThisAndEnd)
{
    auto route = TRoute::Create("/t");
    EXPECT_EQ(route->This().get(), static_cast<IRelayCoreRoute<TFakeCore>*>(route.get()));
    EXPECT_EQ(route->AddCallback(Recorder(Ran, "A")).get(), route->This().get());
    EXPECT_EQ(&route->End(), &TFakeCore::GetInstance());
}

// Every operation hands the object out again as a shared pointer, so an object must live in one
// from the start: there is no other way to make one.
TEST(GroupRouteObjects, MadeOnlyThroughCreate)
{
    static_assert(!std::is_default_constructible_v<TGroup>);
    static_assert(!std::is_constructible_v<TRoute, std::string>);
    static_assert(!std::is_default_constructible_v<TRelayCoreGroup<TRelayCore>>);
    static_assert(!std::is_constructible_v<TRelayCoreRoute<TRelayCore>, std::string>);

    auto group = NewGroup();
    EXPECT_EQ(group->Get("a", Recorder(Ran, "H")).get(), group.get());
    auto route = NewRoute("/r");
    EXPECT_EQ(route->Post(Recorder(Ran, "P")).get(), route.get());
    EXPECT_EQ(TFakeCore::Log, (Log{"Post /r full P"}));
}
