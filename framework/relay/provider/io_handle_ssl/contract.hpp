#pragma once
// The TLS options a server start hands to the server's TLS I/O handler.
#include <memory>
#include <string>

#include "platform/web/tls_options.hpp"

namespace relay {

using platform::TIdSSLVersion;
using platform::TIdSSLVersions;
using platform::TPasswordEvent;

// Getters return the stored value; setters store the value unchanged and return the same
// object, so calls chain.
class IRelayProviderIOHandleSSL {
public:
    virtual ~IRelayProviderIOHandleSSL() = default;

    virtual bool Active() const = 0;
    virtual IRelayProviderIOHandleSSL& Active(bool AValue) = 0;
    virtual const std::string& CertFile() const = 0;
    virtual IRelayProviderIOHandleSSL& CertFile(const std::string& AValue) = 0;
    virtual const std::string& RootCertFile() const = 0;
    virtual IRelayProviderIOHandleSSL& RootCertFile(const std::string& AValue) = 0;
    virtual const std::string& KeyFile() const = 0;
    virtual IRelayProviderIOHandleSSL& KeyFile(const std::string& AValue) = 0;
    virtual TIdSSLVersion Method() const = 0;
    virtual IRelayProviderIOHandleSSL& Method(TIdSSLVersion AValue) = 0;
    virtual const TIdSSLVersions& SSLVersions() const = 0;
    virtual IRelayProviderIOHandleSSL& SSLVersions(const TIdSSLVersions& AValue) = 0;
    virtual const std::string& DHParamsFile() const = 0;
    virtual IRelayProviderIOHandleSSL& DHParamsFile(const std::string& AValue) = 0;
    virtual const std::string& CipherList() const = 0;
    virtual IRelayProviderIOHandleSSL& CipherList(const std::string& AValue) = 0;
    virtual const TPasswordEvent& OnGetPassword() const = 0;
    virtual IRelayProviderIOHandleSSL& OnGetPassword(const TPasswordEvent& AValue) = 0;
};

// Shared ownership stands for the interface's reference count.
using IRelayProviderIOHandleSSLRef = std::shared_ptr<IRelayProviderIOHandleSSL>;

} // namespace relay
