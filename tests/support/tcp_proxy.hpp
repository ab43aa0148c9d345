#pragma once
// A loopback TCP forwarder between a client and a server, for tests that need a server
// that goes away (Down), comes back (Up) or drops every open link (Cut).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace testsupport {

class TTcpProxy {
public:
    explicit TTcpProxy(uint16_t ATargetPort) : FTarget(ATargetPort)
    {
        if (pipe2(FWake, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error("pipe");
        Listen();
        FThread = std::thread([this] { Loop(); });
    }
    ~TTcpProxy()
    {
        Apply(TOp::Quit);
        FThread.join();
        close(FWake[0]);
        close(FWake[1]);
    }
    TTcpProxy(const TTcpProxy&) = delete;
    TTcpProxy& operator=(const TTcpProxy&) = delete;

    uint16_t Port() const { return FPort; }
    // Stops accepting (connections are refused) and drops every open link.
    void Down() { Apply(TOp::Down); }
    // Accepts again on the same port.
    void Up() { Apply(TOp::Up); }
    // Drops every open link; new connections are still accepted.
    void Cut() { Apply(TOp::Cut); }
    size_t Links()
    {
        std::lock_guard G(FLock);
        return FLinkCount;
    }

private:
    enum class TOp { None, Down, Up, Cut, Quit };
    struct TLink {
        int Client, Server;
    };

    void Listen()
    {
        FListener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int One = 1;
        setsockopt(FListener, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        A.sin_port = htons(FPort);
        if (bind(FListener, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || listen(FListener, 64) != 0)
            throw std::runtime_error("proxy cannot listen");
        socklen_t L = sizeof A;
        getsockname(FListener, reinterpret_cast<sockaddr*>(&A), &L);
        FPort = ntohs(A.sin_port);
    }

    void Apply(TOp AOp)
    {
        std::unique_lock G(FLock);
        FOp = AOp;
        char B = 1;
        (void)!write(FWake[1], &B, 1);
        FDone.wait_for(G, std::chrono::seconds(10), [&] { return FOp == TOp::None; });
    }

    void CutAll()
    {
        for (auto& L : FLinks) {
            shutdown(L.Client, SHUT_RDWR);
            close(L.Client);
            close(L.Server);
        }
        FLinks.clear();
    }

    void Accept()
    {
        int C = accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
        if (C < 0)
            return;
        int S = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in A{};
        A.sin_family = AF_INET;
        A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        A.sin_port = htons(FTarget);
        if (connect(S, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) {
            close(S);
            close(C);
            return;
        }
        FLinks.push_back({C, S});
    }

    // Copies what is waiting on AFrom to ATo; false when the link is over.
    static bool Pump(int AFrom, int ATo)
    {
        char Buf[65536];
        ssize_t N = read(AFrom, Buf, sizeof Buf);
        if (N <= 0)
            return false;
        for (ssize_t Off = 0; Off < N;) {
            ssize_t W = send(ATo, Buf + Off, N - Off, MSG_NOSIGNAL);
            if (W <= 0)
                return false;
            Off += W;
        }
        return true;
    }

    void Loop()
    {
        for (;;) {
            {
                std::lock_guard G(FLock);
                switch (FOp) {
                case TOp::Down:
                    CutAll();
                    if (FListener >= 0)
                        close(FListener);
                    FListener = -1;
                    break;
                case TOp::Up:
                    if (FListener < 0)
                        Listen();
                    break;
                case TOp::Cut: CutAll(); break;
                case TOp::Quit:
                    CutAll();
                    if (FListener >= 0)
                        close(FListener);
                    FOp = TOp::None;
                    FDone.notify_all();
                    return;
                case TOp::None: break;
                }
                FOp = TOp::None;
                FLinkCount = FLinks.size();
                FDone.notify_all();
            }
            std::vector<pollfd> P;
            P.push_back({FWake[0], POLLIN, 0});
            if (FListener >= 0)
                P.push_back({FListener, POLLIN, 0});
            const size_t First = P.size();
            for (auto& L : FLinks) {
                P.push_back({L.Client, POLLIN, 0});
                P.push_back({L.Server, POLLIN, 0});
            }
            if (poll(P.data(), P.size(), 1000) < 0)
                continue;
            if (P[0].revents) {
                char B[64];
                while (read(FWake[0], B, sizeof B) > 0) {
                }
            }
            std::vector<TLink> Keep;
            for (size_t I = 0; I < FLinks.size(); ++I) {
                const auto& C = P[First + 2 * I];
                const auto& S = P[First + 2 * I + 1];
                bool Ok = true;
                if (C.revents)
                    Ok = Pump(FLinks[I].Client, FLinks[I].Server);
                if (Ok && S.revents)
                    Ok = Pump(FLinks[I].Server, FLinks[I].Client);
                if (Ok)
                    Keep.push_back(FLinks[I]);
                else {
                    close(FLinks[I].Client);
                    close(FLinks[I].Server);
                }
            }
            FLinks = std::move(Keep);
            if (FListener >= 0 && P[1].revents)
                Accept();
            std::lock_guard G(FLock);
            FLinkCount = FLinks.size();
        }
    }

    uint16_t FTarget;
    uint16_t FPort = 0;
    int FListener = -1;
    int FWake[2] = {-1, -1};
    std::vector<TLink> FLinks;
    std::mutex FLock;
    std::condition_variable FDone;
    TOp FOp = TOp::None;
    size_t FLinkCount = 0;
    std::thread FThread;
};

} // namespace testsupport
