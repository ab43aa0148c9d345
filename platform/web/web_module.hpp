#pragma once
// A web module: a dispatcher with a list of action items. The request handler keeps a pool of
// them and hands each request to one idle module at a time.
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/object.hpp"
#include "platform/web/method_type.hpp"
#include "platform/web/web_request.hpp"
#include "platform/web/web_response.hpp"

namespace platform {

// (Sender: the action item, Request, Response, Handled by reference)
using THTTPMethodEvent =
    std::function<void(TObject* Sender, TWebRequest& Request, TWebResponse& Response, bool& Handled)>;

class TWebActionItem : public TObject {
public:
    std::string Name;
    bool Default = false;
    // "" matches every path; a trailing "*" matches any rest; otherwise the whole path,
    // ASCII case ignored.
    std::string PathInfo;
    TMethodType MethodType = mtAny;
    bool Enabled = true;
    THTTPMethodEvent OnAction;

    bool Matches(const TWebRequest& ARequest) const;
};

class TWebModule : public TObject {
public:
    TWebModule() = default;
    ~TWebModule() override = default;

    TWebActionItem& AddAction();
    const std::vector<std::unique_ptr<TWebActionItem>>& Actions() const { return FActions; }
    TWebActionItem* DefaultAction() const;

    // Runs the matching action items in order until one handles the request, then the default
    // action. An error out of an action goes to HandleException. True when handled.
    bool DispatchRequest(TWebRequest& ARequest, TWebResponse& AResponse);

    // Replaces the reply's body by the HTML error page and, unless already sent, sends it with
    // status 500 (a content type set earlier stays).
    virtual void HandleException(std::exception_ptr AError, TWebRequest& ARequest, TWebResponse& AResponse);

private:
    std::vector<std::unique_ptr<TWebActionItem>> FActions;
};

// The function that makes a new module for the pool (the "class" of the pool's modules).
using TWebModuleClass = std::unique_ptr<TWebModule> (*)();

// Text made safe for HTML element content and attribute values.
std::string HtmlEscape(std::string_view AText);
// The error page: title "Error 500: Internal Server Error", the words Internal Server Error,
// the message and the path, both escaped.
std::string ErrorPageHtml(std::string_view AMessage, std::string_view APathInfo);
// The message of the thrown object: Message() of Exception, what() of other std::exception.
std::string ErrorMessageOf(std::exception_ptr AError);

} // namespace platform
