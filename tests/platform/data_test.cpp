// The data-access layer against a real MariaDB server (scripts/testdb).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <set>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/data/fd_connection.hpp"
#include "platform/data/fd_query.hpp"
#include "support/process_state.hpp"
#include "support/tcp_proxy.hpp"
#include "support/testdb.hpp"

using namespace platform;
using testsupport::SetTestDbParams;
using testsupport::UniqueCode;

namespace {

struct TParamCase {
    const char* Text;
    const char* Statement;
    std::vector<std::string> Names;
};

TEST(SqlParams, FoundOutsideQuotesAndComments)
{
    const TParamCase Cases[] = {
        {"select * from t where ean = :ean", "select * from t where ean = ?", {"ean"}},
        {"values(:Ean, :Nome,:ncm)", "values(?, ?,?)", {"Ean", "Nome", "ncm"}},
        {"where a = ':x' and b = :y", "where a = ':x' and b = ?", {"y"}},
        {"where a = 'it''s :x' and b = \":z\" and `c:d` = :w",
         "where a = 'it''s :x' and b = \":z\" and `c:d` = ?",
         {"w"}},
        {"where a = 'back\\' :x' or b=:b2", "where a = 'back\\' :x' or b=?", {"b2"}},
        {"select 1 -- :nope\r\nfrom t where x = :x", "select 1 -- :nope\r\nfrom t where x = ?", {"x"}},
        {"select 1 # :nope\nwhere x = :x", "select 1 # :nope\nwhere x = ?", {"x"}},
        {"select /* :nope */ :a, :a", "select /* :nope */ ?, ?", {"a", "a"}},
        {"set @v := 1, @w = a::b, t:1", "set @v := 1, @w = a::b, t:1", {}},
        {"where time = '12:30' and id=:id_2", "where time = '12:30' and id=?", {"id_2"}},
        {"select 5-:a", "select 5-?", {"a"}},
    };
    for (const auto& C : Cases) {
        std::vector<std::string> Names;
        EXPECT_EQ(ReplaceSQLParams(C.Text, Names), C.Statement) << C.Text;
        EXPECT_EQ(Names, C.Names) << C.Text;
    }
}

TEST(SqlParams, QueryListsEachNameOnceWithoutCase)
{
    TFDQuery Q;
    Q.SQL().Add("select :Ean, :nome, ");
    Q.SQL().Add(":EAN");
    EXPECT_EQ(Q.SQL().Text(), "select :Ean, :nome, \r\n:EAN");
    ASSERT_EQ(Q.ParamCount(), 2u);
    EXPECT_EQ(&Q.ParamByName("ean"), &Q.Params(0));
    EXPECT_EQ(Q.Params(1).Name(), "nome");
    EXPECT_THROW(Q.ParamByName("missing"), Exception);
    // A new text renews the list.
    Q.SQL().Clear();
    Q.SQL().Add("select :other");
    EXPECT_EQ(Q.ParamCount(), 1u);
    EXPECT_EQ(Q.FindParam("ean"), nullptr);
}

TEST(SqlParams, SameTextAgainKeepsTheParseNewTextRenewsIt)
{
    TFDQuery Q;
    auto SetText = [&](std::vector<std::string> ALines) {
        Q.SQL().Clear();
        for (auto& L : ALines)
            Q.SQL().Add(L);
    };
    SetText({"select :a, :b"});
    Q.ParamByName("a").AsString("1");
    Q.ParamByName("b").AsString("2");
    SetText({"select :a, :b"}); // the same text again: values start unset all the same
    ASSERT_EQ(Q.ParamCount(), 2u);
    EXPECT_TRUE(Q.ParamByName("a").IsNull());
    EXPECT_TRUE(Q.ParamByName("b").IsNull());
    SetText({"select :a,", ":c"});
    ASSERT_EQ(Q.ParamCount(), 2u);
    EXPECT_EQ(Q.FindParam("b"), nullptr);
    EXPECT_EQ(Q.Params(1).Name(), "c");
    SetText({"select :a, :b"});
    EXPECT_EQ(Q.Params(1).Name(), "b");
    Q.SQL().Add(" and :d"); // a line added to the same text
    ASSERT_EQ(Q.ParamCount(), 3u);
    EXPECT_EQ(Q.Params(2).Name(), "d");
    Q.SQL().Clear();
    EXPECT_EQ(Q.ParamCount(), 0u);
}

TEST(ConnectionParams, NameValueLines)
{
    TFDStrings P;
    P.Add("Server=127.0.0.1").Add("Password=a=b%").Add("Port=3389");
    EXPECT_EQ(P.Values("server"), "127.0.0.1");
    EXPECT_EQ(P.Values("Password"), "a=b%");
    EXPECT_EQ(P.Values("Database"), "");
    P.SetValue("port", "1");
    EXPECT_EQ(P.Values("Port"), "1");
    EXPECT_EQ(P.Count(), 3u);
    EXPECT_EQ(P.Text(), "Server=127.0.0.1\r\nPassword=a=b%\r\nport=1");
}

// Runs without a database: the library is looked for only when a connection opens.
TEST(ClientLibrary, MissingLibraryIsAClearErrorEveryTime)
{
    MIROVANDEL_IN_FRESH_PROCESS(); // once loaded, the library stays for the process
    const std::string Saved = TFDConnection::ClientLibrary();
    TFDConnection::SetClientLibrary("libmirovandel-absent-client.so.3");
    TFDConnection C;
    SetTestDbParams(C);
    for (int I = 0; I < 2; ++I) {
        try {
            C.SetConnected(true);
            FAIL() << "opened without a client library";
        } catch (const Exception& E) {
            EXPECT_NE(E.Message().find("libmirovandel-absent-client.so.3"), std::string::npos) << E.Message();
            EXPECT_NE(E.Message().find("MySQL client library"), std::string::npos) << E.Message();
        }
        EXPECT_FALSE(C.Connected());
    }
    TFDQuery Q(&C);
    Q.SQL().Add("select 1");
    EXPECT_THROW(Q.Open(), Exception);
    EXPECT_FALSE(Q.Active());
    TFDConnection::SetClientLibrary(Saved);
}

TEST(ClientLibrary, UnknownDriverAndBadPortAreRefused)
{
    TFDConnection C;
    SetTestDbParams(C);
    C.Params.SetValue("DriverID", "Oracle");
    EXPECT_THROW(C.Open(), Exception);
    C.Params.SetValue("DriverID", "MySQL");
    C.Params.SetValue("Port", "33x");
    EXPECT_THROW(C.Open(), Exception);
    C.Params.SetValue("Port", "3389");
    C.Params.SetValue("ReadTimeout", "-1");
    EXPECT_THROW(C.Open(), Exception);
    EXPECT_FALSE(C.Connected());
}

class DataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        SetTestDbParams(FConnection);
        FConnection.ResourceOptions.AutoReconnect = true;
    }
    void TearDown() override
    {
        for (auto& Ean : FCreated) {
            try {
                testsupport::TestDbExec("delete from cad_produtos where binary ean = :e", {{"e", Ean}});
            } catch (...) {
            }
        }
    }
    void Insert(const std::string& AEan, const std::string& ANome)
    {
        TFDQuery Q(&FConnection);
        Q.SQL().Add("insert into base_produtos.cad_produtos (Ean, Nome, Ncm, Cest_codigo, embalagem)");
        Q.SQL().Add("values(:Ean, :Nome, :Ncm, :Cest_codigo, :embalagem)");
        Q.ParamByName("Ean").AsString(AEan);
        Q.ParamByName("Nome").AsString(ANome);
        Q.ParamByName("Ncm").AsString("");
        Q.ParamByName("Cest_codigo").AsString("");
        Q.ParamByName("embalagem").AsString("UN");
        FCreated.push_back(AEan);
        Q.ExecSQL();
    }
    std::string NomeOf(const std::string& AEan)
    {
        TFDQuery Q(&FConnection);
        Q.SQL().Add("select nome from cad_produtos where ean = :ean");
        Q.ParamByName("ean").AsString(AEan);
        Q.Open();
        return Q.IsEmpty() ? "<none>" : Q.FieldByName("nome").AsString();
    }
    std::string ConnectionId(TFDConnection& AConnection)
    {
        TFDQuery Q(&AConnection);
        Q.SQL().Add("select connection_id() as id");
        Q.Open();
        return Q.FieldByName("id").AsString();
    }

    TFDConnection FConnection;
    std::vector<std::string> FCreated;
};

