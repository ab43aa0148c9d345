#pragma once
// The one place where the web-request layer hands a request to the framework: a web module
// whose single default action runs the router tree for every request, whatever its method and
// path.
#include <atomic>

#include "platform/web/web_module.hpp"

namespace relay {

class TRelayCore;

class TRelayWebModule : public platform::TWebModule {
public:
    // Loads the module's action item ("DefaultHandler", default, path "/", any method),
    // takes the core (made if none exists yet) and becomes the module created last.
    TRelayWebModule();
    ~TRelayWebModule() override;

    // The module created last (null before any, and after that one is freed).
    static TRelayWebModule* GetInstance() { return FInstance.load(); }

    TRelayCore* Relay() const { return FRelay; }
    void Relay(TRelayCore* ARelay) { FRelay = ARelay; }

    // Wraps the platform request and response, runs the root tree, lets the quiet stop end the
    // request normally and passes every other error on to the web layer; the wrappers are
    // freed on every path.
    void HandlerAction(platform::TObject* Sender, platform::TWebRequest& Request, platform::TWebResponse& Response,
                       bool& Handled);

    // The module factory the provider hands to the web request handler.
    static std::unique_ptr<platform::TWebModule> New();

private:
    TRelayCore* FRelay = nullptr;
    static inline std::atomic<TRelayWebModule*> FInstance{nullptr};
};

// The class of module the request handler makes: TRelayWebModule unless a program sets another.
extern platform::TWebModuleClass WebModuleClass;

} // namespace relay
