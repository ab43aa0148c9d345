// Groups and routes over the real core: where their registrations land in the router tree and
// what a request walking the tree then runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/relay/core.hpp"
#include "framework/relay/core/group.hpp"
#include "framework/relay/core/route.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "support/framework_state.hpp"
#include "support/memory_web.hpp"
#include "support/router_walk.hpp"

using namespace relay;
using platform::mtAny;
using platform::mtGet;
using platform::mtPost;
using testing_support::Recorder;
using testing_support::RecordingMiddleware;
using testing_support::TMemoryExchange;

namespace {

// What the test callbacks ran, in order.
testing_support::TLog Ran;

// What a request runs, and the status it ends with.
std::string Walk(const std::string& AMethod, const std::string& ATarget)
{
    TMemoryExchange ex(AMethod, ATarget);
    Ran.clear();
    TRelayCore::RootTree().Execute(ex.Req(), ex.Res());
    const std::string ran = testing_support::Join(Ran, " ");
    return (ran.empty() ? "" : ran + " ") + std::to_string(ex.Status());
}

// The node of a normalised path, or null.
const TRelayRouterTree* Node(const std::vector<std::string>& APieces)
{
    const TRelayRouterTree* node = &TRelayCore::RootTree();
    for (const auto& piece : APieces) {
        node = node->Child(piece);
        if (!node)
            return nullptr;
    }
    return node;
}

size_t CallbackCount(const TRelayRouterTree* ANode, platform::TMethodType AMethod)
{
    if (!ANode)
        return 0;
    auto it = ANode->Callbacks().find(AMethod);
    return it == ANode->Callbacks().end() ? 0 : it->second.size();
}

// Each test registers on the one core; it is released afterwards.
class GroupRoute : public testing_support::TRestoresFramework {};

} // namespace

TEST_F(GroupRoute, PrefixedParameterRoute)
{
    std::string id;
    TRelayCore::Group()->Prefix("/api/")->Get("/users/:id/",
                                              [&](TRelayRequest& ARequest, TRelayResponse& AResponse, const TProc&) {
                                                  id = ARequest.Params().Items("id");
                                                  AResponse.Send("user");
                                              });
    EXPECT_EQ(Walk("GET", "/api/users/7"), "200");
    EXPECT_EQ(id, "7");
    EXPECT_EQ(CallbackCount(Node({"api", "users", ":id"}), mtGet), 1u);
}

TEST_F(GroupRoute, NoPrefixLandsAtTheRoot)
{
    auto group = TRelayCore::Group();
    group->Get("users", Recorder(Ran, "H"))->Use(RecordingMiddleware(Ran, "M"));
    EXPECT_EQ(CallbackCount(Node({"users"}), mtGet), 1u);
    EXPECT_EQ(TRelayCore::RootTree().Middleware().size(), 1u);
    EXPECT_EQ(Walk("GET", "/users"), "M H 200");
    EXPECT_EQ(Walk("GET", "/elsewhere"), "M M 404"); // root middleware runs for every request
}

TEST_F(GroupRoute, EmptyAndSlashPrefixesAreNoPrefix)
{
    TRelayCore::Group()->Prefix("")->Get("a", Recorder(Ran, "A"))->Use(RecordingMiddleware(Ran, "M1"));
    TRelayCore::Group()->Prefix("/")->Get("b", Recorder(Ran, "B"))->Use(RecordingMiddleware(Ran, "M2"));
    EXPECT_EQ(CallbackCount(Node({"a"}), mtGet), 1u);
    EXPECT_EQ(CallbackCount(Node({"b"}), mtGet), 1u);
    EXPECT_EQ(TRelayCore::RootTree().Middleware().size(), 2u);
    EXPECT_EQ(Walk("GET", "/b"), "M1 M2 B 200");
}

TEST_F(GroupRoute, SecondPrefixReplacesTheFirst)
{
    auto group = TRelayCore::Group();
    group->Prefix("v1")->Get("x", Recorder(Ran, "One"))->Prefix("v2")->Get("x", Recorder(Ran, "Two"));
    EXPECT_EQ(Walk("GET", "/v1/x"), "One 200");
    EXPECT_EQ(Walk("GET", "/v2/x"), "Two 200");
}

TEST_F(GroupRoute, EmptyPathLandsOnThePrefixPath)
{
    TRelayCore::Group()->Prefix("api")->Get("", Recorder(Ran, "G"))->Post("/", Recorder(Ran, "P"));
    EXPECT_EQ(CallbackCount(Node({"api"}), mtGet), 1u);
    EXPECT_EQ(CallbackCount(Node({"api"}), mtPost), 1u);
    EXPECT_EQ(Walk("GET", "/api"), "G 200");
    EXPECT_EQ(Walk("POST", "/api/"), "P 200");
}

TEST_F(GroupRoute, UseRegistersMiddlewareInOrder)
{
    auto group = TRelayCore::Group()->Prefix("api");
    group->Use(RecordingMiddleware(Ran, "M1"), RecordingMiddleware(Ran, "M2"));
    group->Use(std::vector<TRelayCallback>{RecordingMiddleware(Ran, "A"), RecordingMiddleware(Ran, "B")},
               RecordingMiddleware(Ran, "C"));
    group->Use(std::vector<TRelayCallback>{});
    const TRelayRouterTree* api = Node({"api"});
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->Middleware().size(), 5u);
    EXPECT_TRUE(api->Callbacks().empty() || CallbackCount(api, mtGet) + CallbackCount(api, mtAny) == 0);
    group->Get("x", Recorder(Ran, "H"));
    EXPECT_EQ(Walk("GET", "/api/x"), "M1 M2 A B C H 200");
}