TEST_F(DataTest, OpensOnDemandAndReadsRows)
{
    EXPECT_FALSE(FConnection.Connected());
    FConnection.SetConnected(true);
    EXPECT_TRUE(FConnection.Connected());
    TFDQuery Q(&FConnection);
    Q.SQL().Add("select 'a' as First, NULL as Empty, 42 as Num, 'Pão' as Txt, 'd' as Descrição ");
    Q.SQL().Add(" union all select 'b', 'x', 7, '', 'e'");
    Q.Open();
    ASSERT_TRUE(Q.Active());
    EXPECT_FALSE(Q.IsEmpty());
    EXPECT_EQ(Q.RecordCount(), 2u);
    EXPECT_EQ(Q.FieldByName("FIRST").AsString(), "a");
    EXPECT_EQ(Q.FieldByName("first").AsString(), "a");
    EXPECT_EQ(Q.FieldByName("empty").AsString(), "");
    EXPECT_TRUE(Q.FieldByName("Empty").IsNull());
    EXPECT_EQ(Q.FieldByName("num").AsString(), "42");
    EXPECT_EQ(Q.FieldByName("txt").AsString(), "Pão");
    EXPECT_EQ(Q.FieldByName("DESCRIÇÃO").AsString(), "d");
    EXPECT_THROW(Q.FieldByName("nope"), Exception);
    Q.Next();
    EXPECT_EQ(Q.FieldByName("first").AsString(), "b");
    EXPECT_EQ(Q.FieldByName("empty").AsString(), "x");
    Q.Close();
    EXPECT_FALSE(Q.Active());
    EXPECT_TRUE(Q.IsEmpty());
}

