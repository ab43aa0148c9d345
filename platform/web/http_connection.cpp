#include "platform/web/http_connection.hpp"

#include <boost/asio/post.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>

#include "platform/base/coroutine.hpp"
#include "platform/base/exception.hpp"
#include "platform/base/process_tuning.hpp"
#include "platform/text/ascii.hpp"
#include "platform/web/http_event_loop.hpp"
#include "platform/web/http_request_builder.hpp"
#include "platform/web/web_module.hpp"

namespace platform::http {

namespace {

// What one read asks of the socket while a request's head comes in (it stays buffered until
// complete); a body is read in larger pieces (the parser takes them over at once).
constexpr size_t KReadSize = 4 * 1024;
constexpr size_t KBodyReadSize = 64 * 1024;

} // namespace

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = beast::http;
using asio::ip::tcp;
using boost::system::error_code;

void TServerShared::ConnectionClosed(bool AFreesRoom)
{
    if (AFreesRoom)
        Occupied.fetch_sub(1);
    if (OpenConnections.fetch_sub(1) == 1) {
        std::lock_guard lock(FLock);
        FClosed.notify_all();
    }
}

void TServerShared::WaitForNoConnections()
{
    std::unique_lock lock(FLock);
    FClosed.wait(lock, [this] { return OpenConnections.load() == 0; });
}

TConnection::TConnection(TServerShared& AShared, TEventLoop& ALoop, tcp::socket ASocket, std::string ARemoteAddr)
    : FShared(AShared), FLoop(ALoop), FSocket(std::move(ASocket)), FRemoteAddr(std::move(ARemoteAddr)),
      FAcceptedAt(TClock::now())
{
    FShared.ConnectionOpened();
}

TConnection::~TConnection()
{
    if (FPhase.load() != TPhase::Closed) {
        // Never started, or dropped with its loop: still counted as open.
        error_code ec;
        FSocket.close(ec);
        FWriter.Clear();
        FLoop.SetBusy(FIdleEntry);
        if (FCountsFile)
            FShared.Occupied.fetch_sub(1);
        if (FCountsWriting)
            FShared.WritingConnections.fetch_sub(1);
        FShared.ConnectionClosed(!FEvictionClaimed.exchange(false));
    }
}

// --- loop thread ----------------------------------------------------------------------------

void TConnection::Start()
{
    auto self = shared_from_this();
    FLoop.Add(self);
    Step([&] {
        if (FShared.Stopping.load()) {
            Close();
            return;
        }
        if (FShared.TLSIOHandler) {
            bool useTLS = false;
            try {
                if (FShared.OnQuerySSLPort) {
                    error_code ec;
                    FShared.OnQuerySSLPort(FSocket.local_endpoint(ec).port(), useTLS);
                }
            } catch (...) {
                useTLS = true; // no answer: not served
            }
            if (useTLS) {
                Close(); // this build has no TLS: a TLS client cannot be served
                return;
            }
        }
        EnterIdle(FAcceptedAt); // idle from the moment it was taken
        WaitReadable();
    });
}

void TConnection::EnterIdle(TClock::time_point ANow)
{
    SetDeadline(ANow + FShared.IdleTimeout);
    const TClock::rep since = ANow.time_since_epoch().count();
    FIdleSince.store(since, std::memory_order_release);
    FLoop.SetIdle(FIdleEntry, since);
    FPhase.store(TPhase::Idle, std::memory_order_release);
}

void TConnection::WaitReadable()
{
    auto self = shared_from_this();
    if (FPhase.load() != TPhase::Lingering && FBuffer.capacity() > 0) {
        // A connection in use reads straight into its buffer: Asio tries the read at once only
        // when the last one may have left bytes behind, so waiting costs no system call.
        FReadIntoBuffer.store(true, std::memory_order_release);
        FSocket.async_read_some(FBuffer.prepare(KReadSize), [self](const error_code& AError, size_t AReceived) {
            self->Step([&] { self->OnReadable(AError, AReceived); });
        });
    } else {
        // An idle one holds no buffer while it waits.
        FReadIntoBuffer.store(false, std::memory_order_release);
        FSocket.async_wait(tcp::socket::wait_read,
                           [self](const error_code& AError) { self->Step([&] { self->OnReadable(AError, 0); }); });
    }
}

void TConnection::WaitWritable()
{
    FSocket.async_wait(tcp::socket::wait_write, [self = shared_from_this()](const error_code& AError) {
        self->Step([&] { self->OnWritable(AError); });
    });
}

void TConnection::CheckDeadline(TClock::time_point ANow)
{
    const TPhase phase = FPhase.load(std::memory_order_acquire);
    if (phase == TPhase::InWork || phase == TPhase::Closed || FExpired || FDropBuffer)
        return;
    const TClock::rep now = ANow.time_since_epoch().count();
    const TClock::rep deadline = FDeadline.load(std::memory_order_acquire);
    const bool expired = deadline != 0 && now >= deadline;
    // An idle client costs no buffer: the read into it is called off and a bare wait follows.
    const TClock::rep since = FIdleSince.load(std::memory_order_acquire);
    const bool idleLong = phase == TPhase::Idle && since != 0 && FReadIntoBuffer.load(std::memory_order_acquire) &&
                          ANow - TClock::time_point(TClock::duration(since)) >= limits::KIdleBufferRelease;
    if (!expired && !idleLong)
        return;
    std::lock_guard lock(FLock);
    const TPhase again = FPhase.load(std::memory_order_acquire);
    if (again == TPhase::InWork || again == TPhase::Closed)
        return;
    if (expired && FDeadline.load(std::memory_order_acquire) <= now)
        FExpired = true;
    else if (idleLong && again == TPhase::Idle && FIdleSince.load() == since && FBuffer.size() == 0)
        FDropBuffer = true;
    else
        return;
    error_code ec;
    FSocket.cancel(ec); // the wait's handler acts on it
}

void TConnection::Shutdown()
{
    auto self = shared_from_this();
    {
        std::lock_guard lock(FLock);
        if (FPhase.load() == TPhase::InWork)
            return; // closed once its reply is written (FinishWork sees the stop)
    }
    Close();
}

void TConnection::Evict(TClock::rep AIdleSince)
{
    auto self = shared_from_this();
    bool idle;
    {
        std::lock_guard lock(FLock);
        idle = FPhase.load() == TPhase::Idle && FIdleSince.load() == AIdleSince;
    }
    if (idle)
        Close();
    else if (FEvictionClaimed.exchange(false))
        FShared.Occupied.fetch_add(1); // busy again (or closed meanwhile): it keeps its room
}

void TConnection::OnReadable(const error_code& AError, size_t AReceived)
{
    const bool expired = std::exchange(FExpired, false);
    const bool dropBuffer = std::exchange(FDropBuffer, false);
    const TPhase phase = FPhase.load();
    if (phase == TPhase::Closed)
        return;
    FBuffer.commit(AReceived);
    if (AError == asio::error::operation_aborted && dropBuffer && !expired) {
        if (FBuffer.size() == 0)
            FBuffer.shrink_to_fit();
        WaitReadable();
        return;
    }
    if (AError) {
        if (AError == asio::error::operation_aborted && expired && phase == TPhase::Reading)
            Refuse(asio::error::timed_out);
        else
            Close(); // idle or lingering past its time, the client closed, or the socket failed
        return;
    }
    if (phase == TPhase::Lingering)
        Drain();
    else
        ReadRequest();
}

void TConnection::OnWritable(const error_code& AError)
{
    FExpired = false;
    if (FPhase.load() == TPhase::Closed)
        return;
    if (AError) {
        Close(); // stalled past the limit, or the socket failed
        return;
    }
    WriteThen(FThen);
}

void TConnection::NewParser()
{
    FParser.emplace();
    FParser->header_limit(static_cast<std::uint32_t>(limits::KMaxHeaderBytes));
    FParser->body_limit(static_cast<std::uint64_t>(limits::KMaxBodyBytes));
    FParser->eager(true);
    FContinueSent = false;
}

void TConnection::ReadRequest()
{
    for (;;) {
        if (FBuffer.size() > 0) {
            if (FPhase.load() != TPhase::Reading) {
                // The first bytes of a request: from here it must arrive whole in time.
                const auto now = TClock::now();
                LeaveIdle();
                FPhase.store(TPhase::Reading, std::memory_order_release);
                FRequestDeadline = now + FShared.RequestTimeout;
                SetDeadline(FRequestDeadline);
                NewParser();
            }
            error_code ec;
            while (FBuffer.size() > 0 && !FParser->is_done()) {
                const size_t used = FParser->put(FBuffer.data(), ec);
                FBuffer.consume(used);
                if (ec == bhttp::error::need_more) {
                    ec = {};
                    break;
                }
                if (ec || used == 0)
                    break;
            }
            if (ec) {
                Refuse(ec);
                return;
            }
            if (FParser->is_done()) {
                RequestComplete();
                return;
            }
            if (FParser->is_header_done() && !FContinueSent) {
                FContinueSent = true;
                if (AsciiSameText(FParser->get()[bhttp::field::expect], "100-continue")) {
                    FWriter.StartRaw("HTTP/1.1 100 Continue\r\n\r\n");
                    WriteThen(TThen::ReadOn);
                    return;
                }
            }
        }
        const size_t want = FParser && FParser->is_header_done() ? KBodyReadSize : KReadSize;
        error_code ec;
        const size_t n = FSocket.read_some(FBuffer.prepare(want), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitReadable();
            return;
        }
        if (ec) {
            Close(); // the client went away (between requests, or in the middle of one)
            return;
        }
        FBuffer.commit(n);
    }
}

void TConnection::RequestComplete()
{
    auto message = FParser->release();
    FParser.reset();
    ClearDeadline();
    FForm.Version = message.version();
    FForm.Head = message.method() == bhttp::verb::head;
    FForm.KeepAlive = FShared.KeepAlive && message.keep_alive();
    FCloseAfter = false;
    try {
        FRequest = std::make_unique<THTTPAppRequest>();
        FResponse = std::make_unique<THTTPAppResponse>(*this);
        if (!BuildRequest(*FRequest, std::move(message), FRemoteAddr, FShared.OnParseAuthentication)) {
            SendSimple(401, "Unsupported authorization scheme.", TThen::NextRequest);
            return;
        }
    } catch (...) {
        Close(); // a failure of one connection never ends the server
        return;
    }
    try {
        FLease = WebRequestHandler().Reserve();
    } catch (...) {
        // Refused by the handler (all modules in use): its message, as the handler's error.
        FResponse->SetStatusCode(500);
        FResponse->SetContent(ErrorMessageOf(std::current_exception()));
        FWriter.Start(*FResponse, FForm);
        FCloseAfter = FWriter.CloseAfter();
        FResponse.reset();
        FRequest.reset();
        WriteThen(TThen::NextRequest);
        return;
    }
    FPhase.store(TPhase::InWork, std::memory_order_release);
    RunChain();
}

void TConnection::Refuse(const error_code& AError)
{
    FParser.reset();
    FForm = TReplyForm{};
    FForm.KeepAlive = false;
    if (AError == bhttp::error::header_limit)
        SendSimple(431, "Request Header Fields Too Large", TThen::Linger);
    else if (AError == bhttp::error::body_limit)
        SendSimple(413, "Payload Too Large", TThen::Linger);
    else if (AError == asio::error::timed_out)
        SendSimple(408, "Request Timeout", TThen::Linger);
    else
        SendSimple(400, "Bad Request", TThen::Linger);
}

void TConnection::SendSimple(unsigned AStatus, std::string_view AText, TThen AThen)
{
    TWebResponse plain;
    plain.SetStatusCode(static_cast<int>(AStatus));
    plain.SetContentType("text/plain; charset=utf-8");
    plain.SetContent(std::string(AText));
    FWriter.Start(plain, FForm);
    if (AThen == TThen::Linger)
        FCloseAfter = true;
    FResponse.reset();
    FRequest.reset();
    WriteThen(AThen);
}

void TConnection::WriteThen(TThen AThen)
{
    FThen = AThen;
    error_code ec;
    switch (FWriter.Write(FSocket.native_handle(), ec)) {
    case TReplyWriter::TStatus::Failed:
        FDead = true;
        Close();
        return;
    case TReplyWriter::TStatus::Blocked:
        // The client takes no more for now: wait until it does, for the stall limit at most
        // from the last progress.
        if (FWriter.TakeProgress() || FPhase.load() != TPhase::Writing) {
            FPhase.store(TPhase::Writing, std::memory_order_release);
            LeaveIdle();
            SetDeadline(TClock::now() + FShared.WriteStallTimeout);
        }
        if (!std::exchange(FCountsWriting, true))
            FShared.WritingConnections.fetch_add(1);
        WaitWritable();
        return;
    case TReplyWriter::TStatus::Done:
        if (std::exchange(FCountsWriting, false))
            FShared.WritingConnections.fetch_sub(1);
        ReleaseFile();
        Then(AThen);
        return;
    }
}

void TConnection::Then(TThen AThen)
{
    switch (AThen) {
    case TThen::NextRequest: NextRequest(); return;
    case TThen::ReadOn:
        FPhase.store(TPhase::Reading, std::memory_order_release);
        SetDeadline(FRequestDeadline);
        ReadRequest();
        return;
    case TThen::Linger: StartLinger(); return;
    }
}

void TConnection::NextRequest()
{
    if (FDead || !FForm.KeepAlive || FCloseAfter || FShared.Stopping.load()) {
        Close();
        return;
    }
    if (FBuffer.size() > 0) {
        // Pipelined: the next request is already here. It is taken up from the loop, not from
        // here: a client that pipelines thousands would otherwise deepen the stack by one
        // request's calls each, and keep the loop's other connections waiting until it stops.
        FPhase.store(TPhase::Idle, std::memory_order_release);
        asio::post(FLoop.Context(), [self = shared_from_this()] {
            self->Step([&] {
                if (self->FPhase.load() == TPhase::Idle)
                    self->ReadRequest();
            });
        });
        return;
    }
    EnterIdle(TClock::now());
    WaitReadable();
}

void TConnection::StartLinger()
{
    // Read and drop what the client still sends, so it reads our reply instead of a reset.
    error_code ec;
    FSocket.shutdown(tcp::socket::shutdown_send, ec);
    FPhase.store(TPhase::Lingering, std::memory_order_release);
    FBuffer.consume(FBuffer.size());
    FDropped = 0;
    SetDeadline(TClock::now() + limits::KLingerTime);
    Drain();
}

void TConnection::Drain()
{
    char sink[16 * 1024];
    for (;;) {
        error_code ec;
        const size_t n = FSocket.read_some(asio::buffer(sink), ec);
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitReadable();
            return;
        }
        FDropped += n;
        if (ec || FDropped >= limits::KLingerBytes) {
            Close();
            return;
        }
    }
}

