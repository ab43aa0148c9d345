#include "platform/data/fd_connection.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/base/coroutine.hpp"
#include "platform/data/data_limits.hpp"
#include "platform/data/mysql_client.hpp"

#include <errmsg.h>
#include "platform/text/ascii.hpp"

namespace platform {

// ---- TFDStrings ----------------------------------------------------------------------------

TFDStrings& TFDStrings::Add(std::string ALine)
{
    FLines.push_back(std::move(ALine));
    ++FVersion;
    return *this;
}

std::string TFDStrings::Text() const
{
    std::string result;
    for (size_t i = 0; i < FLines.size(); ++i) {
        if (i)
            result += "\r\n";
        result += FLines[i];
    }
    return result;
}

std::string TFDStrings::Values(std::string_view AName) const
{
    for (const auto& line : FLines) {
        auto eq = line.find('=');
        if (eq != std::string::npos && AsciiSameText(std::string_view(line).substr(0, eq), AName))
            return line.substr(eq + 1);
    }
    return {};
}

void TFDStrings::SetValue(std::string_view AName, std::string_view AValue)
{
    ++FVersion;
    for (auto& line : FLines) {
        auto eq = line.find('=');
        if (eq != std::string::npos && AsciiSameText(std::string_view(line).substr(0, eq), AName)) {
            line = std::string(AName) + "=" + std::string(AValue);
            return;
        }
    }
    FLines.push_back(std::string(AName) + "=" + std::string(AValue));
}

// ---- TFDConnection -------------------------------------------------------------------------

namespace {

// Errors that mean the link to the server is gone (as opposed to a refused statement).
bool IsConnectionLost(unsigned ACode) noexcept
{
    switch (ACode) {
    case 2006: // CR_SERVER_GONE_ERROR
    case 2013: // CR_SERVER_LOST
    case 2055: // CR_SERVER_LOST_EXTENDED
    case 1927: // ER_CONNECTION_KILLED
    case 4031: // ER_CLIENT_INTERACTION_TIMEOUT
        return true;
    default: return false;
    }
}

// The client library takes its timeouts in whole seconds.
unsigned Seconds(std::chrono::seconds AValue) noexcept
{
    return static_cast<unsigned>(AValue.count());
}

const char* const KStopping = "The server is stopping: the database is no longer waited for";

std::string NoAnswerWithin(long long ASeconds)
{
    return "No answer from the database server within " + std::to_string(ASeconds) + " s";
}

// Set while the calling code (its coroutine, or its thread) runs a statement that changes data.
TLocalFlag GAwaitAnswer;

} // namespace

struct TFDConnection::TLink {
    std::mutex Lock;
    int Socket = -1;       // the socket waited on last while the link is open, for Abort
    bool Aborted = false;  // under Lock
    bool TimedOut = false; // a wait of the statement running gave up (its thread only)
    int ChangeTimeout = static_cast<int>(std::chrono::milliseconds(data_limits::KChangeTimeout).count());

