#include "framework/relay/core/files.hpp"
#include "framework/relay/mime.hpp"
#include "framework/relay/response.hpp"

namespace relay {

namespace {

// The name as it stands between the quotes of "Content-Disposition": quote and reverse
// solidus are escaped as in a quoted string, and control characters (a line break would end
// the header) become "_". Ordinary names go in unchanged.
std::string QuotedFileName(const std::string& AName)
{
    std::string out;
    out.reserve(AName.size());
    for (char c : AName) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = '_';
        out += c;
    }
    return out;
}

void SendStream(TRelayResponse& AResponse, platform::TStream& AFileStream, const std::string& AFileName,
                const std::string& AContentType, const char* ADisposition)
{
    AFileStream.SetPosition(0);
    const std::string name = ExtractFileNameOnly(AFileName);
    platform::TWebResponse& raw = AResponse.RawWebResponse();

    // A stream the platform response owned before goes now, before it is told to free none.
    if (raw.ContentStream() != &AFileStream)
        raw.SetContentStream(nullptr);
    raw.SetFreeContentStream(false);
    raw.SetContentLength(AFileStream.Size());
    raw.SetContentStream(&AFileStream);
    raw.SetCustomHeader("Content-Disposition",
                        std::string(ADisposition) + "; filename=\"" + QuotedFileName(name) + "\"");
    raw.SetContentType(AContentType);
    if (AContentType.empty())
        raw.SetContentType(MimeTypeOfFile(name));

    // The HTTP layer's SendResponse is done with the stream when it returns (a file stream goes
    // through sendfile on its Handle(); what the client has not taken yet is sent later from a
    // descriptor of the server's own), so the caller may free the stream as soon as this
    // returns. The platform response lets go of it all the same, so that it never points at a
    // freed stream, also when sending failed (the client has gone).
    struct TDetach {
        platform::TWebResponse& Raw;
        ~TDetach() { Raw.SetContentStream(nullptr); }
    } detach{raw};
    raw.SendResponse();
}

} // namespace

TRelayResponse& TRelayResponse::SendFile(platform::TStream& AFileStream, const std::string& AFileName,
                                         const std::string& AContentType)
{
    SendStream(*this, AFileStream, AFileName, AContentType, "inline");
    return *this;
}

TRelayResponse& TRelayResponse::Download(platform::TStream& AFileStream, const std::string& AFileName,
                                         const std::string& AContentType)
{
    SendStream(*this, AFileStream, AFileName, AContentType, "attachment");
    return *this;
}

TRelayResponse& TRelayResponse::SendFile(const std::string& AFileName, const std::string& AContentType)
{
    // The file object owns the stream and closes the file when it goes, whatever happened.
    TRelayCoreFile file(AFileName);
    file.SetFreeContentStream(true);
    const std::string type = AContentType.empty() ? file.ContentType() : AContentType;
    return SendFile(*file.ContentStream(), file.Name(), type);
}

TRelayResponse& TRelayResponse::Download(const std::string& AFileName, const std::string& AContentType)
{
    TRelayCoreFile file(AFileName);
    file.SetFreeContentStream(true);
    const std::string type = AContentType.empty() ? file.ContentType() : AContentType;
    return Download(*file.ContentStream(), file.Name(), type);
}

TRelayResponse& TRelayResponse::Render(platform::TStream& AFileStream, const std::string& AFileName)
{
    return SendFile(AFileStream, AFileName, std::string(MediaTypeText(TMediaType::TextHtml)));
}

TRelayResponse& TRelayResponse::Render(const std::string& AFileName)
{
    return SendFile(AFileName, std::string(MediaTypeText(TMediaType::TextHtml)));
}

} // namespace relay
