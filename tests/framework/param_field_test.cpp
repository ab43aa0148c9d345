#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "framework/relay/core/param/config.hpp"
#include "framework/relay/core/param/field.hpp"
#include "framework/relay/exception.hpp"
#include "framework/relay/request.hpp"
#include "platform/base/date_time.hpp"
#include "platform/json/json.hpp"
#include "platform/text/convert.hpp"
#include "platform/text/str_to_int.hpp"
#include "support/framework_state.hpp"
#include "support/memory_web.hpp"

using namespace relay;
using testing_support::TMemoryExchange;

namespace {

TDateTime Date(int y, int m, int d)
{
    TDateTime v = 0;
    EXPECT_TRUE(platform::TryEncodeDate(y, m, d, v));
    return v;
}

TTime Time(int h, int n, int s, int ms = 0)
{
    TTime v = 0;
    EXPECT_TRUE(platform::TryEncodeTime(h, n, s, ms, v));
    return v;
}

// The 400 message a reading raises, or "" when it raises nothing.
std::string BadRequestOf(const std::function<void()>& ARead)
{
    try {
        ARead();
    } catch (const ERelayException& e) {
        EXPECT_EQ(e.Status(), TResponseStatus::BadRequest);
        EXPECT_EQ(e.Message(), e.Error());
        platform::TJSONObject only; // the JSON form is the one member "error"
        only.AddPair("error", e.Error());
        EXPECT_EQ(e.ToJSON(), only.ToJSON());
        return e.Error();
    }
    return "";
}

// A query collection holding the given target's query.
struct TQuery {
    TMemoryExchange Exchange;
    explicit TQuery(const std::string& AQuery) : Exchange("GET", "/x?" + AQuery) {}
    TRelayCoreParamField& Field(const std::string& AKey) { return Exchange.Req().Query().Field(AKey); }
};

// The tests change the fields' settings, the format settings and the time zone, all
// process-wide; each gets them back as it found them.
class ParamConfig : public testing_support::TRestoresFramework {};
class ParamField : public testing_support::TRestoresFramework {};

} // namespace

TEST_F(ParamConfig, Defaults)
{
    auto& config = TRelayCoreParamConfig::GetInstance();
    EXPECT_EQ(&TRelayCoreParamConfig::GetInstance(), &config);
    EXPECT_EQ(config.RequiredMessage(), "The %s param is required.");
    EXPECT_EQ(config.InvalidFormatMessage(), "The %0:s param '%1:s' is not valid a %2:s type.");
    EXPECT_EQ(config.DateFormat(), "yyyy-MM-dd");
    EXPECT_EQ(config.TimeFormat(), "hh:mm:ss");
    EXPECT_TRUE(config.ReturnUTC());
    EXPECT_EQ(config.TrueValue(), "true");
    EXPECT_FALSE(config.CheckLhsBrackets());
}

TEST_F(ParamConfig, SettingsAreCopiedIntoFieldsMadeLater)
{
    TQuery q("a=x&b=x");
    TRelayCoreParamField& before = q.Field("a");
    TRelayCoreParamConfig::GetInstance().TrueValue("x").InvalidFormatMessage("bad %s=%s (%s)");
    TRelayCoreParamField& after = q.Field("b");
    EXPECT_FALSE(before.AsBoolean());
    EXPECT_TRUE(after.AsBoolean());
    EXPECT_EQ(BadRequestOf([&] { after.AsInteger(); }), "bad b=x (integer)");
    EXPECT_EQ(BadRequestOf([&] { before.AsInteger(); }), "The a param 'x' is not valid a integer type.");
}

