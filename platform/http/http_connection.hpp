#pragma once
// One client connection of the HTTP server: the state machine that reads and parses requests
// (Beast's parser), hands each one to the web request handler and writes the reply, on the
// connection's event loop. Nothing here waits: reads and writes that cannot go on now resume
// when the socket is ready, deadlines are checked by the loop's registry (TConnectionRegistry).
//
// Phases: Idle (between requests, or accepted and silent) -> Reading (a request has begun) ->
// InWork (its chain runs, on the loop's thread or, once it blocked, on the thread it kept) ->
// Writing (what the socket did not take of the reply) -> Idle; or, when it closes after the
// reply: Lingering (what the client still sends read and dropped) -> closed. Every phase change
// and every socket operation but the chain's own SendReply happens on the loop: a chain that
// lost the loop only posts back to it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/string_body.hpp>

#include "platform/base/beast_parser.hpp"
#include "platform/http/http_app_request.hpp"
#include "platform/http/http_connection_registry.hpp"
#include "platform/http/http_event_loop.hpp"
#include "platform/http/http_limits.hpp"
#include "platform/http/http_reply_writer.hpp"
#include "platform/http/http_server_settings.hpp"
#include "platform/web/web_request_handler.hpp"

namespace platform::http {

// What the connections of one server share. Settings are fixed while the server is active.
struct TServerShared : TServerSettings {
    TParseAuthenticationEvent OnParseAuthentication;
    TQuerySSLPortEvent OnQuerySSLPort;
    // Open connections allowed (descriptors of replies still being sent from files count too).
    int MaxOpen = limits::KMaxOpenConnections;
    // Request body bytes the connections hold, against BodyBudget.
    std::atomic<size_t> BodyHeld{0};

    std::atomic<bool> Stopping{false};
    std::atomic<int> OpenConnections{0};
    // Of those, the ones whose reply waits for the client to take more.
    std::atomic<int> WritingConnections{0};
    // And the ones lingering after their last reply (the first to make room at the cap).
    std::atomic<int> LingeringConnections{0};
    // What counts against MaxOpen: open connections and the files of their replies, less the
    // connections chosen to make room (their room is taken as soon as they are chosen).
    std::atomic<int> Occupied{0};

    void ConnectionOpened()
    {
        OpenConnections.fetch_add(1);
        Occupied.fetch_add(1);
    }
    // AFreesRoom: false for a connection that was chosen to make room (its room is taken).
    void ConnectionClosed(bool AFreesRoom);
    // Until every connection is closed (the server stops).
    void WaitForNoConnections();

private:
    std::mutex FLock;
    std::condition_variable FClosed;
};

class TConnection final : public std::enable_shared_from_this<TConnection>, public IReplyTarget {
public:
    using TClock = std::chrono::steady_clock;

    // Counted open from here on (TServerShared::ConnectionOpened).
    TConnection(TServerShared& AShared, TEventLoop& ALoop, boost::asio::ip::tcp::socket ASocket,
                std::string ARemoteAddr);
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // --- on the connection's loop thread ---
    void Start();
    // A deadline that has passed cancels the wait; its handler then acts (408, close...).
    void CheckDeadline(TClock::time_point ANow);
    // The server stops: closed now, unless a request is in work (then after its reply).
    void Shutdown();
    // Closed when still idle since AIdleSince (it was chosen to make room for a new one); when
    // it is busy again, its room is given back.
    void Evict(TClock::rep AIdleSince);
    // When not idle, how readily it gives its place up at the cap: 0 not at all, 1 lingering,
    // 2 in the middle of a request, 3 its reply waits on the client; ASince: since when (any
    // thread). EvictBusy closes it on its loop when it is still so since ASince.
    int RoomRank(TClock::rep& ASince) const;
    void EvictBusy(int ARank, TClock::rep ASince);

    // --- any thread ---
    // Chooses it to make room (one chooser at a time): its room counts as free from here on,
    // and Evict follows on its loop.
    bool ClaimEviction() { return !FEvictionClaimed.exchange(true); }
    bool EvictionClaimed() const { return FEvictionClaimed.load(); }

    // --- on the thread that runs the request's chain ---
    void SendReply(const TWebResponse& AResponse) override;

    // Its entry in the loop's registry.
    void SetLoopEntry(TConnectionRegistry::TEntry AEntry) { FLoopEntry = AEntry; }
    std::optional<TConnectionRegistry::TEntry> TakeLoopEntry() { return std::exchange(FLoopEntry, std::nullopt); }

private:
    enum class TPhase : uint8_t { Idle, Reading, InWork, Writing, Lingering, Closed };
    // What follows when the pending write is done.
    enum class TThen : uint8_t { NextRequest, ReadOn, Linger };

