#include "framework/relay/mime.hpp"

#include <fstream>
#include <sstream>

#include "platform/text/ascii.hpp"

namespace relay {

namespace {

// Built-in pairs, consulted before the system's list.
constexpr std::pair<const char*, const char*> KBuiltInTypes[] = {
    {"png", "image/png"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpe", "image/jpeg"},
    {"gif", "image/gif"},
    {"bmp", "image/bmp"},
    {"ico", "image/x-icon"},
    {"svg", "image/svg+xml"},
    {"webp", "image/webp"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"css", "text/css"},
    {"csv", "text/csv"},
    {"txt", "text/plain"},
    {"ini", "text/plain"},
    {"log", "text/plain"},
    {"js", "application/javascript"},
    {"json", "application/json"},
    {"xml", "application/xml"},
    {"pdf", "application/pdf"},
    {"zip", "application/zip"},
    {"gz", "application/gzip"},
    {"tar", "application/x-tar"},
    {"mp3", "audio/mpeg"},
    {"wav", "audio/wav"},
    {"mp4", "video/mp4"},
    {"bin", "application/octet-stream"},
    {"exe", "application/octet-stream"},
};

constexpr const char* KDefaultType = "application/octet-stream";

} // namespace

void TMimeTable::Add(std::string_view AExtension, std::string_view AType)
{
    std::string ext = platform::AsciiLower(AExtension);
    if (ext.empty() || AType.empty())
        return;
    FTypes.try_emplace(std::move(ext), AType);
}

void TMimeTable::LoadMimeTypesFile(const std::string& APath)
{
    std::ifstream in(APath);
    std::string line;
    while (std::getline(in, line)) {
        const size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string type, ext;
        if (!(words >> type) || type.find('/') == std::string::npos)
            continue;
        while (words >> ext)
            Add(ext, type);
    }
}

std::string TMimeTable::Find(std::string_view AExtension) const
{
    auto it = FTypes.find(AExtension);
    return it == FTypes.end() ? std::string() : it->second;
}

const TMimeTable& TMimeTable::Shared()
{
    // Function-local static: built exactly once, even with many threads asking at once.
    static const TMimeTable KTable = [] {
        TMimeTable t;
        for (const auto& [ext, type] : KBuiltInTypes)
            t.Add(ext, type);
        t.LoadMimeTypesFile("/etc/mime.types");
        return t;
    }();
    return KTable;
}

std::string FileExtensionOf(std::string_view AFileName)
{
    const size_t delim = AFileName.find_last_of("/\\:");
    std::string_view name = delim == std::string_view::npos ? AFileName : AFileName.substr(delim + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    return platform::AsciiLower(platform::TrimControl(name.substr(dot + 1)));
}

std::string MimeTypeOfFile(std::string_view AFileName)
{
    const TMimeTable& table = TMimeTable::Shared();
    const std::string ext = FileExtensionOf(AFileName);
    std::string type = ext.empty() ? std::string() : table.Find(ext);
    if (type.empty())
        type = table.Find("bin");
    return type.empty() ? KDefaultType : type;
}

} // namespace relay
