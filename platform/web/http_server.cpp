#include "platform/web/http_server.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <malloc.h>
#include <mutex>
#include <thread>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unicode/ucnv.h>
#include <unistd.h>

#include "platform/base/exception.hpp"
#include "platform/text/ascii.hpp"
#include "platform/text/utf8.hpp"
#include "platform/web/content_type.hpp"
#include "platform/web/http_limits.hpp"
#include "platform/web/web_request_handler.hpp"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace platform {

namespace {

// An eventfd used as a level-triggered flag that wakes every poll() waiting on it.
class TWakeEvent {
public:
    TWakeEvent()
    {
        FFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (FFd < 0)
            throw Exception(std::string("eventfd: ") + std::strerror(errno));
    }
    ~TWakeEvent() { ::close(FFd); }
    TWakeEvent(const TWakeEvent&) = delete;
    TWakeEvent& operator=(const TWakeEvent&) = delete;

    void Set()
    {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(FFd, &one, sizeof one);
    }
    void Reset()
    {
        uint64_t v;
        while (::read(FFd, &v, sizeof v) > 0) {
        }
    }
    int Fd() const { return FFd; }

private:
    int FFd = -1;
};

// Two allocator settings keep a long-running server's size flat (each one, when set in the
// environment, is left to it):
// - Every connection thread would otherwise get an arena of its own (up to eight per core),
//   each keeping pages resident under the few long-lived blocks it holds, so the size would
//   creep up with the number of threads the server ever ran: one arena per core instead
//   (threads still keep their own caches of small blocks).
// - Blocks from 256 KiB up (a batch of history lines, a large body) are mapped and unmapped on
//   their own. By default that limit rises to the largest such block ever freed, and from then
//   on those blocks come from the heap and fragment it for good.
void TuneAllocator()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!std::getenv("MALLOC_ARENA_MAX"))
            ::mallopt(M_ARENA_MAX, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
        if (!std::getenv("MALLOC_MMAP_THRESHOLD_"))
            ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    });
}

// The Date header changes once a second: each connection thread formats it once per second.
const std::string& HttpDate()
{
    thread_local std::time_t last = -1;
    thread_local std::string text;
    std::time_t now = std::time(nullptr);
    if (now != last) {
        std::tm tm {};
        ::gmtime_r(&now, &tm);
        char buf[64];
        size_t n = std::strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
        text.assign(buf, n);
        last = now;
    }
    return text;
}

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

