#pragma once
// A request as Beast parsed it, turned into the web layer's request object.
#include <string>

#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

#include "platform/http/http_app_request.hpp"

namespace platform::http {

// Fills ARequest from AMessage (its body is moved). Returns false when the request carries an
// "Authorization" header that no authentication handler took and whose scheme is not Basic:
// such a request is answered 401 and never reaches the handler.
bool BuildRequest(THTTPAppRequest& ARequest, boost::beast::http::request<boost::beast::http::string_body>&& AMessage,
                  const std::string& ARemoteAddr, const TParseAuthenticationEvent& AOnParseAuthentication);

} // namespace platform::http
