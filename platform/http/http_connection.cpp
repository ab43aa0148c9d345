#include "platform/http/http_connection.hpp"

#include <algorithm>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>

#include "platform/base/coroutine.hpp"
#include "platform/base/exception.hpp"
#include "platform/base/process_tuning.hpp"
#include "platform/text/ascii.hpp"
#include "platform/http/http_event_loop.hpp"
#include "platform/http/http_request_builder.hpp"
#include "platform/web/web_module.hpp"

namespace platform::http {

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
    : FShared(AShared), FLoop(ALoop), FRegistry(ALoop.Registry()), FSocket(std::move(ASocket)),
      FRemoteAddr(std::move(ARemoteAddr)), FAcceptedAt(TClock::now())
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
        FRegistry.SetBusy(FIdleEntry);
        if (FCountsFile)
            FShared.Occupied.fetch_sub(1);
        ReleaseBody();
        if (FCountsWriting)
            FShared.WritingConnections.fetch_sub(1);
        if (FCountsLingering)
            FShared.LingeringConnections.fetch_sub(1);
        FShared.ConnectionClosed(!FEvictionClaimed.exchange(false));
    }
}

// --- loop thread ----------------------------------------------------------------------------

void TConnection::Start()
{
    auto self = shared_from_this();
    FRegistry.Add(self);
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
    ReleaseBody();
    SetDeadline(ANow + FShared.IdleTimeout);
    const TClock::rep since = ANow.time_since_epoch().count();
    FIdleSince = since;
    FRegistry.SetIdle(FIdleEntry, since);
    FPhase.store(TPhase::Idle, std::memory_order_release);
}