void TConnection::AfterWork()
{
    if (FPhase.load() == TPhase::Closed)
        return;
    if (FDead) {
        Close();
        return;
    }
    if (FWriter.Busy() && FShared.Stopping.load()) {
        Close(); // the server stops: a reply that would have to wait is abandoned
        return;
    }
    WriteThen(TThen::NextRequest);
}

void TConnection::ReleaseFile()
{
    if (FCountsFile && !FWriter.OwnsFile()) {
        FCountsFile = false;
        FShared.Occupied.fetch_sub(1);
    }
}

void TConnection::Close()
{
    if (FPhase.load() == TPhase::Closed)
        return;
    auto self = shared_from_this();
    {
        std::lock_guard lock(FLock);
        FPhase.store(TPhase::Closed, std::memory_order_release);
        LeaveIdle();
        ClearDeadline();
        error_code ec;
        FSocket.shutdown(tcp::socket::shutdown_both, ec);
        FSocket.close(ec);
    }
    FWriter.Clear();
    ReleaseFile();
    if (std::exchange(FCountsWriting, false))
        FShared.WritingConnections.fetch_sub(1);
    FParser.reset();
    FBuffer.clear();
    FBuffer.shrink_to_fit();
    FLoop.Remove(*this);
    FShared.ConnectionClosed(!FEvictionClaimed.exchange(false));
    ReleaseFreedMemory();
}

