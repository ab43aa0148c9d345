#pragma once
// The web-request layer's view of one HTTP request, as the framework reads it.
// The HTTP server fills one per request; tests fill one by hand.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/stream.hpp"
#include "platform/base/strings.hpp"
#include "platform/web/method_type.hpp"

namespace platform {

// One uploaded file of a multipart form; the request owns the stream.
struct TWebFile {
    std::string FieldName;
    std::string FileName;
    std::string ContentType;
    std::unique_ptr<TStream> Stream;
};

class TWebRequest {
public:
    TWebRequest() = default;
    TWebRequest(const TWebRequest&) = delete;
    TWebRequest& operator=(const TWebRequest&) = delete;
    virtual ~TWebRequest() = default;

    // --- what the framework reads ---
    const std::string& Method() const { return FMethod; }
    TMethodType MethodType() const { return FMethodType; }
    // Path of the target as received: not decoded, without the query string.
    const std::string& RawPathInfo() const { return FRawPathInfo; }
    // The same path percent-decoded; may be empty.
    const std::string& PathInfo() const { return FPathInfo; }
    // The query string after "?", not decoded.
    const std::string& Query() const { return FQuery; }
    // Host header before its first ":".
    const std::string& Host() const { return FHost; }
    // Content-Type header without its charset parameter.
    const std::string& ContentType() const { return FContentType; }
    // The body as UTF-8 text (invalid sequences replaced by U+FFFD).
    const std::string& Content() const;
    // The body bytes exactly as received.
    const std::string& RawContent() const { return FRawContent; }
    const std::string& RemoteAddr() const { return FRemoteAddr; }

    // Header lines as received (name, value), in order.
    const std::vector<std::pair<std::string, std::string>>& HeaderFields() const { return FHeaderFields; }
    // Value of the first header of that name (ASCII case ignored); empty when absent.
    std::string GetFieldByName(std::string_view AName) const;

    // The socket server's raw header lines ("Name: value"), or null for a request of another
    // web layer, which then has no header collection.
    virtual const TStrings* RawHeaders() const { return nullptr; }

    // name=value lines, built on first use.
    virtual const TStrings& QueryFields() const;
    virtual const TStrings& CookieFields() const;
    virtual const TStrings& ContentFields() const;
    virtual const std::vector<TWebFile>& Files() const;

    // --- filled by the web layer (or a test) ---
    void SetMethod(std::string AMethod);
    void SetRawPathInfo(std::string APath) { FRawPathInfo = std::move(APath); }
    void SetPathInfo(std::string APath) { FPathInfo = std::move(APath); }
    void SetQuery(std::string AQuery) { FQuery = std::move(AQuery); }
    void SetHost(std::string AHost) { FHost = std::move(AHost); }
    void SetContentType(std::string AContentType) { FContentType = std::move(AContentType); }
    void SetRawContent(std::string ABody);
    void SetRemoteAddr(std::string AAddr) { FRemoteAddr = std::move(AAddr); }
    void AddHeaderField(std::string AName, std::string AValue);

protected:
    std::string FMethod;
    TMethodType FMethodType = mtAny;
    std::string FRawPathInfo;
    std::string FPathInfo;
    std::string FQuery;
    std::string FHost;
    std::string FContentType;
    std::string FRawContent;
    std::string FRemoteAddr;
    std::vector<std::pair<std::string, std::string>> FHeaderFields;

    // Lazily built views.
    mutable bool FContentDecoded = false;
    mutable std::string FContent;
    mutable std::unique_ptr<TStrings> FQueryFields;
    mutable std::unique_ptr<TStrings> FCookieFields;
    mutable std::unique_ptr<TStrings> FContentFields;
    mutable std::unique_ptr<std::vector<TWebFile>> FFiles;
};

} // namespace platform
