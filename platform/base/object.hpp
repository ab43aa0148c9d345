#pragma once
// Root of the object model: anything a request or response may own as its body or content.
#include <string>

namespace platform {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    // Name of the most derived class, as the error texts of the framework show it.
    virtual std::string ClassName() const;
};

} // namespace platform
