#pragma once
// A web module whose one action answers every path with what the test's RouteByPath returns.
#include <functional>
#include <memory>
#include <string>

#include "platform/base/gcc_restrict.hpp"
#include "platform/web/web_module.hpp"

namespace testing_support {

inline std::function<std::string(const std::string& APath)> RouteByPath;

inline std::unique_ptr<platform::TWebModule> MakeRouteModule()
{
    auto module = std::make_unique<platform::TWebModule>();
    platform::TWebActionItem& a = module->AddAction();
    a.Name = "Route";
    a.Default = true;
    MIROVANDEL_GCC12_FALSE_RESTRICT_BEGIN
    a.PathInfo = "/";
    MIROVANDEL_GCC12_FALSE_RESTRICT_END
    a.OnAction = [](platform::TObject*, platform::TWebRequest& ARequest, platform::TWebResponse& AResponse,
                    bool& AHandled) {
        AHandled = true;
        AResponse.SetContent(RouteByPath(ARequest.PathInfo()));
    };
    return module;
}

} // namespace testing_support
