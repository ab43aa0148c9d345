#pragma once
// The web-request layer's reply. The framework writes it; the layer sends it after the
// request's action returns, unless SendResponse already sent it (file replies).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/stream.hpp"

namespace platform {

class TWebResponse {
public:
    TWebResponse() = default;
    TWebResponse(const TWebResponse&) = delete;
    TWebResponse& operator=(const TWebResponse&) = delete;
    virtual ~TWebResponse();

    int StatusCode() const { return FStatusCode; }
    void SetStatusCode(int AStatus) { FStatusCode = AStatus; }

    const std::string& Content() const { return FContent; }
    void SetContent(std::string AContent) { FContent = std::move(AContent); }

    const std::string& ContentType() const { return FContentType; }
    void SetContentType(std::string AContentType) { FContentType = std::move(AContentType); }

    // Custom headers: names compared ignoring ASCII case; an empty value deletes the entry.
    void SetCustomHeader(const std::string& AName, const std::string& AValue);
    const std::vector<std::pair<std::string, std::string>>& CustomHeaders() const { return FCustomHeaders; }
    int IndexOfName(const std::string& AName) const;
    void DeleteCustomHeader(int AIndex);
    std::string GetCustomHeader(const std::string& AName) const;

    // A stream body replaces the text body. Freed with the response only when FreeContentStream.
    TStream* ContentStream() const { return FContentStream; }
    void SetContentStream(TStream* AStream);
    bool FreeContentStream() const { return FFreeContentStream; }
    void SetFreeContentStream(bool AValue) { FFreeContentStream = AValue; }
    int64_t ContentLength() const { return FContentLength; }
    void SetContentLength(int64_t ALength) { FContentLength = ALength; }

    // Writes status line, headers and body to the client now; nothing is sent for this
    // request afterwards.
    void SendResponse();
    bool Sent() const { return FSent; }

protected:
    // The layer's transport; the base class only records that the reply went out.
    virtual void DoSendResponse() {}

    int FStatusCode = 200;
    std::string FContent;
    std::string FContentType;
    std::vector<std::pair<std::string, std::string>> FCustomHeaders;
    TStream* FContentStream = nullptr;
    bool FFreeContentStream = true;
    int64_t FContentLength = -1;
    bool FSent = false;
};

} // namespace platform
