#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <memory>

#include "service/ws_relay.hpp"

using service::TWsRelay;

TEST(SomenteNumero, KeepsOnlyAsciiDigits)
{
    EXPECT_EQ(TWsRelay::somentenumero("789.789-789 x"), "789789789");
    EXPECT_EQ(TWsRelay::somentenumero("abc"), "");
    EXPECT_EQ(TWsRelay::somentenumero(""), "");
    EXPECT_EQ(TWsRelay::somentenumero("\xD9\xA1\xD9\xA2\xD9\xA3"), ""); // Arabic-Indic digits
    EXPECT_EQ(TWsRelay::somentenumero("\xEF\xBC\x91"
                                      "2"),
              "2"); // full-width one
    EXPECT_EQ(TWsRelay::somentenumero("0042"), "0042");
    EXPECT_EQ(TWsRelay::somentenumero("12 34"), "1234");
    EXPECT_EQ(TWsRelay::somentenumero("-+1e5"), "15");
}

TEST(RemoveAcento, SevenBitTransliteration)
{
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"P\xC3\xA3o de A\xC3\xA7\xC3\xBA"
         "car",
         "Pao de Acucar"},
        {"Caf\xC3\xA9", "Cafe"},
        {"A\xC3\xA7\xC3\xA3o", "Acao"},
        {"", ""},
        {"plain ASCII ~!@#\x7F\t", "plain ASCII ~!@#\x7F\t"},
        {"\xE4\xB8\xAD", "?"}, // a Chinese character
        {"ch\xC3\xA1 \xE4\xB8\xAD\xE6\x96\x87", "cha ??"},
        {"\xC3\x85ngstr\xC3\xB6m \xC3\x91"
         "and\xC3\xBA",
         "Angstrom Nandu"},
        {"S\xC3\xB8ren \xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         "Soren Lodz"},
        {"\xE2\x82\xAC", "?"},      // euro sign
        {"\xF0\x9F\x98\x80", "??"}, // one character, two code units
        {"e\xCC\x81", "e"},         // combining accent
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(TWsRelay::removeacento(c.in), c.out);
    }
}

TEST(RemoveAcento, ResultIsAlwaysSevenBit)
{
    std::string all;
    for (char32_t cp : {U'\u00C0', U'\u00DF', U'\u00E6', U'\u0152', U'\u03A9', U'\u0416', U'\u05D0', U'\u2019',
                        U'\u00A0', U'\uFB01', U'\u1E9E'}) {
        icu::UnicodeString u(static_cast<UChar32>(cp));
        u.toUTF8String(all);
    }
    for (unsigned char c : TWsRelay::removeacento(all))
        EXPECT_LT(c, 0x80);
}

// Text made only of ASCII and U+0080..U+00FF takes a table instead of ICU: it must give what
// the transliteration gives, character by character and mixed.
TEST(RemoveAcento, Latin1TextAsIcuGivesIt)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> icuRule(
        icu::Transliterator::createInstance("NFD; [:Nonspacing Mark:] Remove; NFC", UTRANS_FORWARD, status));
    ASSERT_TRUE(U_SUCCESS(status));
    auto reference = [&](const std::string& in) {
        icu::UnicodeString u = icu::UnicodeString::fromUTF8(in);
        for (int32_t i = 0; i < u.length(); ++i) { // the two stroke letters of this range
            if (u.charAt(i) == u'\u00D8')
                u.setCharAt(i, u'O');
            if (u.charAt(i) == u'\u00F8')
                u.setCharAt(i, u'o');
        }
        icuRule->transliterate(u);
        std::string out;
        for (int32_t i = 0; i < u.length(); ++i)
            out += u.charAt(i) < 0x80 ? static_cast<char>(u.charAt(i)) : '?';
        return out;
    };
    std::string all;
    for (UChar32 cp = 0x80; cp <= 0xFF; ++cp) {
        std::string one;
        icu::UnicodeString(cp).toUTF8String(one);
        SCOPED_TRACE(cp);
        EXPECT_EQ(TWsRelay::removeacento(one), reference(one));
        EXPECT_EQ(TWsRelay::removeacento("x" + one + "y"), reference("x" + one + "y"));
        all += one + (cp % 3 ? "" : " a");
    }
    EXPECT_EQ(TWsRelay::removeacento(all), reference(all));
    // Latin-1 next to what only ICU handles: a combining mark, a letter beyond Latin-1, and
    // malformed sequences (a lone lead byte, a lead byte before ASCII, a stray continuation).
    const std::string mixed[] = {
        "\xC3\xA3"
        "e\xCC\x81\xC3\xA7",
        "\xC3\xA7\xC4\x8D\xC3\xB8",
        "Caf\xC3",
        "\xC3"
        "a\xC3\xA9",
        "\xA9\xC3\xA9",
        "\xC3\xA9\xE2\x82\xAC",
        "\xC2\xA0\xC2\xBA\xC3\x86",
    };
    for (const auto& in : mixed) {
        SCOPED_TRACE(in);
        EXPECT_EQ(TWsRelay::removeacento(in), reference(in));
    }
}

TEST(RemoveAcento, ManyThreadsAtOnce)
{
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 2000; ++i)
                if (TWsRelay::removeacento("P\xC3\xA3o de A\xC3\xA7\xC3\xBA"
                                           "car " +
                                           std::to_string(i)) != "Pao de Acucar " + std::to_string(i))
                    ++wrong[t];
        });
    for (auto& th : threads)
        th.join();
    for (int w : wrong)
        EXPECT_EQ(w, 0);
}
