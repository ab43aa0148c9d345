#pragma once
// The platform's exception family. Everything the framework raises for an ordinary failure
// derives from Exception; thrown objects of other types pass through the framework untouched.
#include <exception>
#include <string>

namespace platform {

class Exception : public std::exception {
public:
    Exception() = default;
    explicit Exception(std::string AMessage) : FMessage(std::move(AMessage)) {}

    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string AMessage) { FMessage = std::move(AMessage); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// List and dictionary errors ("Duplicates not allowed", "Item not found").
class EListError : public Exception {
public:
    using Exception::Exception;
};

// Refusals of the web-request layer (e.g. too many requests in work).
class EWebBrokerException : public Exception {
public:
    using Exception::Exception;
};

// A call of an operation that a class declares but leaves to its descendants.
class EAbstractError : public Exception {
public:
    using Exception::Exception;
};

inline constexpr const char* KAbstractError = "Abstract Error";
inline constexpr const char* KDuplicateItem = "Duplicates not allowed";
inline constexpr const char* KItemNotFound = "Item not found";

} // namespace platform
