#include "platform/json/json.hpp"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>

#include <boost/json/basic_parser_impl.hpp>

#include "platform/base/exception.hpp"
#include "platform/web/request_limits.hpp"

namespace platform {

namespace {

const char* const KHexDigits = "0123456789ABCDEF";

void AppendUnicodeEscape(std::string& AOut, unsigned AUnit)
{
    AOut += "\\u";
    AOut += KHexDigits[(AUnit >> 12) & 0xF];
    AOut += KHexDigits[(AUnit >> 8) & 0xF];
    AOut += KHexDigits[(AUnit >> 4) & 0xF];
    AOut += KHexDigits[AUnit & 0xF];
}

// Decodes one UTF-8 sequence at AText[AIndex], advancing AIndex. A malformed sequence gives
// U+FFFD for its first byte, so text that did not come from the parser still writes as
// plain ASCII.
char32_t NextCodePoint(std::string_view AText, size_t& AIndex)
{
    const auto b0 = static_cast<unsigned char>(AText[AIndex]);
    size_t len;
    char32_t cp;
    if (b0 < 0x80) {
        ++AIndex;
        return b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
    } else {
        ++AIndex;
        return 0xFFFD;
    }
    if (AIndex + len > AText.size()) {
        ++AIndex;
        return 0xFFFD;
    }
    for (size_t i = 1; i < len; ++i) {
        const auto b = static_cast<unsigned char>(AText[AIndex + i]);
        if ((b & 0xC0) != 0x80) {
            ++AIndex;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms, encoded surrogates and values past U+10FFFF are not characters.
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++AIndex;
        return 0xFFFD;
    }
    AIndex += len;
    return cp;
}

bool IsWhiteSpace(char AChar) noexcept
{
    return AChar == ' ' || AChar == '\t' || AChar == '\n' || AChar == '\r';
}

// Builds the value tree from the parser's events. Containers under construction are kept on
// an explicit stack; a finished value goes into the container on top, or becomes the root.
class TTreeBuilder {
public:
    // The parser's limits, under the names it looks for.
    // NOLINTBEGIN(readability-identifier-naming)
    static constexpr std::size_t max_object_size = std::size_t(-1);
    static constexpr std::size_t max_array_size = std::size_t(-1);
    static constexpr std::size_t max_key_size = std::size_t(-1);
    static constexpr std::size_t max_string_size = std::size_t(-1);
    // NOLINTEND(readability-identifier-naming)

    std::unique_ptr<TJSONValue> Root;

    bool on_document_begin(boost::json::error_code&) { return true; }
    bool on_document_end(boost::json::error_code&) { return true; }

    bool on_array_begin(boost::json::error_code&)
    {
        FStack.push_back({std::make_unique<TJSONArray>(), {}});
        return true;
    }
    bool on_array_end(std::size_t, boost::json::error_code&) { return Pop(); }

    bool on_object_begin(boost::json::error_code&)
    {
        FStack.push_back({std::make_unique<TJSONObject>(), {}});
        return true;
    }
    bool on_object_end(std::size_t, boost::json::error_code&) { return Pop(); }

    bool on_string_part(boost::json::string_view AText, std::size_t, boost::json::error_code&)
    {
        FText.append(AText.data(), AText.size());
        return true;
    }
    bool on_string(boost::json::string_view AText, std::size_t, boost::json::error_code&)
    {
        FText.append(AText.data(), AText.size());
        return Put(std::make_unique<TJSONString>(TakeText()));
    }

    bool on_key_part(boost::json::string_view AText, std::size_t, boost::json::error_code&)
    {
        FText.append(AText.data(), AText.size());
        return true;
    }
    bool on_key(boost::json::string_view AText, std::size_t, boost::json::error_code&)
    {
        FText.append(AText.data(), AText.size());
        FStack.back().Key = TakeText();
        return true;
    }

    bool on_number_part(boost::json::string_view AText, boost::json::error_code&)
    {
        FText.append(AText.data(), AText.size());
        return true;
    }
    bool on_int64(int64_t, boost::json::string_view AText, boost::json::error_code&) { return Number(AText); }
    bool on_uint64(uint64_t, boost::json::string_view AText, boost::json::error_code&) { return Number(AText); }
    bool on_double(double, boost::json::string_view AText, boost::json::error_code&) { return Number(AText); }

    bool on_bool(bool AValue, boost::json::error_code&)
    {
        if (AValue)
            return Put(std::make_unique<TJSONTrue>());
        return Put(std::make_unique<TJSONFalse>());
    }
    bool on_null(boost::json::error_code&) { return Put(std::make_unique<TJSONNull>()); }

    bool on_comment_part(boost::json::string_view, boost::json::error_code&) { return true; }
    bool on_comment(boost::json::string_view, boost::json::error_code&) { return true; }

private:
    struct TFrame {
        std::unique_ptr<TJSONValue> Container;
        std::string Key; // name of the member whose value comes next (objects only)
    };

    std::string TakeText()
    {
        std::string s = std::move(FText);
        FText.clear();
        return s;
    }

    bool Number(boost::json::string_view AText)
    {
        FText.append(AText.data(), AText.size());
        return Put(std::make_unique<TJSONNumber>(TakeText()));
    }

    bool Put(std::unique_ptr<TJSONValue> AValue)
    {
        if (FStack.empty()) {
            Root = std::move(AValue);
            return true;
        }
        TFrame& top = FStack.back();
        if (top.Container->Kind() == TJSONValue::TKind::Array)
            static_cast<TJSONArray&>(*top.Container).Add(std::move(AValue));
        else
            static_cast<TJSONObject&>(*top.Container).AddPair(std::move(top.Key), std::move(AValue));
        return true;
    }

    bool Pop()
    {
        std::unique_ptr<TJSONValue> done = std::move(FStack.back().Container);
        FStack.pop_back();
        return Put(std::move(done));
    }

    std::vector<TFrame> FStack;
    std::string FText;
};

} // namespace

// --- writer ---

void AppendJSONString(std::string& AOut, std::string_view AText)
{
    AOut += '"';
    size_t i = 0;
    while (i < AText.size()) {
        const char c = AText[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            char32_t cp = NextCodePoint(AText, i);
            if (cp >= 0x10000) {
                cp -= 0x10000;
                AppendUnicodeEscape(AOut, 0xD800 + static_cast<unsigned>(cp >> 10));
                AppendUnicodeEscape(AOut, 0xDC00 + static_cast<unsigned>(cp & 0x3FF));
            } else {
                AppendUnicodeEscape(AOut, static_cast<unsigned>(cp));
            }
            continue;
        }
        ++i;
        switch (c) {
        case '"': AOut += "\\\""; break;
        case '\\': AOut += "\\\\"; break;
        case '/': AOut += "\\/"; break;
        case '\b': AOut += "\\b"; break;
        case '\t': AOut += "\\t"; break;
        case '\n': AOut += "\\n"; break;
        case '\f': AOut += "\\f"; break;
        case '\r': AOut += "\\r"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                AppendUnicodeEscape(AOut, static_cast<unsigned char>(c));
            else
                AOut += c; // printable ASCII, 127 included
        }
    }
    AOut += '"';
}

std::string TJSONValue::ToJSON() const
{
    std::string out;
    WriteJSON(out);
    return out;
}

void TJSONString::WriteJSON(std::string& AOut) const
{
    AppendJSONString(AOut, FValue);
}
std::unique_ptr<TJSONValue> TJSONString::Clone() const
{
    return std::make_unique<TJSONString>(FValue);
}

// --- numbers ---

TJSONNumber::TJSONNumber(std::string AText) : FText(std::move(AText)) {}

TJSONNumber::TJSONNumber(int64_t AValue) : FText(std::to_string(AValue)) {}

TJSONNumber::TJSONNumber(double AValue)
{
    if (!std::isfinite(AValue)) {
        FText = "null"; // JSON has no form for infinities or NaN
        return;
    }
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, AValue); // shortest text that reads back the same
    FText.assign(buf, res.ptr);
}

std::string TJSONNumber::Value() const
{
    if (FText.find_first_of(".eE") == std::string::npos)
        return FText; // a whole number: its digits as written, however many

    double d = 0;
    auto res = std::from_chars(FText.data(), FText.data() + FText.size(), d);
    if (res.ec == std::errc::result_out_of_range) {
        // Too large gives an infinity, too small zero, as the float conversion would.
        const size_t e = FText.find_first_of("eE");
        const bool tiny = e != std::string::npos && FText.find('-', e) != std::string::npos;
        if (tiny)
            return "0";
        return FText[0] == '-' ? "-INF" : "INF";
    }
    if (res.ec != std::errc())
        return FText;
    if (d == 0)
        return "0";

    // General format with 15 significant digits: plain unless the exponent (in d.ddd form) is
    // below -4 or 15 and more, then scientific; trailing zeros dropped; the exponent without
    // "+" and leading zeros ("1E20", "1.5E-7").
    char buf[64];
    auto out = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    std::string s(buf, out.ptr);
    const size_t e = s.find('e');
    if (e != std::string::npos) {
        std::string mantissa = s.substr(0, e);
        std::string_view exp = std::string_view(s).substr(e + 1);
        bool negative = false;
        if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
            negative = exp[0] == '-';
            exp.remove_prefix(1);
        }
        while (exp.size() > 1 && exp[0] == '0')
            exp.remove_prefix(1);
        s = mantissa + "E" + (negative ? "-" : "") + std::string(exp);
    }
    const size_t dot = s.find('.');
    if (dot != std::string::npos) {
        const lconv* lc = std::localeconv();
        const char* sep = lc && lc->decimal_point && *lc->decimal_point ? lc->decimal_point : ".";
        s.replace(dot, 1, sep);
    }
    return s;
}

