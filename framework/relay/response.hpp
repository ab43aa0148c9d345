#pragma once
// One HTTP reply as middleware and route callbacks write it. Setters return the response.
#include <string>

#include "framework/relay/commons.hpp"
#include "platform/base/object.hpp"
#include "platform/base/stream.hpp"
#include "platform/web/web_response.hpp"

namespace relay {

class TRelayResponse : public platform::TObject {
public:
    // Keeps the platform response (not owned) and sets its status to 200.
    explicit TRelayResponse(platform::TWebResponse& AWebResponse);
    ~TRelayResponse() override;

    // Writes the reply text; a content object, if any, stays.
    TRelayResponse& Send(const std::string& AContent);
    TRelayResponse& Send(const char* AContent) { return Send(std::string(AContent)); }
    // Stores the object as the content object, as Content(AContent) does.
    template <class T>
    TRelayResponse& Send(T* AContent)
    {
        return Content(static_cast<platform::TObject*>(AContent));
    }

    // Stores AContent (owned from then on); the object held before is handed back, not freed.
    TRelayResponse& Content(platform::TObject* AContent);
    platform::TObject* Content() const noexcept { return FContent; }

    TRelayResponse& ContentType(const std::string& AContentType);

    TRelayResponse& Status(int AStatus);
    TRelayResponse& Status(TResponseStatus AStatus) { return Status(StatusToInteger(AStatus)); }
    int Status() const;

    TRelayResponse& AddHeader(const std::string& AName, const std::string& AValue);
    TRelayResponse& RemoveHeader(const std::string& AName);
    TRelayResponse& RedirectTo(const std::string& ALocation);
    TRelayResponse& RedirectTo(const std::string& ALocation, TResponseStatus AStatus);

    platform::TWebResponse& RawWebResponse() const noexcept { return *FWebResponse; }

    // File replies (framework/relay/response_files.cpp): the whole reply is the file, sent to
    // the client at once through the platform response's SendResponse(), with the status the
    // response holds at that moment; nothing set on the response afterwards reaches the client.
    // The content type is AContentType, or the type of the name's extension when it is empty;
    // "Content-Disposition" names the file (text after the last "/", "\" or ":").
    // Stream forms: the stream is sent from its start and stays the caller's.
    // File-name forms: platform::Exception "Invalid FileName" for an empty name, "File not
    // exist" when no regular file is there; the file is closed before they return.
    TRelayResponse& SendFile(platform::TStream& AFileStream, const std::string& AFileName,
                             const std::string& AContentType);
    TRelayResponse& SendFile(const std::string& AFileName, const std::string& AContentType);
    // As SendFile, but offered as an attachment instead of inline.
    TRelayResponse& Download(platform::TStream& AFileStream, const std::string& AFileName,
                             const std::string& AContentType);
    TRelayResponse& Download(const std::string& AFileName, const std::string& AContentType);
    // SendFile as "text/html".
    TRelayResponse& Render(platform::TStream& AFileStream, const std::string& AFileName);
    TRelayResponse& Render(const std::string& AFileName);

private:
    platform::TWebResponse* FWebResponse;
    platform::TObject* FContent = nullptr;
};

} // namespace relay