    // Runs one step of the machine on the loop's thread; a failure of one connection (out of
    // memory, say) closes it and never ends the server.
    template <class F>
    void Step(F AStep) noexcept
    {
        try {
            AStep();
        } catch (...) {
            try {
                Close();
            } catch (...) {
            }
        }
    }
    void EnterIdle(TClock::time_point ANow);
    // Between requests no more (a request begins, a reply waits for the client, it closes).
    void LeaveIdle()
    {
        if (std::exchange(FIdleSince, 0) != 0)
            FRegistry.SetBusy(FIdleEntry);
    }
    void WaitReadable();
    void WaitWritable();
    void OnReadable(const boost::system::error_code& AError, size_t AReceived);
    void OnWritable(const boost::system::error_code& AError);
    void ReadRequest();
    void NewParser();
    void RequestComplete();
    void Refuse(const boost::system::error_code& AError);
    void RefuseWith(unsigned AStatus, std::string_view AText);
    // The request's head as read: false when it was refused.
    bool CheckHead();
    // Counts ABytes of request body held against the servers' budget; false past it.
    bool HoldBody(size_t ABytes);
    void ReleaseBody();
    void SetBusySince(TClock::time_point AWhen)
    {
        FBusySince.store(AWhen.time_since_epoch().count(), std::memory_order_release);
    }
    void SendSimple(unsigned AStatus, std::string_view AText, TThen AThen, bool ARetryLater = false);
    void WriteThen(TThen AThen);
    void Then(TThen AThen);
    void RunChain();
    // The request's chain, on its coroutine.
    void HandleRequest();
    void FinishWork(bool AOwnsLoop);
    void AfterWork();
    void NextRequest();
    void StartLinger();
    void Drain();
    void ReleaseFile();
    void Close();
    void SetDeadline(TClock::time_point AWhen) { FDeadline = AWhen.time_since_epoch().count(); }
    void ClearDeadline() { FDeadline = 0; }

    TServerShared& FShared;
    TEventLoop& FLoop;
    TConnectionRegistry& FRegistry; // the loop's
    boost::asio::ip::tcp::socket FSocket;
    const std::string FRemoteAddr;
    const TClock::time_point FAcceptedAt;
    std::optional<TConnectionRegistry::TEntry> FLoopEntry;

    // No lock: the phase changes on the loop's thread only, and the loop leaves the socket, the
    // writer and the parser alone while a request is InWork (its chain's, wherever it runs; a
    // chain that lost the loop posts back to it). Atomic for the listener, which looks at it
    // from its own thread to choose one to make room.
    std::atomic<TPhase> FPhase{TPhase::Idle};
    // Since when it waits idle between requests (TClock ticks); 0 when not idle. While it is,
    // it is on its registry's idle list too. Loop thread, as are the deadline and the flags below.
    TClock::rep FIdleSince = 0;
    TIdleEntry FIdleEntry{*this};
    TClock::rep FDeadline = 0;
    // Since when it reads its request, writes a reply the client has not taken, or lingers.
    std::atomic<TClock::rep> FBusySince{0};
    std::atomic<bool> FEvictionClaimed{false};
    bool FExpired = false;        // a deadline cancelled the wait
    bool FDropBuffer = false;     // the wait was cancelled to free the buffer
    bool FReadIntoBuffer = false; // the pending wait reads into FBuffer

    // Reading (loop thread).
    boost::beast::flat_buffer FBuffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> FParser;
    bool FHeadChecked = false;
    bool FChunked = false;
    size_t FBodyHeld = 0; // counted in TServerShared::BodyHeld
    TClock::time_point FRequestDeadline;
    size_t FDropped = 0;

    // The request in work and its reply (the thread that runs it, then the loop thread).
    TReplyForm FForm;
    bool FCloseAfter = false; // the connection closes after this reply
    bool FDead = false;       // a write failed: nothing more can be sent
    std::unique_ptr<THTTPAppRequest> FRequest;
    std::unique_ptr<THTTPAppResponse> FResponse;
    TWebRequestHandler::TLease FLease;
    TReplyWriter FWriter;
    TThen FThen = TThen::NextRequest;
    bool FCountsFile = false;         // the writer's own file descriptor is counted in Occupied
    bool FCountsWriting = false;      // loop thread: counted in WritingConnections
    bool FCountsLingering = false;    // loop thread: counted in LingeringConnections
    TClock::time_point FWaitingSince; // the reply began to wait on the client
};

} // namespace platform::http