TEST_F(ParamField, RequiredRuleTestsPresenceNotContent)
{
    TMemoryExchange ex("GET", "/x?id=");
    // route parameters are required, query values are not
    EXPECT_EQ(BadRequestOf([&] { ex.Req().Params().Field("id").AsString(); }), "The id param is required.");
    EXPECT_EQ(BadRequestOf([&] { ex.Req().Params().Field("n").AsInteger(); }), "The n param is required.");
    EXPECT_EQ(BadRequestOf([&] { ex.Req().Params().Field("s").AsStream(); }), "The s param is required.");
    EXPECT_EQ(ex.Req().Query().Field("missing").AsString(), "");
    EXPECT_EQ(ex.Req().Query().Field("missing").AsInteger(), 0);
    EXPECT_EQ(ex.Req().Query().Field("missing").AsStream(), nullptr);

    // present and empty: no error, every conversion gives its empty result
    TRelayCoreParamField& empty = ex.Req().Query().Field("id").Required();
    EXPECT_TRUE(empty.Contains());
    EXPECT_EQ(empty.AsString(), "");
    EXPECT_EQ(empty.AsInteger(), 0);
    EXPECT_EQ(empty.AsInt64(), 0);
    EXPECT_EQ(empty.AsFloat(), 0);
    EXPECT_EQ(empty.AsCurrency().Units, 0);
    EXPECT_FALSE(empty.AsBoolean());
    EXPECT_EQ(empty.AsDate(), 0);
    EXPECT_EQ(empty.AsTime(), 0);
    EXPECT_EQ(empty.AsDateTime(), 0);
    EXPECT_EQ(empty.AsISO8601DateTime(), 0);

    ex.Req().Params().Dictionary().AddOrSetValue("id", "");
    TMemoryExchange ex2("GET", "/x");
    ex2.Req().Params().Dictionary().AddOrSetValue("id", "");
    EXPECT_EQ(ex2.Req().Params().Field("ID").AsInteger(), 0);
    EXPECT_FALSE(ex2.Req().Params().Field("id").AsBoolean());
    EXPECT_EQ(ex2.Req().Params().Field("Id").AsDate(), 0);

    // a query field asked to be required fails when missing
    EXPECT_EQ(BadRequestOf([&] { ex.Req().Query().Field("q").Required(true).AsString(); }), "The q param is required.");
}

TEST_F(ParamField, TrimmingAndStrings)
{
    TQuery q("n=++42++&t=%09x%0A"); // "  42  " and "\tx\n"
    EXPECT_EQ(q.Field("n").AsString(), "  42  ");
    EXPECT_EQ(q.Field("n").AsInteger(), 42);
    EXPECT_EQ(q.Field("n").AsInt64(), 42);
    EXPECT_EQ(q.Field("n").AsFloat(), 42);
    EXPECT_EQ(q.Field("t").AsString(), "\tx\n");
}

TEST_F(ParamField, InvalidValuesNameTheirTypeWord)
{
    struct Row {
        const char* Word;
        std::function<void(TRelayCoreParamField&)> Read;
    } rows[] = {
        {"integer", [](TRelayCoreParamField& f) { f.AsInteger(); }},
        {"int64", [](TRelayCoreParamField& f) { f.AsInt64(); }},
        {"numeric", [](TRelayCoreParamField& f) { f.AsFloat(); }},
        {"numeric", [](TRelayCoreParamField& f) { f.AsExtended(); }},
        {"numeric", [](TRelayCoreParamField& f) { f.AsCurrency(); }},
        {"date", [](TRelayCoreParamField& f) { f.AsDate(); }},
        {"time", [](TRelayCoreParamField& f) { f.AsTime(); }},
        {"datetime", [](TRelayCoreParamField& f) { f.AsDateTime(); }},
        {"ISO8601 date", [](TRelayCoreParamField& f) { f.AsISO8601DateTime(); }},
    };
    TQuery q("age=+abc+");
    for (const auto& r : rows)
        EXPECT_EQ(BadRequestOf([&] { r.Read(q.Field("age")); }),
                  std::string("The age param 'abc' is not valid a ") + r.Word + " type.")
            << r.Word;
    // never a format error
    EXPECT_FALSE(q.Field("age").AsBoolean());
    EXPECT_EQ(q.Field("age").AsString(), " abc ");
}

