#include "framework/relay/web_module.hpp"

#include <exception>
#include <memory>

#include "framework/relay/core.hpp"
#include "framework/relay/core/router_tree.hpp"
#include "framework/relay/exception/interrupted.hpp"
#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/gcc_restrict.hpp"

namespace relay {

platform::TWebModuleClass WebModuleClass = &TRelayWebModule::New;

std::unique_ptr<platform::TWebModule> TRelayWebModule::New()
{
    return std::make_unique<TRelayWebModule>();
}

TRelayWebModule::TRelayWebModule()
{
    platform::TWebActionItem& item = AddAction();
    item.Name = "DefaultHandler";
    item.Default = true;
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    item.PathInfo = "/";
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
    item.OnAction = [this](platform::TObject* ASender, platform::TWebRequest& ARequest,
                           platform::TWebResponse& AResponse,
                           bool& AHandled) { HandlerAction(ASender, ARequest, AResponse, AHandled); };
    FRelay = TRelayCore::GetInstance();
    FInstance.store(this);
}

TRelayWebModule::~TRelayWebModule()
{
    // Never leave the class-level reference pointing at a freed module.
    TRelayWebModule* self = this;
    FInstance.compare_exchange_strong(self, nullptr);
}

void TRelayWebModule::HandlerAction(platform::TObject*, platform::TWebRequest& Request,
                                    platform::TWebResponse& Response, bool& Handled)
{
    Handled = true;
    auto request = std::make_unique<TRelayRequest>(Request);
    auto response = std::make_unique<TRelayResponse>(Response);
    std::exception_ptr error;
    try {
        TRelayCore::RootTree().Execute(*request, *response);
    } catch (const ERelayCallbackInterrupted&) {
        // the reply prepared before it is the one sent
    } catch (...) {
        error = std::current_exception();
    }
    // A route that answered with the request's own body object: freed once, by the request.
    if (request->BodyObject() != nullptr && request->BodyObject() == response->Content())
        response->Content(nullptr);
    request.reset();
    response.reset();
    if (error)
        std::rethrow_exception(error);
}

} // namespace relay