    void Forget() noexcept
    {
        std::lock_guard guard(Lock);
        Socket = -1;
    }
};

namespace {

// The link of the connection the calling code (its coroutine, or its thread) works on; none while
// it closes one.
TLocalPointer GLink;

TFDConnection::TLink* CurrentLink() noexcept
{
    return static_cast<TFDConnection::TLink*>(GLink.Get());
}

class TOnLink {
public:
    explicit TOnLink(TFDConnection::TLink* ALink) noexcept : FSaved(CurrentLink()) { GLink.Set(ALink); }
    ~TOnLink() { GLink.Set(FSaved); }
    TOnLink(const TOnLink&) = delete;
    TOnLink& operator=(const TOnLink&) = delete;

private:
    TFDConnection::TLink* FSaved;
};

class TAwaitAnswer {
public:
    TAwaitAnswer() noexcept { GAwaitAnswer.Set(true); }
    ~TAwaitAnswer() { GAwaitAnswer.Set(false); }
    TAwaitAnswer(const TAwaitAnswer&) = delete;
    TAwaitAnswer& operator=(const TAwaitAnswer&) = delete;
};

// The client library's wait for its socket (MARIADB_OPT_IO_WAIT): ATimeout in milliseconds, or
// negative for none; the answer to a statement that changes data has its own, longer limit.
// A shutdown of the socket (Abort) ends the wait. On an I/O thread's coroutine the wait suspends
// it, and the thread runs other requests meanwhile.
int WaitForSocket(my_socket AHandle, my_bool AIsRead, int ATimeout)
{
    TFDConnection::TLink* const link = CurrentLink();
    if (link) {
        std::lock_guard guard(link->Lock);
        if (link->Aborted) {
            errno = ECONNABORTED;
            return -1;
        }
        link->Socket = AHandle;
    }
    const int timeout = AIsRead && GAwaitAnswer.Get() && link ? link->ChangeTimeout : ATimeout;
    const int rc = AwaitHandle(AHandle, AIsRead != 0, timeout);
    if (rc == 0 && link)
        link->TimedOut = true;
    return rc;
}

// A database host that vanishes (power cut, pulled cable) leaves no one to close the link, and
// a statement that changes data waits minutes for its answer, holding its request. Probing the
// quiet link, and giving up on data the host never acknowledges, finds such a host gone within
// about a minute. A local socket
// has no such options; the calls then fail harmlessly.
void ProbeQuietLink(my_socket AHandle) noexcept
{
    const int on = 1, idle = 30, interval = 10, probes = 3;
    const unsigned unacknowledged = 60000; // ms
    ::setsockopt(AHandle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(AHandle, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(AHandle, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(AHandle, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(AHandle, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged, sizeof unacknowledged);
}

// A whole number from a connection parameter; AWhat names it in the error.
unsigned ParseUnsigned(const std::string& AText, unsigned AMax, const char* AWhat)
{
    unsigned value = 0;
    auto [end, ec] = std::from_chars(AText.data(), AText.data() + AText.size(), value);
    if (ec != std::errc() || end != AText.data() + AText.size() || value > AMax)
        throw Exception(std::string("Invalid database ") + AWhat + ": " + AText);
    return value;
}

struct TResCloser {
    const TMySQLClient* Client;
    void operator()(MYSQL_RES* AResult) const noexcept { Client->free_result(AResult); }
};

// A text binding: the library reads a parameter from ABuffer, or writes a column into it.
MYSQL_BIND StringBind(void* ABuffer, unsigned long ABufferLength, unsigned long* ALength, my_bool* AIsNull) noexcept
{
    MYSQL_BIND b{};
    b.buffer_type = MYSQL_TYPE_STRING;
    b.buffer = ABuffer;
    b.buffer_length = ABufferLength;
    b.length = ALength;
    b.is_null = AIsNull;
    return b;
}

} // namespace

// Bindings live as long as the statement: a statement run again binds into the same storage.
struct TFDConnection::TStatement {
    MYSQL_STMT* Handle = nullptr;
    std::vector<MYSQL_BIND> Params;
    std::vector<unsigned long> ParamLengths;
    std::vector<my_bool> ParamNulls;
    std::vector<MYSQL_BIND> Out;
    std::vector<char> OutBuffer; // KColumnBuffer bytes per column
    std::vector<unsigned long> OutLengths;
    std::vector<my_bool> OutNulls, OutErrors;

    explicit TStatement(MYSQL_STMT* AHandle) noexcept : Handle(AHandle) {}
    ~TStatement() { TMySQLClient::Get().stmt_close(Handle); } // loaded, since a handle exists
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;
};

TFDConnection::TFDConnection() : FLink(std::make_unique<TLink>()) {}

TFDConnection::~TFDConnection()
{
    Close();
}

void TFDConnection::SetConnected(bool AValue)
{
    if (AValue)
        Open();
    else
        Close();
}

std::string TFDConnection::ClientLibrary()
{
    return TMySQLClient::LibraryName();
}
void TFDConnection::SetClientLibrary(std::string AName)
{
    TMySQLClient::SetLibraryName(std::move(AName));
}

void TFDConnection::Open()
{
    if (Aborted())
        throw EFDDBEngineException(KStopping, CR_SERVER_LOST);
    if (FHandle)
        return;
    const std::string driver = Params.Values("DriverID");
    if (!driver.empty() && !AsciiSameText(driver, "MySQL"))
        throw Exception("Unknown database driver: " + driver);
    const std::string portText = Params.Values("Port");
    const unsigned port = portText.empty() ? 0 : ParseUnsigned(portText, 65535, "port");
    const std::string readTimeoutText = Params.Values("ReadTimeout");
    unsigned readTimeout = readTimeoutText.empty() ? Seconds(data_limits::KReadTimeout)
                                                   : ParseUnsigned(readTimeoutText, 86400, "read timeout");
    const std::string changeTimeoutText = Params.Values("ChangeTimeout");
    const unsigned changeTimeout = changeTimeoutText.empty()
                                       ? Seconds(data_limits::KChangeTimeout)
                                       : ParseUnsigned(changeTimeoutText, 86400, "change timeout");
    const std::string server = Params.Values("Server");
    const std::string user = Params.Values("User_Name");
    const std::string password = Params.Values("Password");
    const std::string database = Params.Values("Database");
    std::string charset = Params.Values("CharacterSet");
    if (charset.empty())
        charset = "utf8mb4";

    const TMySQLClient& c = TMySQLClient::Get();
    MYSQL* m = c.init(nullptr);
    if (!m)
        throw Exception("The MySQL client library could not allocate a connection");
    unsigned connectTimeout = Seconds(data_limits::KConnectTimeout), writeTimeout = Seconds(data_limits::KWriteTimeout),
             noLocalFiles = 0;
    c.options(m, MYSQL_SET_CHARSET_NAME, charset.c_str());
    c.options(m, MYSQL_OPT_CONNECT_TIMEOUT, &connectTimeout);
    c.options(m, MYSQL_OPT_READ_TIMEOUT, &readTimeout);
    c.options(m, MYSQL_OPT_WRITE_TIMEOUT, &writeTimeout);
    c.options(m, MARIADB_OPT_IO_WAIT, reinterpret_cast<const void*>(&WaitForSocket));
    c.options(m, MYSQL_OPT_LOCAL_INFILE, &noLocalFiles);
    // A server outside strict mode (old installations often are) cuts a too long value down and
    // stores the row anyway; strict mode refuses the statement instead. A server run with
    // autocommit off (its default, or an init_connect) would keep every insert in a transaction
    // lost with the link; each statement commits on its own. One statement, run on every
    // connect, so links made again after a drop get both.
    c.options(m, MYSQL_INIT_COMMAND,
              "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), 'STRICT_ALL_TABLES'),"
              " autocommit = 1");
    FLink->ChangeTimeout = static_cast<int>(changeTimeout * 1000);
    bool connected;
    {
        TOnLink on(FLink.get());
        connected = c.real_connect(m, server.empty() ? nullptr : server.c_str(), user.c_str(), password.c_str(),
                                   database.empty() ? nullptr : database.c_str(), port, nullptr, 0) != nullptr;
    }
    if (!connected) {
        FLink->Forget();
        std::string message = c.error(m);
        unsigned code = c.errno_(m);
        c.close(m);
        throw EFDDBEngineException(std::move(message), code);
    }
    {
        std::lock_guard guard(FLink->Lock);
        FLink->Socket = c.get_socket(m);
    }
    FHandle = m;
    FThreadId = c.thread_id(m);
    FReadTimeout = std::chrono::seconds(readTimeout);
    FServer = server + ":" + std::to_string(port) + ":" + user;
    if (Aborted()) {
        Close();
        throw EFDDBEngineException(KStopping, CR_SERVER_LOST);
    }
    ProbeQuietLink(c.get_socket(m));
    if (FAbandoned && FAbandonedOn == FServer) {
        // The server may still be at work on the link given up on, holding one of its
        // connections: end it. Gone already, it is refused with "Unknown thread id".
        c.kill(m, FAbandoned);
        FAbandoned = 0;
    }
}

void TFDConnection::DropStatements() noexcept
{
    FStatements.clear();
}

void TFDConnection::Close() noexcept
{
    DropStatements();
    if (!FHandle)
        return;
    // Forgotten before it closes, so Abort never reaches a descriptor used again meanwhile.
    FLink->Forget();
    TOnLink off(nullptr);
    TMySQLClient::Get().close(FHandle); // loaded, since a handle exists
    FHandle = nullptr;
}

void TFDConnection::Abort() noexcept
{
    std::lock_guard guard(FLink->Lock);
    FLink->Aborted = true;
    if (FLink->Socket >= 0)
        ::shutdown(FLink->Socket, SHUT_RDWR);
}

bool TFDConnection::Aborted() const noexcept
{
    std::lock_guard guard(FLink->Lock);
    return FLink->Aborted;
}

void TFDConnection::ClearAbort() noexcept
{
    std::lock_guard guard(FLink->Lock);
    FLink->Aborted = false;
}

TFDResult TFDConnection::Execute(const std::string& AStatement, const std::vector<TFDValue>& AValues)
{
    TFDResult result;
    Execute(AStatement, AValues, result);
    return result;
}

void TFDConnection::Execute(const std::string& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult)
{
    Open();
    TOnLink on(FLink.get());
    TFailure failure;
    if (TryExecute(AStatement, AValues, AResult, failure))
        return;
    const uint64_t session = FThreadId;
    // The client library reports a wait for the answer that ran out as a lost link; its waits
    // all go through WaitForSocket, which marks the link. The statement's time is then used up,
    // and the server may still be at work on it (a held table, a paused server): it is not run
    // again, and the server's end of the link is ended when the connection is next opened. The
    // same for a wait ended by Abort.
    const bool aborted = Aborted();
    const bool timedOut = FLink->TimedOut;
    const bool lost = IsConnectionLost(failure.Code) || timedOut || aborted;
    if (lost) {
        if (timedOut || aborted) {
            FAbandoned = FThreadId;
            FAbandonedOn = FServer;
        }
        Close();
        // Run again only what cannot have changed anything: a statement the server never
        // received (its preparation failed) or one that only reads.
        if (!timedOut && !aborted && ResourceOptions.AutoReconnect &&
            (failure.Step == TStep::Prepare || failure.Reads)) {
            Open();
            if (TryExecute(AStatement, AValues, AResult, failure))
                return;
            if (IsConnectionLost(failure.Code) || FLink->TimedOut || Aborted())
                Close();
        }
    }
    if (lost && failure.Step == TStep::Run && !failure.Reads) {
        using TCause = EFDAnswerLost::TCause;
        if (aborted)
            throw EFDAnswerLost("The server stopped before the database answered; the row may have been stored",
                                failure.Code, TCause::Stopped, session);
        if (timedOut)
            throw EFDAnswerLost(NoAnswerWithin(FLink->ChangeTimeout / 1000) + "; the row may have been stored",
                                failure.Code, TCause::TimedOut, session);
        throw EFDAnswerLost(std::move(failure.Message), failure.Code, TCause::Dropped, session);
    }
    if (aborted)
        throw EFDDBEngineException(KStopping, failure.Code);
    if (timedOut)
        throw EFDDBEngineException(NoAnswerWithin(FReadTimeout.count()), failure.Code);
    throw EFDDBEngineException(std::move(failure.Message), failure.Code);
}

bool TFDConnection::TryExecute(const std::string& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult,
                               TFailure& AFailure)
{
    const TMySQLClient& c = TMySQLClient::Get();
    AResult.Rows.clear();
    AResult.RowsAffected = 0;
    FLink->TimedOut = false;
    auto cached = FStatements.find(AStatement);
    std::unique_ptr<TStatement> fresh;
    TStatement* s;
    if (cached != FStatements.end()) {
        s = cached->second.get();
    } else {
        MYSQL_STMT* raw = c.stmt_init(FHandle);
        if (!raw) {
            AFailure = {TStep::Prepare, c.errno_(FHandle), c.error(FHandle), false};
            return false;
        }
        fresh = std::make_unique<TStatement>(raw);
        s = fresh.get();
        if (c.stmt_prepare(raw, AStatement.data(), AStatement.size()) != 0) {
            AFailure = {TStep::Prepare, c.stmt_errno(raw), c.stmt_error(raw), false};
            return false;
        }
    }
    bool keep = false, done;
    try {
        done = Run(*s, AValues, AResult, AFailure, keep);
    } catch (...) {
        if (!fresh)
            FStatements.erase(cached);
        throw;
    }
    if (done && keep) {
        // Kept for the next run of the same text.
        c.stmt_free_result(s->Handle);
        if (fresh) {
            constexpr size_t KMaxCached = 32;
            if (FStatements.size() >= KMaxCached)
                DropStatements();
            FStatements.emplace(AStatement, std::move(fresh));
        }
    } else if (!fresh) {
        FStatements.erase(cached); // dropped after a failure
        // A kept statement whose table changed its columns meanwhile: the client library
        // refuses the new result for the old bindings. It only reads; prepare it afresh.
        if (!done && AFailure.Code == CR_NEW_STMT_METADATA)
            return TryExecute(AStatement, AValues, AResult, AFailure);
    }
    return done;
}

bool TFDConnection::Run(TStatement& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult,
                        TFailure& AFailure, bool& AKeep)
{
    const TMySQLClient& c = TMySQLClient::Get();
    MYSQL_STMT* const h = AStatement.Handle;
    auto fail = [&](TStep AStep, bool AReads) {
        AFailure = {AStep, c.stmt_errno(h), c.stmt_error(h), AReads};
        return false;
    };

    const unsigned long wanted = c.stmt_param_count(h);
    if (wanted != AValues.size())
        throw Exception("The statement takes " + std::to_string(wanted) + " parameters, " +
                        std::to_string(AValues.size()) + " given");
    const bool reads = c.stmt_field_count(h) > 0;

    const size_t n = AValues.size();
    auto& binds = AStatement.Params;
    auto& lengths = AStatement.ParamLengths;
    auto& nulls = AStatement.ParamNulls;
    binds.resize(n);
    lengths.resize(n);
    nulls.resize(n);
    for (size_t i = 0; i < n; ++i) {
        nulls[i] = AValues[i] ? 0 : 1;
        lengths[i] = AValues[i] ? static_cast<unsigned long>(AValues[i]->size()) : 0;
        binds[i] = StringBind(AValues[i] ? const_cast<char*>(AValues[i]->data()) : nullptr, lengths[i], &lengths[i],
                              &nulls[i]);
    }
    if (n && c.stmt_bind_param(h, binds.data()))
        return fail(TStep::Prepare, false);

    int executed;
    if (reads) {
        executed = c.stmt_execute(h);
    } else {
        TAwaitAnswer await;
        executed = c.stmt_execute(h);
    }
    if (executed != 0)
        return fail(TStep::Run, reads);

    const unsigned columns = c.stmt_field_count(h);
    if (columns == 0) {
        AResult.Columns.clear();
        AResult.RowsAffected = c.stmt_affected_rows(h);
        return true;
    }
    {
        // Asked on every run: the server sends new column descriptions when the table changed.
        std::unique_ptr<MYSQL_RES, TResCloser> meta(c.stmt_result_metadata(h), TResCloser{&c});
        if (!meta)
            return fail(TStep::Run, reads);
        MYSQL_FIELD* fields = c.fetch_fields(meta.get());
        AResult.Columns.resize(columns);
        for (unsigned i = 0; i < columns; ++i)
            AResult.Columns[i].assign(fields[i].name, fields[i].name_length);
    }

    if (c.stmt_store_result(h) != 0)
        return fail(TStep::Run, reads);

    constexpr unsigned long KColumnBuffer = 256;
    auto& out = AStatement.Out;
    auto& outLengths = AStatement.OutLengths;
    auto& outNulls = AStatement.OutNulls;
    auto& outErrors = AStatement.OutErrors;
    out.resize(columns);
    AStatement.OutBuffer.resize(size_t{columns} * KColumnBuffer);
    outLengths.resize(columns);
    outNulls.resize(columns);
    outErrors.resize(columns);
    for (unsigned i = 0; i < columns; ++i) {
        out[i] = StringBind(AStatement.OutBuffer.data() + size_t{i} * KColumnBuffer, KColumnBuffer, &outLengths[i],
                            &outNulls[i]);
        out[i].error = &outErrors[i];
    }
    if (c.stmt_bind_result(h, out.data()))
        return fail(TStep::Run, reads);

    for (;;) {
        int rc = c.stmt_fetch(h);
        if (rc == MYSQL_NO_DATA)
            break;
        if (rc == 1)
            return fail(TStep::Run, reads);
        std::vector<TFDValue>& row = AResult.Rows.emplace_back(columns);
        for (unsigned i = 0; i < columns; ++i) {
            if (outNulls[i])
                continue;
            const unsigned long length = outLengths[i];
            if (length <= out[i].buffer_length) {
                row[i].emplace(static_cast<const char*>(out[i].buffer), length);
                continue;
            }
            // Longer than the buffer: fetch this column again in full.
            std::string full(length, '\0');
            MYSQL_BIND b = out[i];
            unsigned long got = 0;
            b.buffer = full.data();
            b.buffer_length = length;
            b.length = &got;
            if (c.stmt_fetch_column(h, &b, i, 0) != 0)
                return fail(TStep::Run, reads);
            row[i] = std::move(full);
        }
    }
    AKeep = true;
    return true;
}

} // namespace platform
