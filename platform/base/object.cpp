#include "platform/base/object.hpp"

#include <cxxabi.h>
#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace platform {

std::string TObject::ClassName() const
{
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     std::free);
    std::string name = status == 0 && demangled ? demangled.get() : mangled;
    // Drop namespaces: "platform::TJSONObject" reads as "TJSONObject".
    auto colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

} // namespace platform
