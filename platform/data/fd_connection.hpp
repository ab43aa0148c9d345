#pragma once
// Data access: a connection to a MySQL/MariaDB server and the queries that run on it,
// with the names and behaviour the service expects of its database components.
// A connection and its queries are used by one thread at a time; the owner serialises.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/base/exception.hpp"
#include "platform/base/object.hpp"

// The client library's own names for its handles.
typedef struct st_mysql MYSQL;           // NOLINT(readability-identifier-naming)
typedef struct st_mysql_stmt MYSQL_STMT; // NOLINT(readability-identifier-naming)

namespace platform {

// A failure reported by the database server or the client library; Message() is the
// server's own text (e.g. "Duplicate entry '00000123' for key 'PRIMARY'").
class EFDDBEngineException : public Exception {
public:
    EFDDBEngineException(std::string AMessage, unsigned AErrorCode)
        : Exception(std::move(AMessage)), FErrorCode(AErrorCode)
    {
    }
    // The server's or client library's error number (0 when none applies).
    unsigned ErrorCode() const noexcept { return FErrorCode; }

private:
    unsigned FErrorCode;
};

// A list of text lines. As connection parameters the lines are name=value.
class TFDStrings {
public:
    void Clear()
    {
        FLines.clear();
        ++FVersion;
    }
    TFDStrings& Add(std::string ALine);
    size_t Count() const noexcept { return FLines.size(); }
    const std::string& Strings(size_t AIndex) const { return FLines.at(AIndex); }
    // Lines joined with CR LF, none after the last.
    std::string Text() const;
    // Value of the first name=value line whose name matches (ASCII case-insensitive), or "".
    std::string Values(std::string_view AName) const;
    // Replaces the value of that line, or adds a line.
    void SetValue(std::string_view AName, std::string_view AValue);
    // Bumped by every change; queries use it to notice a new statement text.
    uint64_t Version() const noexcept { return FVersion; }

private:
    std::vector<std::string> FLines;
    uint64_t FVersion = 0;
    friend class TFDQuery;
};

// One value handed from a query to its connection: text, or NULL when unset.
using TFDValue = std::optional<std::string>;

struct TFDResult {
    std::vector<std::string> Columns;
    std::vector<std::vector<TFDValue>> Rows;
    uint64_t RowsAffected = 0;
};

class TFDConnection : public TObject {
public:
    TFDConnection();
    ~TFDConnection() override;
    TFDConnection(const TFDConnection&) = delete;
    TFDConnection& operator=(const TFDConnection&) = delete;

    // Server, Port, User_Name, Password, Database, DriverID ("MySQL"), optional CharacterSet
    // (default utf8mb4) and ReadTimeout: the seconds a statement that returns rows waits for the
    // server's answer (default 60; data_limits.hpp). A statement that changes data waits however
    // long it takes.
    TFDStrings Params;
    struct {
        // When the server is found gone, reopen the connection once and carry on. A statement
        // that changes data is only run again when it had certainly not reached the server; one
        // that waited out its ReadTimeout is not run again at all.
        bool AutoReconnect = false;
    } ResourceOptions;
    // Accepted for compatibility: opening never asks for credentials.
    bool LoginPrompt = true;

    bool Connected() const noexcept { return FHandle != nullptr; }
    // true: Open; false: Close.
    void SetConnected(bool AValue);
    // Loads the client library if needed and connects with Params; raises on failure and
    // stays closed. Does nothing when already open.
    void Open();
    void Close() noexcept;

    // Runs one statement whose "?" placeholders take AValues in order (bound as text, never
    // spliced into the statement). Opens the connection when it is closed.
    TFDResult Execute(const std::string& AStatement, const std::vector<TFDValue>& AValues);
    // The same into AResult, whose storage is used again (a query that runs often keeps one).
    void Execute(const std::string& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult);

    // The client library file to load ("libmariadb.so.3"); settable before the first open.
    static std::string ClientLibrary();
    static void SetClientLibrary(std::string AName);

private:
    enum class TStep { Prepare, Run };
    struct TFailure {
        TStep Step;
        unsigned Code;
        std::string Message;
        bool Reads; // the statement returns rows: running it again changes nothing
    };
    // A prepared statement with the bindings of its last run, used again by the next run.
    struct TStatement;
    bool TryExecute(const std::string& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult,
                    TFailure& AFailure);
    // Binds, executes and reads one statement; AKeep tells whether it may be kept for the
    // next run of its text (it returned rows and nothing failed).
    bool Run(TStatement& AStatement, const std::vector<TFDValue>& AValues, TFDResult& AResult, TFailure& AFailure,
             bool& AKeep);
    void DropStatements() noexcept;

    MYSQL* FHandle = nullptr;
    unsigned long FThreadId = 0;  // the server's id of the open link
    std::string FServer;          // server, port and login of the open link
    unsigned long FAbandoned = 0; // a link given up on while the server was still at work on it
    std::string FAbandonedOn;     // FServer of that link
    std::chrono::seconds FReadTimeout{0};
    // Prepared statements that return rows, by their text, kept while the connection is open:
    // running one again costs one round trip instead of a prepare, an execute and a close.
    // Statements that change data are prepared afresh each time, so that a link found gone at
    // their preparation is still known not to have run them.
    std::unordered_map<std::string, std::unique_ptr<TStatement>> FStatements;
};

} // namespace platform
