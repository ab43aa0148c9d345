#pragma once
// The holder of TLS options (see contract.hpp). Nothing in the product creates one; a program
// that wants TLS sets them through TRelayProvider::SSLOptions before Listen.
#include "framework/relay/provider/io_handle_ssl/contract.hpp"

namespace relay {

class TRelayProviderIOHandleSSL : public IRelayProviderIOHandleSSL {
public:
    // Active, TLS 1.0 only, every file name and the cipher list empty, no password callback.
    TRelayProviderIOHandleSSL() = default;
    static IRelayProviderIOHandleSSLRef New();

    bool Active() const override { return FActive; }
    IRelayProviderIOHandleSSL& Active(bool AValue) override;
    const std::string& CertFile() const override { return FCertFile; }
    IRelayProviderIOHandleSSL& CertFile(const std::string& AValue) override;
    const std::string& RootCertFile() const override { return FRootCertFile; }
    IRelayProviderIOHandleSSL& RootCertFile(const std::string& AValue) override;
    const std::string& KeyFile() const override { return FKeyFile; }
    IRelayProviderIOHandleSSL& KeyFile(const std::string& AValue) override;
    TIdSSLVersion Method() const override { return FMethod; }
    IRelayProviderIOHandleSSL& Method(TIdSSLVersion AValue) override;
    const TIdSSLVersions& SSLVersions() const override { return FSSLVersions; }
    IRelayProviderIOHandleSSL& SSLVersions(const TIdSSLVersions& AValue) override;
    const std::string& DHParamsFile() const override { return FDHParamsFile; }
    IRelayProviderIOHandleSSL& DHParamsFile(const std::string& AValue) override;
    const std::string& CipherList() const override { return FCipherList; }
    IRelayProviderIOHandleSSL& CipherList(const std::string& AValue) override;
    const TPasswordEvent& OnGetPassword() const override { return FOnGetPassword; }
    IRelayProviderIOHandleSSL& OnGetPassword(const TPasswordEvent& AValue) override;

private:
    std::string FKeyFile;
    std::string FRootCertFile;
    std::string FCertFile;
    std::string FDHParamsFile;
    std::string FCipherList;
    TIdSSLVersion FMethod = platform::sslvTLSv1;
    TIdSSLVersions FSSLVersions{platform::sslvTLSv1};
    TPasswordEvent FOnGetPassword;
    bool FActive = true;
};

} // namespace relay
