#pragma once
// Test helpers for HTTP over real loopback sockets: run the curl program, talk raw HTTP over a
// socket, pick a free port, wait on state. Header-only; every wait is bounded in time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testing_support {

inline std::string AsciiLowerCopy(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// One HTTP response as received: status, header lines and the body bytes.
struct THttpReply {
    int Status = 0;
    std::string StatusLine;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;

    // Value of the first header of that name (case ignored); nullopt when absent.
    std::optional<std::string> Header(const std::string& AName) const
    {
        std::string want = AsciiLowerCopy(AName);
        for (const auto& [n, v] : Headers)
            if (AsciiLowerCopy(n) == want)
                return v;
        return std::nullopt;
    }
    std::string HeaderOr(const std::string& AName, const std::string& ADefault = "") const
    {
        auto v = Header(AName);
        return v ? *v : ADefault;
    }
};

// Parses "status line, headers, blank line" at the start of AText; returns the offset after the
// blank line, or npos when the header block is incomplete.
inline size_t ParseReplyHead(const std::string& AText, size_t AFrom, THttpReply& AReply)
{
    size_t end = AText.find("\r\n\r\n", AFrom);
    if (end == std::string::npos)
        return std::string::npos;
    AReply = THttpReply{};
    size_t lineEnd = AText.find("\r\n", AFrom);
    AReply.StatusLine = AText.substr(AFrom, lineEnd - AFrom);
    size_t sp = AReply.StatusLine.find(' ');
    if (sp != std::string::npos)
        AReply.Status = std::atoi(AReply.StatusLine.c_str() + sp + 1);
    size_t pos = lineEnd + 2;
    while (pos < end) {
        size_t e = AText.find("\r\n", pos);
        std::string line = AText.substr(pos, e - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            size_t b = value.find_first_not_of(" \t");
            value = b == std::string::npos ? std::string() : value.substr(b);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
                value.pop_back();
            AReply.Headers.emplace_back(line.substr(0, colon), value);
        }
        pos = e + 2;
    }
    return end + 4;
}

// ---------------------------------------------------------------------------------------------
// curl

struct TCurlResult {
    int ExitCode = -1;               // curl's exit status (0 ok, 7 could not connect, 28 timeout, 52 empty reply...)
    std::string Output;              // everything curl wrote to stdout
    THttpReply Reply;                // with -i: the last (final) response of the output
    std::vector<THttpReply> Replies; // with -i and several URLs: one per response, interim 1xx skipped
};

// Runs curl with the given arguments (no shell). Adds -s and --max-time unless AAddDefaults is
// false. With AInclude (-i), splits the output into responses; bodies are split by
// Content-Length, so use it for servers that send one.
inline TCurlResult Curl(std::vector<std::string> AArgs, bool AInclude = true, int AMaxSeconds = 20)
{
    std::vector<std::string> args = {"curl", "-s", "--max-time", std::to_string(AMaxSeconds)};
    if (AInclude)
        args.push_back("-i");
    for (auto& a : AArgs)
        args.push_back(std::move(a));
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", 0, 0);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, "curl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    TCurlResult result;
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error("cannot run curl");
    }
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0)
            result.Output.append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

    if (AInclude) {
        size_t pos = 0;
        while (pos < result.Output.size() && result.Output.compare(pos, 5, "HTTP/") == 0) {
            THttpReply reply;
            size_t bodyStart = ParseReplyHead(result.Output, pos, reply);
            if (bodyStart == std::string::npos)
                break;
            if (reply.Status >= 100 && reply.Status < 200) {
                pos = bodyStart;
                continue;
            }
            size_t length = result.Output.size() - bodyStart;
            if (auto cl = reply.Header("Content-Length"))
                length = std::min<size_t>(length, std::stoull(*cl));
            reply.Body = result.Output.substr(bodyStart, length);
            pos = bodyStart + length;
            result.Replies.push_back(reply);
        }
        if (!result.Replies.empty())
            result.Reply = result.Replies.back();
    }
    return result;
}

inline std::string LoopbackUrl(int APort, const std::string& APathAndQuery = "/")
{
    return "http://127.0.0.1:" + std::to_string(APort) + APathAndQuery;
}

// ---------------------------------------------------------------------------------------------
// ports and threads

inline bool CanBind(int AFamily, int APort)
{
    int fd = ::socket(AFamily, SOCK_STREAM, 0);
    if (fd < 0)
        return AFamily == AF_INET6; // no IPv6 at all: nothing can clash there
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    bool ok;
    if (AFamily == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        a.sin_port = htons(static_cast<uint16_t>(APort));
        ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    } else {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_any;
        a.sin6_port = htons(static_cast<uint16_t>(APort));
        ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || errno == EADDRNOTAVAIL;
    }
    ::close(fd);
    return ok;
}

// A TCP port free on every IPv4 and IPv6 address at this moment, as the system picks it.
inline int SystemPickedPort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        int port = ntohs(a.sin_port);
        ::close(fd);
        if (CanBind(AF_INET, port) && CanBind(AF_INET6, port))
            return port;
    }
    throw std::runtime_error("no free port");
}

// A TCP port free on every IPv4 and IPv6 address at this moment, below the system's range for
// outgoing connections: a test server may be stopped and started again on its port, and a port
// from that range may meanwhile become the local end of some connection, so the restart fails.
inline int FreePort()
{
    int low = 32768;
    if (std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range"); range)
        range >> low;
    if (low <= 10000)
        return SystemPickedPort(); // no room below it: take the system's pick
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(10000, low - 1);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int port = pick(random);
        if (CanBind(AF_INET, port) && CanBind(AF_INET6, port))
            return port;
    }
    throw std::runtime_error("no free port below the outgoing range");
}

