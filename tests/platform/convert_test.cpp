#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "platform/base/date_time.hpp"
#include "platform/text/convert.hpp"
#include "platform/text/str_to_int.hpp"
#include "support/process_state.hpp"

using namespace platform;

namespace {

TDateTime D(int y, int m, int d)
{
    TDateTime v = 0;
    EXPECT_TRUE(TryEncodeDate(y, m, d, v));
    return v;
}

TTime T(int h, int n, int s, int ms = 0)
{
    TTime v = 0;
    EXPECT_TRUE(TryEncodeTime(h, n, s, ms, v));
    return v;
}

// The time zone is the process's: the test sets its own and gets the old one back.
class Iso8601 : public testing_support::TRestoresPlatform {};

} // namespace

TEST(DateTime, EncodingAndEpochs)
{
    EXPECT_EQ(D(1899, 12, 30), 0);
    EXPECT_EQ(D(1900, 1, 1), 2);
    EXPECT_EQ(D(1970, 1, 1), 25569);
    EXPECT_EQ(D(2024, 1, 15), 45306);
    TDateTime v;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, v));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, v));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1, v));
    EXPECT_FALSE(TryEncodeDate(2024, 0, 1, v));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
    EXPECT_DOUBLE_EQ(T(6, 0, 0), 0.25);

    // before 1899-12-30 the time of day still counts forwards
    EXPECT_DOUBLE_EQ(ComposeDateTime(-1, KMSecsPerDay / 4), -1.25);
    int64_t days, ms;
    SplitDateTime(-1.25, days, ms);
    EXPECT_EQ(days, -1);
    EXPECT_EQ(ms, KMSecsPerDay / 4);
    EXPECT_EQ(DateTimeToUnixMs(D(1970, 1, 2) + T(0, 0, 1)), 86401000);
    EXPECT_DOUBLE_EQ(UnixMsToDateTime(-1000), D(1969, 12, 31) + T(23, 59, 59));
}

TEST_F(Iso8601, LocalTimeFollowsTheZone)
{
    ::setenv("TZ", "<-05>5", 1);
    ::tzset();
    TDateTime v;
    ASSERT_TRUE(TryISO8601ToDate("2024-06-01T12:00:00Z", v, false));
    EXPECT_NEAR(v, D(2024, 6, 1) + T(7, 0, 0), 1e-9);
    ASSERT_TRUE(TryISO8601ToDate("2024-06-01T12:00:00Z", v, true));
    EXPECT_NEAR(v, D(2024, 6, 1) + T(12, 0, 0), 1e-9);
    ASSERT_TRUE(TryISO8601ToDate("2024-06-01", v, false));
    EXPECT_NEAR(v, D(2024, 5, 31) + T(19, 0, 0), 1e-9);
    for (const char* bad : {"", "2024", "2024-06", "2024-06-01T", "2024-06-01T12:", "2024-06-01T12:00:60",
                            "2024-06-01Z", "2024-06-01T12:00+24:00", "x2024-06-01"})
        EXPECT_FALSE(TryISO8601ToDate(bad, v, true)) << bad;
}

TEST(TryStrToFloat, GrammarUnderSeparators)
{
    TFormatSettings dot;
    TFormatSettings comma;
    comma.DecimalSeparator = ",";
    struct Row {
        const char* Text;
        const TFormatSettings* Settings;
        bool Ok;
        double Value;
    } rows[] = {
        {"1.5", &dot, true, 1.5},  {"1,5", &comma, true, 1.5}, {"1,5", &dot, false, 0},  {"1.5", &comma, false, 0},
        {"-2", &dot, true, -2},    {"+2", &dot, true, 2},      {"5.", &dot, true, 5},    {".5", &dot, true, 0.5},
        {"1e3", &dot, true, 1000}, {"1E-2", &dot, true, 0.01}, {"1e", &dot, false, 0},   {"e3", &dot, false, 0},
        {".", &dot, false, 0},     {"", &dot, false, 0},       {" 1", &dot, false, 0},   {"1 ", &dot, false, 0},
        {"1.2.3", &dot, false, 0}, {"inf", &dot, false, 0},    {"0x10", &dot, false, 0}, {"1e400", &dot, false, 0},
    };
    for (const auto& r : rows) {
        double v = -99;
        EXPECT_EQ(TryStrToFloat(r.Text, v, *r.Settings), r.Ok) << r.Text;
        if (r.Ok) {
            EXPECT_DOUBLE_EQ(v, r.Value) << r.Text;
        }
    }
}

