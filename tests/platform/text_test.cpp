#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "platform/text/ascii.hpp"
#include "platform/text/pieces.hpp"
#include "platform/text/utf8.hpp"

using namespace platform;

TEST(Utf8, InvalidSequencesBecomeReplacementCharacter)
{
    EXPECT_EQ(Utf8Sanitize("caf\xC3\xA9"), "caf\xC3\xA9");
    EXPECT_EQ(Utf8Sanitize("a\xFF"
                           "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(Utf8Sanitize("\xC3"), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8Sanitize("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // encoded surrogate
}

TEST(Utf8, Utf16LengthCountsSurrogatePairsTwice)
{
    EXPECT_EQ(Utf16Length(""), 0u);
    EXPECT_EQ(Utf16Length("abc"), 3u);
    EXPECT_EQ(Utf16Length("\xC3\xA9"), 1u);
    EXPECT_EQ(Utf16Length("\xF0\x9F\x98\x80"), 2u);
}

TEST(Ascii, CaseFoldsOnlyAsciiLetters)
{
    EXPECT_TRUE(AsciiSameText("Content-Type", "content-type"));
    EXPECT_FALSE(AsciiSameText("\xC3\x89", "\xC3\xA9"));
    EXPECT_TRUE(AsciiStartsWithText("Multipart/Form-Data; boundary=x", "multipart/form-data"));
    EXPECT_FALSE(AsciiStartsWithText("multipart/form", "multipart/form-data"));
    EXPECT_EQ(TrimControl(" \t x y \r\n"), "x y");
}

TEST(Pieces, EveryPieceBetweenSeparatorsEmptyOnesIncluded)
{
    struct TCase {
        std::string_view Text, Separator;
        std::vector<std::string> Pieces;
    };
    const TCase cases[] = {
        {"", "&", {""}},
        {"a", "&", {"a"}},
        {"a&&b&", "&", {"a", "", "b", ""}},
        {"&a", "&", {"", "a"}},
        {"x: 1\r\n y\r\n\r\nz\r", "\r\n", {"x: 1", " y", "", "z\r"}},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> pieces;
        ForEachPiece(c.Text, c.Separator, [&](std::string_view APiece) { pieces.emplace_back(APiece); });
        EXPECT_EQ(pieces, c.Pieces) << c.Text;
    }
}