TEST_F(ParamField, Integers)
{
    struct Row {
        const char* Text;
        bool Int32Ok;
        int32_t Int32;
        bool Int64Ok;
        int64_t Int64;
    } rows[] = {
        {"0", true, 0, true, 0},
        {"-17", true, -17, true, -17},
        {"+5", true, 5, true, 5},
        {"2147483647", true, 2147483647, true, 2147483647},
        {"-2147483648", true, INT32_MIN, true, -2147483648LL},
        {"2147483648", false, 0, true, 2147483648LL},
        {"3000000000", false, 0, true, 3000000000LL},
        {"9223372036854775807", false, 0, true, INT64_MAX},
        {"-9223372036854775808", false, 0, true, INT64_MIN},
        {"9223372036854775808", false, 0, false, 0},
        {"$FF", true, 255, true, 255},
        {"1.0", false, 0, false, 0},
        {"1 2", false, 0, false, 0},
        {"12abc", false, 0, false, 0},
        {"-", false, 0, false, 0},
        {"--1", false, 0, false, 0},
    };
    for (const auto& r : rows) {
        TStringDictionary params;
        params.AddOrSetValue("v", r.Text);
        TRelayCoreParam param(std::make_unique<TStringDictionary>(std::move(params)));
        auto& f = param.Field("v");
        std::string m32 = BadRequestOf([&] { EXPECT_EQ(f.AsInteger(), r.Int32) << r.Text; });
        EXPECT_EQ(m32.empty(), r.Int32Ok) << r.Text << ": " << m32;
        std::string m64 = BadRequestOf([&] { EXPECT_EQ(f.AsInt64(), r.Int64) << r.Text; });
        EXPECT_EQ(m64.empty(), r.Int64Ok) << r.Text << ": " << m64;
        if (!r.Int64Ok) {
            EXPECT_EQ(m64, "The v param '" + std::string(r.Text) + "' is not valid a int64 type.");
        }
    }
}

TEST_F(ParamField, FloatsAcceptEitherSeparator)
{
    struct Row {
        const char* Text;
        bool Ok;
        double Value;
        const char* Shown; // the text in the message
    } rows[] = {
        {"1.5", true, 1.5, ""},           {"1,5", true, 1.5, ""},       {"-0.25", true, -0.25, ""},
        {"2e3", true, 2000, ""},          {".5", true, 0.5, ""},        {"10", true, 10, ""},
        {"1.234,5", false, 0, "1.234.5"}, {"1.2.3", false, 0, "1.2.3"}, {"abc", false, 0, "abc"},
        {"1e", false, 0, "1e"},           {"inf", false, 0, "inf"},     {"nan", false, 0, "nan"},
        {"1e999", false, 0, "1e999"},
    };
    for (const auto& r : rows) {
        TStringDictionary params;
        params.AddOrSetValue("price", r.Text);
        TRelayCoreParam param(std::make_unique<TStringDictionary>(std::move(params)));
        std::string message =
            BadRequestOf([&] { EXPECT_DOUBLE_EQ(param.Field("price").AsFloat(), r.Value) << r.Text; });
        if (r.Ok)
            EXPECT_EQ(message, "") << r.Text;
        else
            EXPECT_EQ(message, "The price param '" + std::string(r.Shown) + "' is not valid a numeric type.") << r.Text;
    }
}

TEST_F(ParamField, CommaLocaleShowsTheUnifiedText)
{
    platform::FormatSettings().DecimalSeparator = ",";
    TQuery q("a=1.2.3&b=1.5&c=1,5");
    EXPECT_EQ(BadRequestOf([&] { q.Field("a").AsFloat(); }), "The a param '1,2,3' is not valid a numeric type.");
    EXPECT_DOUBLE_EQ(q.Field("b").AsFloat(), 1.5);
    EXPECT_DOUBLE_EQ(q.Field("c").AsFloat(), 1.5);
}