TEST_F(DataTest, EachRunAnswersItsOwnText)
{
    // One query and one connection, the text changed and set again between runs, as the
    // routes do: every run has the columns and values of its own text.
    TFDQuery Q(&FConnection);
    for (int Round = 0; Round < 3; ++Round) {
        const std::string V = "v" + std::to_string(Round);
        Q.SQL().Clear();
        Q.SQL().Add("select :v as first");
        Q.ParamByName("v").AsString(V);
        Q.Open();
        ASSERT_EQ(Q.FieldCount(), 1u);
        EXPECT_EQ(Q.FieldByName("first").AsString(), V);
        Q.SQL().Clear();
        Q.SQL().Add("select :v as second, 'x' as more union all select 'two', NULL");
        Q.ParamByName("v").AsString(V);
        Q.Open();
        EXPECT_EQ(Q.FindField("first"), nullptr);
        ASSERT_EQ(Q.FieldCount(), 2u);
        EXPECT_EQ(Q.RecordCount(), 2u);
        EXPECT_EQ(Q.FieldByName("second").AsString(), V);
        Q.Next();
        EXPECT_EQ(Q.FieldByName("second").AsString(), "two");
        EXPECT_TRUE(Q.FieldByName("more").IsNull());
    }
    // Run as a command, a statement that returns rows leaves no result open.
    Q.ExecSQL();
    EXPECT_FALSE(Q.Active());
    EXPECT_TRUE(Q.IsEmpty());
    EXPECT_EQ(Q.FieldCount(), 0u);
}

