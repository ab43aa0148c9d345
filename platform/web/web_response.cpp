#include "platform/web/web_response.hpp"

#include "platform/text/ascii.hpp"

namespace platform {

TWebResponse::~TWebResponse()
{
    if (FFreeContentStream)
        delete FContentStream;
}

void TWebResponse::SetContentStream(TStream* AStream)
{
    if (FContentStream != AStream && FFreeContentStream)
        delete FContentStream;
    FContentStream = AStream;
}

int TWebResponse::IndexOfName(const std::string& AName) const
{
    for (size_t i = 0; i < FCustomHeaders.size(); ++i)
        if (AsciiSameText(FCustomHeaders[i].first, AName))
            return static_cast<int>(i);
    return -1;
}

void TWebResponse::DeleteCustomHeader(int AIndex)
{
    if (AIndex >= 0 && static_cast<size_t>(AIndex) < FCustomHeaders.size())
        FCustomHeaders.erase(FCustomHeaders.begin() + AIndex);
}

std::string TWebResponse::GetCustomHeader(const std::string& AName) const
{
    int i = IndexOfName(AName);
    return i < 0 ? std::string() : FCustomHeaders[static_cast<size_t>(i)].second;
}

void TWebResponse::SetCustomHeader(const std::string& AName, const std::string& AValue)
{
    int i = IndexOfName(AName);
    if (AValue.empty()) {
        DeleteCustomHeader(i);
        return;
    }
    if (i >= 0)
        FCustomHeaders[static_cast<size_t>(i)].second = AValue;
    else
        FCustomHeaders.emplace_back(AName, AValue);
}

void TWebResponse::SendResponse()
{
    if (FSent)
        return;
    DoSendResponse();
    FSent = true;
}

} // namespace platform
