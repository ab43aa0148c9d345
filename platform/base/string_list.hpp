#pragma once
// A list of text lines that remembers the encoding of the file it was loaded from, so that
// saving writes the file back in the same form (settings files edited by hand on other systems).
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/exception.hpp"
#include "platform/base/object.hpp"

namespace platform {

// Encodings a text file may carry. The system's code page is UTF-8, written without a BOM.
enum class TTextEncoding {
    Default, // no byte-order mark; read and written as UTF-8
    UTF8,    // UTF-8 with its BOM
    UTF16LE, // UTF-16 little endian with its BOM
    UTF16BE, // UTF-16 big endian with its BOM
};

// A file that cannot be opened for reading / created for writing: names the file and the reason.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

class TStringList : public TObject {
public:
    TStringList() = default;
    TStringList(const TStringList& AOther) : TObject(), FLines(AOther.FLines), FEncoding(AOther.FEncoding) {}
    TStringList& operator=(const TStringList& AOther)
    {
        Assign(AOther);
        return *this;
    }

    int Count() const noexcept { return static_cast<int>(FLines.size()); }
    const std::string& Strings(int AIndex) const { return FLines.at(static_cast<size_t>(AIndex)); }
    void SetStrings(int AIndex, std::string AText) { FLines.at(static_cast<size_t>(AIndex)) = std::move(AText); }
    const std::vector<std::string>& Lines() const noexcept { return FLines; }
    int Add(std::string ALine);
    void Clear() noexcept { FLines.clear(); }

    // Rows of the form name=value: the name is the text before the first "=".
    // Index of the first row whose name matches (ASCII case ignored); -1 if none.
    // A row without "=" never matches.
    int IndexOfName(std::string_view AName) const noexcept;
    // Everything after the first "=" of that row, untrimmed; "" when no row matches.
    std::string Values(std::string_view AName) const;

    // The rows and the encoding of another list.
    void Assign(const TStringList& ASource);

    TTextEncoding Encoding() const noexcept { return FEncoding; }
    void SetEncoding(TTextEncoding AEncoding) noexcept { FEncoding = AEncoding; }

    // Lines of a text: breaks are CR LF, CR or LF; a break at the very end opens no new line.
    void SetText(std::string_view AText);
    // Every line followed by CR LF.
    std::string Text() const;

    // Reads a file: a UTF-8 or UTF-16 BOM selects that encoding (and is remembered), otherwise
    // Default. Invalid sequences become U+FFFD. Throws EFOpenError.
    void LoadFromFile(const std::string& AFileName);
    // Writes every line followed by CR LF in the list's encoding, its BOM first.
    // Replaces the file. Throws EFCreateError.
    void SaveToFile(const std::string& AFileName) const;

    // Bytes <-> list, as the two file operations use them.
    void LoadFromBytes(std::string_view ABytes);
    std::string SaveToBytes() const;

private:
    std::vector<std::string> FLines;
    TTextEncoding FEncoding = TTextEncoding::Default;
};

} // namespace platform