TEST_F(DataTest, KeptStatementSeesAChangedTable)
{
    TFDQuery Q(&FConnection);
    Q.SQL().Add("create temporary table kept_statement_t (a varchar(10))");
    Q.ExecSQL();
    Q.SQL().Clear();
    Q.SQL().Add("insert into kept_statement_t values ('one')");
    Q.ExecSQL();
    TFDQuery Select(&FConnection);
    Select.SQL().Add("select * from kept_statement_t");
    Select.Open();
    EXPECT_EQ(Select.FieldByName("a").AsString(), "one");
    Q.SQL().Clear();
    Q.SQL().Add("alter table kept_statement_t change a b varchar(10), add c int default 7");
    Q.ExecSQL();
    Select.Open(); // the same text, now over other columns
    EXPECT_EQ(Select.FindField("a"), nullptr);
    ASSERT_EQ(Select.FieldCount(), 2u);
    EXPECT_EQ(Select.FieldByName("b").AsString(), "one");
    EXPECT_EQ(Select.FieldByName("c").AsString(), "7");
}

TEST_F(DataTest, LongValuesAreReadWhole)
{
    TFDQuery Q(&FConnection);
    Q.SQL().Add("select repeat('ç', 5000) as big, :p as echo");
    std::string Long(100000, 'z');
    Q.ParamByName("p").AsString(Long);
    Q.Open();
    std::string Expected;
    for (int I = 0; I < 5000; ++I)
        Expected += "ç";
    EXPECT_EQ(Q.FieldByName("big").AsString(), Expected);
    EXPECT_EQ(Q.FieldByName("echo").AsString(), Long);
}

TEST_F(DataTest, ParametersAreBoundAsPlainText)
{
    const std::string Base = UniqueCode("Q");
    const std::string Injections[] = {
        Base + "1' OR '1'='1", Base + "1; DROP TABLE cad_produtos", Base + "\\'; --", Base + "\"quoted\" `tick` ?",
        Base + " Açúcar 中",
    };
    for (const auto& Ean : Injections)
        Insert(Ean, "nome " + Ean);
    for (const auto& Ean : Injections)
        EXPECT_EQ(NomeOf(Ean), "nome " + Ean) << Ean;
    EXPECT_EQ(NomeOf("x' OR '1'='1"), "<none>");
    EXPECT_EQ(NomeOf("1; DROP TABLE cad_produtos"), "<none>");
    // The table is still there and each value is stored as sent.
    for (const auto& Ean : Injections)
        EXPECT_EQ(testsupport::TestDbCountEan(Ean), 1) << Ean;
}

TEST_F(DataTest, UnsetParameterIsNull)
{
    TFDQuery Q(&FConnection);
    Q.SQL().Add("select :a is null as a_null, :b as b");
    Q.ParamByName("b").AsString("");
    Q.Open();
    EXPECT_EQ(Q.FieldByName("a_null").AsString(), "1");
    EXPECT_EQ(Q.FieldByName("b").AsString(), "");
    EXPECT_FALSE(Q.FieldByName("b").IsNull());
}

TEST_F(DataTest, TextIsUtf8WhateverTheLocale)
{
    // No UTF-8 locale (LANG unset, as under cron or in a bare container): the link still
    // speaks utf8mb4 both ways, so stored names arrive as stored and codes match.
    ::unsetenv("LANG");
    ::setenv("LC_ALL", "C", 1);
    ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr);
    TFDQuery Q(&FConnection);
    Q.SQL().Add("select @@character_set_client as client, @@character_set_connection as link,");
    Q.SQL().Add(" @@character_set_results as results, convert(unhex('50C3A36F') using utf8mb4) as stored,");
    Q.SQL().Add(" hex(:p) as sent");
    Q.ParamByName("p").AsString("PÇ");
    Q.Open();
    EXPECT_EQ(Q.FieldByName("client").AsString(), "utf8mb4");
    EXPECT_EQ(Q.FieldByName("link").AsString(), "utf8mb4");
    EXPECT_EQ(Q.FieldByName("results").AsString(), "utf8mb4");
    EXPECT_EQ(Q.FieldByName("stored").AsString(), "Pão");
    EXPECT_EQ(Q.FieldByName("sent").AsString(), "50C387");
}