void TJSONNumber::WriteJSON(std::string& AOut) const
{
    AOut += FText;
}
std::unique_ptr<TJSONValue> TJSONNumber::Clone() const
{
    return std::make_unique<TJSONNumber>(FText);
}

// --- literals ---

void TJSONBool::WriteJSON(std::string& AOut) const
{
    AOut += FValue ? "true" : "false";
}
std::unique_ptr<TJSONValue> TJSONBool::Clone() const
{
    if (FValue)
        return std::make_unique<TJSONTrue>();
    return std::make_unique<TJSONFalse>();
}

void TJSONNull::WriteJSON(std::string& AOut) const
{
    AOut += "null";
}
std::unique_ptr<TJSONValue> TJSONNull::Clone() const
{
    return std::make_unique<TJSONNull>();
}

// --- containers ---

namespace {

// An item or pair value; a missing one writes as null.
void WriteValue(std::string& AOut, const std::unique_ptr<TJSONValue>& AValue)
{
    if (AValue)
        AValue->WriteJSON(AOut);
    else
        AOut += "null";
}

std::unique_ptr<TJSONValue> CloneValue(const std::unique_ptr<TJSONValue>& AValue)
{
    return AValue ? AValue->Clone() : nullptr;
}

} // namespace

TJSONArray& TJSONArray::Add(std::unique_ptr<TJSONValue> AValue)
{
    FItems.push_back(std::move(AValue));
    return *this;
}

