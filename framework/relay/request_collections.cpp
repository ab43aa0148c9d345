// The request's header, query, cookie and form-field collections, built on first use.
#include "framework/relay/commons.hpp"
#include "framework/relay/core/param/header.hpp"
#include "framework/relay/request.hpp"
#include "platform/text/ascii.hpp"

namespace relay {

namespace {

std::unique_ptr<TRelayCoreParam> NewCollection(std::unique_ptr<TStringDictionary> AParams)
{
    auto param = std::make_unique<TRelayCoreParam>(std::move(AParams));
    param->Required(false);
    return param;
}

} // namespace

TRelayCoreParam& TRelayRequest::Headers()
{
    if (!FHeaders)
        FHeaders = NewCollection(TRelayCoreParamHeader::GetHeaders(*FWebRequest));
    return *FHeaders;
}

TRelayCoreParam& TRelayRequest::Query()
{
    if (!FQuery)
        LoadQuery();
    return *FQuery;
}

TRelayCoreParam& TRelayRequest::Cookie()
{
    if (!FCookie)
        LoadCookies();
    return *FCookie;
}

TRelayCoreParam& TRelayRequest::ContentFields()
{
    if (!FContentFields)
        LoadContentFields();
    return *FContentFields;
}

void TRelayRequest::LoadQuery()
{
    FQuery = NewCollection(std::make_unique<TStringDictionary>());
    TStringDictionary& dict = FQuery->Dictionary();
    for (const std::string& line : FWebRequest->QueryFields()) {
        // key before the first "=", the rest (further "=" included) is the value; without "="
        // the whole line is the value of the empty key
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            dict.AddOrSetValue(std::string(), line);
        else
            dict.AddOrSetValue(line.substr(0, eq), line.substr(eq + 1));
    }
}

void TRelayRequest::LoadCookies()
{
    FCookie = NewCollection(std::make_unique<TStringDictionary>());
    TStringDictionary& dict = FCookie->Dictionary();
    for (const std::string& line : FWebRequest->CookieFields()) {
        // the first two "="-separated pieces: "a=b=c" gives a with b, "a=" gives a with ""
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue; // no value to pair the name with
        size_t next = line.find('=', eq + 1);
        std::string value = line.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
        dict.AddOrSetValue(line.substr(0, eq), std::move(value));
    }
}

void TRelayRequest::LoadContentFields()
{
    FContentFields = NewCollection(std::make_unique<TStringDictionary>());
    if (!HasFormContent())
        return;
    // files first, so that Field finds an upload before a named value of the same name
    for (const platform::TWebFile& file : FWebRequest->Files())
        FContentFields->AddStream(file.FieldName, file.Stream.get());
    TStringDictionary& dict = FContentFields->Dictionary();
    for (const std::string& line : FWebRequest->ContentFields()) {
        size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0)
            continue; // no name
        dict.AddOrSetValue(line.substr(0, eq), line.substr(eq + 1));
    }
}

bool TRelayRequest::HasFormContent() const
{
    return IsMultipartForm() || IsUrlEncodedForm();
}

// Only the media-type text's length is compared, folding ASCII letters only: parameters after it
// do not matter, and a shorter content type never matches.
bool TRelayRequest::IsMultipartForm() const
{
    return platform::AsciiStartsWithText(FWebRequest->ContentType(), MediaTypeText(TMediaType::MultipartFormData));
}

bool TRelayRequest::IsUrlEncodedForm() const
{
    return platform::AsciiStartsWithText(FWebRequest->ContentType(),
                                         MediaTypeText(TMediaType::ApplicationXWwwFormUrlencoded));
}

} // namespace relay