TEST_F(DataTest, FailuresCarryTheServersMessage)
{
    TFDQuery Q(&FConnection);
    Q.SQL().Add("select nome from tabela_que_nao_existe where ean = :ean");
    Q.ParamByName("ean").AsString("1");
    try {
        Q.Open();
        FAIL();
    } catch (const EFDDBEngineException& E) {
        EXPECT_EQ(E.Message(), "Table 'base_produtos.tabela_que_nao_existe' doesn't exist");
        EXPECT_EQ(E.ErrorCode(), 1146u);
    }
    EXPECT_TRUE(FConnection.Connected()); // a refused statement leaves the link alone

    const std::string Ean = UniqueCode("D");
    Insert(Ean, "first");
    try {
        Insert(Ean, "second");
        FAIL();
    } catch (const EFDDBEngineException& E) {
        EXPECT_EQ(E.Message(), "Duplicate entry '" + Ean + "' for key 'PRIMARY'");
    }
    EXPECT_EQ(NomeOf(Ean), "first");

    Q.SQL().Clear();
    Q.SQL().Add("insert into cad_produtos (ean, coluna_errada) values (:a, :b)");
    Q.ParamByName("a").AsString("x");
    Q.ParamByName("b").AsString("y");
    try {
        Q.ExecSQL();
        FAIL();
    } catch (const EFDDBEngineException& E) {
        EXPECT_EQ(E.Message(), "Unknown column 'coluna_errada' in 'INSERT INTO'");
    }
}

TEST_F(DataTest, RefusedLoginStaysClosed)
{
    FConnection.Params.SetValue("Password", "wrong");
    try {
        FConnection.Open();
        FAIL();
    } catch (const EFDDBEngineException& E) {
        EXPECT_NE(E.Message().find("Access denied for user 'Pelvador'"), std::string::npos) << E.Message();
    }
    EXPECT_FALSE(FConnection.Connected());
}

TEST_F(DataTest, ServerDownThenUp)
{
    testsupport::TTcpProxy Proxy(testsupport::KTestDbPort);
    SetTestDbParams(FConnection, Proxy.Port());
    FConnection.ResourceOptions.AutoReconnect = true;
    Proxy.Down();
    TFDQuery Q(&FConnection);
    Q.SQL().Add("select 'ok' as r");
    try {
        Q.Open();
        FAIL();
    } catch (const EFDDBEngineException& E) {
        EXPECT_NE(E.Message().find("Can't connect"), std::string::npos) << E.Message();
    }
    EXPECT_FALSE(FConnection.Connected());
    Proxy.Up();
    Q.Open();
    EXPECT_EQ(Q.FieldByName("r").AsString(), "ok");
    EXPECT_TRUE(FConnection.Connected());

    // Down while open: the next statement fails (the reconnect finds nobody), nothing waits.
    Proxy.Down();
    EXPECT_THROW(Q.Open(), Exception);
    EXPECT_FALSE(FConnection.Connected());
    Proxy.Up();
    Q.Open();
    EXPECT_EQ(Q.FieldByName("r").AsString(), "ok");
}

// The kernel's timers on this process's TCP links to APort, in seconds (a link without a
// running timer is left out): from /proc/net/tcp, whose "tr" 2 is the keep-alive timer.
std::vector<double> KeepAliveTimersTo(int APort)
{
    std::set<std::string> own;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const std::string target = std::filesystem::read_symlink(e.path(), ec).string();
        if (!ec && target.rfind("socket:[", 0) == 0)
            own.insert(target.substr(8, target.size() - 9));
    }
    std::vector<double> timers;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line); // the heading
    while (std::getline(table, line)) {
        std::istringstream in(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeouts, inode;
        in >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeouts >> inode;
        if (!own.count(inode) || std::stoi(remote.substr(remote.find(':') + 1), nullptr, 16) != APort)
            continue;
        const auto colon = timer.find(':');
        if (timer.substr(0, colon) == "02")
            timers.push_back(std::stol(timer.substr(colon + 1), nullptr, 16) / 100.0); // USER_HZ ticks
    }
    return timers;
}

