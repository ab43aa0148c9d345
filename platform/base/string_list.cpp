#include "platform/base/string_list.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/text/ascii.hpp"
#include "platform/text/utf8.hpp"

namespace platform {

int TStringList::Add(std::string ALine)
{
    FLines.push_back(std::move(ALine));
    return Count() - 1;
}

int TStringList::IndexOfName(std::string_view AName) const noexcept
{
    for (size_t i = 0; i < FLines.size(); ++i) {
        std::string_view line = FLines[i];
        size_t eq = line.find('=');
        if (eq != std::string_view::npos && AsciiSameText(line.substr(0, eq), AName))
            return static_cast<int>(i);
    }
    return -1;
}

std::string TStringList::Values(std::string_view AName) const
{
    int i = IndexOfName(AName);
    if (i < 0)
        return {};
    const std::string& line = FLines[static_cast<size_t>(i)];
    return line.substr(line.find('=') + 1);
}

void TStringList::Assign(const TStringList& ASource)
{
    if (&ASource == this)
        return;
    FLines = ASource.FLines;
    FEncoding = ASource.FEncoding;
}

void TStringList::SetText(std::string_view AText)
{
    FLines.clear();
    size_t start = 0;
    size_t i = 0;
    while (i < AText.size()) {
        char c = AText[i];
        if (c == '\r' || c == '\n') {
            FLines.emplace_back(AText.substr(start, i - start));
            if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < AText.size())
        FLines.emplace_back(AText.substr(start));
}

std::string TStringList::Text() const
{
    std::string out;
    for (const auto& line : FLines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

namespace {

std::string Utf16ToUtf8(std::string_view ABytes, bool ABigEndian)
{
    std::string out;
    out.reserve(ABytes.size());
    const size_t units = ABytes.size() / 2;
    auto unit = [&](size_t AIndex) -> char16_t {
        unsigned char a = static_cast<unsigned char>(ABytes[2 * AIndex]);
        unsigned char b = static_cast<unsigned char>(ABytes[2 * AIndex + 1]);
        return ABigEndian ? static_cast<char16_t>((a << 8) | b) : static_cast<char16_t>((b << 8) | a);
    };
    for (size_t i = 0; i < units; ++i) {
        char16_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            char16_t v = unit(i + 1);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (v - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            AppendUtf8(out, 0xFFFD);
        else
            AppendUtf8(out, u);
    }
    if (ABytes.size() % 2 != 0)
        AppendUtf8(out, 0xFFFD);
    return out;
}

// Code points of valid UTF-8 text.
template <typename F>
void ForEachCodePoint(std::string_view AText, F AEmit)
{
    const auto* p = reinterpret_cast<const unsigned char*>(AText.data());
    const size_t n = AText.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if (c < 0xE0) {
            cp = c & 0x1F;
            len = 2;
        } else if (c < 0xF0) {
            cp = c & 0x0F;
            len = 3;
        } else {
            cp = c & 0x07;
            len = 4;
        }
        for (size_t k = 1; k < len && i + k < n; ++k)
            cp = (cp << 6) | (p[i + k] & 0x3F);
        AEmit(cp);
        i += len;
    }
}

void AppendUtf16(std::string& AOut, char16_t AUnit, bool ABigEndian)
{
    char hi = static_cast<char>(AUnit >> 8);
    char lo = static_cast<char>(AUnit & 0xFF);
    if (ABigEndian) {
        AOut += hi;
        AOut += lo;
    } else {
        AOut += lo;
        AOut += hi;
    }
}

std::string Utf8ToUtf16(std::string_view AText, bool ABigEndian)
{
    std::string out;
    out.reserve(AText.size() * 2);
    ForEachCodePoint(Utf8Sanitize(AText), [&](char32_t ACodePoint) {
        if (ACodePoint >= 0x10000) {
            ACodePoint -= 0x10000;
            AppendUtf16(out, static_cast<char16_t>(0xD800 + (ACodePoint >> 10)), ABigEndian);
            AppendUtf16(out, static_cast<char16_t>(0xDC00 + (ACodePoint & 0x3FF)), ABigEndian);
        } else {
            AppendUtf16(out, static_cast<char16_t>(ACodePoint), ABigEndian);
        }
    });
    return out;
}

} // namespace

void TStringList::LoadFromBytes(std::string_view ABytes)
{
    std::string text;
    if (ABytes.size() >= 3 && ABytes.substr(0, 3) == "\xEF\xBB\xBF") {
        FEncoding = TTextEncoding::UTF8;
        text = Utf8Sanitize(ABytes.substr(3));
    } else if (ABytes.size() >= 2 && ABytes.substr(0, 2) == "\xFF\xFE") {
        FEncoding = TTextEncoding::UTF16LE;
        text = Utf16ToUtf8(ABytes.substr(2), false);
    } else if (ABytes.size() >= 2 && ABytes.substr(0, 2) == "\xFE\xFF") {
        FEncoding = TTextEncoding::UTF16BE;
        text = Utf16ToUtf8(ABytes.substr(2), true);
    } else {
        FEncoding = TTextEncoding::Default;
        text = Utf8Sanitize(ABytes);
    }
    SetText(text);
}

std::string TStringList::SaveToBytes() const
{
    const std::string text = Text();
    switch (FEncoding) {
    case TTextEncoding::UTF8: return "\xEF\xBB\xBF" + text;
    case TTextEncoding::UTF16LE: return "\xFF\xFE" + Utf8ToUtf16(text, false);
    case TTextEncoding::UTF16BE: return "\xFE\xFF" + Utf8ToUtf16(text, true);
    case TTextEncoding::Default: break;
    }
    return text;
}

void TStringList::LoadFromFile(const std::string& AFileName)
{
    errno = 0;
    std::ifstream in(AFileName, std::ios::binary);
    if (!in) {
        int err = errno;
        throw EFOpenError("Cannot open file \"" + AFileName + "\". " + std::strerror(err ? err : ENOENT));
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        int err = errno;
        throw EFOpenError("Cannot open file \"" + AFileName + "\". " + std::strerror(err ? err : EIO));
    }
    LoadFromBytes(bytes);
}

void TStringList::SaveToFile(const std::string& AFileName) const
{
    const std::string bytes = SaveToBytes();
    errno = 0;
    std::FILE* f = std::fopen(AFileName.c_str(), "wb");
    if (!f) {
        int err = errno;
        throw EFCreateError("Cannot create file \"" + AFileName + "\". " + std::strerror(err ? err : EACCES));
    }
    size_t written = bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), f);
    int err = errno;
    bool ok = written == bytes.size();
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok)
        throw EFCreateError("Cannot create file \"" + AFileName + "\". " + std::strerror(err ? err : EIO));
}

} // namespace platform
