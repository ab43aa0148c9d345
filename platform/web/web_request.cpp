#include "platform/web/web_request.hpp"

#include "platform/text/ascii.hpp"
#include "platform/text/pieces.hpp"
#include "platform/text/utf8.hpp"
#include "platform/web/form_fields.hpp"
#include "platform/web/multipart.hpp"

namespace platform {

TMethodType MethodTypeOf(std::string_view AMethod) noexcept
{
    if (AMethod == "GET")
        return mtGet;
    if (AMethod == "PUT")
        return mtPut;
    if (AMethod == "POST")
        return mtPost;
    if (AMethod == "HEAD")
        return mtHead;
    if (AMethod == "DELETE")
        return mtDelete;
    if (AMethod == "PATCH")
        return mtPatch;
    return mtAny;
}

void TWebRequest::SetMethod(std::string AMethod)
{
    FMethod = std::move(AMethod);
    FMethodType = MethodTypeOf(FMethod);
}

void TWebRequest::SetRawContent(std::string ABody)
{
    FRawContent = std::move(ABody);
    FContentDecoded = false;
    FContent.clear();
}

const std::string& TWebRequest::Content() const
{
    if (!FContentDecoded) {
        FContent = Utf8Sanitize(FRawContent);
        FContentDecoded = true;
    }
    return FContent;
}

void TWebRequest::AddHeaderField(std::string AName, std::string AValue)
{
    FHeaderFields.emplace_back(std::move(AName), std::move(AValue));
}

std::string TWebRequest::GetFieldByName(std::string_view AName) const
{
    for (const auto& [name, value] : FHeaderFields)
        if (AsciiSameText(name, AName))
            return value;
    return {};
}

namespace {

// Fills the form's field lines and files from an urlencoded or multipart/form-data body; any
// other body has neither. A multipart body that breaks the format gives neither (see
// multipart.hpp).
void ReadForm(std::string_view AContentType, std::string_view ABody, TStrings& AFields, std::vector<TWebFile>& AFiles)
{
    if (IsMediaType(AContentType, "application/x-www-form-urlencoded")) {
        ExtractUrlEncodedFields(ABody, AFields);
    } else if (IsMediaType(AContentType, "multipart/form-data")) {
        TMultipartForm form = ParseMultipartFormData(ABody, MultipartBoundary(AContentType));
        AFields = std::move(form.Fields);
        AFiles = std::move(form.Files);
    }
}

} // namespace

const TStrings& TWebRequest::QueryFields() const
{
    if (!FQueryFields) {
        auto lines = std::make_unique<TStrings>();
        ExtractUrlEncodedFields(FQuery, *lines);
        FQueryFields = std::move(lines);
    }
    return *FQueryFields;
}

const TStrings& TWebRequest::CookieFields() const
{
    if (!FCookieFields) {
        auto lines = std::make_unique<TStrings>();
        // Every Cookie header counts: HTTP/2 peers and some proxies split the list over several.
        for (const auto& [name, value] : FHeaderFields) {
            if (!AsciiSameText(name, "Cookie"))
                continue;
            ForEachPiece(value, ";", [&](std::string_view APiece) {
                std::string_view piece = TrimControl(APiece);
                if (!piece.empty())
                    lines->push_back(Utf8Sanitize(piece));
            });
        }
        FCookieFields = std::move(lines);
    }
    return *FCookieFields;
}

const TStrings& TWebRequest::ContentFields() const
{
    if (!FContentFields) {
        auto fields = std::make_unique<TStrings>();
        auto files = std::make_unique<std::vector<TWebFile>>();
        ReadForm(FContentType, FRawContent, *fields, *files);
        FContentFields = std::move(fields);
        if (!FFiles)
            FFiles = std::move(files);
    }
    return *FContentFields;
}

const std::vector<TWebFile>& TWebRequest::Files() const
{
    if (!FFiles)
        TWebRequest::ContentFields(); // one read of the body fills both
    return *FFiles;
}

} // namespace platform