TEST_F(ParamField, CurrencyAndExtended)
{
    TQuery q("a=12.34567&b=-1,00004&c=3");
    EXPECT_EQ(q.Field("a").AsCurrency().Units, 123457);
    EXPECT_DOUBLE_EQ(q.Field("a").AsCurrency().ToDouble(), 12.3457);
    EXPECT_EQ(q.Field("b").AsCurrency().Units, -10000);
    EXPECT_EQ(q.Field("c").AsExtended(), 3.0L);
    TQuery huge("h=1e300");
    EXPECT_EQ(BadRequestOf([&] { huge.Field("h").AsCurrency(); }), "The h param '1e300' is not valid a numeric type.");
}

TEST_F(ParamField, Booleans)
{
    struct Row {
        const char* Query;
        bool Value;
    } rows[] = {
        {"v=true", true}, {"v=TRUE", true}, {"v=++True++", true}, {"v=tRuE", true},
        {"v=yes", false}, {"v=1", false},   {"v=", false},        {"v=truex", false},
    };
    for (const auto& r : rows) {
        TQuery q(r.Query);
        EXPECT_EQ(q.Field("v").AsBoolean(), r.Value) << r.Query;
    }
    // the true text is compared as configured, not trimmed; only A to Z fold
    TQuery q("v=S%C3%8DM&w=s%C3%ADm");
    q.Field("v").TrueValue("s\xC3\xADm");
    EXPECT_FALSE(q.Field("v").AsBoolean());
    q.Field("w").TrueValue("S\xC3\xADM");
    EXPECT_TRUE(q.Field("w").AsBoolean());
}

TEST_F(ParamField, DatesAndTimes)
{
    struct Row {
        const char* Text;
        std::function<TDateTime(TRelayCoreParamField&)> Read;
        TDateTime Expected; // -1: fails
    } rows[] = {
        {"2024-01-15", [](auto& f) { return f.AsDate(); }, Date(2024, 1, 15)},
        {"2024-01-15T10:00:00", [](auto& f) { return f.AsDate(); }, Date(2024, 1, 15)}, // first 10 chars
        {"2024-1-5", [](auto& f) { return f.AsDate(); }, Date(2024, 1, 5)},
        {"15/01/2024", [](auto& f) { return f.AsDate(); }, -1},
        {"2024-02-30", [](auto& f) { return f.AsDate(); }, -1},
        {"2024-13-01", [](auto& f) { return f.AsDate(); }, -1},
        {"10:30:00", [](auto& f) { return f.AsTime(); }, Time(10, 30, 0)},
        {"10:30:00.250", [](auto& f) { return f.AsTime(); }, Time(10, 30, 0)}, // first 8 chars
        {"10:30", [](auto& f) { return f.AsTime(); }, Time(10, 30, 0)},
        {"25:00:00", [](auto& f) { return f.AsTime(); }, -1},
        {"10-30-00", [](auto& f) { return f.AsTime(); }, -1},
        {"2024-01-15 10:30:00", [](auto& f) { return f.AsDateTime(); }, Date(2024, 1, 15) + Time(10, 30, 0)},
        {"2024-01-15 10:30:00.250", [](auto& f) { return f.AsDateTime(); }, Date(2024, 1, 15) + Time(10, 30, 0, 250)},
        {"2024-01-15", [](auto& f) { return f.AsDateTime(); }, Date(2024, 1, 15)},
        {"2024-01-15x", [](auto& f) { return f.AsDateTime(); }, -1},
        {"2024-01-15T10:30:00", [](auto& f) { return f.AsDateTime(); }, -1},
    };
    for (const auto& r : rows) {
        TStringDictionary params;
        params.AddOrSetValue("d", r.Text);
        TRelayCoreParam param(std::make_unique<TStringDictionary>(std::move(params)));
        TRelayCoreParamField& f = param.Field("d");
        TDateTime got = -1;
        std::string message = BadRequestOf([&] { got = r.Read(f); });
        if (r.Expected < 0) {
            EXPECT_NE(message, "") << r.Text;
            EXPECT_NE(message.find(std::string("'") + r.Text + "'"), std::string::npos) << message; // whole text
        } else {
            EXPECT_EQ(message, "") << r.Text;
            EXPECT_NEAR(got, r.Expected, 1e-9) << r.Text;
        }
    }
}

