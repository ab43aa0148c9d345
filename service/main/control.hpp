#pragma once
// The server control: owns the configuration kept in config.ini beside the executable, and
// starts and stops the HTTP server with the configured port and picture folder.
#include <memory>
#include <string>

#include "platform/base/object.hpp"
#include "platform/base/string_list.hpp"

namespace service {

class TWsRelay;

class TMainControl : public platform::TObject {
public:
    // config.ini in the executable's directory, or in $MIROVANDEL_CONFIG_DIR when that is set
    // and not empty. Loads the file, or creates it with the default rows. Throws the file
    // errors of platform::TStringList.
    TMainControl();
    // config.ini in AConfigDir (without a trailing separator).
    explicit TMainControl(const std::string& AConfigDir);
    // Stops a server that still listens, so that no request outlives the control's owner.
    ~TMainControl() override;

    // The configuration in memory; the window replaces its rows in place.
    platform::TStringList& Config() noexcept { return FConfig; }
    const std::string& FileConfig() const noexcept { return FFileConfig; }

    // The configuration becomes a copy of AValues (rows and encoding), then config.ini is
    // rewritten. A running server is not touched.
    void SaveConfig(const platform::TStringList& AValues);
    // Starts the server with "Port" and "Path" of the configuration when it is stopped, stops it
    // when it listens.
    void Power();
    // Whether the server listens (creates the web-service object on first use).
    bool Active();
    // Stops the server if it listens; creates nothing and raises nothing (program end).
    void Shutdown() noexcept;

    // The directory of the running executable, without a trailing separator.
    static std::string ExecutableDir();
    // Where config.ini lives by default: $MIROVANDEL_CONFIG_DIR, else ExecutableDir().
    static std::string DefaultConfigDir();

private:
    std::string ConfigValue(const std::string& AKey) const;
    TWsRelay& GetWS();
    void LoadConfig();

    // Made on first use, once per process (it creates the one framework core), and never
    // released: the route tree refers to it until the program ends.
    TWsRelay* FWS = nullptr;
    platform::TStringList FConfig;
    std::string FFileConfig;
};

} // namespace service