// A host that vanishes is found out by probes on the quiet link, within a minute, not by the
// system's two hours.
TEST_F(DataTest, QuietLinksAreProbed)
{
    TFDConnection Fresh;
    SetTestDbParams(Fresh);
    Fresh.Open();
    EXPECT_FALSE(ConnectionId(Fresh).empty());
    const std::vector<double> Timers = KeepAliveTimersTo(testsupport::KTestDbPort);
    ASSERT_FALSE(Timers.empty()) << "no link to the test database with a keep-alive timer";
    for (double T : Timers)
        EXPECT_LE(T, 30.0);
}

TEST_F(DataTest, DroppedLinkReconnectsOnce)
{
    testsupport::TTcpProxy Proxy(testsupport::KTestDbPort);
    SetTestDbParams(FConnection, Proxy.Port());
    FConnection.ResourceOptions.AutoReconnect = true;
    const std::string Ean = UniqueCode("R");
    Insert(Ean, "before");
    const std::string Before = ConnectionId(FConnection);

    Proxy.Cut();
    EXPECT_EQ(NomeOf(Ean), "before"); // reconnected by itself
    EXPECT_NE(ConnectionId(FConnection), Before);

    // An insert whose statement never reached the server is run on the new link, once.
    Proxy.Cut();
    const std::string Ean2 = UniqueCode("R");
    Insert(Ean2, "after");
    EXPECT_EQ(testsupport::TestDbCountEan(Ean2), 1);

    // Without AutoReconnect the failure is reported and the next use opens afresh.
    FConnection.ResourceOptions.AutoReconnect = false;
    Proxy.Cut();
    EXPECT_THROW(NomeOf(Ean), EFDDBEngineException);
    EXPECT_FALSE(FConnection.Connected());
    EXPECT_EQ(NomeOf(Ean), "before");
}

TEST_F(DataTest, ServerSideKillIsSurvived)
{
    FConnection.Open();
    const std::string Id = ConnectionId(FConnection);
    TFDConnection Other;
    SetTestDbParams(Other);
    TFDQuery Kill(&Other);
    Kill.SQL().Add("kill connection " + Id);
    Kill.ExecSQL();
    EXPECT_EQ(NomeOf("no such code"), "<none>");
    EXPECT_NE(ConnectionId(FConnection), Id);
}

TEST_F(DataTest, IdleTimeoutIsSurvived)
{
    FConnection.Open();
    TFDQuery Q(&FConnection);
    Q.SQL().Add("set session wait_timeout = 1");
    Q.ExecSQL();
    const std::string Id = ConnectionId(FConnection);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500)); // the server drops the idle link
    EXPECT_EQ(NomeOf("no such code"), "<none>");
    EXPECT_NE(ConnectionId(FConnection), Id);
}