void TConnection::WaitReadable()
{
    auto self = shared_from_this();
    if (FPhase.load() != TPhase::Lingering && FBuffer.capacity() > 0) {
        // A connection in use reads straight into its buffer: Asio tries the read at once only
        // when the last one may have left bytes behind, so waiting costs no system call.
        FReadIntoBuffer = true;
        FSocket.async_read_some(FBuffer.prepare(limits::KReadSize), [self](const error_code& AError, size_t AReceived) {
            self->Step([&] { self->OnReadable(AError, AReceived); });
        });
    } else {
        // An idle one holds no buffer while it waits.
        FReadIntoBuffer = false;
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
    // While a request is in work its chain may run on a thread that lost the loop: the socket,
    // the writer and the buffer are the chain's until AfterWork runs here, and no wait is
    // pending on the socket meanwhile. Every other phase is the loop's alone.
    const TPhase phase = FPhase.load(std::memory_order_relaxed);
    if (phase == TPhase::InWork || phase == TPhase::Closed || FExpired || FDropBuffer)
        return;
    const TClock::rep now = ANow.time_since_epoch().count();
    const bool expired = FDeadline != 0 && now >= FDeadline;
    // An idle client costs no buffer: the read into it is called off and a bare wait follows.
    const bool idleLong = phase == TPhase::Idle && FIdleSince != 0 && FReadIntoBuffer &&
                          ANow - TClock::time_point(TClock::duration(FIdleSince)) >= limits::KIdleBufferRelease;
    if (expired)
        FExpired = true;
    else if (idleLong && FBuffer.size() == 0)
        FDropBuffer = true;
    else
        return;
    error_code ec;
    FSocket.cancel(ec); // the wait's handler acts on it
}

void TConnection::Shutdown()
{
    if (FPhase.load() == TPhase::InWork)
        return; // closed once its reply is written (AfterWork sees the stop)
    Close();
}

void TConnection::Evict(TClock::rep AIdleSince)
{
    if (FPhase.load() == TPhase::Idle && FIdleSince == AIdleSince)
        Close();
    else if (FEvictionClaimed.exchange(false))
        FShared.Occupied.fetch_add(1); // busy again (or closed meanwhile): it keeps its room
}

int TConnection::RoomRank(TClock::rep& ASince) const
{
    ASince = FBusySince.load(std::memory_order_acquire);
    switch (FPhase.load(std::memory_order_acquire)) {
    case TPhase::Lingering: return 1;
    case TPhase::Reading: return 2;
    case TPhase::Writing: return 3;
    default: return 0;
    }
}

void TConnection::EvictBusy(int ARank, TClock::rep ASince)
{
    TClock::rep since = 0;
    if (RoomRank(since) == ARank && since == ASince)
        Close();
    else if (FEvictionClaimed.exchange(false))
        FShared.Occupied.fetch_add(1); // moved on meanwhile: it keeps its room
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
    FHeadChecked = false;
    FChunked = false;
}

void TConnection::ReadRequest()
{
    for (;;) {
        if (FBuffer.size() > 0) {
            if (FPhase.load() != TPhase::Reading) {
                // The first bytes of a request: from here it must arrive whole in time.
                const auto now = TClock::now();
                LeaveIdle();
                ReleaseBody();
                SetBusySince(now);
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
            bool askedToContinue = false;
            if (FParser->is_header_done() && !FHeadChecked) {
                FHeadChecked = true;
                if (!CheckHead())
                    return;
                // HTTP/1.0 knows no interim replies.
                askedToContinue = FParser->get().version() >= 11 &&
                                  AsciiSameText(FParser->get()[bhttp::field::expect], "100-continue");
            }
            if (FChunked && !HoldBody(FParser->get().body().capacity())) {
                RefuseWith(503, "Service Unavailable");
                return;
            }
            if (FParser->is_done()) {
                RequestComplete();
                return;
            }
            if (askedToContinue) {
                FWriter.StartRaw("HTTP/1.1 100 Continue\r\n\r\n");
                WriteThen(TThen::ReadOn);
                return;
            }
        }
        const size_t want = FParser && FParser->is_header_done() ? limits::KBodyReadSize : limits::KReadSize;
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
    if (AError == bhttp::error::header_limit)
        RefuseWith(431, "Request Header Fields Too Large");
    else if (AError == bhttp::error::body_limit)
        RefuseWith(413, "Payload Too Large");
    else if (AError == asio::error::timed_out)
        RefuseWith(408, "Request Timeout");
    else
        RefuseWith(400, "Bad Request");
}

void TConnection::RefuseWith(unsigned AStatus, std::string_view AText)
{
    FParser.reset();
    ReleaseBody();
    FForm = TReplyForm{};
    FForm.KeepAlive = false;
    SendSimple(AStatus, AText, TThen::Linger, AStatus == 503);
}

namespace {

std::string_view TrimSpace(std::string_view AText)
{
    while (!AText.empty() && (AText.front() == ' ' || AText.front() == '\t'))
        AText.remove_prefix(1);
    while (!AText.empty() && (AText.back() == ' ' || AText.back() == '\t'))
        AText.remove_suffix(1);
    return AText;
}

} // namespace

bool TConnection::CheckHead()
{
    const auto& head = FParser->get();
    // Transfer codings in the order applied, from every Transfer-Encoding line.
    std::vector<std::string_view> codings;
    const auto lines = head.equal_range(bhttp::field::transfer_encoding);
    for (auto line = lines.first; line != lines.second; ++line) {
        std::string_view rest(line->value().data(), line->value().size());
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            std::string_view item = rest.substr(0, comma);
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
            item = TrimSpace(item.substr(0, item.find(';')));
            if (!item.empty())
                codings.push_back(item);
        }
    }
    if (!codings.empty() || head.count(bhttp::field::transfer_encoding) > 0) {
        // A body whose end cannot be told the way every hop tells it could be read as another
        // request (smuggling): only a body whose last coding is chunked, once, in HTTP/1.1.
        const auto chunked = std::count_if(codings.begin(), codings.end(),
                                           [](std::string_view ACoding) { return AsciiSameText(ACoding, "chunked"); });
        if (head.version() < 11 || codings.empty() || !AsciiSameText(codings.back(), "chunked") || chunked != 1 ||
            head.count(bhttp::field::content_length) > 0) {
            RefuseWith(400, "Bad Request");
            return false;
        }
        if (codings.size() > 1) {
            RefuseWith(501, "Not Implemented"); // no coding but chunked is decoded
            return false;
        }
        FChunked = true;
        return true;
    }
    if (const auto length = FParser->content_length(); length && !HoldBody(static_cast<size_t>(*length))) {
        RefuseWith(503, "Service Unavailable");
        return false;
    }
    return true;
}

bool TConnection::HoldBody(size_t ABytes)
{
    if (ABytes <= FBodyHeld)
        return true;
    const size_t more = ABytes - FBodyHeld;
    size_t held = FShared.BodyHeld.load();
    do {
        if (held + more > FShared.BodyBudget)
            return false;
    } while (!FShared.BodyHeld.compare_exchange_weak(held, held + more));
    FBodyHeld = ABytes;
    return true;
}

void TConnection::ReleaseBody()
{
    if (FBodyHeld > 0)
        FShared.BodyHeld.fetch_sub(std::exchange(FBodyHeld, 0));
}

void TConnection::SendSimple(unsigned AStatus, std::string_view AText, TThen AThen, bool ARetryLater)
{
    TWebResponse plain;
    plain.SetStatusCode(static_cast<int>(AStatus));
    plain.SetContentType("text/plain; charset=utf-8");
    plain.SetContent(std::string(AText));
    if (ARetryLater)
        plain.SetCustomHeader("Retry-After", std::to_string(limits::KBusyRetryAfter.count()));
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
        // from the last progress, and no longer than its bytes so far allow at the least rate.
        if (FWriter.TakeProgress() || FPhase.load() != TPhase::Writing) {
            const auto now = TClock::now();
            if (FPhase.load() != TPhase::Writing) {
                FWaitingSince = now;
                SetBusySince(now);
                FPhase.store(TPhase::Writing, std::memory_order_release);
                LeaveIdle();
            }
            auto deadline = now + FShared.WriteStallTimeout;
            if (FShared.MinSendRate > 0) {
                const auto earned = std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(
                    static_cast<double>(FWriter.SentBytes()) / static_cast<double>(FShared.MinSendRate)));
                deadline =
                    std::min(deadline, FWaitingSince + std::max<TClock::duration>(FShared.SendRateGrace, earned));
            }
            SetDeadline(deadline);
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
    ReleaseBody();
    if (FDead || FShared.Stopping.load()) {
        Close();
        return;
    }
    if (!FForm.KeepAlive || FCloseAfter) {
        StartLinger();
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
    ReleaseBody();
    const auto now = TClock::now();
    SetBusySince(now);
    FPhase.store(TPhase::Lingering, std::memory_order_release);
    if (!std::exchange(FCountsLingering, true))
        FShared.LingeringConnections.fetch_add(1);
    FBuffer.consume(FBuffer.size());
    FDropped = 0;
    SetDeadline(now + limits::KLingerTime);
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
    FPhase.store(TPhase::Closed, std::memory_order_release);
    LeaveIdle();
    ClearDeadline();
    error_code ec;
    FSocket.shutdown(tcp::socket::shutdown_both, ec);
    FSocket.close(ec);
    FWriter.Clear();
    ReleaseFile();
    if (std::exchange(FCountsWriting, false))
        FShared.WritingConnections.fetch_sub(1);
    if (std::exchange(FCountsLingering, false))
        FShared.LingeringConnections.fetch_sub(1);
    FParser.reset();
    ReleaseBody();
    FBuffer.clear();
    FBuffer.shrink_to_fit();
    FRegistry.Remove(*this);
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
    // The chain blocked, and the loop went on on another thread: this one leaves the connection
    // alone from here (its phase is still InWork, so the loop does not touch it either) and
    // hands it back. The post orders all the chain wrote (the writer, FDead, FCloseAfter)
    // before the loop reads it.
    asio::post(FLoop.Context(), [self = shared_from_this()] { self->Step([&] { self->AfterWork(); }); });
}

} // namespace platform::http
