#pragma once
// One HTTP request as middleware and route callbacks see it.
#include <memory>
#include <string>

#include "framework/relay/core/param.hpp"
#include "framework/relay/session.hpp"
#include "platform/base/object.hpp"
#include "platform/web/method_type.hpp"
#include "platform/web/web_request.hpp"

namespace relay {

class TRelayRequest : public platform::TObject {
public:
    // Keeps the platform request (not owned).
    explicit TRelayRequest(platform::TWebRequest& AWebRequest);
    ~TRelayRequest() override;

    // The body as text (UTF-8), read from the platform request on every call.
    const std::string& Body() const;
    // Stores ABody (owned from then on); the object held before is handed back, not freed.
    TRelayRequest& Body(platform::TObject* ABody);
    // The stored body object as T, null when none is stored or it is not a T.
    template <class T>
    T* Body() const
    {
        return dynamic_cast<T*>(FBody);
    }
    platform::TObject* BodyObject() const noexcept { return FBody; }

    // A reference the framework never reads nor frees.
    TRelayRequest& Session(platform::TObject* ASession)
    {
        FSession = ASession;
        return *this;
    }
    platform::TObject* Session() const noexcept { return FSession; }
    // The session container, made on the first call (most requests never use one).
    TRelaySessions& Sessions();

    // Value collections, built on the first call.
    TRelayCoreParam& Headers();
    TRelayCoreParam& Query();
    TRelayCoreParam& Cookie();
    TRelayCoreParam& ContentFields();
    // Route parameters (Required true), created empty on the first call.
    TRelayCoreParam& Params();

    platform::TMethodType MethodType() const { return FWebRequest->MethodType(); }
    const std::string& ContentType() const { return FWebRequest->ContentType(); }
    const std::string& Host() const { return FWebRequest->Host(); }
    // "/" when the platform path is empty, otherwise that path unchanged.
    std::string PathInfo() const;
    platform::TWebRequest& RawWebRequest() const noexcept { return *FWebRequest; }

private:
    void LoadQuery();
    void LoadCookies();
    void LoadContentFields();
    bool HasFormContent() const;
    bool IsMultipartForm() const;
    bool IsUrlEncodedForm() const;

    platform::TWebRequest* FWebRequest;
    std::unique_ptr<TRelayCoreParam> FHeaders;
    std::unique_ptr<TRelayCoreParam> FQuery;
    std::unique_ptr<TRelayCoreParam> FParams;
    std::unique_ptr<TRelayCoreParam> FContentFields;
    std::unique_ptr<TRelayCoreParam> FCookie;
    platform::TObject* FBody = nullptr;
    platform::TObject* FSession = nullptr;
    std::unique_ptr<TRelaySessions> FSessions;
};

} // namespace relay