TEST_F(ParamField, DateFormatOrderAndSeparator)
{
    // no "-" after the first character: the locale's separator ("/" in the C locale)
    TRelayCoreParamConfig::GetInstance().DateFormat("dd/MM/yyyy");
    TQuery q("a=15/01/2024&b=2024-01-15&c=01/15/2024");
    EXPECT_EQ(q.Field("a").AsDate(), Date(2024, 1, 15));
    EXPECT_NE(BadRequestOf([&] { q.Field("b").AsDate(); }), "");
    EXPECT_NE(BadRequestOf([&] { q.Field("c").AsDate(); }), ""); // month 15

    TQuery p("a=01-15-2024");
    p.Field("a").DateFormat("MM-dd-yyyy");
    EXPECT_EQ(p.Field("a").AsDate(), Date(2024, 1, 15));
}

TEST_F(ParamField, Iso8601InUtc)
{
    struct Row {
        const char* Text;
        TDateTime Expected; // -1: fails
    } rows[] = {
        {"2024-01-15T10:00:00+02:00", Date(2024, 1, 15) + Time(8, 0, 0)},
        {"2024-01-15T10:00:00Z", Date(2024, 1, 15) + Time(10, 0, 0)},
        {"2024-01-15T10:00:00", Date(2024, 1, 15) + Time(10, 0, 0)},
        {"2024-01-15T01:00:00-03:30", Date(2024, 1, 15) + Time(4, 30, 0)},
        {"2024-01-15T23:00:00-02", Date(2024, 1, 16) + Time(1, 0, 0)},
        {"2024-01-15T10:00:00.250Z", Date(2024, 1, 15) + Time(10, 0, 0, 250)},
        {"2024-01-15", Date(2024, 1, 15)},
        {"20240115T100000+0200", Date(2024, 1, 15) + Time(8, 0, 0)},
        {"2024-01-15T10:00", Date(2024, 1, 15) + Time(10, 0, 0)},
        {"2024-13-45", -1},
        {"2024-01-15T25:00:00", -1},
        {"2024-01-15 10:00:00", -1},
        {"2024-01-15T10:00:00+2", -1},
        {"15/01/2024", -1},
        {"2024-01-15T10:00:00Zjunk", -1},
    };
    for (const auto& r : rows) {
        TStringDictionary params;
        params.AddOrSetValue("when", r.Text);
        TRelayCoreParam param(std::make_unique<TStringDictionary>(std::move(params)));
        TDateTime got = -1;
        std::string message = BadRequestOf([&] { got = param.Field("when").AsISO8601DateTime(); });
        if (r.Expected < 0)
            EXPECT_EQ(message, "The when param '" + std::string(r.Text) + "' is not valid a ISO8601 date type.");
        else
            EXPECT_NEAR(got, r.Expected, 1e-9) << r.Text << " " << message;
    }
}

TEST_F(ParamField, Iso8601InLocalTime)
{
    // a fixed zone three hours east of UTC, no daylight saving
    ::setenv("TZ", "<+03>-3", 1);
    ::tzset();
    TRelayCoreParamConfig::GetInstance().ReturnUTC(false);
    TQuery q("a=2024-01-15T10:00:00%2B02:00&b=2024-01-15T10:00:00");
    EXPECT_NEAR(q.Field("a").AsISO8601DateTime(), Date(2024, 1, 15) + Time(11, 0, 0), 1e-9);
    EXPECT_NEAR(q.Field("b").AsISO8601DateTime(), Date(2024, 1, 15) + Time(13, 0, 0), 1e-9);
}

