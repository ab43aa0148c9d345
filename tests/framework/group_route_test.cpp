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

using namespace relay;
using platform::mtAny;
using platform::mtGet;
using platform::mtPost;
using testing_support::TMemoryExchange;

namespace {

std::string Ran;

// A route callback or middleware that notes its name; middleware goes on with Next.
TRelayCallback Named(const std::string& AName)
{
    return [AName](TRelayRequest&, TRelayResponse&, const TProc&) { Ran += AName + " "; };
}
TRelayCallback Middleware(const std::string& AName)
{
    return [AName](TRelayRequest&, TRelayResponse&, const TProc& ANext) {
        Ran += AName + " ";
        ANext();
    };
}

// What a request runs, and the status it ends with.
std::string Walk(const std::string& AMethod, const std::string& ATarget)
{
    TMemoryExchange ex(AMethod, ATarget);
    Ran.clear();
    TRelayCore::RootTree().Execute(ex.Req(), ex.Res());
    return Ran + std::to_string(ex.Status());
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
    group->Get("users", Named("H"))->Use(Middleware("M"));
    EXPECT_EQ(CallbackCount(Node({"users"}), mtGet), 1u);
    EXPECT_EQ(TRelayCore::RootTree().Middleware().size(), 1u);
    EXPECT_EQ(Walk("GET", "/users"), "M H 200");
    EXPECT_EQ(Walk("GET", "/elsewhere"), "M M 404"); // root middleware runs for every request
}

TEST_F(GroupRoute, EmptyAndSlashPrefixesAreNoPrefix)
{
    TRelayCore::Group()->Prefix("")->Get("a", Named("A"))->Use(Middleware("M1"));
    TRelayCore::Group()->Prefix("/")->Get("b", Named("B"))->Use(Middleware("M2"));
    EXPECT_EQ(CallbackCount(Node({"a"}), mtGet), 1u);
    EXPECT_EQ(CallbackCount(Node({"b"}), mtGet), 1u);
    EXPECT_EQ(TRelayCore::RootTree().Middleware().size(), 2u);
    EXPECT_EQ(Walk("GET", "/b"), "M1 M2 B 200");
}

TEST_F(GroupRoute, SecondPrefixReplacesTheFirst)
{
    auto group = TRelayCore::Group();
    group->Prefix("v1")->Get("x", Named("One"))->Prefix("v2")->Get("x", Named("Two"));
    EXPECT_EQ(Walk("GET", "/v1/x"), "One 200");
    EXPECT_EQ(Walk("GET", "/v2/x"), "Two 200");
}

TEST_F(GroupRoute, EmptyPathLandsOnThePrefixPath)
{
    TRelayCore::Group()->Prefix("api")->Get("", Named("G"))->Post("/", Named("P"));
    EXPECT_EQ(CallbackCount(Node({"api"}), mtGet), 1u);
    EXPECT_EQ(CallbackCount(Node({"api"}), mtPost), 1u);
    EXPECT_EQ(Walk("GET", "/api"), "G 200");
    EXPECT_EQ(Walk("POST", "/api/"), "P 200");
}

TEST_F(GroupRoute, UseRegistersMiddlewareInOrder)
{
    auto group = TRelayCore::Group()->Prefix("api");
    group->Use(Middleware("M1"), Middleware("M2"));
    group->Use(std::vector<TRelayCallback>{Middleware("A"), Middleware("B")}, Middleware("C"));
    group->Use(std::vector<TRelayCallback>{});
    const TRelayRouterTree* api = Node({"api"});
    ASSERT_NE(api, nullptr);
    EXPECT_EQ(api->Middleware().size(), 5u);
    EXPECT_TRUE(api->Callbacks().empty() || CallbackCount(api, mtGet) + CallbackCount(api, mtAny) == 0);
    group->Get("x", Named("H"));
    EXPECT_EQ(Walk("GET", "/api/x"), "M1 M2 A B C H 200");
}

TEST_F(GroupRoute, RouteAllIsMiddlewareOnly)
{
    TRelayCore::Route("/r")->All(Middleware("M"));
    const TRelayRouterTree* r = Node({"r"});
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Middleware().size(), 1u);
    for (auto m : {mtAny, mtGet, mtPost})
        EXPECT_EQ(CallbackCount(r, m), 0u);
}

