#pragma once
// One HTTP reply as middleware and route callbacks write it. Setters return the response.
#include <string>

#include "framework/relay/commons.hpp"
#include "platform/base/object.hpp"
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
    TRelayResponse& Send(T* AContent) { return Content(static_cast<platform::TObject*>(AContent)); }

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

    // File replies (SendFile, Download, Render) are declared below by their unit.

private:
    platform::TWebResponse* FWebResponse;
    platform::TObject* FContent = nullptr;
};

} // namespace relay