bool IsAscii(std::string_view AText)
{
    return std::all_of(AText.begin(), AText.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The reply text (UTF-8) in the charset its content type names; unknown charsets keep UTF-8.
std::string EncodeText(const std::string& AText, const std::string& ACharset)
{
    if (ACharset.empty() || AsciiSameText(ACharset, "utf-8") || AsciiSameText(ACharset, "utf8"))
        return AText;
    bool wide = AsciiStartsWithText(ACharset, "utf-16") || AsciiStartsWithText(ACharset, "utf-32") ||
                AsciiStartsWithText(ACharset, "ucs") || AsciiStartsWithText(ACharset, "utf-7");
    if (!wide && IsAscii(AText))
        return AText;
    UErrorCode err = U_ZERO_ERROR;
    int32_t need = ucnv_convert(ACharset.c_str(), "UTF-8", nullptr, 0, AText.data(),
                                static_cast<int32_t>(AText.size()), &err);
    if (U_FAILURE(err) && err != U_BUFFER_OVERFLOW_ERROR)
        return AText;
    std::string out(static_cast<size_t>(need), '\0');
    err = U_ZERO_ERROR;
    ucnv_convert(ACharset.c_str(), "UTF-8", out.data(), need, AText.data(), static_cast<int32_t>(AText.size()),
                 &err);
    if (U_FAILURE(err))
        return AText;
    return out;
}

std::string AddressText(const asio::ip::address& AAddress)
{
    if (AAddress.is_v6() && AAddress.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, AAddress.to_v6()).to_string();
    return AAddress.to_string();
}

// Host header before its port. A bracketed IPv6 literal keeps its brackets whole.
std::string HostWithoutPort(std::string_view AHost)
{
    if (!AHost.empty() && AHost.front() == '[') {
        size_t close = AHost.find(']');
        if (close != std::string_view::npos)
            return std::string(AHost.substr(0, close + 1));
    }
    return std::string(AHost.substr(0, AHost.find(':')));
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decoding of a path: "+" stays (it is a space only in query and form text); a "%"
// without two hex digits stays as it is; bytes that are not UTF-8 become U+FFFD.
std::string PathDecode(std::string_view APath)
{
    std::string out;
    out.reserve(APath.size());
    for (size_t i = 0; i < APath.size(); ++i) {
        if (APath[i] == '%' && i + 2 < APath.size()) {
            int hi = HexValue(APath[i + 1]), lo = HexValue(APath[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += APath[i];
    }
    return Utf8Sanitize(out);
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string Base64Decode(std::string_view AText)
{
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (char c : AText) {
        int v = Base64Value(c);
        if (v < 0)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

void IgnoreSigPipe()
{
    // sendfile(2) on a socket the client has closed raises SIGPIPE; the error code is enough.
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction old {};
        if (::sigaction(SIGPIPE, nullptr, &old) == 0 && old.sa_handler == SIG_DFL)
            ::signal(SIGPIPE, SIG_IGN);
    });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// One connection's socket with deadlines: a Beast sync stream whose waits end at the deadline
// or when the server stops. A wait for data polls the socket alone (the server stops readers by
// shutting down the reading side of their sockets, which wakes the poll); a wait to write, rare,
// also polls the server's stop event.

class TConnectionIO {
public:
    TConnectionIO(tcp::socket& ASocket, int AStopFd) : FSocket(ASocket), FStopFd(AStopFd) {}

    template <class MutableBufferSequence>
    size_t read_some(const MutableBufferSequence& ABuffers, beast::error_code& ec)
    {
        for (;;) {
            size_t n = FSocket.read_some(ABuffers, ec);
            if (ec != asio::error::would_block && ec != asio::error::try_again)
                return n;
            if (!Wait(POLLIN, FReadDeadline, ec))
                return 0;
        }
    }
    template <class MutableBufferSequence>
    size_t read_some(const MutableBufferSequence& ABuffers)
    {
        beast::error_code ec;
        size_t n = read_some(ABuffers, ec);
        if (ec)
            throw beast::system_error(ec);
        return n;
    }
    template <class ConstBufferSequence>
    size_t write_some(const ConstBufferSequence& ABuffers, beast::error_code& ec)
    {
        for (;;) {
            size_t n = FSocket.write_some(ABuffers, ec);
            if (ec != asio::error::would_block && ec != asio::error::try_again)
                return n;
            if (!Wait(POLLOUT, Clock::now() + FWriteStall, ec))
                return 0;
        }
    }
    template <class ConstBufferSequence>
    size_t write_some(const ConstBufferSequence& ABuffers)
    {
        beast::error_code ec;
        size_t n = write_some(ABuffers, ec);
        if (ec)
            throw beast::system_error(ec);
        return n;
    }

    // Waits until the socket is ready for AEvents. False with ec set on timeout
    // (timed_out), server stop (operation_aborted) or a poll error.
    bool Wait(short AEvents, Clock::time_point ADeadline, beast::error_code& ec)
    {
        for (;;) {
            auto now = Clock::now();
            if (now >= ADeadline) {
                ec = asio::error::timed_out;
                return false;
            }
            auto ms = std::chrono::ceil<std::chrono::milliseconds>(ADeadline - now).count();
            // All connection threads polling one shared event costs more than the poll itself
            // (one wait queue for all of them), so reads leave it out.
            pollfd fds[2] = {{FSocket.native_handle(), AEvents, 0}, {FStopFd, POLLIN, 0}};
            const nfds_t count = (AEvents & POLLOUT) ? 2 : 1;
            int r = ::poll(fds, count, static_cast<int>(std::min<long long>(ms, INT_MAX)));
            if (r < 0) {
                if (errno == EINTR)
                    continue;
                ec = beast::error_code(errno, beast::system_category());
                return false;
            }
            if (count > 1 && fds[1].revents) {
                ec = asio::error::operation_aborted;
                return false;
            }
            if (r > 0)
                return true; // ready, or an error/hang-up the next read or write reports
        }
    }

    void SetReadDeadline(Clock::time_point ADeadline) { FReadDeadline = ADeadline; }
    void SetWriteStall(std::chrono::milliseconds AStall) { FWriteStall = AStall; }
    int Fd() { return FSocket.native_handle(); }
    tcp::socket& Socket() { return FSocket; }

    void WriteAll(std::string_view AData)
    {
        beast::error_code ec;
        asio::write(*this, asio::buffer(AData.data(), AData.size()), ec);
        if (ec)
            Fail(ec);
    }

    // The reply of the current request (THTTPAppResponse::DoSendResponse).
    void SendReply(const TWebResponse& AResponse);
    // A reply of the server itself, before or instead of the request's own.
    void SendSimpleReply(unsigned AStatus, std::string_view AText, bool AClose);

    [[noreturn]] void Fail(const beast::error_code& ec)
    {
        FDead = true;
        throw Exception("The reply could not be sent: " + ec.message());
    }

    // Per request.
    unsigned Version = 11;
    bool KeepAlive = false;
    bool Head = false;
    // The connection closes after this reply (the reply asked for it, or its body came short).
    bool CloseAfter = false;
    // A write failed: nothing more can be sent.
    bool FDead = false;

private:
    void SendStream(TStream& AStream, int64_t ALength);

    tcp::socket& FSocket;
    int FStopFd;
    Clock::time_point FReadDeadline = Clock::now();
    std::chrono::milliseconds FWriteStall{limits::kWriteStallTimeout};
};

void TConnectionIO::SendStream(TStream& AStream, int64_t ALength)
{
    int64_t remaining = ALength;
    int handle = AStream.Handle();
    if (handle >= 0) {
        off_t offset = 0;
        while (remaining > 0) {
            size_t chunk = static_cast<size_t>(std::min<int64_t>(remaining, 1 << 30));
            ssize_t n = ::sendfile(Fd(), handle, &offset, chunk);
            if (n > 0) {
                remaining -= n;
            } else if (n == 0) {
                CloseAfter = true; // the file is shorter than announced: the client sees it end early
                return;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                beast::error_code ec;
                if (!Wait(POLLOUT, Clock::now() + FWriteStall, ec))
                    Fail(ec);
            } else if (errno == EINTR) {
                continue;
            } else if (errno == EINVAL || errno == ENOSYS) {
                break; // no sendfile for this descriptor: copy the rest below
            } else {
                Fail(beast::error_code(errno, beast::system_category()));
            }
        }
        if (remaining <= 0)
            return;
        AStream.SetPosition(offset);
    } else {
        AStream.SetPosition(0);
    }
    std::string buffer(64 * 1024, '\0');
    while (remaining > 0) {
        size_t want = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(buffer.size())));
        size_t got = AStream.Read(buffer.data(), want);
        if (got == 0) {
            CloseAfter = true;
            return;
        }
        WriteAll(std::string_view(buffer.data(), got));
        remaining -= static_cast<int64_t>(got);
    }
}

void TConnectionIO::SendReply(const TWebResponse& AResponse)
{
    if (FDead)
        throw Exception("The connection is closed");
    unsigned code = static_cast<unsigned>(AResponse.StatusCode());
    if (AResponse.StatusCode() < 100 || AResponse.StatusCode() > 999)
        code = 500;
    http::response<http::empty_body> res;
    res.version(Version);
    res.result(code);
    if (http::int_to_status(code) == http::status::unknown)
        res.reason("Unknown");
    const bool noBody = code < 200 || code == 204 || code == 304;

    TStream* stream = AResponse.ContentStream();
    std::string contentType = AResponse.ContentType();
    bool hasBody = stream != nullptr || !AResponse.Content().empty();
    if (contentType.empty() && hasBody)
        contentType = "text/html; charset=utf-8";
    std::string text;
    int64_t length = 0;
    if (stream) {
        length = AResponse.ContentLength() >= 0 ? AResponse.ContentLength() : stream->Size();
    } else {
        text = EncodeText(AResponse.Content(), CharsetParameter(contentType));
        length = static_cast<int64_t>(text.size());
    }

    res.set(http::field::date, HttpDate());
    if (!contentType.empty())
        res.set(http::field::content_type, HeaderSafe(contentType));
    for (const auto& [name, value] : AResponse.CustomHeaders()) {
        if (!IsToken(name))
            continue;
        if (AsciiSameText(name, "Content-Length") || AsciiSameText(name, "Transfer-Encoding"))
            continue; // framing is the server's
        if (AsciiSameText(name, "Connection")) {
            if (AsciiSameText(TrimControl(value), "close"))
                CloseAfter = true;
            continue;
        }
        res.insert(name, HeaderSafe(value));
    }
    if (!noBody)
        res.content_length(static_cast<uint64_t>(length));
    res.keep_alive(KeepAlive && !CloseAfter);

    // One write for the header and a text body; a file's header goes out with MSG_MORE so
    // that it shares a segment with the file's first bytes.
    std::string head;
    {
        http::response_serializer<http::empty_body> sr(res);
        sr.split(true);
        beast::error_code hec;
        while (!sr.is_header_done() && !hec)
            sr.next(hec, [&](beast::error_code&, const auto& ABuffers) {
                for (auto b : beast::buffers_range_ref(ABuffers))
                    head.append(static_cast<const char*>(b.data()), b.size());
                sr.consume(beast::buffer_bytes(ABuffers));
            });
    }
    if (noBody || Head || (stream && length <= 0)) {
        WriteAll(head);
        return;
    }
    if (stream) {
        for (size_t done = 0; done < head.size();) {
            ssize_t n = ::send(Fd(), head.data() + done, head.size() - done, MSG_MORE | MSG_NOSIGNAL);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                beast::error_code wec;
                if (!Wait(POLLOUT, Clock::now() + FWriteStall, wec))
                    Fail(wec);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                Fail(beast::error_code(errno, beast::system_category()));
            }
        }
        SendStream(*stream, length);
    } else {
        head += text;
        WriteAll(head);
    }
}

void TConnectionIO::SendSimpleReply(unsigned AStatus, std::string_view AText, bool AClose)
{
    if (FDead)
        return;
    if (AClose)
        CloseAfter = true;
    TWebResponse plain;
    plain.SetStatusCode(static_cast<int>(AStatus));
    plain.SetContentType("text/plain; charset=utf-8");
    plain.SetContent(std::string(AText));
    try {
        SendReply(plain);
    } catch (const Exception&) {
        // the client is gone
    }
}

// ---------------------------------------------------------------------------------------------

void THTTPAppResponse::DoSendResponse()
{
    FIO.SendReply(*this);
}

// ---------------------------------------------------------------------------------------------

struct THTTPWebBrokerBridge::TImpl {
    struct TListener {
        explicit TListener(asio::io_context& AIo) : Acceptor(AIo) {}
        tcp::acceptor Acceptor;
        std::string IP;
        int Port = 0;
    };
    struct TConnection {
        explicit TConnection(tcp::socket ASocket) : Socket(std::move(ASocket)) {}
        tcp::socket Socket;
        std::thread Thread;
        std::atomic<bool> Done{false};
        // Guards the descriptor between the server stopping it and its thread closing it, so a
        // stop never shuts down a descriptor that was closed and reused meanwhile.
        std::mutex SocketLock;
        bool Closed = false;
    };

    asio::io_context Io;
    TWakeEvent ListenStop;
    TWakeEvent ConnectionStop;
    std::list<std::unique_ptr<TListener>> Listeners;
    std::thread AcceptThread;
    std::mutex Lock; // guards Connections
    std::list<std::unique_ptr<TConnection>> Connections;
    // Accept thread only: ended connections were joined since the last malloc_trim.
    bool TrimDue = false;
    Clock::time_point LastReap = Clock::now();
    Clock::time_point LastTrim = Clock::now();
};

bool IPv6Available()
{
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    int on = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 addr {};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_any;
    addr.sin6_port = 0;
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

THTTPWebBrokerBridge::THTTPWebBrokerBridge() : FImpl(std::make_unique<TImpl>())
{
    IgnoreSigPipe();
    TuneAllocator();
    WebRequestHandler(); // made before the server, so it outlives it at program end
}

THTTPWebBrokerBridge::~THTTPWebBrokerBridge()
{
    try {
        SetActive(false);
    } catch (...) {
    }
}

void THTTPWebBrokerBridge::OpenListeners(bool ASkipUnavailableIPv6)
{
    for (TSocketHandle& b : FBindings) {
        bool open = std::any_of(FImpl->Listeners.begin(), FImpl->Listeners.end(),
                                [&](const auto& l) { return l->IP == b.IP && l->Port == b.Port; });
        if (open)
            continue;
        beast::error_code ec;
        auto address = asio::ip::make_address(b.IP, ec);
        if (ec)
            throw Exception("Invalid listening address \"" + b.IP + "\"");
        if (b.Port < 0 || b.Port > 65535)
            throw Exception("Invalid port number " + std::to_string(b.Port));
        std::string where = (address.is_v6() ? "[" + b.IP + "]" : b.IP) + ":" + std::to_string(b.Port);
        tcp::endpoint endpoint(address, static_cast<unsigned short>(b.Port));
        auto listener = std::make_unique<TImpl::TListener>(FImpl->Io);
        tcp::acceptor& a = listener->Acceptor;
        a.open(endpoint.protocol(), ec);
        if (ec && address.is_v6() && ASkipUnavailableIPv6)
            continue;
        if (ec)
            throw Exception("Could not open a socket for " + where + ": " + ec.message());
        if (address.is_v6())
            a.set_option(asio::ip::v6_only(true), ec);
        a.set_option(tcp::acceptor::reuse_address(true), ec);
        a.bind(endpoint, ec);
        if (ec && address.is_v6() && ASkipUnavailableIPv6 &&
            (ec.value() == EADDRNOTAVAIL || ec.value() == EAFNOSUPPORT))
            continue;
        if (ec)
            throw Exception("Could not bind socket to " + where + ": " + ec.message());
        a.listen(FListenQueue > 0 ? FListenQueue : SOMAXCONN, ec);
        if (ec)
            throw Exception("Could not listen on " + where + ": " + ec.message());
        a.non_blocking(true, ec);
        b.FBoundPort = a.local_endpoint(ec).port();
        listener->IP = b.IP;
        listener->Port = b.Port;
        FImpl->Listeners.push_back(std::move(listener));
    }
}

void THTTPWebBrokerBridge::StartAcceptThread()
{
    FImpl->ListenStop.Reset();
    FImpl->AcceptThread = std::thread([this] { AcceptLoop(); });
}

void THTTPWebBrokerBridge::StopAcceptThread()
{
    if (FImpl->AcceptThread.joinable()) {
        FImpl->ListenStop.Set();
        FImpl->AcceptThread.join();
        FImpl->ListenStop.Reset();
    }
}

void THTTPWebBrokerBridge::SetActive(bool AValue)
{
    if (AValue == FActive)
        return;
    if (AValue) {
        bool defaults = FBindings.Count() == 0;
        if (defaults) {
            FBindings.Add().IP = "0.0.0.0";
            FBindings[0].Port = FDefaultPort;
            if (IPv6Available()) {
                TSocketHandle& v6 = FBindings.Add();
                v6.IP = "::";
                v6.Port = FDefaultPort;
            }
        }
        FImpl->ConnectionStop.Reset();
        try {
            OpenListeners(defaults);
        } catch (...) {
            FImpl->Listeners.clear();
            throw;
        }
        StartAcceptThread();
        FActive = true;
    } else {
        StopListening();
        CloseConnections();
        FActive = false;
    }
}

void THTTPWebBrokerBridge::StartListening()
{
    if (!FActive)
        return;
    size_t before = FImpl->Listeners.size();
    bool missing = false;
    for (TSocketHandle& b : FBindings)
        missing = missing || std::none_of(FImpl->Listeners.begin(), FImpl->Listeners.end(),
                                          [&](const auto& l) { return l->IP == b.IP && l->Port == b.Port; });
    if (!missing && FImpl->AcceptThread.joinable())
        return;
    StopAcceptThread();
    try {
        OpenListeners(false);
    } catch (...) {
        while (FImpl->Listeners.size() > before)
            FImpl->Listeners.pop_back();
        StartAcceptThread();
        throw;
    }
    StartAcceptThread();
}

void THTTPWebBrokerBridge::StopListening()
{
    StopAcceptThread();
    FImpl->Listeners.clear();
}

void THTTPWebBrokerBridge::CloseConnections()
{
    std::list<std::unique_ptr<TImpl::TConnection>> all;
    FImpl->ConnectionStop.Set();
    {
        std::lock_guard lock(FImpl->Lock);
        all.swap(FImpl->Connections);
    }
    // Ends every read at once (waiting or to come) with end of stream; a reply being written
    // still goes out, and a write waiting for a stalled client sees the stop event.
    for (auto& c : all) {
        std::lock_guard lock(c->SocketLock);
        if (!c->Closed)
            ::shutdown(c->Socket.native_handle(), SHUT_RD);
    }
    for (auto& c : all)
        if (c->Thread.joinable())
            c->Thread.join();
    FImpl->ConnectionStop.Reset();
}

void THTTPWebBrokerBridge::ReapFinished()
{
    std::list<std::unique_ptr<TImpl::TConnection>> done;
    {
        std::lock_guard lock(FImpl->Lock);
        for (auto it = FImpl->Connections.begin(); it != FImpl->Connections.end();) {
            auto next = std::next(it);
            if ((*it)->Done.load())
                done.splice(done.end(), FImpl->Connections, it);
            it = next;
        }
    }
    for (auto& c : done)
        if (c->Thread.joinable())
            c->Thread.join();
    const auto now = Clock::now();
    if (!done.empty()) {
        FImpl->TrimDue = true;
        FImpl->LastReap = now;
    }
    // What ended connections freed goes back to the system instead of staying resident in the
    // allocator's arenas: once they stop ending for a moment, or once a second while they go on
    // ending (a trim walks every arena).
    if (FImpl->TrimDue && (now - FImpl->LastReap >= std::chrono::milliseconds(100) ||
                           now - FImpl->LastTrim >= std::chrono::seconds(1))) {
        ::malloc_trim(0);
        FImpl->TrimDue = false;
        FImpl->LastTrim = Clock::now();
    }
}

void THTTPWebBrokerBridge::AcceptLoop()
{
    std::vector<pollfd> fds;
    fds.push_back({FImpl->ListenStop.Fd(), POLLIN, 0});
    for (auto& l : FImpl->Listeners)
        fds.push_back({l->Acceptor.native_handle(), POLLIN, 0});
    std::vector<TImpl::TListener*> listeners;
    for (auto& l : FImpl->Listeners)
        listeners.push_back(l.get());

    for (;;) {
        for (auto& p : fds)
            p.revents = 0;
        // Wake now and then to join connection threads that have ended (and trim after them).
        int r = ::poll(fds.data(), fds.size(), FImpl->TrimDue ? 100 : 250);
        if (r < 0 && errno != EINTR)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (fds[0].revents)
            return;
        ReapFinished();
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            for (int burst = 0; burst < 64; ++burst) {
                tcp::socket socket(FImpl->Io);
                beast::error_code ec;
                listeners[i - 1]->Acceptor.accept(socket, ec);
                if (ec == asio::error::would_block || ec == asio::error::try_again)
                    break;
                if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space ||
                    ec == asio::error::no_memory) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    break;
                }
                if (ec)
                    continue; // the peer gave up before we took it (connection aborted)
                Accepted(&socket);
            }
        }
    }
}

void THTTPWebBrokerBridge::Accepted(void* ASocket)
{
    tcp::socket& socket = *static_cast<tcp::socket*>(ASocket);
    beast::error_code ec;
    socket.set_option(tcp::no_delay(true), ec);
    socket.non_blocking(true, ec);

    int cap = limits::kMaxOpenConnections;
    if (FMaxConnections > 0)
        cap = std::min(cap, FMaxConnections);
    if (FOpenConnections.load() >= cap) {
        // Best effort, never blocking the accept loop.
        static const std::string busy = "HTTP/1.1 503 Service Unavailable\r\n"
                                        "Content-Type: text/plain; charset=utf-8\r\n"
                                        "Content-Length: 26\r\nConnection: close\r\n\r\n"
                                        "Too many open connections.";
        [[maybe_unused]] ssize_t n = ::send(socket.native_handle(), busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        socket.shutdown(tcp::socket::shutdown_send, ec);
        socket.close(ec);
        return;
    }

    std::lock_guard lock(FImpl->Lock);
    auto connection = std::make_unique<TImpl::TConnection>(std::move(socket));
    TImpl::TConnection* raw = connection.get();
    FOpenConnections.fetch_add(1);
    try {
        raw->Thread = std::thread([this, raw] { ServeConnection(raw); });
    } catch (const std::system_error&) {
        FOpenConnections.fetch_sub(1);
        raw->Socket.close(ec);
        return; // no thread left to serve it
    }
    FImpl->Connections.push_back(std::move(connection));
}

void THTTPWebBrokerBridge::ServeConnection(void* AConnection)
{
    auto* connection = static_cast<TImpl::TConnection*>(AConnection);
    tcp::socket& socket = connection->Socket;
    TConnectionIO io(socket, FImpl->ConnectionStop.Fd());
    beast::error_code ec;
    bool linger = false;

    auto run = [&] {
        std::string remoteAddr;
        auto remote = socket.remote_endpoint(ec);
        if (!ec)
            remoteAddr = AddressText(remote.address());
        if (FTLSIOHandler) {
            bool useTLS = false;
            if (OnQuerySSLPort)
                OnQuerySSLPort(socket.local_endpoint(ec).port(), useTLS);
            if (useTLS)
                return; // this build has no TLS: a TLS client cannot be served
        }

        beast::flat_buffer buffer;
        for (;;) {
            if (buffer.size() == 0 && !io.Wait(POLLIN, Clock::now() + FIdleTimeout, ec))
                return; // idle keep-alive (or silent) connection, or the server stops
            io.SetReadDeadline(Clock::now() + FRequestTimeout);
            http::request_parser<http::string_body> parser;
            parser.header_limit(static_cast<std::uint32_t>(limits::kMaxHeaderBytes));
            parser.body_limit(static_cast<std::uint64_t>(limits::kMaxBodyBytes));

            auto refuse = [&](const beast::error_code& AError) {
                io.Version = 11;
                io.Head = false;
                io.KeepAlive = false;
                if (AError == http::error::header_limit)
                    io.SendSimpleReply(431, "Request Header Fields Too Large", true);
                else if (AError == http::error::body_limit)
                    io.SendSimpleReply(413, "Payload Too Large", true);
                else if (AError == asio::error::timed_out)
                    io.SendSimpleReply(408, "Request Timeout", true);
                else if (AError == http::error::end_of_stream || AError == http::error::partial_message ||
                         AError == asio::error::eof || AError == asio::error::operation_aborted ||
                         AError.category() == asio::error::get_system_category())
                    return; // the client went away, or the server stops
                else
                    io.SendSimpleReply(400, "Bad Request", true);
                linger = true;
            };

            http::read_header(io, buffer, parser, ec);
            if (ec)
                return refuse(ec);
            {
                auto& header = parser.get();
                if (AsciiSameText(header[http::field::expect], "100-continue") && !parser.is_done()) {
                    try {
                        io.WriteAll("HTTP/1.1 100 Continue\r\n\r\n");
                    } catch (const Exception&) {
                        return;
                    }
                }
            }
            if (!parser.is_done()) {
                http::read(io, buffer, parser, ec);
                if (ec)
                    return refuse(ec);
            }
            http::request<http::string_body> msg = parser.release();

            io.Version = msg.version();
            io.Head = msg.method() == http::verb::head;
            io.KeepAlive = FKeepAlive && msg.keep_alive();
            io.CloseAfter = false;

            THTTPAppRequest request;
            THTTPAppResponse response(io);
            request.SetMethod(std::string(msg.method_string()));
            std::string_view target = msg.target();
            if (AsciiStartsWithText(target, "http://") || AsciiStartsWithText(target, "https://")) {
                size_t slash = target.find('/', target.find("//") + 2);
                target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
            }
            size_t question = target.find('?');
            std::string_view path = target.substr(0, question);
            request.SetRawPathInfo(std::string(path));
            request.SetPathInfo(PathDecode(path));
            if (question != std::string_view::npos)
                request.SetQuery(std::string(target.substr(question + 1)));
            request.SetRemoteAddr(remoteAddr);
            std::string authorization;
            bool hasAuthorization = false;
            for (const auto& field : msg) {
                std::string name(field.name_string());
                std::string value(field.value());
                request.AddRawHeader(name + ": " + value);
                if (AsciiSameText(name, "Host") && request.Host().empty())
                    request.SetHost(HostWithoutPort(value));
                else if (AsciiSameText(name, "Content-Type") && request.ContentType().empty())
                    request.SetContentType(StripCharsetParameter(value));
                else if (AsciiSameText(name, "Authorization") && !hasAuthorization) {
                    authorization = value;
                    hasAuthorization = true;
                }
                request.AddHeaderField(std::move(name), std::move(value));
            }
            request.SetRawContent(std::move(msg.body()));

            if (hasAuthorization) {
                std::string_view auth = TrimControl(authorization);
                size_t blank = auth.find(' ');
                std::string scheme(auth.substr(0, blank));
                std::string data(blank == std::string_view::npos ? std::string_view() : TrimControl(auth.substr(blank)));
                std::string user, password;
                bool handled = false;
                if (OnParseAuthentication)
                    OnParseAuthentication(scheme, data, user, password, handled);
                if (!handled) {
                    if (!AsciiSameText(scheme, "Basic")) {
                        io.SendSimpleReply(401, "Unsupported authorization scheme.", false);
                        if (io.FDead || io.CloseAfter || !io.KeepAlive)
                            return;
                        continue;
                    }
                    std::string decoded = Base64Decode(data);
                    size_t colon = decoded.find(':');
                    user = decoded.substr(0, colon);
                    password = colon == std::string::npos ? std::string() : decoded.substr(colon + 1);
                }
                request.SetAuth(std::move(user), std::move(password));
            }

            try {
                WebRequestHandler().HandleRequest(request, response);
            } catch (...) {
                // Refused by the handler (all modules in use), or the error page itself failed.
                if (!response.Sent() && !io.FDead) {
                    try {
                        response.SetContentStream(nullptr);
                        response.SetContentLength(-1);
                        response.SetCustomHeader("Content-Disposition", "");
                        response.SetStatusCode(500);
                        response.SetContent(ErrorMessageOf(std::current_exception()));
                        response.SendResponse();
                    } catch (...) {
                        return;
                    }
                }
            }
            if (!response.Sent() && !io.FDead) {
                // Not handled by any action: nothing answered it.
                try {
                    response.SetStatusCode(404);
                    response.SendResponse();
                } catch (...) {
                    return;
                }
            }
            if (io.FDead || io.CloseAfter || !io.KeepAlive)
                return;
        }
    };
    try {
        run();
    } catch (...) {
        // a failure of one connection never ends the server
    }

    if (linger && !io.FDead) {
        // Read and drop what the client still sends, so it reads our reply instead of a reset.
        socket.shutdown(tcp::socket::shutdown_send, ec);
        auto until = Clock::now() + limits::kLingerTime;
        size_t dropped = 0;
        char sink[16 * 1024];
        while (dropped < limits::kLingerBytes) {
            beast::error_code rec;
            io.SetReadDeadline(until);
            size_t n = io.read_some(asio::buffer(sink), rec);
            if (rec)
                break;
            dropped += n;
        }
    }
    {
        std::lock_guard lock(connection->SocketLock);
        socket.shutdown(tcp::socket::shutdown_both, ec);
        socket.close(ec);
        connection->Closed = true;
    }
    FOpenConnections.fetch_sub(1);
    connection->Done.store(true);
}

void THTTPWebBrokerBridge::ServeConnectedSocket(int AFd)
{
    tcp::socket socket(FImpl->Io);
    beast::error_code ec;
    socket.assign(tcp::v4(), AFd, ec); // the protocol only types the handle; reads and writes ignore it
    if (ec) {
        ::close(AFd);
        throw Exception("Not a socket: " + ec.message());
    }
    socket.non_blocking(true, ec);
    TImpl::TConnection connection(std::move(socket));
    FOpenConnections.fetch_add(1);
    ServeConnection(&connection);
}

} // namespace platform