TEST_F(GroupRoute, PendingCallbacksWaitForTheNextMethodRegistration)
{
    auto route = TRelayCore::Route("/r");
    route->AddCallback(Named("A"))->All(Middleware("M"));
    TRelayCore::Group()->Prefix("g")->Use(Middleware("GM"));
    route->AddCallbacks({});
    TRelayCore::Post("/elsewhere", Named("H")); // the next method registration, anywhere
    EXPECT_EQ(Walk("POST", "/elsewhere"), "A H 200");
    route->Post(Named("P"));
    EXPECT_EQ(CallbackCount(Node({"r"}), mtPost), 1u); // A was used up

    auto group = TRelayCore::Group()->Prefix("/api");
    group->AddCallback(Named("A2"))->Get("users", Named("H2"));
    EXPECT_EQ(Walk("GET", "/api/users"), "A2 H2 200");
}

TEST_F(GroupRoute, GroupRouteIsIndependentOfTheGroup)
{
    auto group = TRelayCore::Group()->Prefix("api");
    auto route = group->Route("users");
    group->Prefix("other");
    route->Get(Named("U"));
    EXPECT_EQ(Walk("GET", "/api/users"), "U 200");
    EXPECT_EQ(&route->End(), TRelayCore::GetInstance());
    EXPECT_EQ(&group->End(), TRelayCore::GetInstance());
}

TEST_F(GroupRoute, CoreRouteKeepsItsPath)
{
    auto route = TRelayCore::Route("api/x/");
    EXPECT_EQ(std::static_pointer_cast<TRelayCoreRoute<TRelayCore>>(route)->Path(), "api/x/");
    route->Get(Named("G"))->Delete(Named("D"));
    EXPECT_EQ(CallbackCount(Node({"api", "x"}), mtGet), 1u);
    EXPECT_EQ(Walk("DELETE", "/api/x"), "D 200");
}

TEST_F(GroupRoute, TwoGroupsAreIndependent)
{
    auto a = TRelayCore::Group()->Prefix("a");
    auto b = TRelayCore::Group()->Prefix("b");
    EXPECT_NE(a.get(), b.get());
    a->Get("x", Named("A"));
    b->Get("x", Named("B"));
    EXPECT_EQ(Walk("GET", "/a/x"), "A 200");
    EXPECT_EQ(Walk("GET", "/b/x"), "B 200");
    EXPECT_EQ(&a->End(), &b->End());
}

TEST_F(GroupRoute, ChainedRegistrationReachesTheDirectNodes)
{
    // a group, a route and the core registering on the same path append to the same lists
    TRelayCore::Group()->Prefix("/shop/")->Get("items", Named("G1"));
    TRelayCore::Route("shop/items/")->Get(Named("G2"));
    TRelayCore::Get("/shop/items", Named("G3"));
    TRelayCore::Group()->Prefix("shop")->Route("/items")->Post(Named("P1"));
    TRelayCore::Post("shop/items", Named("P2"));
    EXPECT_EQ(CallbackCount(Node({"shop", "items"}), mtGet), 3u);
    EXPECT_EQ(CallbackCount(Node({"shop", "items"}), mtPost), 2u);
    EXPECT_EQ(TRelayCore::RootTree().Child("shop")->Child("items"), Node({"shop", "items"}));
    EXPECT_EQ(Walk("GET", "/shop/items"), "G1 G2 G3 200");
    EXPECT_EQ(Walk("POST", "/shop/items"), "P1 P2 200");
}

TEST_F(GroupRoute, ShortFormsAreAdaptedByTheCore)
{
    auto group = TRelayCore::Group()->Prefix("s");
    group->Get("req", [](TRelayRequest&) { Ran += "R "; });
    group->Get("res", [](TRelayResponse& AResponse) { AResponse.Status(201); });
    group->Get("both", [](TRelayRequest&, TRelayResponse& AResponse) { AResponse.Send("x"); });
    EXPECT_EQ(Walk("GET", "/s/req"), "R 204");
    EXPECT_EQ(Walk("GET", "/s/res"), "201");
    EXPECT_EQ(Walk("GET", "/s/both"), "200");
}