// --- the thread that runs the request -------------------------------------------------------

void TConnection::RunChain()
{
    auto self = shared_from_this();
    // The chain runs on a coroutine of the loop: where it waits for the database, the loop goes on
    // with its other connections.
    TCoroutine::Start(
        FLoop, [self] { self->HandleRequest(); }, [self](bool AOwnsLoop) { self->FinishWork(AOwnsLoop); });
}

void TConnection::HandleRequest()
{
    try {
        WebRequestHandler().HandleRequest(FLease, *FRequest, *FResponse);
    } catch (...) {
        // The error page itself failed.
        if (!FResponse->Sent() && !FDead) {
            try {
                FResponse->SetContentStream(nullptr);
                FResponse->SetContentLength(-1);
                FResponse->SetCustomHeader("Content-Disposition", "");
                FResponse->SetStatusCode(500);
                FResponse->SetContent(ErrorMessageOf(std::current_exception()));
                FResponse->SendResponse();
            } catch (...) {
                FDead = true;
            }
        }
    }
    if (!FResponse->Sent() && !FDead) {
        // Not handled by any action: nothing answered it.
        try {
            FResponse->SetStatusCode(404);
            FResponse->SendResponse();
        } catch (...) {
            FDead = true;
        }
    }
    FLease.Release();
    FResponse.reset();
    FRequest.reset();
}