TEST_F(ParamField, CacheSharesOneFieldPerKeyIgnoringCase)
{
    TQuery q("id=x");
    TRelayCoreParamField& lower = q.Field("id");
    TRelayCoreParamField& upper = q.Field("ID");
    EXPECT_EQ(&lower, &upper);
    EXPECT_EQ(upper.FieldName(), "id");
    EXPECT_EQ(BadRequestOf([&] { upper.AsInteger(); }), "The id param 'x' is not valid a integer type.");

    // non-ASCII keys fold by the locale rules too
    TQuery u("%C3%87%C3%83O=1");
    EXPECT_EQ(&u.Field("\xC3\x87\xC3\x83O"), &u.Field("\xC3\xA7\xC3\xA3o")); // "ÇÃO" and "ção"
    EXPECT_EQ(u.Field("\xC3\xA7\xC3\xA3o").AsInteger(), 1);

    // a cached field is not reconfigured
    TMemoryExchange ex("GET", "/");
    TRelayCoreParam& params = ex.Req().Params();
    TRelayCoreParamField& f = params.Field("k");
    params.Required(false);
    EXPECT_EQ(&params.Field("k"), &f);
    EXPECT_TRUE(params.Field("k").IsRequired());
}

TEST_F(ParamField, BracketsOnAndOff)
{
    const char* query = "price[gte]=10&price[lte]=20&price[GTE]=99&price[startsWith]=a&price[startswith]=b";
    {
        TQuery off(query);
        auto* brackets = off.Field("price").LhsBrackets();
        ASSERT_NE(brackets, nullptr);
        EXPECT_TRUE(brackets->Types().IsEmpty());
        EXPECT_EQ(brackets->Gte(), "");
        EXPECT_EQ(brackets->Lte(), "");
    }
    TRelayCoreParamConfig::GetInstance().CheckLhsBrackets(true);
    TQuery on(query);
    TRelayCoreParamField& price = on.Field("price");
    EXPECT_FALSE(price.Contains());
    EXPECT_EQ(price.AsString(), "");
    auto* brackets = price.LhsBrackets();
    ASSERT_NE(brackets, nullptr);
    EXPECT_EQ(brackets->Types(), (TLhsBrackets{TLhsBracketsType::GreaterThanOrEqual, TLhsBracketsType::LessThanOrEqual,
                                               TLhsBracketsType::StartsWith}));
    EXPECT_EQ(brackets->Types().Bits(), (1u << 5) | (1u << 3) | (1u << 9));
    EXPECT_EQ(brackets->Gte(), "10");
    EXPECT_EQ(brackets->Lte(), "20");
    EXPECT_EQ(brackets->StartsWith(), "a");
    EXPECT_EQ(brackets->GetValue(TLhsBracketsType::GreaterThanOrEqual), "10");
    EXPECT_EQ(brackets->Eq(), "");

    // the bracket key uses the name as asked for, exactly
    TQuery cased("Price[gt]=5");
    EXPECT_TRUE(cased.Field("price").LhsBrackets()->Types().IsEmpty());
    TQuery cased2("Price[gt]=5");
    EXPECT_EQ(cased2.Field("Price").LhsBrackets()->Gt(), "5");
}

TEST_F(ParamField, BracketSuffixes)
{
    const char* expected[] = {"[eq]",    "[ne]",   "[lt]",       "[lte]",        "[gt]",      "[gte]",
                              "[range]", "[like]", "[contains]", "[startsWith]", "[endsWith]"};
    int ordinal = 0;
    for (TLhsBracketsType t : KLhsBracketsTypes) {
        EXPECT_EQ(static_cast<int>(t), ordinal);
        EXPECT_EQ(BracketSuffix(t), expected[ordinal]);
        ++ordinal;
    }
    EXPECT_EQ(ordinal, 11);
    TRelayCoreParamFieldLhsBrackets b;
    b.SetValue(TLhsBracketsType::EndsWith, "z");
    EXPECT_EQ(b.EndsWith(), "z");
    EXPECT_TRUE(b.Types().IsEmpty()); // SetValue leaves the set alone
}