// Waits (bounded) until the connection with that id runs a statement beginning with APrefix.
bool WaitForStatement(const std::string& AId, const std::string& APrefix)
{
    TFDConnection Watch;
    SetTestDbParams(Watch);
    TFDQuery Q(&Watch);
    Q.SQL().Add("select count(*) as n from information_schema.processlist where id = :id and info like :p");
    Q.ParamByName("id").AsString(AId);
    Q.ParamByName("p").AsString(APrefix + "%");
    for (int I = 0; I < 200; ++I) {
        Q.Open();
        if (Q.FieldByName("n").AsString() == "1")
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
}

TEST_F(DataTest, InsertLostWhileRunningIsReportedNotRepeated)
{
    FConnection.Open();
    const std::string Id = ConnectionId(FConnection);
    const std::string Ean = UniqueCode("K");
    FCreated.push_back(Ean);
    std::thread Killer([&] {
        if (WaitForStatement(Id, "insert"))
            testsupport::TestDbExec("kill connection " + Id);
    });
    TFDQuery Q(&FConnection);
    Q.SQL().Add("insert into cad_produtos (ean, nome) select :ean, if(sleep(3) = 0, 'slow', 'killed')");
    Q.ParamByName("ean").AsString(Ean);
    try {
        Q.ExecSQL();
        ADD_FAILURE() << "the insert was run again after the link was lost";
    } catch (const EFDDBEngineException& E) {
        const unsigned LostCodes[] = {1927, 2006, 2013};
        EXPECT_NE(std::find(std::begin(LostCodes), std::end(LostCodes), E.ErrorCode()), std::end(LostCodes))
            << E.ErrorCode() << " " << E.Message();
    }
    Killer.join();
    EXPECT_FALSE(FConnection.Connected());
    EXPECT_LE(testsupport::TestDbCountEan(Ean), 1);
}

// A statement that changes data waits for the server's answer, however long it takes: giving up
// would report a row failed that the server goes on to store. Lookups keep their limit.
TEST_F(DataTest, OnlyLookupsGiveUpOnASlowServer)
{
    FConnection.Params.SetValue("ReadTimeout", "1");
    const std::string Ean = UniqueCode("W");
    FCreated.push_back(Ean);
    TFDQuery Insert(&FConnection);
    Insert.SQL().Add("insert into cad_produtos (ean, nome) select :ean, if(sleep(2) = 0, 'slow', 'cut short')");
    Insert.ParamByName("ean").AsString(Ean);
    EXPECT_NO_THROW(Insert.ExecSQL());
    EXPECT_EQ(Insert.RowsAffected(), 1u);
    EXPECT_EQ(NomeOf(Ean), "slow");

    TFDQuery Lookup(&FConnection);
    Lookup.SQL().Add("select sleep(2) as s");
    try {
        Lookup.Open();
        ADD_FAILURE() << "a lookup waited past its read timeout";
    } catch (const EFDDBEngineException& E) {
        EXPECT_EQ(E.ErrorCode(), 2013u) << E.Message(); // CR_SERVER_LOST
    }
    EXPECT_EQ(NomeOf(Ean), "slow"); // the connection is made again for the next statement
}

TEST_F(DataTest, ReadLostWhileRunningIsRunAgain)
{
    FConnection.Open();
    const std::string Id = ConnectionId(FConnection);
    std::thread Killer([&] {
        if (WaitForStatement(Id, "select sleep"))
            testsupport::TestDbExec("kill connection " + Id);
    });
    TFDQuery Q(&FConnection);
    Q.SQL().Add("select sleep(1) as s, 'done' as r");
    Q.Open();
    Killer.join();
    EXPECT_EQ(Q.FieldByName("r").AsString(), "done");
    EXPECT_NE(ConnectionId(FConnection), Id);
}

TEST_F(DataTest, ConnectionsOnManyThreads)
{
    const std::string Ean = UniqueCode("M");
    Insert(Ean, "Maçã");
    std::atomic<int> Good{0};
    std::vector<std::thread> Threads;
    for (int T = 0; T < 32; ++T)
        Threads.emplace_back([&, T] {
            TFDConnection C;
            SetTestDbParams(C);
            TFDQuery Q(&C);
            for (int I = 0; I < 10; ++I) {
                Q.Close();
                Q.SQL().Clear();
                Q.SQL().Add("select nome, :t as t from cad_produtos where ean = :ean");
                Q.ParamByName("ean").AsString(Ean);
                Q.ParamByName("t").AsString(std::to_string(T));
                Q.Open();
                if (Q.FieldByName("nome").AsString() == "Maçã" && Q.FieldByName("t").AsString() == std::to_string(T))
                    ++Good;
            }
        });
    for (auto& T : Threads)
        T.join();
    EXPECT_EQ(Good.load(), 320);
}

} // namespace