TEST_F(GroupRoute, RouteAllIsMiddlewareOnly)
{
    TRelayCore::Route("/r")->All(RecordingMiddleware(Ran, "M"));
    const TRelayRouterTree* r = Node({"r"});
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Middleware().size(), 1u);
    for (auto m : {mtAny, mtGet, mtPost})
        EXPECT_EQ(CallbackCount(r, m), 0u);
}

TEST_F(GroupRoute, PendingCallbacksWaitForTheNextMethodRegistration)
{
    auto route = TRelayCore::Route("/r");
    route->AddCallback(Recorder(Ran, "A"))->All(RecordingMiddleware(Ran, "M"));
    TRelayCore::Group()->Prefix("g")->Use(RecordingMiddleware(Ran, "GM"));
    route->AddCallbacks({});
    TRelayCore::Post("/elsewhere", Recorder(Ran, "H")); // the next method registration, anywhere
    EXPECT_EQ(Walk("POST", "/elsewhere"), "A H 200");
    route->Post(Recorder(Ran, "P"));
    EXPECT_EQ(CallbackCount(Node({"r"}), mtPost), 1u); // A was used up

    auto group = TRelayCore::Group()->Prefix("/api");
    group->AddCallback(Recorder(Ran, "A2"))->Get("users", Recorder(Ran, "H2"));
    EXPECT_EQ(Walk("GET", "/api/users"), "A2 H2 200");
}

TEST_F(GroupRoute, GroupRouteIsIndependentOfTheGroup)
{
    auto group = TRelayCore::Group()->Prefix("api");
    auto route = group->Route("users");
    group->Prefix("other");
    route->Get(Recorder(Ran, "U"));
    EXPECT_EQ(Walk("GET", "/api/users"), "U 200");
    EXPECT_EQ(&route->End(), TRelayCore::GetInstance());
    EXPECT_EQ(&group->End(), TRelayCore::GetInstance());
}

TEST_F(GroupRoute, CoreRouteKeepsItsPath)
{
    auto route = TRelayCore::Route("api/x/");
    EXPECT_EQ(std::static_pointer_cast<TRelayCoreRoute<TRelayCore>>(route)->Path(), "api/x/");
    route->Get(Recorder(Ran, "G"))->Delete(Recorder(Ran, "D"));
    EXPECT_EQ(CallbackCount(Node({"api", "x"}), mtGet), 1u);
    EXPECT_EQ(Walk("DELETE", "/api/x"), "D 200");
}

TEST_F(GroupRoute, TwoGroupsAreIndependent)
{
    auto a = TRelayCore::Group()->Prefix("a");
    auto b = TRelayCore::Group()->Prefix("b");
    EXPECT_NE(a.get(), b.get());
    a->Get("x", Recorder(Ran, "A"));
    b->Get("x", Recorder(Ran, "B"));
    EXPECT_EQ(Walk("GET", "/a/x"), "A 200");
    EXPECT_EQ(Walk("GET", "/b/x"), "B 200");
    EXPECT_EQ(&a->End(), &b->End());
}

TEST_F(GroupRoute, ChainedRegistrationReachesTheDirectNodes)
{
    // a group, a route and the core registering on the same path append to the same lists
    TRelayCore::Group()->Prefix("/shop/")->Get("items", Recorder(Ran, "G1"));
    TRelayCore::Route("shop/items/")->Get(Recorder(Ran, "G2"));
    TRelayCore::Get("/shop/items", Recorder(Ran, "G3"));
    TRelayCore::Group()->Prefix("shop")->Route("/items")->Post(Recorder(Ran, "P1"));
    TRelayCore::Post("shop/items", Recorder(Ran, "P2"));
    EXPECT_EQ(CallbackCount(Node({"shop", "items"}), mtGet), 3u);
    EXPECT_EQ(CallbackCount(Node({"shop", "items"}), mtPost), 2u);
    EXPECT_EQ(TRelayCore::RootTree().Child("shop")->Child("items"), Node({"shop", "items"}));
    EXPECT_EQ(Walk("GET", "/shop/items"), "G1 G2 G3 200");
    EXPECT_EQ(Walk("POST", "/shop/items"), "P1 P2 200");
}

TEST_F(GroupRoute, ShortFormsAreAdaptedByTheCore)
{
    auto group = TRelayCore::Group()->Prefix("s");
    group->Get("req", [](TRelayRequest&) { Ran.push_back("R"); });
    group->Get("res", [](TRelayResponse& AResponse) { AResponse.Status(201); });
    group->Get("both", [](TRelayRequest&, TRelayResponse& AResponse) { AResponse.Send("x"); });
    EXPECT_EQ(Walk("GET", "/s/req"), "R 204");
    EXPECT_EQ(Walk("GET", "/s/res"), "201");
    EXPECT_EQ(Walk("GET", "/s/both"), "200");
}
