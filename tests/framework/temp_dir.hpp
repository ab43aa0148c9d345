#pragma once
// A private folder under the system's temporary directory, removed with its content.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

class TTempDir {
public:
    TTempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "mirovandel-test-XXXXXX").string();
        if (!::mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        FPath = tmpl;
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    ~TTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }

    // Writes a file of that name and content; returns its full path.
    std::string Write(const std::string& AName, const std::string& AData) const
    {
        const std::filesystem::path p = FPath / AName;
        std::ofstream(p, std::ios::binary) << AData;
        return p.string();
    }
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};
