#include "platform/http/http_listener.hpp"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/post.hpp>

#include "platform/base/exception.hpp"
#include "platform/http/http_connection.hpp"
#include "platform/http/http_event_loop.hpp"
#include "platform/http/http_server.hpp"

namespace platform {

bool IPv6Available()
{
    int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    int on = 1;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_any;
    addr.sin6_port = 0;
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace platform

namespace platform::http {

namespace asio = boost::asio;
using asio::ip::tcp;
using boost::system::error_code;

namespace {

std::string AddressText(const asio::ip::address& AAddress)
{
    if (AAddress.is_v6() && AAddress.to_v6().is_v4_mapped())
        return asio::ip::make_address_v4(asio::ip::v4_mapped, AAddress.to_v6()).to_string();
    return AAddress.to_string();
}

bool OutOfResources(const error_code& AError)
{
    return AError == asio::error::no_descriptors || AError == asio::error::no_buffer_space ||
           AError == asio::error::no_memory || AError.value() == ENFILE;
}

} // namespace

struct TListener::TAcceptor {
    explicit TAcceptor(asio::io_context& AContext) : Acceptor(AContext), Retry(AContext) {}
    tcp::acceptor Acceptor;
    asio::steady_timer Retry; // after running out of descriptors
    tcp::endpoint Peer;
    std::string IP;
    int Port = 0;
    // Accept loop's thread only.
    bool Accepting = false;
    bool Closed = false;
};

TListener::TListener(TServerShared& AShared, std::vector<std::unique_ptr<TEventLoop>>& ALoops)
    : FShared(AShared), FLoops(ALoops)
{
}

TListener::~TListener() = default; // closed by the server first

bool TListener::Covers(const TSocketHandles& ABindings) const
{
    for (const TSocketHandle& b : ABindings)
        if (std::none_of(FAcceptors.begin(), FAcceptors.end(), [&](const auto& AAcceptor) {
                return !AAcceptor->Closed && AAcceptor->IP == b.IP && AAcceptor->Port == b.Port;
            }))
            return false;
    return true;
}

void TListener::Open(TSocketHandles& ABindings, int AListenQueue, bool ASkipUnavailableIPv6)
{
    const size_t before = FAcceptors.size();
    try {
        for (TSocketHandle& b : ABindings) {
            bool open = std::any_of(FAcceptors.begin(), FAcceptors.end(), [&](const auto& AAcceptor) {
                return AAcceptor->IP == b.IP && AAcceptor->Port == b.Port;
            });
            if (open)
                continue;
            error_code ec;
            auto address = asio::ip::make_address(b.IP, ec);
            if (ec)
                throw Exception("Invalid listening address \"" + b.IP + "\"");
            if (b.Port < 0 || b.Port > 65535)
                throw Exception("Invalid port number " + std::to_string(b.Port));
            std::string where = (address.is_v6() ? "[" + b.IP + "]" : b.IP) + ":" + std::to_string(b.Port);
            tcp::endpoint endpoint(address, static_cast<unsigned short>(b.Port));
            auto acceptor = std::make_shared<TAcceptor>(FLoops.front()->Context());
            tcp::acceptor& a = acceptor->Acceptor;
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
            a.listen(AListenQueue > 0 ? AListenQueue : SOMAXCONN, ec);
            if (ec)
                throw Exception("Could not listen on " + where + ": " + ec.message());
            a.non_blocking(true, ec);
            b.FBoundPort = a.local_endpoint(ec).port();
            acceptor->IP = b.IP;
            acceptor->Port = b.Port;
            FAcceptors.push_back(std::move(acceptor));
        }
    } catch (...) {
        // Not accepting yet: closed right here.
        while (FAcceptors.size() > before)
            FAcceptors.pop_back();
        throw;
    }
}

void TListener::Start()
{
    asio::post(FLoops.front()->Context(), [this] {
        for (auto& a : FAcceptors) {
            if (!a->Accepting && !a->Closed) {
                a->Accepting = true;
                Accept(a);
            }
        }
    });
}

void TListener::Close()
{
    if (FAcceptors.empty())
        return;
    TEventLoop& loop = *FLoops.front();
    loop.RunAndWait([this] {
        for (auto& a : FAcceptors) {
            a->Closed = true;
            error_code ec;
            a->Retry.cancel();
            a->Acceptor.close(ec);
        }
    });
    FAcceptors.clear(); // handlers still queued hold their acceptor and see it closed
}

void TListener::Accept(const std::shared_ptr<TAcceptor>& AAcceptor)
{
    TEventLoop& target = *FLoops[FNextLoop++ % FLoops.size()];
    AAcceptor->Acceptor.async_accept(
        target.Context(), AAcceptor->Peer,
        [this, a = AAcceptor, &target](const error_code& AError, tcp::socket ASocket) {
            if (a->Closed)
                return; // the listener may be gone
            if (AError == asio::error::operation_aborted) {
                a->Accepting = false;
                return;
            }
            if (OutOfResources(AError)) {
                // Nothing can be accepted for a moment; the listen queue holds the others.
                a->Retry.expires_after(limits::KAcceptRetry);
                a->Retry.async_wait([this, a](const error_code& AWaitError) {
                    if (a->Closed)
                        return;
                    if (AWaitError)
                        a->Accepting = false;
                    else
                        Accept(a);
                });
                return;
            }
            if (!AError) {
                // The listen queue is short (15): take what else waits in it right away, and
                // wake each loop once for all its newcomers.
                std::vector<std::vector<std::shared_ptr<TConnection>>> arrived(FLoops.size());
                Admit(std::move(ASocket), target, a->Peer, arrived);
                for (int more = 0; more < limits::KAcceptBatch; ++more) {
                    TEventLoop& next = *FLoops[FNextLoop % FLoops.size()];
                    tcp::socket socket(next.Context());
                    error_code ec;
                    a->Acceptor.accept(socket, a->Peer, ec);
                    if (ec == asio::error::would_block || ec == asio::error::try_again || OutOfResources(ec))
                        break;
                    ++FNextLoop;
                    if (!ec)
                        Admit(std::move(socket), next, a->Peer, arrived);
                }
                for (size_t i = 0; i < arrived.size(); ++i)
                    if (!arrived[i].empty())
                        asio::post(FLoops[i]->Context(), [batch = std::move(arrived[i])] {
                            for (const auto& c : batch)
                                c->Start();
                        });
            }
            // else: the peer gave up before we took it
            Accept(a);
        });
}

void TListener::Admit(tcp::socket ASocket, TEventLoop& ALoop, const tcp::endpoint& APeer,
                      std::vector<std::vector<std::shared_ptr<TConnection>>>& AArrived)
{
    error_code ec;
    ASocket.set_option(tcp::no_delay(true), ec);
    ASocket.non_blocking(true, ec);
    if (FShared.Occupied.load() >= FShared.MaxOpen && !MakeRoom()) {
        // Best effort, never waiting.
        static const std::string KBusy =
            "HTTP/1.1 503 Service Unavailable\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "Content-Length: 26\r\nConnection: close\r\n\r\n"
            "Too many open connections.";
        [[maybe_unused]] ssize_t n =
            ::send(ASocket.native_handle(), KBusy.data(), KBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ASocket.shutdown(tcp::socket::shutdown_send, ec);
        ASocket.close(ec);
        return;
    }
    for (size_t i = 0; i < FLoops.size(); ++i)
        if (FLoops[i].get() == &ALoop)
            AArrived[i].push_back(
                std::make_shared<TConnection>(FShared, ALoop, std::move(ASocket), AddressText(APeer.address())));
}

bool TListener::MakeRoom()
{
    // A connection lingering after its last reply has done its work: it goes first.
    if (FShared.LingeringConnections.load() > 0 && MakeRoomFromBusy(true))
        return true;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Each loop keeps its idle connections longest idle first: the oldest of their oldest.
        TEventLoop* where = nullptr;
        TConnection::TClock::rep oldest = std::numeric_limits<TConnection::TClock::rep>::max();
        for (auto& loop : FLoops) {
            const TConnection::TClock::rep since = loop->Registry().LongestIdleSince();
            if (since != 0 && since < oldest) {
                oldest = since;
                where = loop.get();
            }
        }
        if (!where)
            break;
        TConnection::TClock::rep since = 0;
        std::shared_ptr<TConnection> chosen = where->Registry().ChooseLongestIdle(since);
        if (!chosen)
            continue; // busy again meanwhile
        FShared.Occupied.fetch_sub(1);
        asio::post(where->Context(), [chosen, since] { chosen->Evict(since); });
        return true;
    }
    return MakeRoomFromBusy(false);
}

bool TListener::MakeRoomFromBusy(bool ALingeringOnly)
{
    using TClock = TConnection::TClock;
    // Only at the cap with none idle, so looking at every connection is rare.
    const TClock::rep oldEnough = (TClock::now() - std::chrono::duration_cast<TClock::duration>(FShared.EvictBusyAfter))
                                      .time_since_epoch()
                                      .count();
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::shared_ptr<TConnection> chosen;
        TEventLoop* where = nullptr;
        int chosenRank = 0;
        TClock::rep chosenSince = 0;
        for (auto& loop : FLoops)
            for (const auto& c : loop->Registry().Connections()) {
                TClock::rep since = 0;
                const int rank = c->RoomRank(since);
                // A lingering one at once; a request or a reply only once it has had its time.
                if (rank == 0 || since == 0 || c->EvictionClaimed() ||
                    (rank > 1 && (ALingeringOnly || since > oldEnough)))
                    continue;
                if (!chosen || rank < chosenRank || (rank == chosenRank && since < chosenSince)) {
                    chosen = c;
                    where = loop.get();
                    chosenRank = rank;
                    chosenSince = since;
                }
            }
        if (!chosen)
            return false;
        if (!chosen->ClaimEviction())
            continue; // chosen by another meanwhile
        FShared.Occupied.fetch_sub(1);
        asio::post(where->Context(), [chosen, chosenRank, chosenSince] { chosen->EvictBusy(chosenRank, chosenSince); });
        return true;
    }
    return false;
}

} // namespace platform::http
