#pragma once
// The listening side of the HTTP server: one acceptor per binding on the first event loop, the
// accepted connections dealt out to the loops in turn, and the open-connection cap: at the cap
// a connection lingering after its last reply makes room, else the one idle longest, else the
// busy one that makes least use of its place; only when none qualifies is a newcomer refused.
// It finds them in the loops' registries (TConnectionRegistry) from the first loop's thread, and
// reads of a connection only atomics; the one chosen is closed on its own loop.
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

namespace platform {
class TSocketHandles;
}

namespace platform::http {

class TConnection;
class TEventLoop;
struct TServerShared;

class TListener {
public:
    TListener(TServerShared& AShared, std::vector<std::unique_ptr<TEventLoop>>& ALoops);
    ~TListener();
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;

    // Opens an acceptor for every binding that has none yet (caller's thread, before or while
    // the loops run). AListenQueue: the backlog of each. With ASkipUnavailableIPv6, an IPv6
    // binding the system cannot make is left out. Throws Exception naming the address when a
    // binding cannot listen; acceptors opened by this call are closed again then.
    void Open(TSocketHandles& ABindings, int AListenQueue, bool ASkipUnavailableIPv6);
    // Whether every binding has its acceptor.
    bool Covers(const TSocketHandles& ABindings) const;
    // Starts accepting on the acceptors that do not accept yet (from any thread).
    void Start();
    // Closes every acceptor; returns once no accept runs any more (from another thread than
    // the loops'; a no-op when none is open).
    void Close();

private:
    struct TAcceptor;
    void Accept(const std::shared_ptr<TAcceptor>& AAcceptor);
    // A new connection for ALoop, counted open and queued in AArrived (by loop) to start; or,
    // at the cap with no connection idle, refused with 503.
    void Admit(boost::asio::ip::tcp::socket ASocket, TEventLoop& ALoop, const boost::asio::ip::tcp::endpoint& APeer,
               std::vector<std::vector<std::shared_ptr<TConnection>>>& AArrived);
    bool MakeRoom();
    // A lingering connection, else (unless ALingeringOnly) the oldest unfinished request, else
    // the reply waiting longest on its client (see limits::KMaxOpenConnections).
    bool MakeRoomFromBusy(bool ALingeringOnly);

    TServerShared& FShared;
    std::vector<std::unique_ptr<TEventLoop>>& FLoops;
    std::vector<std::shared_ptr<TAcceptor>> FAcceptors;
    size_t FNextLoop = 0; // accept loop's thread
};

} // namespace platform::http
