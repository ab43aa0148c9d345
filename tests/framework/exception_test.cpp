#include <gtest/gtest.h>

#include "framework/relay/exception.hpp"
#include "framework/relay/exception/interrupted.hpp"
#include "platform/json/json.hpp"

using namespace relay;

TEST(RelayException, NewHasTheDefaults)
{
    ERelayException e = ERelayException::New();
    EXPECT_EQ(e.Status(), TResponseStatus::InternalServerError);
    EXPECT_EQ(StatusToInteger(e.Status()), 500);
    EXPECT_EQ(e.Code(), 0);
    EXPECT_EQ(e.Type(), TMessageType::Default);
    EXPECT_EQ(e.Message(), "");
    EXPECT_EQ(e.ToJSON(), "{\"error\":\"\"}");
}

TEST(RelayException, OnlyErrorWritesTheMessage)
{
    ERelayException e;
    e.Title("t").Hint("h").Unit("u").Detail("d").Code(3).Type(TMessageType::Warning).Status(TResponseStatus::BadRequest);
    EXPECT_EQ(e.Message(), "");
    e.Error("x");
    EXPECT_EQ(e.Message(), "x");
    EXPECT_STREQ(e.what(), "x");
    e.Title("other").Status(TResponseStatus::NotFound);
    EXPECT_EQ(e.Message(), "x");
    EXPECT_EQ(e.Error(), "x");
    EXPECT_EQ(e.Detail(), "d");
}

TEST(RelayException, ToJSONMemberOrderIsFixed)
{
    ERelayException a, b;
    a.Type(TMessageType::Error).Title("T").Code(7).Error("x").Hint("h").Unit("u").Detail("dd");
    b.Detail("dd")
        .Unit("u")
        .Hint("h")
        .Error("x")
        .Code(7)
        .Title("T")
        .Type(TMessageType::Error)
        .Status(TResponseStatus::BadRequest);
    const char* expected =
        "{\"type\":\"Error\",\"title\":\"T\",\"code\":7,\"error\":\"x\",\"hint\":\"h\",\"unit\":\"u\"}";
    EXPECT_EQ(a.ToJSON(), expected);
    EXPECT_EQ(b.ToJSON(), expected);
}

TEST(RelayException, BlankRules)
{
    struct Case {
        const char* name;
        ERelayException e;
        const char* json;
    };
    std::vector<Case> cases;
    cases.push_back({"default type", ERelayException::New().Type(TMessageType::Default), "{\"error\":\"\"}"});
    cases.push_back(
        {"warning", ERelayException::New().Type(TMessageType::Warning), "{\"type\":\"Warning\",\"error\":\"\"}"});
    cases.push_back({"information", ERelayException::New().Type(TMessageType::Information),
                     "{\"type\":\"Information\",\"error\":\"\"}"});
    cases.push_back({"three spaces", ERelayException::New().Title("   "), "{\"error\":\"\"}"});
    cases.push_back({"lone tab", ERelayException::New().Title("\t").Hint("\r\n").Unit(" \x01 "), "{\"error\":\"\"}"});
    cases.push_back({"kept spaces", ERelayException::New().Title(" a "), "{\"title\":\" a \",\"error\":\"\"}"});
    cases.push_back({"code 0", ERelayException::New().Code(0), "{\"error\":\"\"}"});
    cases.push_back({"code -1", ERelayException::New().Code(-1), "{\"code\":-1,\"error\":\"\"}"});
    cases.push_back({"detail and status", ERelayException::New().Detail("d").Status(TResponseStatus::BadRequest),
                     "{\"error\":\"\"}"});
    cases.push_back({"blank error kept", ERelayException::New().Error("  "), "{\"error\":\"  \"}"});
    for (const auto& c : cases)
        EXPECT_EQ(c.e.ToJSON(), c.json) << c.name;
}

TEST(RelayException, ToJSONObjectBelongsToTheCaller)
{
    auto e = ERelayException::New().Error("x").Code(2);
    std::unique_ptr<platform::TJSONObject> o = e.ToJSONObject();
    ASSERT_EQ(o->Count(), 2u);
    EXPECT_EQ(o->Pairs(0).first, "code");
    EXPECT_EQ(o->Pairs(0).second->Kind(), platform::TJSONValue::TKind::Number);
    EXPECT_EQ(o->Pairs(1).first, "error");
}

namespace {

class ECustomRelayException : public ERelayException {
public:
    std::unique_ptr<platform::TJSONObject> ToJSONObject() const override
    {
        auto o = std::make_unique<platform::TJSONObject>();
        o->AddPair("custom", "yes");
        return o;
    }
};

} // namespace

TEST(RelayException, ToJSONGoesThroughTheVirtualObjectBuilder)
{
    ECustomRelayException e;
    const ERelayException& base = e;
    EXPECT_EQ(base.ToJSON(), "{\"custom\":\"yes\"}");
}

TEST(RelayException, ThrownChainKeepsItsValues)
{
    try {
        throw ERelayException::New().Status(TResponseStatus::BadRequest).Error("bad");
    } catch (const platform::Exception& e) {
        auto* relayError = dynamic_cast<const ERelayException*>(&e);
        ASSERT_NE(relayError, nullptr);
        EXPECT_EQ(relayError->Status(), TResponseStatus::BadRequest);
        EXPECT_EQ(e.Message(), "bad");
    }
}

TEST(RelayCallbackInterrupted, Messages)
{
    EXPECT_EQ(ERelayCallbackInterrupted().Message(), "");
    EXPECT_EQ(ERelayCallbackInterrupted("stop").Message(), "stop");
    platform::Exception* base = nullptr;
    ERelayCallbackInterrupted e;
    base = &e;
    EXPECT_NE(dynamic_cast<ERelayCallbackInterrupted*>(base), nullptr);
}

TEST(Commons, StatusValues)
{
    static_assert(sizeof(TResponseStatus) == 2);
    static_assert(sizeof(TMessageType) == 1);
    EXPECT_EQ(StatusToInteger(TResponseStatus::OK), 200);
    EXPECT_EQ(StatusToInteger(TResponseStatus::NoContent), 204);
    EXPECT_EQ(StatusToInteger(TResponseStatus::SeeOther), 303);
    EXPECT_EQ(StatusToInteger(TResponseStatus::BadRequest), 400);
    EXPECT_EQ(StatusToInteger(TResponseStatus::NotFound), 404);
    EXPECT_EQ(StatusToInteger(TResponseStatus::MethodNotAllowed), 405);
    EXPECT_EQ(StatusToInteger(TResponseStatus::InternalServerError), 500);
    EXPECT_EQ(static_cast<int>(TMessageType::Information), 3);
}