namespace {

std::string MultipartUpload()
{
    return "--B\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.bin\"\r\n\r\n" +
           std::string("UPLOAD\x00\x01", 8) +
           "\r\n--B\r\nContent-Disposition: form-data; name=\"file\"\r\n\r\ntext value\r\n"
           "--B\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n"
           "--B--\r\n";
}

std::string ReadFile(const std::filesystem::path& APath)
{
    std::ifstream in(APath, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace

TEST_F(ParamField, UploadHidesTheFieldOfTheSameName)
{
    TMemoryExchange ex("POST", "/up");
    ex.WebRequest.SetContentType("multipart/form-data; boundary=B");
    ex.WebRequest.SetRawContent(MultipartUpload());
    TRelayCoreParam& form = ex.Req().ContentFields();
    EXPECT_EQ(form.Items("file"), "text value");

    TRelayCoreParamField& file = form.Field("FILE");
    EXPECT_TRUE(file.Contains());
    EXPECT_EQ(file.AsString(), "");
    EXPECT_EQ(file.LhsBrackets(), nullptr);
    platform::TStream* stream = file.AsStream();
    ASSERT_NE(stream, nullptr);
    char buf[3];
    ASSERT_EQ(stream->Read(buf, 3), 3u);
    EXPECT_EQ(file.AsStream()->Position(), 0); // rewound on every read

    auto dir = std::filesystem::temp_directory_path() / ("field-save-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    file.SaveToFile((dir / "out.bin").string());
    EXPECT_EQ(ReadFile(dir / "out.bin"), std::string("UPLOAD\x00\x01", 8));
    // overwrites
    file.SaveToFile((dir / "out.bin").string());
    EXPECT_EQ(std::filesystem::file_size(dir / "out.bin"), 8u);

    // a text field has no stream and writes nothing
    TRelayCoreParamField& note = form.Field("note");
    EXPECT_EQ(note.AsString(), "hello");
    EXPECT_EQ(note.AsStream(), nullptr);
    note.SaveToFile((dir / "note.bin").string());
    EXPECT_FALSE(std::filesystem::exists(dir / "note.bin"));

    // an unwritable place: the file system's error
    EXPECT_THROW(file.SaveToFile((dir / "no" / "such" / "dir").string()), platform::Exception);
    std::filesystem::remove_all(dir);
}

TEST_F(ParamField, TemplateErrorsPassThrough)
{
    TRelayCoreParamConfig::GetInstance().RequiredMessage("Missing %d");
    TMemoryExchange ex("GET", "/");
    EXPECT_THROW(ex.Req().Params().Field("id").AsString(), platform::EConvertError);
    TRelayCoreParamConfig::GetInstance().RequiredMessage("Falta o parametro %s!");
    EXPECT_EQ(BadRequestOf([&] { ex.Req().Params().Field("code").AsString(); }), "Falta o parametro code!");
}

TEST_F(ParamField, FieldMadeDirectlyHasEmptySettings)
{
    TStringDictionary params;
    params.AddOrSetValue("a", "1");
    TRelayCoreParamField f(params, "A");
    EXPECT_TRUE(f.Contains());
    EXPECT_FALSE(f.IsRequired());
    EXPECT_EQ(f.DateFormat(), "");
    EXPECT_EQ(f.AsInteger(), 1);
    TRelayCoreParamField missing(params, "b");
    EXPECT_THROW(missing.Required().AsString(), ERelayException); // with the empty template's text
}
