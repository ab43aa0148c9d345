#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <unicode/unistr.h>

#include "service/ws_relay.hpp"

using service::TWsRelay;

TEST(SomenteNumero, KeepsOnlyAsciiDigits)
{
    EXPECT_EQ(TWsRelay::somentenumero("789.789-789 x"), "789789789");
    EXPECT_EQ(TWsRelay::somentenumero("abc"), "");
    EXPECT_EQ(TWsRelay::somentenumero(""), "");
    EXPECT_EQ(TWsRelay::somentenumero("\xD9\xA1\xD9\xA2\xD9\xA3"), "");  // Arabic-Indic digits
    EXPECT_EQ(TWsRelay::somentenumero("\xEF\xBC\x91" "2"), "2");        // full-width one
    EXPECT_EQ(TWsRelay::somentenumero("0042"), "0042");
    EXPECT_EQ(TWsRelay::somentenumero("12 34"), "1234");
    EXPECT_EQ(TWsRelay::somentenumero("-+1e5"), "15");
}

TEST(RemoveAcento, SevenBitTransliteration)
{
    struct Case { const char* in; const char* out; };
    const Case cases[] = {
        {"P\xC3\xA3o de A\xC3\xA7\xC3\xBA" "car", "Pao de Acucar"},
        {"Caf\xC3\xA9", "Cafe"},
        {"A\xC3\xA7\xC3\xA3o", "Acao"},
        {"", ""},
        {"plain ASCII ~!@#\x7F\t", "plain ASCII ~!@#\x7F\t"},
        {"\xE4\xB8\xAD", "?"},                                   // a Chinese character
        {"ch\xC3\xA1 \xE4\xB8\xAD\xE6\x96\x87", "cha ??"},
        {"\xC3\x85ngstr\xC3\xB6m \xC3\x91" "and\xC3\xBA", "Angstrom Nandu"},
        {"S\xC3\xB8ren \xC5\x81\xC3\xB3" "d\xC5\xBA", "Soren Lodz"},
        {"\xE2\x82\xAC", "?"},                                   // euro sign
        {"\xF0\x9F\x98\x80", "??"},                              // one character, two code units
        {"e\xCC\x81", "e"},                                      // combining accent
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

TEST(RemoveAcento, ManyThreadsAtOnce)
{
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < 2000; ++i)
                if (TWsRelay::removeacento("P\xC3\xA3o de A\xC3\xA7\xC3\xBA" "car " + std::to_string(i)) !=
                    "Pao de Acucar " + std::to_string(i))
                    ++wrong[t];
        });
    for (auto& th : threads)
        th.join();
    for (int w : wrong)
        EXPECT_EQ(w, 0);
}
