#include "platform/http/http_reply_writer.hpp"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <unicode/ucnv.h>

#include "platform/base/exception.hpp"
#include "platform/base/stream.hpp"
#include "platform/text/ascii.hpp"
#include "platform/web/content_type.hpp"

namespace platform::http {

namespace beast = boost::beast;
namespace bhttp = beast::http;
using boost::system::error_code;

namespace {

// Header names and values go out on one line each: line breaks and other control characters
// a callback put into them would split the reply, so they become blanks.
std::string HeaderSafe(std::string_view AText)
{
    std::string out(AText);
    for (char& c : out)
        if ((static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127)
            c = ' ';
    return out;
}

bool IsToken(std::string_view AName)
{
    if (AName.empty())
        return false;
    for (unsigned char c : AName) {
        if (c <= 32 || c >= 127)
            return false;
        if (std::strchr("()<>@,;:\\\"/[]?={}", c))
            return false;
    }
    return true;
}

// The reply text (UTF-8) in the charset its content type names; unknown charsets keep UTF-8.
std::string EncodeText(const std::string& AText, const std::string& ACharset)
{
    if (ACharset.empty() || AsciiSameText(ACharset, "utf-8") || AsciiSameText(ACharset, "utf8"))
        return AText;
    bool wide = AsciiStartsWithText(ACharset, "utf-16") || AsciiStartsWithText(ACharset, "utf-32") ||
                AsciiStartsWithText(ACharset, "ucs") || AsciiStartsWithText(ACharset, "utf-7");
    if (!wide && IsAsciiText(AText))
        return AText;
    UErrorCode err = U_ZERO_ERROR;
    int32_t need =
        ucnv_convert(ACharset.c_str(), "UTF-8", nullptr, 0, AText.data(), static_cast<int32_t>(AText.size()), &err);
    if (U_FAILURE(err) && err != U_BUFFER_OVERFLOW_ERROR)
        return AText;
    std::string out(static_cast<size_t>(need), '\0');
    err = U_ZERO_ERROR;
    ucnv_convert(ACharset.c_str(), "UTF-8", out.data(), need, AText.data(), static_cast<int32_t>(AText.size()), &err);
    if (U_FAILURE(err))
        return AText;
    return out;
}

error_code LastError()
{
    return error_code(errno, boost::system::system_category());
}

} // namespace

const std::string& HttpDate()
{
    thread_local std::time_t last = -1;
    thread_local std::string text;
    std::time_t now = std::time(nullptr);
    if (now != last) {
        std::tm tm{};
        ::gmtime_r(&now, &tm);
        char buf[64];
        size_t n = std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
        text.assign(buf, n);
        last = now;
    }
    return text;
}

void TReplyWriter::Clear()
{
    if (FOwnsFile)
        ::close(FFile);
    FBytes.clear();
    FSent = 0;
    FFile = -1;
    FOwnsFile = false;
    FOffset = 0;
    FRemaining = 0;
    FCopyFile = false;
    FCloseAfter = false;
    FProgress = false;
    FSentBytes = 0;
}

void TReplyWriter::StartRaw(std::string ABytes)
{
    Clear();
    FBytes = std::move(ABytes);
}

void TReplyWriter::Start(const TWebResponse& AResponse, const TReplyForm& AForm)
{
    Clear();
    unsigned code = static_cast<unsigned>(AResponse.StatusCode());
    if (AResponse.StatusCode() < 100 || AResponse.StatusCode() > 999)
        code = 500;
    bhttp::response<bhttp::empty_body> res;
    res.version(AForm.Version);
    res.result(code);
    if (bhttp::int_to_status(code) == bhttp::status::unknown)
        res.reason("Unknown");
    const bool noBody = code < 200 || code == 204 || code == 304;

    TStream* stream = AResponse.ContentStream();
    std::string contentType = AResponse.ContentType();
    const bool hasBody = stream != nullptr || !AResponse.Content().empty();
    if (contentType.empty() && hasBody)
        contentType = "text/html; charset=utf-8";
    std::string text;
    int64_t length = 0;
    if (stream)
        length = AResponse.ContentLength() >= 0 ? AResponse.ContentLength() : stream->Size();
    else {
        text = EncodeText(AResponse.Content(), CharsetParameter(contentType));
        length = static_cast<int64_t>(text.size());
    }

    res.set(bhttp::field::date, HttpDate());
    if (!contentType.empty())
        res.set(bhttp::field::content_type, HeaderSafe(contentType));
    for (const auto& [name, value] : AResponse.CustomHeaders()) {
        if (!IsToken(name))
            continue;
        if (AsciiSameText(name, "Content-Length") || AsciiSameText(name, "Transfer-Encoding"))
            continue; // framing is the server's
        if (AsciiSameText(name, "Connection")) {
            if (AsciiSameText(TrimControl(value), "close"))
                FCloseAfter = true;
            continue;
        }
        res.insert(name, HeaderSafe(value));
    }
    if (!noBody)
        res.content_length(static_cast<uint64_t>(length));
    res.keep_alive(AForm.KeepAlive && !FCloseAfter);

    {
        bhttp::response_serializer<bhttp::empty_body> sr(res);
        sr.split(true);
        error_code hec;
        while (!sr.is_header_done() && !hec)
            sr.next(hec, [&](error_code&, const auto& ABuffers) {
                for (auto b : beast::buffers_range_ref(ABuffers))
                    FBytes.append(static_cast<const char*>(b.data()), b.size());
                sr.consume(beast::buffer_bytes(ABuffers));
            });
    }
    if (noBody || AForm.Head || length <= 0)
        return;
    if (!stream) {
        FBytes += text;
        return;
    }
    if (stream->Handle() >= 0) {
        FFile = stream->Handle();
        FOffset = 0;
        FRemaining = length;
        return;
    }
    // A stream in memory (or of another kind): copied behind the headers, so it goes with them.
    stream->SetPosition(0);
    const size_t head = FBytes.size();
    FBytes.resize(head + static_cast<size_t>(length));
    size_t got = 0;
    while (got < static_cast<size_t>(length)) {
        size_t n = stream->Read(FBytes.data() + head + got, static_cast<size_t>(length) - got);
        if (n == 0)
            break;
        got += n;
    }
    if (got < static_cast<size_t>(length)) {
        FBytes.resize(head + got);
        FCloseAfter = true; // shorter than announced: the client sees it end early
    }
}

TReplyWriter::TStatus TReplyWriter::SendBytes(int ASocket, int AFlags, error_code& AError)
{
    while (FSent < FBytes.size()) {
        ssize_t n = ::send(ASocket, FBytes.data() + FSent, FBytes.size() - FSent, MSG_NOSIGNAL | AFlags);
        if (n > 0) {
            FSent += static_cast<size_t>(n);
            FSentBytes += static_cast<uint64_t>(n);
            FProgress = true;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return TStatus::Blocked;
        } else {
            AError = n < 0 ? LastError() : error_code(EPIPE, boost::system::system_category());
            return TStatus::Failed;
        }
    }
    FBytes.clear();
    FSent = 0;
    return TStatus::Done;
}

TReplyWriter::TStatus TReplyWriter::Write(int ASocket, error_code& AError)
{
    // A file's headers go with MSG_MORE, so they share a segment with the file's first bytes.
    TStatus status = SendBytes(ASocket, FRemaining > 0 && !FCopyFile ? MSG_MORE : 0, AError);
    if (status != TStatus::Done || FRemaining <= 0)
        return status;
    while (FRemaining > 0) {
        if (FCopyFile) {
            // The next piece of the file through the (sent) text buffer.
            const size_t want = static_cast<size_t>(std::min<int64_t>(FRemaining, 64 * 1024));
            FBytes.resize(want);
            int64_t position = FOffset;
            size_t got = 0;
            try {
                got = ReadFileAt(FFile, FBytes.data(), want, position);
            } catch (const Exception&) {
                got = 0;
            }
            FBytes.resize(got);
            if (got == 0) {
                FRemaining = 0;
                FCloseAfter = true; // shorter than announced: the client sees it end early
                break;
            }
            FOffset = static_cast<off_t>(position);
            FRemaining -= static_cast<int64_t>(got);
            status = SendBytes(ASocket, 0, AError);
            if (status != TStatus::Done)
                return status;
            continue;
        }
        const size_t chunk = static_cast<size_t>(std::min<int64_t>(FRemaining, 1 << 30));
        ssize_t n = ::sendfile(ASocket, FFile, &FOffset, chunk);
        if (n > 0) {
            FRemaining -= n;
            FSentBytes += static_cast<uint64_t>(n);
            FProgress = true;
        } else if (n == 0) {
            FRemaining = 0;
            FCloseAfter = true; // the file is shorter than announced: the client sees it end early
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return TStatus::Blocked;
        } else if (errno == EINVAL || errno == ENOSYS) {
            FCopyFile = true; // no sendfile for this descriptor
        } else {
            AError = LastError();
            return TStatus::Failed;
        }
    }
    if (FOwnsFile)
        ::close(FFile);
    FFile = -1;
    FOwnsFile = false;
    return TStatus::Done;
}

bool TReplyWriter::KeepFile(error_code& AError)
{
    if (FRemaining <= 0 || FOwnsFile)
        return true;
    int copy = ::fcntl(FFile, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        AError = LastError();
        return false;
    }
    FFile = copy;
    FOwnsFile = true;
    return true;
}

} // namespace platform::http