void TJSONArray::WriteJSON(std::string& AOut) const
{
    AOut += '[';
    for (size_t i = 0; i < FItems.size(); ++i) {
        if (i)
            AOut += ',';
        WriteValue(AOut, FItems[i]);
    }
    AOut += ']';
}

std::unique_ptr<TJSONValue> TJSONArray::Clone() const
{
    auto copy = std::make_unique<TJSONArray>();
    for (const auto& item : FItems)
        copy->Add(CloneValue(item));
    return copy;
}

TJSONObject& TJSONObject::AddPair(std::string AName, std::unique_ptr<TJSONValue> AValue)
{
    FPairs.emplace_back(std::move(AName), std::move(AValue));
    return *this;
}

TJSONObject& TJSONObject::AddPair(std::string AName, std::string AValue)
{
    return AddPair(std::move(AName), std::make_unique<TJSONString>(std::move(AValue)));
}

const TJSONValue* TJSONObject::GetValue(std::string_view AName) const noexcept
{
    for (const auto& pair : FPairs)
        if (pair.first == AName)
            return pair.second.get();
    return nullptr;
}

void TJSONObject::WriteJSON(std::string& AOut) const
{
    AOut += '{';
    for (size_t i = 0; i < FPairs.size(); ++i) {
        if (i)
            AOut += ',';
        AppendJSONString(AOut, FPairs[i].first);
        AOut += ':';
        WriteValue(AOut, FPairs[i].second);
    }
    AOut += '}';
}

std::unique_ptr<TJSONValue> TJSONObject::Clone() const
{
    auto copy = std::make_unique<TJSONObject>();
    for (const auto& pair : FPairs)
        copy->AddPair(pair.first, CloneValue(pair.second));
    return copy;
}

// --- parser ---

std::unique_ptr<TJSONValue> TJSONObject::ParseJSONValue(std::string_view AText, bool /*AUseBool*/, bool ARaiseExc)
{
    auto fail = [&](const std::string& AWhy) -> std::unique_ptr<TJSONValue> {
        if (ARaiseExc)
            throw Exception("Invalid JSON: " + AWhy);
        return nullptr;
    };

    boost::json::parse_options opt;
    opt.max_depth = limits::KMaxJsonDepth;
    boost::json::basic_parser<TTreeBuilder> parser(opt);
    boost::json::error_code ec;
    // One call with more=false: the parser takes one value and the white space after it, and
    // stops at anything else, which must then be the end of the text.
    const size_t used = parser.write_some(false, AText.data(), AText.size(), ec);
    if (ec)
        return fail(ec.message());
    if (!parser.done() || used != AText.size())
        return fail("text after the value");
    std::unique_ptr<TJSONValue> root = std::move(parser.handler().Root);
    if (!root)
        return fail("no value");
    // A scalar never ends in white space, so white space at the end of the text can only
    // follow the value; that is accepted after an object or array only.
    const auto kind = root->Kind();
    if (kind != TKind::Object && kind != TKind::Array && IsWhiteSpace(AText.back()))
        return fail("text after the value");
    return root;
}

} // namespace platform
