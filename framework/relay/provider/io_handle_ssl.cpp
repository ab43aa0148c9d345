#include "framework/relay/provider/io_handle_ssl.hpp"

namespace relay {

IRelayProviderIOHandleSSLRef TRelayProviderIOHandleSSL::New()
{
    return std::make_shared<TRelayProviderIOHandleSSL>();
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::Active(bool AValue)
{
    FActive = AValue;
    return *this;
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::CertFile(const std::string& AValue)
{
    FCertFile = AValue;
    return *this;
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::RootCertFile(const std::string& AValue)
{
    FRootCertFile = AValue;
    return *this;
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::KeyFile(const std::string& AValue)
{
    FKeyFile = AValue;
    return *this;
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::Method(TIdSSLVersion AValue)
{
    FMethod = AValue;
    return *this;
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::SSLVersions(const TIdSSLVersions& AValue)
{
    FSSLVersions = AValue;
    return *this;
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::DHParamsFile(const std::string& AValue)
{
    FDHParamsFile = AValue;
    return *this;
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::CipherList(const std::string& AValue)
{
    FCipherList = AValue;
    return *this;
}

IRelayProviderIOHandleSSL& TRelayProviderIOHandleSSL::OnGetPassword(const TPasswordEvent& AValue)
{
    FOnGetPassword = AValue;
    return *this;
}

} // namespace relay
