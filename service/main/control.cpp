#include "service/main/control.hpp"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/base/file_system.hpp"
#include "platform/text/str_to_int.hpp"
#include "service/ws_relay.hpp"

namespace service {

namespace {

std::string DirectoryOf(const std::string& AFileName)
{
    size_t slash = AFileName.rfind('/');
    return slash == std::string::npos ? std::string() : AFileName.substr(0, slash);
}

} // namespace

std::string TMainControl::ExecutableDir()
{
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return ".";
        if (static_cast<size_t>(n) < buffer.size())
            return DirectoryOf(std::string(buffer.data(), static_cast<size_t>(n)));
        buffer.resize(buffer.size() * 2);
    }
}

std::string TMainControl::DefaultConfigDir()
{
    const char* dir = std::getenv("MIROVANDEL_CONFIG_DIR");
    if (dir && *dir) {
        std::string d = dir;
        while (d.size() > 1 && d.back() == '/')
            d.pop_back();
        return d;
    }
    return ExecutableDir();
}

TMainControl::TMainControl() : TMainControl(DefaultConfigDir()) {}

TMainControl::TMainControl(const std::string& AConfigDir)
{
    FFileConfig = AConfigDir + "/config.ini";
    LoadConfig();
}

TMainControl::~TMainControl()
{
    Shutdown();
}

void TMainControl::Shutdown() noexcept
{
    if (!FWS)
        return;
    try {
        if (FWS->Active())
            FWS->Power();
    } catch (...) {
        // Shutting down: nothing left to report to.
    }
}

void TMainControl::LoadConfig()
{
    if (platform::FileExists(FFileConfig)) {
        FConfig.LoadFromFile(FFileConfig);
        return;
    }
    FConfig.Clear();
    FConfig.SetEncoding(platform::TTextEncoding::Default);
    FConfig.Add("Path=" + DirectoryOf(FFileConfig) + "/files/");
    FConfig.Add("Port=9000");
    FConfig.SaveToFile(FFileConfig);
}

void TMainControl::SaveConfig(const platform::TStringList& AValues)
{
    FConfig.Assign(AValues);
    FConfig.SaveToFile(FFileConfig);
}

std::string TMainControl::ConfigValue(const std::string& AKey) const
{
    return FConfig.Values(AKey);
}

TWsRelay& TMainControl::GetWS()
{
    // One per process, like the core it creates; a later control of the same process uses it too.
    static TWsRelay* shared = nullptr;
    if (!FWS) {
        if (!shared)
            shared = new TWsRelay();
        FWS = shared;
    }
    return *FWS;
}

bool TMainControl::Active()
{
    return GetWS().Active();
}

void TMainControl::Power()
{
    if (!Active()) {
        int32_t port = platform::StrToInt(ConfigValue("Port"));
        std::string path = ConfigValue("Path");
        GetWS().Port(port).Path(path);
    }
    GetWS().Power();
}

} // namespace service
