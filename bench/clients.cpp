// Many clients at once against one server, for the connection measurements of bench/run.
//
//   bench_clients hold PORT N SECONDS [SERVER_PID]
//       opens N connections that never send a byte, prints "READY n" once n are open (n < N
//       when the server refused some), keeps them open for SECONDS (or until stdin closes),
//       then closes them. The server's listen queue is short (15): they are opened 8 at a time
//       and, given the server's pid, each batch waits until the server holds the ones before
//       (its count of open descriptors), so none has to try again a second later.
//   bench_clients burst PORT N PATH
//       starts N connections at the same moment, each sending one GET PATH; prints
//       "RESULT clients=N served=S refused=R failed=F all_ms=T p50_ms=.. p99_ms=.." where
//       served got a 200, refused a 503, a reset or no connection at all (the system gives up
//       a connect after its SYN retries, about two minutes), failed nothing within 135 s, and
//       all_ms is the time until the last one was served.
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int StartConnect(int APort)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(APort));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Connected(int AFd)
{
    int err = 0;
    socklen_t len = sizeof err;
    return ::getsockopt(AFd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

// Open descriptors of the process APid, or -1.
int DescriptorCount(int APid)
{
    if (APid <= 0)
        return -1;
    DIR* dir = ::opendir(("/proc/" + std::to_string(APid) + "/fd").c_str());
    if (!dir)
        return -1;
    int n = 0;
    while (dirent* e = ::readdir(dir))
        n += e->d_name[0] != '.';
    ::closedir(dir);
    return n;
}

int Hold(int APort, int ACount, int ASeconds, int AServerPid)
{
    const int base = DescriptorCount(AServerPid);
    std::vector<int> open;
    open.reserve(static_cast<size_t>(ACount));
    const auto giveUp = Clock::now() + std::chrono::seconds(60);
    while (static_cast<int>(open.size()) < ACount && Clock::now() < giveUp) {
        std::vector<pollfd> batch;
        for (int i = 0; i < 8 && static_cast<int>(open.size() + batch.size()) < ACount; ++i) {
            int fd = StartConnect(APort);
            if (fd < 0)
                break;
            batch.push_back({fd, POLLOUT, 0});
        }
        if (batch.empty())
            break;
        const auto until = Clock::now() + std::chrono::seconds(10);
        size_t pending = batch.size();
        while (pending > 0 && Clock::now() < until) {
            if (::poll(batch.data(), batch.size(), 100) < 0 && errno != EINTR)
                break;
            for (auto& p : batch)
                if (p.fd >= 0 && p.revents) {
                    if (Connected(p.fd))
                        open.push_back(p.fd);
                    else
                        ::close(p.fd);
                    p.fd = -1;
                    --pending;
                }
        }
        for (auto& p : batch)
            if (p.fd >= 0)
                ::close(p.fd);
        if (base >= 0) {
            const auto taken = Clock::now() + std::chrono::seconds(5);
            while (DescriptorCount(AServerPid) < base + static_cast<int>(open.size()) && Clock::now() < taken)
                ::usleep(200);
        }
    }
    std::printf("READY %zu\n", open.size());
    std::fflush(stdout);
    pollfd in{0, POLLIN, 0};
    const auto until = Clock::now() + std::chrono::seconds(ASeconds);
    while (Clock::now() < until) {
        int left =
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
        if (::poll(&in, 1, std::max(left, 1)) > 0)
            break; // stdin closed (or written to): done
    }
    for (int fd : open)
        ::close(fd);
    return 0;
}

int Burst(int APort, int ACount, const std::string& APath)
{
    struct TClient {
        int Fd = -1;
        bool Sent = false;
        std::string Reply;
        int Outcome = 0; // 0 pending, 1 served, 2 refused, 3 failed
        double Ms = 0;
    };
    const std::string request = "GET " + APath + " HTTP/1.1\r\nHost: bench\r\nConnection: close\r\n\r\n";
    std::vector<TClient> clients(static_cast<size_t>(ACount));
    const auto start = Clock::now();
    for (auto& c : clients) {
        c.Fd = StartConnect(APort);
        if (c.Fd < 0)
            c.Outcome = 3;
    }
    const auto giveUp = start + std::chrono::seconds(135); // past the last SYN retry (~127 s)
    auto finish = [&](TClient& c, int AOutcome) {
        c.Outcome = AOutcome;
        c.Ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ::close(c.Fd);
        c.Fd = -1;
    };
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<TClient*> owners;
        for (auto& c : clients)
            if (c.Outcome == 0) {
                fds.push_back({c.Fd, static_cast<short>(c.Sent ? POLLIN : POLLOUT), 0});
                owners.push_back(&c);
            }
        if (fds.empty() || Clock::now() >= giveUp)
            break;
        if (::poll(fds.data(), fds.size(), 100) < 0 && errno != EINTR)
            break;
        for (size_t i = 0; i < fds.size(); ++i) {
            TClient& c = *owners[i];
            if (!fds[i].revents)
                continue;
            if (!c.Sent) {
                if (!Connected(c.Fd)) {
                    finish(c, 2); // refused or reset
                    continue;
                }
                if (::send(c.Fd, request.data(), request.size(), MSG_NOSIGNAL) !=
                    static_cast<ssize_t>(request.size())) {
                    finish(c, 2);
                    continue;
                }
                c.Sent = true;
                continue;
            }
            char buffer[4096];
            ssize_t n = ::recv(c.Fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                c.Reply.append(buffer, static_cast<size_t>(n));
                continue;
            }
            // The server closed (after its reply, with Connection: close) or reset.
            if (c.Reply.rfind("HTTP/1.1 200", 0) == 0)
                finish(c, 1);
            else
                finish(c, 2);
        }
    }
    int served = 0, refused = 0, failed = 0;
    std::vector<double> times;
    double last = 0;
    for (auto& c : clients) {
        if (c.Outcome == 0) {
            c.Outcome = 3;
            ::close(c.Fd);
        }
        served += c.Outcome == 1;
        refused += c.Outcome == 2;
        failed += c.Outcome == 3;
        if (c.Outcome == 1) {
            times.push_back(c.Ms);
            last = std::max(last, c.Ms);
        }
    }
    std::sort(times.begin(), times.end());
    auto at = [&](double AShare) {
        return times.empty() ? 0.0 : times[static_cast<size_t>(AShare * (times.size() - 1))];
    };
    std::printf("RESULT clients=%d served=%d refused=%d failed=%d all_ms=%.1f p50_ms=%.1f p99_ms=%.1f\n", ACount,
                served, refused, failed, last, at(0.5), at(0.99));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    RaiseDescriptorLimit();
    if ((argc == 5 || argc == 6) && !std::strcmp(argv[1], "hold"))
        return Hold(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argc == 6 ? std::atoi(argv[5]) : 0);
    if (argc == 5 && !std::strcmp(argv[1], "burst"))
        return Burst(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    std::fprintf(stderr, "usage: %s hold PORT N SECONDS [SERVER_PID] | burst PORT N PATH\n", argv[0]);
    return 2;
}
