#include "platform/web/web_request.hpp"

#include "platform/text/ascii.hpp"
#include "platform/text/utf8.hpp"

namespace platform {

TMethodType MethodTypeOf(std::string_view AMethod) noexcept
{
    if (AMethod == "GET") return mtGet;
    if (AMethod == "PUT") return mtPut;
    if (AMethod == "POST") return mtPost;
    if (AMethod == "HEAD") return mtHead;
    if (AMethod == "DELETE") return mtDelete;
    if (AMethod == "PATCH") return mtPatch;
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

const TStrings& TWebRequest::QueryFields() const
{
    if (!FQueryFields)
        FQueryFields = std::make_unique<TStrings>();
    return *FQueryFields;
}

const TStrings& TWebRequest::CookieFields() const
{
    if (!FCookieFields)
        FCookieFields = std::make_unique<TStrings>();
    return *FCookieFields;
}

const TStrings& TWebRequest::ContentFields() const
{
    if (!FContentFields)
        FContentFields = std::make_unique<TStrings>();
    return *FContentFields;
}

const std::vector<TWebFile>& TWebRequest::Files() const
{
    if (!FFiles)
        FFiles = std::make_unique<std::vector<TWebFile>>();
    return *FFiles;
}

} // namespace platform
