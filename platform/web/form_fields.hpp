#pragma once
// Reading of urlencoded name=value lists (query strings, form bodies) and of Content-Type
// parameters, as the web-request layer hands them to the framework.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Decodes one component of a query string or an urlencoded form: "+" is a space and "%XX" a
// byte. A "%" without two hex digits after it stays as it is (clients send such text, and
// refusing it would lose the whole request). Bytes that are not UTF-8 become U+FFFD.
std::string FormDecode(std::string_view AText);

// Splits AText at "&" and appends one decoded line per piece: "name=value" when the piece has
// an "=", otherwise the decoded piece alone. Empty pieces ("a=1&&b=2", a trailing "&") give no
// line.
void ExtractUrlEncodedFields(std::string_view AText, std::vector<std::string>& ALines);

// The media type of a Content-Type value: the text before its first ";", blanks trimmed.
std::string_view MediaTypeOf(std::string_view AContentType) noexcept;

// Whether the media type of AContentType is AMediaType (ASCII case ignored). Unlike a prefix
// test, "multipart/form-data-x" is not "multipart/form-data".
bool IsMediaType(std::string_view AContentType, std::string_view AMediaType) noexcept;

// The value of parameter AName (ASCII case ignored) of a Content-Type value, unquoted;
// nullopt when absent or when its quoted string is not closed.
std::optional<std::string> ContentTypeParameter(std::string_view AContentType, std::string_view AName);

} // namespace platform