TEST(TryStrToDate, OrderSeparatorAndTwoDigitYears)
{
    TFormatSettings dmy;
    dmy.ShortDateFormat = "dd.MM.yyyy";
    dmy.DateSeparator = ".";
    TFormatSettings ymd;
    ymd.ShortDateFormat = "yyyy-MM-dd";
    ymd.DateSeparator = "-";
    TFormatSettings mdy; // the defaults
    TDateTime v;
    ASSERT_TRUE(TryStrToDate("15.01.2024", v, dmy));
    EXPECT_EQ(v, D(2024, 1, 15));
    ASSERT_TRUE(TryStrToDate("2024-1-5", v, ymd));
    EXPECT_EQ(v, D(2024, 1, 5));
    ASSERT_TRUE(TryStrToDate("01/15/2024", v, mdy));
    EXPECT_EQ(v, D(2024, 1, 15));
    EXPECT_FALSE(TryStrToDate("15/01/2024", v, mdy));
    EXPECT_FALSE(TryStrToDate("15.01.2024", v, ymd));
    EXPECT_FALSE(TryStrToDate("2024-01", v, ymd));
    EXPECT_FALSE(TryStrToDate("2024-01-15-", v, ymd));
    EXPECT_FALSE(TryStrToDate("12024-01-15", v, ymd));

    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    int year = local.tm_year + 1900;
    ASSERT_TRUE(TryStrToDate("15.01." + std::to_string(year % 100), v, dmy));
    EXPECT_EQ(v, D(year, 1, 15));
}

TEST(TryStrToTime, Forms)
{
    TFormatSettings s;
    TTime v;
    struct Row {
        const char* Text;
        bool Ok;
        TTime Value;
    } rows[] = {
        {"10:30", true, T(10, 30, 0)},
        {"10:30:15", true, T(10, 30, 15)},
        {"1:05:09", true, T(1, 5, 9)},
        {"10:30:15.5", true, T(10, 30, 15, 500)},
        {"12:00 AM", true, T(0, 0, 0)},
        {"12:30:00 pm", true, T(12, 30, 0)},
        {"1:00PM", true, T(13, 0, 0)},
        {"13:00 PM", false, 0},
        {"10", false, 0},
        {"24:00", false, 0},
        {"10:60", false, 0},
        {"10:30:", false, 0},
        {"10:30x", false, 0},
        {"", false, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(TryStrToTime(r.Text, v, s), r.Ok) << r.Text;
        if (r.Ok) {
            EXPECT_NEAR(v, r.Value, 1e-9) << r.Text;
        }
    }
    TDateTime dt;
    ASSERT_TRUE(TryStrToDateTime("01/15/2024  10:30", dt, s));
    EXPECT_NEAR(dt, D(2024, 1, 15) + T(10, 30, 0), 1e-9);
    EXPECT_FALSE(TryStrToDateTime("01/15/202410:30", dt, s));
}

TEST(TryStrToInt64, Edges)
{
    int64_t v;
    EXPECT_TRUE(TryStrToInt64("-9223372036854775808", v));
    EXPECT_EQ(v, INT64_MIN);
    EXPECT_FALSE(TryStrToInt64("9223372036854775808", v));
    EXPECT_TRUE(TryStrToInt64("0x7FFFFFFFFFFFFFFF", v));
    EXPECT_EQ(v, INT64_MAX);
    EXPECT_TRUE(TryStrToInt64("$FFFFFFFFFFFFFFFF", v));
    EXPECT_EQ(v, -1);
    EXPECT_FALSE(TryStrToInt64("$1FFFFFFFFFFFFFFFF", v));
    EXPECT_FALSE(TryStrToInt64("", v));
    EXPECT_FALSE(TryStrToInt64("+", v));
    EXPECT_FALSE(TryStrToInt64(" 1", v));
}

TEST(Format, Placeholders)
{
    EXPECT_EQ(Format("The %s param is required.", {"id"}), "The id param is required.");
    EXPECT_EQ(Format("The %0:s param '%1:s' is not valid a %2:s type.", {"age", "abc", "integer"}),
              "The age param 'abc' is not valid a integer type.");
    EXPECT_EQ(Format("%1:s %s %0:s %s", {"a", "b", "c"}), "b c a b");
    EXPECT_EQ(Format("[%5s][%-5s][%.2s]", {"ab", "cd", "xyz"}), "[   ab][cd   ][xy]");
    EXPECT_EQ(Format("100%% %S", {"x"}), "100% x");
    EXPECT_EQ(Format("no placeholders", {}), "no placeholders");
    for (const char* bad : {"%d", "%s %s", "%", "%3:s", "%x"})
        EXPECT_THROW(Format(bad, {"only"}), EConvertError) << bad;
    try {
        Format("%d", {"x"});
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Format '%d' invalid or incompatible with argument");
    }
}

TEST(FormatSettings, FromTheCLocale)
{
    TFormatSettings s = TFormatSettings::Create();
    EXPECT_EQ(s.DecimalSeparator, ".");
    EXPECT_EQ(s.DateSeparator, "/");
    EXPECT_EQ(s.TimeSeparator, ":");
    EXPECT_EQ(s.ShortDateFormat, "MM/dd/yy");
    EXPECT_EQ(s.ShortTimeFormat, "hh:nn:ss");
}
