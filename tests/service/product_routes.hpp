#pragma once
// The product service listening on a loopback port, its data form and its history, for tests
// that talk to the routes with curl.
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "service/history.hpp"
#include "service/main/basedados.hpp"
#include "service/main/control.hpp"
#include "service_support.hpp"
#include "support/http.hpp"
#include "support/testdb.hpp"

namespace producttest {

// One history line taken apart: "<address> | <counter>|<date>|<time><text>" (Address empty
// for the bare form "<counter>|<date>|<time><text>").
struct THistoryLine {
    std::string Address;
    int Counter = -1;
    std::string Text;
    bool Parsed = false;
};

inline THistoryLine ParseHistoryLine(const std::string& ALine)
{
    // The tests run in the "C" locale: %x is mm/dd/yy, %X is HH:MM:SS.
    static const std::regex Addressed(R"(^(.+) \| (\d+)\|(\d\d/\d\d/\d\d)\|(\d\d:\d\d:\d\d)([\s\S]*)$)");
    static const std::regex Bare(R"(^(\d+)\|(\d\d/\d\d/\d\d)\|(\d\d:\d\d:\d\d)([\s\S]*)$)");
    THistoryLine L;
    std::smatch M;
    if (std::regex_match(ALine, M, Addressed)) {
        L.Address = M[1];
        L.Counter = std::stoi(M[2]);
        L.Text = M[5];
        L.Parsed = true;
    } else if (std::regex_match(ALine, M, Bare)) {
        L.Counter = std::stoi(M[1]);
        L.Text = M[4];
        L.Parsed = true;
    }
    return L;
}

class ProductRoutes : public service_test::TRestoresService {
protected:
    void SetUp() override
    {
        service::THistory::Reset();
        FDb = std::make_unique<service::TBaseDados>();
        service::BaseDados = FDb.get();
        // Started as the window starts it: a server control over the process's one service
        // object (made by the first start in the process, then shared, with the one core).
        FPort = testing_support::FreePort();
        service_test::WriteBytes(FConfigDir.Path() / "config.ini",
                                 "Path=/nonexistent/\r\nPort=" + std::to_string(FPort) + "\r\n");
        FControl = std::make_unique<service::TMainControl>(FConfigDir.Str());
        FControl->Power();
        ASSERT_TRUE(FControl->Active());
    }

    void TearDown() override
    {
        FControl.reset(); // stops the server
        service::BaseDados = nullptr;
        FDb.reset();
    }

    // Database tests see tables of their own: the data form keeps one session, on which the two
    // tables are shadowed by empty temporary copies (no other test or test run sees them).
    void IsolateTables(bool AProductKey = true)
    {
        FDb->SetMaxSessions(1);
        auto S = FDb->Use();
        S.FdConnection1.SetConnected(true);
        if (AProductKey)
            Exec(S.FDQuery2, TemporaryCopy(S.fdQuery1, "cad_produtos"));
        else
            Exec(S.FDQuery2,
                 "create temporary table base_produtos.cad_produtos (ean varchar(64), nome varchar(200), "
                 "ncm varchar(16), cest_codigo varchar(16), embalagem varchar(16), quantidade_embalagem int, "
                 "marca varchar(100), categoria varchar(100))");
        Exec(S.FDQuery2, TemporaryCopy(S.fdQuery1, "unidade_medida"));
    }

    // The statement that makes an empty temporary table like the real one (keys included).
    static std::string TemporaryCopy(platform::TFDQuery& AQuery, const std::string& ATable)
    {
        AQuery.SQL().Clear();
        AQuery.SQL().Add("show create table base_produtos." + ATable);
        AQuery.Open();
        std::string Create = AQuery.FieldByName("Create Table").AsString();
        AQuery.Close();
        const std::string Head = "CREATE TABLE ";
        EXPECT_EQ(Create.rfind(Head, 0), 0u) << Create;
        return "CREATE TEMPORARY TABLE base_produtos." + Create.substr(Head.size());
    }

    static void Exec(platform::TFDQuery& AQuery, const std::string& AStatement,
                     const std::vector<std::pair<std::string, std::string>>& AParams = {})
    {
        AQuery.SQL().Clear();
        AQuery.SQL().Add(AStatement);
        for (const auto& [Name, Value] : AParams)
            AQuery.ParamByName(Name).AsString(Value);
        AQuery.ExecSQL();
    }

