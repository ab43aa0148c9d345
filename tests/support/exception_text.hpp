#pragma once
// What an action throws, as text, for tests that compare error messages.
#include <functional>
#include <string>

#include "platform/base/exception.hpp"

namespace testing_support {

// The message of the platform exception AAction throws; "(no exception)" when it throws none.
inline std::string ExceptionText(const std::function<void()>& AAction)
{
    try {
        AAction();
    } catch (const platform::Exception& e) {
        return e.Message();
    }
    return "(no exception)";
}

} // namespace testing_support
