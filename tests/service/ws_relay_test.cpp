// The web-service object on its own: one core, the route table, Port/Path/Active/Power.
#include <gtest/gtest.h>

#include "platform/base/exception.hpp"
#include "service/ws_relay.hpp"
#include "service_support.hpp"
#include "support/http.hpp"

using namespace service;
using namespace service_test;

TEST(WsRelay, CreatedOnceWithTheTenRoutes)
{
    MIROVANDEL_IN_FRESH_PROCESS(); // the first service object of the process makes the one core
    ScratchDir dir;
    TWsRelay ws;
    EXPECT_FALSE(ws.Active());
    EXPECT_EQ(ws.Path(), "");
    try {
        TWsRelay second;
        ADD_FAILURE() << "a second core was made";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "The Relay instance has already been created");
    }

    const int port = testing_support::FreePort();
    ws.Port(port).Path(dir.Str() + "/");
    EXPECT_EQ(ws.Path(), dir.Str() + "/");
    ws.Power();
    ASSERT_TRUE(ws.Active());

    // Every route of the table is registered under its method: none gets the router's 404/405.
    const char* gets[] = {"/api/gtin/1", "/api/fotoexiste/1", "/api/fotoexistej/1", "/api/descricao/1", "/api/um2/1",
                          "/api/um/1",   "/api/desc/1",       "/api/desc200/1",     "/api/desc_ini/1"};
    for (const char* path : gets) {
        SCOPED_TRACE(path);
        auto r = testing_support::Curl({testing_support::LoopbackUrl(port, path)});
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_NE(r.Reply.Body, "Not Found");
        EXPECT_NE(r.Reply.Status, 405);
    }
    auto grava = testing_support::Curl({"-X", "POST", testing_support::LoopbackUrl(port, "/api/grava")});
    EXPECT_EQ(grava.Reply.Status, 200); // it catches its own failures
    EXPECT_EQ(testing_support::Curl({testing_support::LoopbackUrl(port, "/api/grava")}).Reply.Status, 405);
    EXPECT_EQ(testing_support::Curl({testing_support::LoopbackUrl(port, "/api/gtin/")}).Reply.Status, 404);
    EXPECT_EQ(testing_support::Curl({testing_support::LoopbackUrl(port, "/API/gtin/1")}).Reply.Status, 404);

    // The JSON body middleware sits at the root.
    auto bad = testing_support::Curl({"-X", "POST", "-H", "Content-Type: application/json", "--data", "{bad",
                                      testing_support::LoopbackUrl(port, "/api/grava")});
    EXPECT_EQ(bad.Reply.Status, 400);
    EXPECT_EQ(bad.Reply.Body, "Invalid JSON");

    ws.Power();
    EXPECT_FALSE(ws.Active());
    EXPECT_NE(testing_support::Curl({testing_support::LoopbackUrl(port, "/api/gtin/1")}, true, 5).ExitCode, 0);
}
