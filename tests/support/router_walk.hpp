#pragma once
// Walking a router tree with an in-memory request, the callbacks and middleware that note in a
// log that they ran, and a runner for tables of requests, for the framework tests.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "framework/relay/callback.hpp"
#include "framework/relay/core/router_tree.hpp"
#include "support/memory_web.hpp"

namespace testing_support {

// What callbacks wrote, in the order they ran.
using TLog = std::vector<std::string>;

// The log as "a,b,c" (or with another separator).
inline std::string Join(const TLog& ALog, const std::string& ASeparator = ",")
{
    std::string out;
    for (const auto& s : ALog)
        out += (out.empty() ? "" : ASeparator) + s;
    return out;
}

// A route callback that notes its name, with ":<id>" when the request has an "id" parameter,
// and answers with its name.
inline relay::TRelayCallback Recorder(TLog& ALog, std::string AName)
{
    return [&ALog, AName](relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const relay::TProc&) {
        std::string entry = AName;
        if (ARequest.Params().ContainsKey("id"))
            entry.append(":").append(ARequest.Params().Items("id"));
        ALog.push_back(entry);
        AResponse.Send(AName);
    };
}

// What recording middleware does after noting its name.
enum class TThen {
    Next,         // goes on with the rest of the chain
    NextThenNote, // goes on, and notes "<name>-after" once the rest has run
    Stop,         // ends the chain there, answering nothing
};

inline relay::TRelayCallback RecordingMiddleware(TLog& ALog, std::string AName, TThen AThen = TThen::Next)
{
    return [&ALog, AName, AThen](relay::TRelayRequest&, relay::TRelayResponse&, const relay::TProc& ANext) {
        ALog.push_back(AName);
        if (AThen == TThen::Stop)
            return;
        ANext();
        if (AThen == TThen::NextThenNote)
            ALog.push_back(AName + "-after");
    };
}

// What one walk did: whether a route answered, and the reply it left.
struct TWalkResult {
    bool Found;
    int Status;
    std::string Content;
};

// Walks ATree with the request AMethod ATarget (which may carry a query string), on AExchange
// when one is given.
inline TWalkResult Walk(const relay::TRelayRouterTree& ATree, const std::string& AMethod, const std::string& ATarget,
                        TMemoryExchange* AExchange = nullptr)
{
    TMemoryExchange local(AMethod, ATarget);
    TMemoryExchange& x = AExchange ? *AExchange : local;
    bool found = ATree.Execute(x.Req(), x.Res());
    return {found, x.Status(), x.Content()};
}

// One request of a table and what it must do: whether a route answered, the status, the content
// and the log (unset: not checked).
struct TRouteRow {
    TRouteRow(const char* AMethod, const char* ATarget, bool AFound, int AStatus, const char* AContent,
              const char* ALog)
        : Method(AMethod), Target(ATarget), Found(AFound), Status(AStatus), Content(AContent), Log(ALog)
    {
    }
    TRouteRow(const char* AMethod, const char* ATarget, int AStatus, const char* ALog)
        : Method(AMethod), Target(ATarget), Status(AStatus), Log(ALog)
    {
    }

    const char* Method;
    const char* Target; // with Raw, the raw path exactly as the tree gets it (nothing cut at "?")
    std::optional<bool> Found;
    int Status;
    const char* Content = nullptr;
    const char* Log = nullptr;
    bool Raw = false;
};

// A GET whose raw path is ARawPath exactly.
inline TRouteRow RawPath(const char* ARawPath, int AStatus, const char* ALog)
{
    TRouteRow row("GET", ARawPath, AStatus, ALog);
    row.Raw = true;
    return row;
}

// Walks ATree with each row's request, ALog emptied first, and checks what the row expects.
inline void ExpectRows(const relay::TRelayRouterTree& ATree, TLog& ALog, const std::vector<TRouteRow>& ARows)
{
    for (const TRouteRow& r : ARows) {
        SCOPED_TRACE(std::string(r.Method) + (r.Raw ? " raw path '" : " '") + r.Target + "'");
        ALog.clear();
        TMemoryExchange x(r.Method, r.Raw ? "/" : r.Target);
        if (r.Raw)
            x.WebRequest.SetRawPathInfo(r.Target);
        const TWalkResult res = Walk(ATree, r.Method, "", &x);
        if (r.Found) {
            EXPECT_EQ(res.Found, *r.Found);
        }
        EXPECT_EQ(res.Status, r.Status);
        if (r.Content) {
            EXPECT_EQ(res.Content, r.Content);
        }
        if (r.Log) {
            EXPECT_EQ(Join(ALog), r.Log);
        }
    }
}

} // namespace testing_support