void TConnection::SendReply(const TWebResponse& AResponse)
{
    if (FDead)
        throw Exception("The connection is closed");
    FWriter.Start(AResponse, FForm);
    error_code ec;
    TReplyWriter::TStatus status = FWriter.Write(FSocket.native_handle(), ec);
    if (status == TReplyWriter::TStatus::Blocked) {
        // The rest goes out from the event loop once the client takes it; the caller may free
        // its stream as soon as this returns.
        if (!FWriter.KeepFile(ec))
            status = TReplyWriter::TStatus::Failed;
        else if (FWriter.OwnsFile() && !FCountsFile) {
            FCountsFile = true;
            FShared.Occupied.fetch_add(1);
        }
    }
    if (FWriter.CloseAfter())
        FCloseAfter = true;
    if (status == TReplyWriter::TStatus::Failed) {
        FDead = true;
        FWriter.Clear();
        throw Exception("The reply could not be sent: " + ec.message());
    }
}

void TConnection::FinishWork(bool AOwnsLoop)
{
    if (AOwnsLoop) {
        AfterWork();
        return;
    }
    // The chain blocked, and the loop went on on another thread: this one may only start the
    // next wait (under the lock the loop's closing and cancelling take) or post to the loop.
    if (!FDead && !FWriter.Busy() && FForm.KeepAlive && !FCloseAfter && FBuffer.size() == 0) {
        std::lock_guard lock(FLock);
        if (!FShared.Stopping.load()) {
            EnterIdle(TClock::now());
            WaitReadable();
            return;
        }
    }
    asio::post(FLoop.Context(), [self = shared_from_this()] { self->Step([&] { self->AfterWork(); }); });
}

} // namespace platform::http