// Whether ::1 can be used here.
inline bool HaveIPv6Loopback()
{
    int fd = ::socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Polls APredicate every 10 ms until it holds or ATimeout passes; returns its last value.
template <class F>
bool WaitFor(F APredicate, std::chrono::milliseconds ATimeout = std::chrono::seconds(10))
{
    auto until = std::chrono::steady_clock::now() + ATimeout;
    while (!APredicate()) {
        if (std::chrono::steady_clock::now() >= until)
            return APredicate();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// raw sockets

class TRawClient {
public:
    TRawClient() = default;
    TRawClient(const std::string& AHost, int APort) { Connect(AHost, APort); }
    ~TRawClient() { Close(); }
    TRawClient(const TRawClient&) = delete;
    TRawClient& operator=(const TRawClient&) = delete;
    TRawClient(TRawClient&& A) noexcept : FFd(A.FFd), FPending(std::move(A.FPending)) { A.FFd = -1; }

    // Throws when the connection cannot be made within 5 s.
    void Connect(const std::string& AHost, int APort)
    {
        Close();
        bool v6 = AHost.find(':') != std::string::npos;
        FFd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
        int on = 1;
        ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        timeval tv{5, 0};
        ::setsockopt(FFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        int rc;
        if (v6) {
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            ::inet_pton(AF_INET6, AHost.c_str(), &a.sin6_addr);
            a.sin6_port = htons(static_cast<uint16_t>(APort));
            rc = ::connect(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        } else {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            ::inet_pton(AF_INET, AHost.c_str(), &a.sin_addr);
            a.sin_port = htons(static_cast<uint16_t>(APort));
            rc = ::connect(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        if (rc != 0) {
            const int error = errno;
            Close(); // the socket goes with the failed attempt
            throw std::runtime_error(std::string("connect failed: ") + std::strerror(error));
        }
    }

    void Close()
    {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
        FPending.clear();
    }

    // Sends all bytes; false when the peer closed or reset (or 5 s without progress).
    bool Send(const std::string& AData)
    {
        size_t sent = 0;
        while (sent < AData.size()) {
            ssize_t n = ::send(FFd, AData.data() + sent, AData.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                return false;
            }
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    // Reads what arrives within ATimeout; false on timeout, true when data or EOF came.
    // AEof tells which.
    bool ReadSome(std::chrono::milliseconds ATimeout, bool& AEof)
    {
        AEof = false;
        pollfd p{FFd, POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(ATimeout.count()));
        if (r <= 0)
            return false;
        char buf[65536];
        ssize_t n = ::recv(FFd, buf, sizeof buf, 0);
        if (n <= 0) {
            AEof = true;
            return true;
        }
        FPending.append(buf, static_cast<size_t>(n));
        return true;
    }

    // Reads one response (body by Content-Length; none for 1xx/204/304 or when AHead);
    // nullopt when the connection ends or ATimeout passes first.
    std::optional<THttpReply> ReadReply(std::chrono::milliseconds ATimeout = std::chrono::seconds(10),
                                        bool AHead = false)
    {
        auto until = std::chrono::steady_clock::now() + ATimeout;
        for (;;) {
            THttpReply reply;
            size_t bodyStart = ParseReplyHead(FPending, 0, reply);
            if (bodyStart != std::string::npos) {
                size_t length = 0;
                bool noBody = AHead || reply.Status < 200 || reply.Status == 204 || reply.Status == 304;
                if (!noBody)
                    if (auto cl = reply.Header("Content-Length"))
                        length = std::stoull(*cl);
                if (FPending.size() - bodyStart >= length) {
                    reply.Body = FPending.substr(bodyStart, length);
                    FPending.erase(0, bodyStart + length);
                    return reply;
                }
            }
            auto now = std::chrono::steady_clock::now();
            if (now >= until)
                return std::nullopt;
            bool eof = false;
            if (!ReadSome(std::chrono::duration_cast<std::chrono::milliseconds>(until - now), eof) || eof)
                return std::nullopt;
        }
    }

    // True when the peer closes (EOF or reset) within ATimeout; bytes that come first are kept.
    bool WaitClosed(std::chrono::milliseconds ATimeout = std::chrono::seconds(10))
    {
        auto until = std::chrono::steady_clock::now() + ATimeout;
        for (;;) {
            auto now = std::chrono::steady_clock::now();
            if (now >= until)
                return false;
            bool eof = false;
            if (!ReadSome(std::chrono::duration_cast<std::chrono::milliseconds>(until - now), eof))
                return false;
            if (eof)
                return true;
        }
    }

    // Bytes received and not yet taken by ReadReply.
    const std::string& Pending() const { return FPending; }
    int Fd() const { return FFd; }

private:
    int FFd = -1;
    std::string FPending;
};

// One request on a new connection; the reply or nullopt.
inline std::optional<THttpReply> RawExchange(int APort, const std::string& ARequest,
                                             std::chrono::milliseconds ATimeout = std::chrono::seconds(10))
{
    TRawClient c("127.0.0.1", APort);
    if (!c.Send(ARequest))
        return std::nullopt;
    return c.ReadReply(ATimeout);
}

} // namespace testing_support
