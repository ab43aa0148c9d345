#include <gtest/gtest.h>

#include "framework/relay/core/param.hpp"

using namespace relay;

namespace {

std::unique_ptr<TRelayCoreParam> MakeParam(std::initializer_list<std::pair<const char*, const char*>> AEntries)
{
    auto dict = std::make_unique<TStringDictionary>();
    for (const auto& [k, v] : AEntries)
        dict->Add(k, v);
    return std::make_unique<TRelayCoreParam>(std::move(dict));
}

} // namespace

TEST(RelayCoreParam, ReadsIgnoreCaseValuesDoNot)
{
    auto p = MakeParam({{"id", "AbC"}, {"Na\xC3\xA7\xC3\xA3o", "x"}});
    EXPECT_FALSE(p->IsRequired());
    for (const char* key : {"id", "ID", "Id", "iD"}) {
        EXPECT_EQ(p->Items(key), "AbC") << key;
        EXPECT_EQ((*p)[key], "AbC") << key;
        EXPECT_TRUE(p->ContainsKey(key)) << key;
    }
    EXPECT_EQ(p->Items("NA\xC3\x87\xC3\x83O"), "x"); // "NAÇÃO"
    EXPECT_EQ(p->Items("i"), "");
    EXPECT_EQ(p->Items("idx"), "");
    EXPECT_TRUE(p->ContainsValue("AbC"));
    EXPECT_FALSE(p->ContainsValue("abc"));
}

TEST(RelayCoreParam, TryGetValueLeavesTheVariableWhenMissing)
{
    auto p = MakeParam({{"id", "7"}});
    std::string v = "before";
    EXPECT_FALSE(p->TryGetValue("nope", v));
    EXPECT_EQ(v, "before");
    EXPECT_TRUE(p->TryGetValue("ID", v));
    EXPECT_EQ(v, "7");
}

TEST(RelayCoreParam, ContentLinesAreBuiltOnce)
{
    auto p = MakeParam({{"a", "1"}, {"b", "x=y"}});
    const TStrings& first = p->Content();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0], "a=1");
    EXPECT_EQ(first[1], "b=x=y");

    p->Dictionary().Add("c", "3");
    p->Dictionary().AddOrSetValue("a", "changed");
    const TStrings& second = p->Content();
    EXPECT_EQ(&first, &second);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], "a=1");
    EXPECT_EQ(p->Count(), 3);
    EXPECT_EQ(p->Items("A"), "changed");
}

TEST(RelayCoreParam, DictionaryAddFailsOnExactDuplicate)
{
    auto p = MakeParam({{"id", "1"}});
    EXPECT_THROW(p->Dictionary().Add("id", "2"), platform::EListError);
    EXPECT_NO_THROW(p->Dictionary().Add("ID", "2")); // exact keys
    auto pairs = p->ToArray();
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0], (TRelayCoreParam::TPair{"id", "1"}));
    EXPECT_EQ(pairs[1], (TRelayCoreParam::TPair{"ID", "2"}));
}

TEST(RelayCoreParam, AddStreamKeepsStreamsTheCallers)
{
    auto p = MakeParam({});
    EXPECT_EQ(p->Files(), nullptr);
    platform::TStringStream a("a"), b("b");
    p->AddStream("file", &a).AddStream("File", &b).AddStream("file", &b);
    ASSERT_NE(p->Files(), nullptr);
    EXPECT_EQ(p->Files()->Count(), 2u);
    EXPECT_EQ(p->Files()->Items("file"), &b);
    p.reset(); // must not free a or b
    EXPECT_EQ(a.DataString(), "a");
}

TEST(RelayCoreParam, RequiredSetterChains)
{
    auto p = MakeParam({});
    EXPECT_TRUE(p->Required(true).IsRequired());
    EXPECT_FALSE(p->Required(false).IsRequired());
}
