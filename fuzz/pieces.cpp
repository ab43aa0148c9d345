#include "fuzz/pieces.hpp"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.hpp"
#include "platform/json/json.hpp"
#include "platform/text/utf8.hpp"
#include "platform/web/content_type.hpp"
#include "platform/web/form_fields.hpp"
#include "platform/web/header_params.hpp"
#include "platform/web/multipart.hpp"
#include "platform/web/web_request.hpp"

namespace fuzz {
namespace {

[[noreturn]] void Fail(const char* AWhat)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", AWhat);
    std::abort();
}

void Check(bool ACondition, const char* AWhat)
{
    if (!ACondition)
        Fail(AWhat);
}

bool IsUtf8(std::string_view AText)
{
    return platform::Utf8Sanitize(AText) == AText;
}

bool IsAscii(std::string_view AText)
{
    for (unsigned char c : AText)
        if (c > 127)
            return false;
    return true;
}

// Parse both ways, write, and read the written text back: it must give the same text again.
void Json(std::string_view AText)
{
    std::unique_ptr<platform::TJSONValue> quiet = platform::TJSONObject::ParseJSONValue(AText);
    bool raised = false;
    try {
        auto loud = platform::TJSONObject::ParseJSONValue(AText, false, true);
        Check(loud != nullptr, "ParseJSONValue raising gave null");
    } catch (const platform::Exception&) {
        raised = true;
    }
    Check(raised == (quiet == nullptr), "the two ParseJSONValue modes disagree");
    if (!quiet)
        return;
    std::string text = quiet->ToJSON();
    Check(IsAscii(text), "ToJSON wrote a byte above 127");
    auto again = platform::TJSONObject::ParseJSONValue(text);
    Check(again != nullptr, "ToJSON text does not parse");
    Check(again->ToJSON() == text, "ToJSON text changes on a second round");
    Check(quiet->Clone()->ToJSON() == text, "Clone writes differently");
    (void)quiet->Value();
    if (quiet->Kind() == platform::TJSONValue::TKind::Object) {
        const auto& object = static_cast<const platform::TJSONObject&>(*quiet);
        for (const char* name : {"ean", "nome", "ncm", "cest", "um"})
            if (const platform::TJSONValue* member = object.GetValue(name))
                (void)platform::Utf16Length(member->Value());
    }
}

void UrlEncoded(std::string_view AText)
{
    std::string decoded = platform::FormDecode(AText);
    Check(IsUtf8(decoded), "FormDecode gave invalid UTF-8");
    std::vector<std::string> lines;
    platform::ExtractUrlEncodedFields(AText, lines);
    for (const std::string& line : lines)
        Check(!line.empty() && IsUtf8(line), "urlencoded line empty or not UTF-8");
}

// First line: the Content-Type value; the rest: the body.
void Multipart(std::string_view AText)
{
    size_t eol = AText.find('\n');
    std::string_view contentType = AText.substr(0, eol);
    std::string_view body = eol == std::string_view::npos ? std::string_view{} : AText.substr(eol + 1);
    std::string boundary = platform::MultipartBoundary(contentType);
    Check(boundary.size() <= 70, "boundary longer than 70");
    if (boundary.empty())
        boundary = std::string(contentType.substr(0, 70));
    if (boundary.empty())
        return;
    platform::TMultipartLimits limits;
    limits.MaxParts = 50;
    limits.MaxPartHeaderSize = 512;
    limits.MemoryFileThreshold = 64; // small, so the temporary-file road is taken as well
    platform::TMultipartForm form = platform::ParseMultipartFormData(body, boundary, limits);
    if (!form.Error.empty()) {
        Check(form.Fields.empty() && form.Files.empty(), "refused form kept fields or files");
        return;
    }
    Check(form.Fields.size() + form.Files.size() <= limits.MaxParts, "more parts than the limit");
    size_t total = 0;
    for (const std::string& field : form.Fields)
        Check(IsUtf8(field), "field not UTF-8");
    for (const platform::TWebFile& file : form.Files) {
        Check(file.Stream != nullptr, "file without stream");
        Check(IsUtf8(file.FieldName) && IsUtf8(file.FileName), "file names not UTF-8");
        int64_t size = file.Stream->Size();
        Check(size >= 0 && static_cast<size_t>(size) <= body.size(), "file larger than the body");
        std::string bytes(static_cast<size_t>(size), '\0');
        file.Stream->SetPosition(0);
        Check(file.Stream->Read(bytes.data(), bytes.size()) == bytes.size(), "short file read");
        Check(body.find(bytes) != std::string_view::npos, "file bytes not from the body");
        total += bytes.size();
    }
    Check(total <= body.size(), "files larger than the body");
}

void ContentType(std::string_view AText)
{
    std::string stripped = platform::StripCharsetParameter(AText);
    std::string charset = platform::CharsetParameter(AText);
    if (charset.empty() && AText.find(';') == std::string_view::npos)
        Check(stripped == AText, "a value without parameters changed");
    // Taking the charset out twice changes nothing more.
    if (platform::CharsetParameter(stripped).empty())
        Check(platform::StripCharsetParameter(stripped) == stripped, "stripping twice changed the value");
    std::string_view media = platform::MediaTypeOf(AText);
    Check(media.size() <= AText.size(), "media type longer than the value");
    Check(platform::IsMediaType(AText, media) || media.empty(), "value is not of its own media type");
    (void)platform::IsMediaType(AText, "application/json");
    (void)platform::ContentTypeParameter(AText, "boundary");
    (void)platform::ContentTypeParameter(AText, "charset");
    platform::THeaderParams params;
    size_t semi = AText.find(';');
    if (semi != std::string_view::npos)
        (void)platform::ParseHeaderParams(AText.substr(semi + 1), params);
}

// A request filled the way the server fills one; lines: method, path, query, Content-Type,
// Cookie, then the body.
void Request(std::string_view AText)
{
    std::string_view rest = AText;
    auto line = [&rest]() {
        size_t eol = rest.find('\n');
        std::string_view piece = rest.substr(0, eol);
        rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
        return std::string(piece);
    };
    platform::TWebRequest request;
    request.SetMethod(line());
    request.SetRawPathInfo(line());
    request.SetQuery(line());
    std::string contentType = line();
    request.AddHeaderField("Content-Type", contentType);
    request.SetContentType(platform::StripCharsetParameter(contentType));
    request.AddHeaderField("Cookie", line());
    request.SetRawContent(std::string(rest));
    Check(IsUtf8(request.Content()), "Content not UTF-8");
    for (const std::string& field : request.QueryFields())
        Check(IsUtf8(field), "query field not UTF-8");
    for (const std::string& field : request.CookieFields())
        Check(IsUtf8(field), "cookie not UTF-8");
    for (const std::string& field : request.ContentFields())
        Check(IsUtf8(field), "content field not UTF-8");
    (void)request.Files().size();
}

} // namespace

void RunPieces(const uint8_t* AData, size_t ASize)
{
    if (ASize == 0)
        return;
    std::string_view text(reinterpret_cast<const char*>(AData) + 1, ASize - 1);
    // Readable letters for the kept inputs; any other byte picks by its value.
    switch (AData[0]) {
    case 'j': Json(text); return;
    case 'u': UrlEncoded(text); return;
    case 'm': Multipart(text); return;
    case 'c': ContentType(text); return;
    case 'r': Request(text); return;
    }
    switch (AData[0] % 5) {
    case 0: Json(text); break;
    case 1: UrlEncoded(text); break;
    case 2: Multipart(text); break;
    case 3: ContentType(text); break;
    default: Request(text); break;
    }
}

} // namespace fuzz
