#include "platform/web/web_module.hpp"

#include "platform/base/exception.hpp"
#include "platform/text/ascii.hpp"

namespace platform {

bool TWebActionItem::Matches(const TWebRequest& ARequest) const
{
    if (!Enabled)
        return false;
    if (MethodType != mtAny && MethodType != ARequest.MethodType())
        return false;
    if (PathInfo.empty())
        return true;
    std::string_view path = ARequest.PathInfo();
    if (path.empty())
        path = "/";
    if (PathInfo.back() == '*')
        return AsciiStartsWithText(path, std::string_view(PathInfo).substr(0, PathInfo.size() - 1));
    return AsciiSameText(path, PathInfo);
}

TWebActionItem& TWebModule::AddAction()
{
    FActions.push_back(std::make_unique<TWebActionItem>());
    return *FActions.back();
}

TWebActionItem* TWebModule::DefaultAction() const
{
    for (const auto& a : FActions)
        if (a->Default && a->Enabled)
            return a.get();
    return nullptr;
}

bool TWebModule::DispatchRequest(TWebRequest& ARequest, TWebResponse& AResponse)
{
    if (AResponse.Sent())
        return true;
    bool handled = false;
    try {
        TWebActionItem* tried = nullptr;
        for (const auto& a : FActions) {
            if (!a->OnAction || !a->Matches(ARequest))
                continue;
            handled = true;
            a->OnAction(a.get(), ARequest, AResponse, handled);
            if (a->Default)
                tried = a.get();
            if (handled)
                return true;
        }
        TWebActionItem* def = DefaultAction();
        if (def && def != tried && def->OnAction) {
            handled = true;
            def->OnAction(def, ARequest, AResponse, handled);
        }
    } catch (...) {
        HandleException(std::current_exception(), ARequest, AResponse);
        return true;
    }
    return handled;
}

std::string HtmlEscape(std::string_view AText)
{
    std::string out;
    out.reserve(AText.size());
    for (char c : AText) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string ErrorPageHtml(std::string_view AMessage, std::string_view APathInfo)
{
    std::string page;
    page +=
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<title>Error 500: Internal Server Error</title></head>\n<body>\n"
        "<h1>Internal Server Error</h1>\n<p>";
    page += HtmlEscape(AMessage);
    page += "</p>\n<hr>\n<p>PathInfo: ";
    page += HtmlEscape(APathInfo);
    page += "</p>\n</body></html>\n";
    return page;
}

std::string ErrorMessageOf(std::exception_ptr AError)
{
    try {
        if (AError)
            std::rethrow_exception(AError);
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "Unknown error";
}

void TWebModule::HandleException(std::exception_ptr AError, TWebRequest& ARequest, TWebResponse& AResponse)
{
    if (AResponse.Sent())
        return;
    AResponse.SetContentStream(nullptr);
    AResponse.SetContentLength(-1);
    AResponse.SetContent(ErrorPageHtml(ErrorMessageOf(AError), ARequest.PathInfo()));
    AResponse.SetStatusCode(500);
    AResponse.SendResponse();
}

} // namespace platform
