#include "platform/data/fd_connection.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>

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
    std::string Result;
    for (size_t I = 0; I < FLines.size(); ++I) {
        if (I)
            Result += "\r\n";
        Result += FLines[I];
    }
    return Result;
}

std::string TFDStrings::Values(std::string_view AName) const
{
    for (const auto& Line : FLines) {
        auto Eq = Line.find('=');
        if (Eq != std::string::npos && AsciiSameText(std::string_view(Line).substr(0, Eq), AName))
            return Line.substr(Eq + 1);
    }
    return {};
}

void TFDStrings::SetValue(std::string_view AName, std::string_view AValue)
{
    ++FVersion;
    for (auto& Line : FLines) {
        auto Eq = Line.find('=');
        if (Eq != std::string::npos && AsciiSameText(std::string_view(Line).substr(0, Eq), AName)) {
            Line = std::string(AName) + "=" + std::string(AValue);
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

constexpr unsigned KConnectTimeout = 10; // seconds
constexpr unsigned KWriteTimeout = 60;
// A statement that returns rows gives up after this long without an answer (the "ReadTimeout"
// parameter changes it). One that changes data has no such limit: the server goes on and stores
// the row whether or not the client still waits, so giving up would report a stored row failed.
constexpr unsigned KReadTimeout = 60;

// Set while this thread runs a statement that changes data.
thread_local bool GAwaitAnswer = false;

class TAwaitAnswer {
public:
    TAwaitAnswer() noexcept { GAwaitAnswer = true; }
    ~TAwaitAnswer() { GAwaitAnswer = false; }
    TAwaitAnswer(const TAwaitAnswer&) = delete;
    TAwaitAnswer& operator=(const TAwaitAnswer&) = delete;
};

// The client library's wait for its socket (MARIADB_OPT_IO_WAIT): ATimeout in milliseconds, or
// negative for none; the answer to a statement that changes data is waited for without limit.
int WaitForSocket(my_socket AHandle, my_bool AIsRead, int ATimeout)
{
    using TClock = std::chrono::steady_clock;
    const int Timeout = AIsRead && GAwaitAnswer ? -1 : ATimeout;
    const TClock::time_point Until = TClock::now() + std::chrono::milliseconds(std::max(Timeout, 0));
    pollfd Wait{AHandle, static_cast<short>(AIsRead ? POLLIN : POLLOUT), 0};
    for (;;) {
        int Left = -1;
        if (Timeout >= 0)
            Left = static_cast<int>(
                std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(Until - TClock::now()).count()));
        const int Rc = ::poll(&Wait, 1, Left);
        if (Rc == 0)
            errno = ETIMEDOUT; // the library's message names it
        if (Rc >= 0 || errno != EINTR)
            return Rc;
    }
}

// A database host that vanishes (power cut, pulled cable) leaves no one to close the link, and
// a statement that changes data waits for its answer without limit: it would wait for ever,
// holding its request and the program's Stop. Probing the quiet link, and giving up on data
// the host never acknowledges, finds such a host gone within about a minute. A local socket
// has no such options; the calls then fail harmlessly.
void ProbeQuietLink(my_socket AHandle) noexcept
{
    const int On = 1, Idle = 30, Interval = 10, Probes = 3;
    const unsigned Unacknowledged = 60000; // ms
    ::setsockopt(AHandle, SOL_SOCKET, SO_KEEPALIVE, &On, sizeof On);
    ::setsockopt(AHandle, IPPROTO_TCP, TCP_KEEPIDLE, &Idle, sizeof Idle);
    ::setsockopt(AHandle, IPPROTO_TCP, TCP_KEEPINTVL, &Interval, sizeof Interval);
    ::setsockopt(AHandle, IPPROTO_TCP, TCP_KEEPCNT, &Probes, sizeof Probes);
    ::setsockopt(AHandle, IPPROTO_TCP, TCP_USER_TIMEOUT, &Unacknowledged, sizeof Unacknowledged);
}

// A whole number from a connection parameter; AWhat names it in the error.
unsigned ParseUnsigned(const std::string& AText, unsigned AMax, const char* AWhat)
{
    unsigned Value = 0;
    auto [End, Ec] = std::from_chars(AText.data(), AText.data() + AText.size(), Value);
    if (Ec != std::errc() || End != AText.data() + AText.size() || Value > AMax)
        throw Exception(std::string("Invalid database ") + AWhat + ": " + AText);
    return Value;
}

struct TResCloser {
    const TMySQLClient* Client;
    void operator()(MYSQL_RES* R) const noexcept { Client->free_result(R); }
};

// A text binding: the library reads a parameter from ABuffer, or writes a column into it.
MYSQL_BIND StringBind(void* ABuffer, unsigned long ABufferLength, unsigned long* ALength, my_bool* AIsNull) noexcept
{
    MYSQL_BIND B{};
    B.buffer_type = MYSQL_TYPE_STRING;
    B.buffer = ABuffer;
    B.buffer_length = ABufferLength;
    B.length = ALength;
    B.is_null = AIsNull;
    return B;
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

TFDConnection::TFDConnection() = default;

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
    if (FHandle)
        return;
    const std::string Driver = Params.Values("DriverID");
    if (!Driver.empty() && !AsciiSameText(Driver, "MySQL"))
        throw Exception("Unknown database driver: " + Driver);
    const std::string PortText = Params.Values("Port");
    const unsigned Port = PortText.empty() ? 0 : ParseUnsigned(PortText, 65535, "port");
    const std::string ReadTimeoutText = Params.Values("ReadTimeout");
    unsigned ReadTimeout = ReadTimeoutText.empty() ? KReadTimeout
                                                   : ParseUnsigned(ReadTimeoutText, 86400, "read timeout");
    const std::string Server = Params.Values("Server");
    const std::string User = Params.Values("User_Name");
    const std::string Password = Params.Values("Password");
    const std::string Database = Params.Values("Database");
    std::string Charset = Params.Values("CharacterSet");
    if (Charset.empty())
        Charset = "utf8mb4";

    const TMySQLClient& C = TMySQLClient::Get();
    MYSQL* M = C.init(nullptr);
    if (!M)
        throw Exception("The MySQL client library could not allocate a connection");
    unsigned ConnectTimeout = KConnectTimeout, WriteTimeout = KWriteTimeout, NoLocalFiles = 0;
    C.options(M, MYSQL_SET_CHARSET_NAME, Charset.c_str());
    C.options(M, MYSQL_OPT_CONNECT_TIMEOUT, &ConnectTimeout);
    C.options(M, MYSQL_OPT_READ_TIMEOUT, &ReadTimeout);
    C.options(M, MYSQL_OPT_WRITE_TIMEOUT, &WriteTimeout);
    C.options(M, MARIADB_OPT_IO_WAIT, reinterpret_cast<const void*>(&WaitForSocket));
    C.options(M, MYSQL_OPT_LOCAL_INFILE, &NoLocalFiles);
    // A server outside strict mode (old installations often are) cuts a too long value down and
    // stores the row anyway; strict mode refuses the statement instead. Run on every connect,
    // so links made again after a drop are strict too.
    C.options(M, MYSQL_INIT_COMMAND,
              "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), 'STRICT_ALL_TABLES')");
    if (!C.real_connect(M, Server.empty() ? nullptr : Server.c_str(), User.c_str(), Password.c_str(),
                        Database.empty() ? nullptr : Database.c_str(), Port, nullptr, 0)) {
        std::string Message = C.error(M);
        unsigned Code = C.errno_(M);
        C.close(M);
        throw EFDDBEngineException(std::move(Message), Code);
    }
    ProbeQuietLink(C.get_socket(M));
    FHandle = M;
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
    TMySQLClient::Get().close(FHandle); // loaded, since a handle exists
    FHandle = nullptr;
}

TFDResult TFDConnection::Execute(const std::string& AStatement, const std::vector<TFDValue>& AValues)
{
    TFDResult Result;
    Execute(AStatement, AValues, Result);
    return Result;
}

void TFDConnection::Execute(const std::string& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult)
{
    Open();
    TFailure Failure;
    if (TryExecute(AStatement, AValues, AResult, Failure))
        return;
    if (IsConnectionLost(Failure.Code)) {
        Close();
        // Run again only what cannot have changed anything: a statement the server never
        // received (its preparation failed) or one that only reads.
        if (ResourceOptions.AutoReconnect && (Failure.Step == TStep::Prepare || Failure.Reads)) {
            Open();
            if (TryExecute(AStatement, AValues, AResult, Failure))
                return;
            if (IsConnectionLost(Failure.Code))
                Close();
        }
    }
    throw EFDDBEngineException(std::move(Failure.Message), Failure.Code);
}

bool TFDConnection::TryExecute(const std::string& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult,
                               TFailure& AFailure)
{
    const TMySQLClient& C = TMySQLClient::Get();
    AResult.Rows.clear();
    AResult.RowsAffected = 0;
    auto Cached = FStatements.find(AStatement);
    std::unique_ptr<TStatement> Fresh;
    TStatement* S;
    if (Cached != FStatements.end()) {
        S = Cached->second.get();
    } else {
        MYSQL_STMT* Raw = C.stmt_init(FHandle);
        if (!Raw) {
            AFailure = {TStep::Prepare, C.errno_(FHandle), C.error(FHandle), false};
            return false;
        }
        Fresh = std::make_unique<TStatement>(Raw);
        S = Fresh.get();
        if (C.stmt_prepare(Raw, AStatement.data(), AStatement.size()) != 0) {
            AFailure = {TStep::Prepare, C.stmt_errno(Raw), C.stmt_error(Raw), false};
            return false;
        }
    }
    bool Keep = false, Done;
    try {
        Done = Run(*S, AValues, AResult, AFailure, Keep);
    } catch (...) {
        if (!Fresh)
            FStatements.erase(Cached);
        throw;
    }
    if (Done && Keep) {
        // Kept for the next run of the same text.
        C.stmt_free_result(S->Handle);
        if (Fresh) {
            constexpr size_t KMaxCached = 32;
            if (FStatements.size() >= KMaxCached)
                DropStatements();
            FStatements.emplace(AStatement, std::move(Fresh));
        }
    } else if (!Fresh) {
        FStatements.erase(Cached); // dropped after a failure
        // A kept statement whose table changed its columns meanwhile: the client library
        // refuses the new result for the old bindings. It only reads; prepare it afresh.
        if (!Done && AFailure.Code == CR_NEW_STMT_METADATA)
            return TryExecute(AStatement, AValues, AResult, AFailure);
    }
    return Done;
}

bool TFDConnection::Run(TStatement& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult,
                        TFailure& AFailure, bool& AKeep)
{
    const TMySQLClient& C = TMySQLClient::Get();
    MYSQL_STMT* const H = AStatement.Handle;
    auto Fail = [&](TStep AStep, bool AReads) {
        AFailure = {AStep, C.stmt_errno(H), C.stmt_error(H), AReads};
        return false;
    };

    const unsigned long Wanted = C.stmt_param_count(H);
    if (Wanted != AValues.size())
        throw Exception("The statement takes " + std::to_string(Wanted) + " parameters, " +
                        std::to_string(AValues.size()) + " given");
    const bool Reads = C.stmt_field_count(H) > 0;

    const size_t N = AValues.size();
    auto& Binds = AStatement.Params;
    auto& Lengths = AStatement.ParamLengths;
    auto& Nulls = AStatement.ParamNulls;
    Binds.resize(N);
    Lengths.resize(N);
    Nulls.resize(N);
    for (size_t I = 0; I < N; ++I) {
        Nulls[I] = AValues[I] ? 0 : 1;
        Lengths[I] = AValues[I] ? static_cast<unsigned long>(AValues[I]->size()) : 0;
        Binds[I] = StringBind(AValues[I] ? const_cast<char*>(AValues[I]->data()) : nullptr, Lengths[I], &Lengths[I],
                              &Nulls[I]);
    }
    if (N && C.stmt_bind_param(H, Binds.data()))
        return Fail(TStep::Prepare, false);

    int Executed;
    if (Reads) {
        Executed = C.stmt_execute(H);
    } else {
        TAwaitAnswer Await;
        Executed = C.stmt_execute(H);
    }
    if (Executed != 0)
        return Fail(TStep::Run, Reads);

    const unsigned Columns = C.stmt_field_count(H);
    if (Columns == 0) {
        AResult.Columns.clear();
        AResult.RowsAffected = C.stmt_affected_rows(H);
        return true;
    }
    {
        // Asked on every run: the server sends new column descriptions when the table changed.
        std::unique_ptr<MYSQL_RES, TResCloser> Meta(C.stmt_result_metadata(H), TResCloser{&C});
        if (!Meta)
            return Fail(TStep::Run, Reads);
        MYSQL_FIELD* Fields = C.fetch_fields(Meta.get());
        AResult.Columns.resize(Columns);
        for (unsigned I = 0; I < Columns; ++I)
            AResult.Columns[I].assign(Fields[I].name, Fields[I].name_length);
    }

    if (C.stmt_store_result(H) != 0)
        return Fail(TStep::Run, Reads);

    constexpr unsigned long KColumnBuffer = 256;
    auto& Out = AStatement.Out;
    auto& OutLengths = AStatement.OutLengths;
    auto& OutNulls = AStatement.OutNulls;
    auto& OutErrors = AStatement.OutErrors;
    Out.resize(Columns);
    AStatement.OutBuffer.resize(size_t{Columns} * KColumnBuffer);
    OutLengths.resize(Columns);
    OutNulls.resize(Columns);
    OutErrors.resize(Columns);
    for (unsigned I = 0; I < Columns; ++I) {
        Out[I] = StringBind(AStatement.OutBuffer.data() + size_t{I} * KColumnBuffer, KColumnBuffer, &OutLengths[I],
                            &OutNulls[I]);
        Out[I].error = &OutErrors[I];
    }
    if (C.stmt_bind_result(H, Out.data()))
        return Fail(TStep::Run, Reads);

    for (;;) {
        int Rc = C.stmt_fetch(H);
        if (Rc == MYSQL_NO_DATA)
            break;
        if (Rc == 1)
            return Fail(TStep::Run, Reads);
        std::vector<TFDValue>& Row = AResult.Rows.emplace_back(Columns);
        for (unsigned I = 0; I < Columns; ++I) {
            if (OutNulls[I])
                continue;
            const unsigned long Length = OutLengths[I];
            if (Length <= Out[I].buffer_length) {
                Row[I].emplace(static_cast<const char*>(Out[I].buffer), Length);
                continue;
            }
            // Longer than the buffer: fetch this column again in full.
            std::string Full(Length, '\0');
            MYSQL_BIND B = Out[I];
            unsigned long Got = 0;
            B.buffer = Full.data();
            B.buffer_length = Length;
            B.length = &Got;
            if (C.stmt_fetch_column(H, &B, I, 0) != 0)
                return Fail(TStep::Run, Reads);
            Row[I] = std::move(Full);
        }
    }
    AKeep = true;
    return true;
}

} // namespace platform
