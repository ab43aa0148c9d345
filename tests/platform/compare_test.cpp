#include <gtest/gtest.h>

#include "platform/base/dictionary.hpp"
#include "platform/text/compare.hpp"

using namespace platform;

TEST(SameTextLocale, FoldsLetterCase)
{
    struct Case {
        const char* a;
        const char* b;
        bool same;
    };
    const Case cases[] = {
        {"ID", "id", true},
        {"Id", "iD", true},
        {"id", "idx", false},
        {"", "", true},
        {"", "a", false},
        {"content-type", "Content-Type", true},
        {"\xC3\x87\xC3\x83O", "\xC3\xA7\xC3\xA3o", true}, // "ÇÃO" / "ção"
        {"\xC3\xA7\xC3\xA3o", "cao", false},              // accents are not dropped
        {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", true}, // "ÉTÉ" / "été"
        // Full case folding turns "ß" into "ss", so it equals "SS" and "ss".
        {"stra\xC3\x9F"
         "e",
         "STRASSE", true},
        {"\xC3\x9F", "SS", true},
        {"\xC3\x9F", "s", false},
        // Kelvin sign folds to an ASCII k: one side ASCII is not enough to decide.
        {"\xE2\x84\xAA", "k", true},
        {"\xCE\xA3", "\xCF\x83", true}, // Greek capital / small sigma
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameTextLocale(c.a, c.b), c.same) << c.a << " vs " << c.b;
        EXPECT_EQ(SameTextLocale(c.b, c.a), c.same) << c.b << " vs " << c.a;
    }
}

TEST(SameTextLocale, InvalidUtf8DoesNotMatchValidText)
{
    EXPECT_FALSE(SameTextLocale("a\xFF", "a"));
    EXPECT_TRUE(SameTextLocale("A\xFF", "a\xFF"));
}

TEST(Dictionary, AddRefusesDuplicatesAndKeepsInsertionOrder)
{
    TDictionary<std::string, std::string> d;
    d.Add("b", "1");
    d.Add("a", "2");
    d.Add("B", "3"); // keys compare exactly
    try {
        d.Add("a", "x");
        FAIL() << "duplicate accepted";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "Duplicates not allowed");
    }
    EXPECT_EQ(d.Items("a"), "2");
    d.AddOrSetValue("a", "4");
    EXPECT_EQ(d.Items("a"), "4");
    ASSERT_EQ(d.Count(), 3u);
    EXPECT_EQ(d.Pairs()[0].first, "b");
    EXPECT_EQ(d.Pairs()[1].first, "a");
    EXPECT_EQ(d.Pairs()[2].first, "B");

    d.Remove("b");
    d.Remove("zz");
    ASSERT_EQ(d.Count(), 2u);
    EXPECT_EQ(d.Items("B"), "3");
    EXPECT_EQ(d.Pairs()[0].first, "a");
    try {
        (void)d.Items("b");
        FAIL() << "missing key found";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "Item not found");
    }
    std::string v = "keep";
    EXPECT_FALSE(d.TryGetValue("b", v));
    EXPECT_EQ(v, "keep");
    EXPECT_TRUE(d.ContainsValue("3"));
    EXPECT_FALSE(d.ContainsValue("1"));
}
