#pragma once
// Media type of a file by its name, for file replies.
#include <map>
#include <string>
#include <string_view>

namespace relay {

// Extension -> media type, first pair wins. The shared table holds a built-in list first,
// then what the system registers in /etc/mime.types.
class TMimeTable {
public:
    // Adds the pair unless the extension (compared in lower case) is already known.
    void Add(std::string_view AExtension, std::string_view AType);
    // Adds the pairs of a mime.types file ("type ext ext ..." lines, "#" comments); a missing
    // or unreadable file adds nothing.
    void LoadMimeTypesFile(const std::string& APath);
    // The type of the (lower-case, dot-less) extension, or the empty text.
    std::string Find(std::string_view AExtension) const;

    // The table every file reply uses, built once on first use (thread-safe) and then only read.
    static const TMimeTable& Shared();

private:
    std::map<std::string, std::string, std::less<>> FTypes;
};

// The extension of a file name as the table looks it up: the text after the last "." of the
// name after its last directory delimiter ("/", "\" or ":"), trimmed of blanks and control
// characters, in lower case, without the dot; empty when the name has none.
std::string FileExtensionOf(std::string_view AFileName);

// The media type of the name's extension; "application/octet-stream" for a name without
// extension or with one the table does not hold. Never empty.
std::string MimeTypeOfFile(std::string_view AFileName);

} // namespace relay
