#pragma once
// Reads a request's header collection from the raw header lines of the socket server.
#include <memory>

#include "framework/relay/core/param.hpp"
#include "platform/base/object.hpp"
#include "platform/web/web_request.hpp"

namespace relay {

class TRelayCoreParamHeader : public platform::TObject {
public:
    // A new dictionary (the caller owns it) of header name to trimmed value, one entry per raw
    // line. When a name occurs on several lines, every entry made for it carries the value of
    // its first line. A request of another web layer (no raw lines) gives an empty dictionary.
    static std::unique_ptr<TStringDictionary> GetHeaders(const platform::TWebRequest& AWebRequest);

private:
    // The raw "Name: value" lines (a copy the caller owns), or no lines.
    static std::unique_ptr<TStrings> RawHeaderLines(const platform::TWebRequest& AWebRequest);
};

} // namespace relay