    // Runs a statement on the data form's (single, isolated) session.
    void DbExec(const std::string& AStatement, const std::vector<std::pair<std::string, std::string>>& AParams = {})
    {
        auto S = FDb->Use();
        Exec(S.FDQuery2, AStatement, AParams);
    }

    void AddProduct(const std::string& AEan, const char* ANome, const char* ANcm, const char* ACest,
                    const char* AEmbalagem, const char* AQuantidade, const char* AMarca, const char* ACategoria)
    {
        auto S = FDb->Use();
        auto& Q = S.FDQuery2;
        Q.SQL().Clear();
        Q.SQL().Add(
            "insert into base_produtos.cad_produtos (ean, nome, ncm, cest_codigo, embalagem, "
            "quantidade_embalagem, marca, categoria)");
        Q.SQL().Add("values (:ean, :nome, :ncm, :cest, :emb, :qtd, :marca, :cat)");
        auto Bind = [&](const char* AName, const char* AValue) {
            if (AValue)
                Q.ParamByName(AName).AsString(AValue);
            else
                Q.ParamByName(AName).Clear();
        };
        Q.ParamByName("ean").AsString(AEan);
        Bind("nome", ANome);
        Bind("ncm", ANcm);
        Bind("cest", ACest);
        Bind("emb", AEmbalagem);
        Bind("qtd", AQuantidade);
        Bind("marca", AMarca);
        Bind("cat", ACategoria);
        Q.ExecSQL();
    }

    // The stored rows with that code, each as "nome|ncm|cest_codigo|embalagem" (NULL as "<null>").
    std::vector<std::string> StoredProducts(const std::string& AEan)
    {
        auto S = FDb->Use();
        auto& Q = S.fdQuery1;
        Q.SQL().Clear();
        Q.SQL().Add("select nome, ncm, cest_codigo, embalagem from base_produtos.cad_produtos where binary ean = :e");
        Q.ParamByName("e").AsString(AEan);
        Q.Open();
        std::vector<std::string> Rows;
        for (; !Q.Eof(); Q.Next()) {
            std::string Row;
            for (const char* C : {"nome", "ncm", "cest_codigo", "embalagem"}) {
                if (C[0] != 'n' || C[1] != 'o')
                    Row += "|";
                Row += Q.FieldByName(C).IsNull() ? "<null>" : Q.FieldByName(C).AsString();
            }
            Rows.push_back(Row);
        }
        return Rows;
    }

    size_t ProductCount()
    {
        auto S = FDb->Use();
        auto& Q = S.fdQuery1;
        Q.SQL().Clear();
        Q.SQL().Add("select count(*) as n from base_produtos.cad_produtos");
        Q.Open();
        return std::stoul(Q.FieldByName("n").AsString());
    }

    testing_support::THttpReply Get(const std::string& APath)
    {
        return testing_support::Curl({testing_support::LoopbackUrl(FPort, APath)}).Reply;
    }

    testing_support::THttpReply Post(const std::string& APath, const std::string& ABody,
                                     const std::string& AContentType = "application/json")
    {
        return testing_support::Curl({"-X", "POST", "-H", "Content-Type: " + AContentType, "--data-binary", ABody,
                                      testing_support::LoopbackUrl(FPort, APath)})
            .Reply;
    }

    // The history changes since the last call: each added line, "<clear>" for an emptying.
    std::vector<std::string> TakeHistory()
    {
        std::vector<std::string> Lines;
        for (auto& Op : service::THistory::TakePending())
            Lines.push_back(Op.Clear ? "<clear>" : Op.Line);
        return Lines;
    }

    // The one history line added since the last call, taken apart.
    THistoryLine TakeOneLine()
    {
        auto Lines = TakeHistory();
        EXPECT_EQ(Lines.size(), 1u) << ::testing::PrintToString(Lines);
        if (Lines.size() != 1)
            return {};
        auto L = ParseHistoryLine(Lines[0]);
        EXPECT_TRUE(L.Parsed) << Lines[0];
        return L;
    }

    std::unique_ptr<service::TBaseDados> FDb;
    service_test::ScratchDir FConfigDir;
    std::unique_ptr<service::TMainControl> FControl;
    int FPort = 0;
};

inline const std::string KJsonType = "application/json; charset=UTF-8";
inline const std::string KTextType = "text/html; charset=utf-8";

} // namespace producttest
