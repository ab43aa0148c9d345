#include <gtest/gtest.h>

#include "framework/relay/request.hpp"
#include "framework/relay/session.hpp"
#include "support/memory_web.hpp"

using namespace relay;

namespace {

int GFreed = 0;

class TUserSession : public TSession {
public:
    ~TUserSession() override { ++GFreed; }
};
class TAdminSession : public TUserSession {};
class TCartSession : public TSession {
public:
    ~TCartSession() override { ++GFreed; }
};

} // namespace

TEST(RelaySessions, StoreReplaceAndFree)
{
    GFreed = 0;
    {
        TRelaySessions sessions;
        EXPECT_FALSE(sessions.Contains<TUserSession>());
        auto* first = new TUserSession;
        sessions.SetSession(TSessionClass::Of<TUserSession>(), first);
        EXPECT_TRUE(sessions.Contains(TSessionClass::Of<TUserSession>()));
        EXPECT_EQ(sessions.GetSession(TSessionClass::Of<TUserSession>()), first);
        EXPECT_EQ(sessions.GetObject(TSessionClass::Of<TUserSession>()), first);

        sessions.SetSession(TSessionClass::Of<TUserSession>(), first); // the same object stays
        EXPECT_EQ(GFreed, 0);
        EXPECT_EQ(sessions.GetSession<TUserSession>(), first);

        auto* second = new TUserSession;
        sessions.SetSession(TSessionClass::Of<TUserSession>(), second);
        EXPECT_EQ(GFreed, 1); // the replaced object is freed
        EXPECT_EQ(sessions.GetSession<TUserSession>(), second);
    }
    EXPECT_EQ(GFreed, 2);
}

TEST(RelaySessions, ClassTest)
{
    GFreed = 0;
    TRelaySessions sessions;
    TCartSession cart;
    try {
        sessions.SetSession(TSessionClass::Of<TUserSession>(), &cart);
        FAIL() << "an unrelated class was accepted";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "SessionClass differs from of instance[TCartSession].");
    }
    EXPECT_FALSE(sessions.Contains<TUserSession>());

    // An ancestor object under a derived class would read back as the wrong type: refused.
    TUserSession user;
    EXPECT_THROW(sessions.SetSession(TSessionClass::Of<TAdminSession>(), &user), platform::Exception);
    EXPECT_FALSE(sessions.Contains<TAdminSession>());

    // A derived object under its ancestor class is one of that class.
    auto* admin = new TAdminSession;
    sessions.SetSession(TSessionClass::Of<TUserSession>(), admin);
    EXPECT_EQ(sessions.GetSession<TUserSession>(), admin);
    EXPECT_FALSE(sessions.Contains<TAdminSession>());

    // The same object under a second class would have two owners: refused, and freed once.
    try {
        sessions.SetSession(TSessionClass::Of<TAdminSession>(), admin);
        FAIL() << "one object stored under two classes";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "The session object [TAdminSession] is already stored under another session class.");
    }
    EXPECT_FALSE(sessions.Contains<TAdminSession>());
    EXPECT_EQ(sessions.GetSession<TUserSession>(), admin);
    sessions.SetSession(TSessionClass::Of<TUserSession>(), new TUserSession);
    EXPECT_EQ(GFreed, 1);
}

TEST(RelaySessions, MissingClassIsItemNotFound)
{
    TRelaySessions sessions;
    try {
        sessions.GetSession(TSessionClass::Of<TCartSession>());
        FAIL();
    } catch (const platform::EListError& e) {
        EXPECT_EQ(e.Message(), "Item not found");
    }
    EXPECT_THROW(sessions.GetObject(TSessionClass::Of<TCartSession>()), platform::EListError);
}

TEST(RelaySessions, RequestOwnsItsContainer)
{
    GFreed = 0;
    {
        testing_support::TMemoryExchange x("GET", "/");
        EXPECT_FALSE(x.Req().Sessions().Contains<TCartSession>());
        x.Req().Sessions().SetSession(new TCartSession);
    }
    EXPECT_EQ(GFreed, 1);
}
