// The six catalogue lookup routes over HTTP, against the test database.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "product_routes.hpp"

using namespace producttest;
using service::Total404;
using service::TotalResolvidos;

namespace {

class CatalogueRoutes : public ProductRoutes {
protected:
    void SetUp() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        ProductRoutes::SetUp();
        IsolateTables();
    }
};

TEST_F(CatalogueRoutes, FoundProductInEveryForm)
{
    AddProduct("7891000100103", "Pão de Açúcar 中", "04029900", "1700700", "UN", "12", nullptr, "Padaria é");

    auto R = Get("/api/descricao/7891000100103");
    EXPECT_EQ(R.Status, 200);
    EXPECT_EQ(R.Body, "Pão de Açúcar 中"); // plain text as stored
    EXPECT_EQ(R.HeaderOr("Content-Type"), KTextType);
    auto L = TakeOneLine();
    EXPECT_EQ(L.Address, "127.0.0.1");
    EXPECT_EQ(L.Counter, 1);
    EXPECT_EQ(L.Text, "| Entregue descricao: 7891000100103|Pão de Açúcar 中");

    const std::string Record =
        R"({"Status":"200","Status_Desc":"Ok","Nome":"Pao de Acucar ?","Ncm":"04029900","Cest_Codigo":"1700700",)"
        R"("Embalagem":"UN","QuantidadeEmbalagem":"12","Marca":"","Categoria":"Padaria e","Peso":"",)"
        R"("id_categoria":"","tributacao":""})";
    for (const char* Route : {"/api/desc/", "/api/desc200/"}) {
        R = Get(std::string(Route) + "7891000100103");
        EXPECT_EQ(R.Status, 200) << Route;
        EXPECT_EQ(R.Body, Record) << Route;
        EXPECT_EQ(R.HeaderOr("Content-Type"), KJsonType);
        L = TakeOneLine();
        EXPECT_EQ(L.Address, "127.0.0.1");
        EXPECT_EQ(L.Text, "| Entregue json: 7891000100103|Pão de Açúcar 中");
    }

    R = Get("/api/desc_ini/7891000100103");
    EXPECT_EQ(R.Status, 200);
    EXPECT_EQ(R.Body,
              "[GENERAL]\r\nNome=Pao de Acucar ?\r\nNcm=04029900\r\nCest_Codigo=1700700\r\nEmbalagem=UN\r\n"
              "QuantidadeEmbalagem=12\r\nMarca=\r\nCategoria=Padaria e\r\nPeso=\r\nid_categoria=\r\ntributacao=\r\n");
    EXPECT_EQ(R.HeaderOr("Content-Type"), KTextType);
    L = TakeOneLine();
    EXPECT_EQ(L.Counter, 4);
    EXPECT_EQ(L.Text, "| Entregue INI: 7891000100103|Pão de Açúcar 中");

    EXPECT_EQ(TotalResolvidos.load(), 4);
    EXPECT_EQ(Total404.load(), 0);
}

TEST_F(CatalogueRoutes, AllColumnsNull)
{
    AddProduct("00000001", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    auto R = Get("/api/descricao/00000001");
    EXPECT_EQ(R.Status, 200);
    EXPECT_EQ(R.Body, "");
    EXPECT_EQ(TakeOneLine().Text, "| Entregue descricao: 00000001|");
    R = Get("/api/desc/00000001");
    EXPECT_EQ(R.Body, R"({"Status":"200","Status_Desc":"Ok","Nome":"","Ncm":"","Cest_Codigo":"","Embalagem":"",)"
                      R"("QuantidadeEmbalagem":"","Marca":"","Categoria":"","Peso":"","id_categoria":"",)"
                      R"("tributacao":""})");
    R = Get("/api/desc_ini/00000001");
    EXPECT_EQ(R.Body,
              "[GENERAL]\r\nNome=\r\nNcm=\r\nCest_Codigo=\r\nEmbalagem=\r\nQuantidadeEmbalagem=\r\n"
              "Marca=\r\nCategoria=\r\nPeso=\r\nid_categoria=\r\ntributacao=\r\n");
}

TEST_F(CatalogueRoutes, UnitsOfMeasure)
{
    DbExec("insert into unidade_medida (id, nome) values (:id, :nome)", {{"id", "PÇ"}, {"nome", "Peça"}});
    auto R = Get("/api/um2/P%C3%87");
    EXPECT_EQ(R.Status, 200);
    EXPECT_EQ(R.Body, "Peça");
    EXPECT_EQ(R.HeaderOr("Content-Type"), KTextType);
    auto L = TakeOneLine();
    EXPECT_EQ(L.Counter, 1);
    EXPECT_EQ(L.Text, "| Entregue descricao unidade medida: PÇ|Peça");

    R = Get("/api/um/P%C3%87");
    EXPECT_EQ(R.Status, 200);
    EXPECT_EQ(R.Body, R"({"Status":"200","Status_Desc":"Ok","id":"PC","nome":"Peca"})");
    EXPECT_EQ(R.HeaderOr("Content-Type"), KJsonType);
    L = TakeOneLine();
    EXPECT_EQ(L.Counter, 2);
    EXPECT_EQ(L.Address, "127.0.0.1");
    EXPECT_EQ(L.Text, "| Entregue descricao unidade medida: PÇ|Peça");
}

TEST_F(CatalogueRoutes, NotFoundAnswersAndLines)
{
    // The code is used as decoded from the path: no trimming, no digit filtering.
    const std::string Path = "n%C3%A3o%20h%C3%A1%20-1";
    const std::string Code = "não há -1";
    const std::string Escaped = "n\\u00E3o h\\u00E1 -1"; // as the JSON writer puts it

    struct TCase {
        const char* Route;
        int Status;
        std::string Body;
        bool Addressed;
        std::string Text;
    };
    const std::string ProductMissing = R"({"Status":"404","Status_Desc":"Descricao nao encontrada para o ean: )" +
                                       Escaped + R"("})";
    const std::string UnitMissing =
        R"({"Status":"404","Status_Desc":"Descricao nao encontrada para a unidade de medida: )" + Escaped + R"("})";
    const TCase Cases[] = {
        {"/api/descricao/", 404, ProductMissing, true, "| Descricao nao encontrada para o ean: " + Code},
        {"/api/um2/", 404, UnitMissing, true, "| Descricao nao encontrada a unidade de meida: " + Code},
        {"/api/um/", 404, UnitMissing, true, "| Descricao nao encontrada a unidade de meida: " + Code},
        {"/api/desc/", 404, ProductMissing, false, "| Descricao nao encontrada para o ean: " + Code},
        {"/api/desc200/", 200,
         R"({"Status":"404","Status_Desc":"404","Nome":"404","Ncm":"404","Cest_Codigo":"404","Embalagem":"404",)"
         R"("QuantidadeEmbalagem":"0","Marca":"404","Categoria":"404","Peso":"0","id_categoria":"0",)"
         R"("tributacao":"404"})",
         false, "| Descricao nao encontrada para o ean: " + Code},
        {"/api/desc_ini/", 404, ProductMissing, false, "| Descricao nao encontrada para o ean: " + Code},
    };
    int Expected404 = 0;
    for (const auto& C : Cases) {
        auto R = Get(std::string(C.Route) + Path);
        EXPECT_EQ(R.Status, C.Status) << C.Route;
        EXPECT_EQ(R.Body, C.Body) << C.Route;
        EXPECT_EQ(R.HeaderOr("Content-Type"), KJsonType) << C.Route;
        auto L = TakeOneLine();
        EXPECT_EQ(L.Counter, ++Expected404) << C.Route;
        EXPECT_EQ(L.Address, C.Addressed ? "127.0.0.1" : "") << C.Route;
        EXPECT_EQ(L.Text, C.Text) << C.Route;
    }
    EXPECT_EQ(Total404.load(), 6);
    EXPECT_EQ(TotalResolvidos.load(), 0);
}

TEST_F(CatalogueRoutes, PathWithoutCodeNeverReachesTheRoute)
{
    auto R = Get("/api/descricao/");
    EXPECT_EQ(R.Status, 404);
    EXPECT_TRUE(TakeHistory().empty());
    EXPECT_EQ(Total404.load(), 0);
}

TEST_F(CatalogueRoutes, CodeIsPlainTextNotSql)
{
    AddProduct("1' OR '1'='1", "Injetado", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    AddProduct("7890000000001", "Outro", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    auto R = Get("/api/descricao/1'%20OR%20'1'='1");
    EXPECT_EQ(R.Status, 200);
    EXPECT_EQ(R.Body, "Injetado");
    R = Get("/api/descricao/2'%20OR%20'1'='1");
    EXPECT_EQ(R.Status, 404);
    R = Get("/api/desc/1;%20DROP%20TABLE%20cad_produtos");
    EXPECT_EQ(R.Status, 404);
    R = Get("/api/descricao/7890000000001");
    EXPECT_EQ(R.Body, "Outro");
    EXPECT_EQ(ProductCount(), 2u);
}

class CatalogueSeveralRows : public ProductRoutes {
protected:
    void SetUp() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        ProductRoutes::SetUp();
        IsolateTables(false); // a table without a key can hold one code twice
    }
};

TEST_F(CatalogueSeveralRows, FirstRowIsAnswered)
{
    AddProduct("7891111111111", "Primeiro", "1", nullptr, nullptr, nullptr, nullptr, nullptr);
    AddProduct("7891111111111", "Segundo", "2", nullptr, nullptr, nullptr, nullptr, nullptr);
    auto R = Get("/api/descricao/7891111111111");
    EXPECT_EQ(R.Body, "Primeiro");
    EXPECT_EQ(TakeOneLine().Text, "| Entregue descricao: 7891111111111|Primeiro");
    R = Get("/api/desc_ini/7891111111111");
    EXPECT_NE(R.Body.find("Nome=Primeiro\r\nNcm=1\r\n"), std::string::npos) << R.Body;
    EXPECT_EQ(TakeOneLine().Text, "| Entregue INI: 7891111111111|Primeiro");
}

// Runs without the test database: the data form points at a port where nobody listens.
class CatalogueDatabaseDown : public ProductRoutes {
protected:
    void SetUp() override
    {
        ProductRoutes::SetUp();
        FDb->SetParam("Port", std::to_string(testing_support::FreePort()));
    }
};

TEST_F(CatalogueDatabaseDown, EveryLookupAnswers500AndNoCounterMoves)
{
    for (const char* Route :
         {"/api/descricao/1", "/api/um2/UN", "/api/um/UN", "/api/desc/1", "/api/desc200/1", "/api/desc_ini/1"}) {
        auto R = Get(Route);
        EXPECT_EQ(R.Status, 500) << Route;
    }
    EXPECT_EQ(TotalResolvidos.load(), 0);
    EXPECT_EQ(Total404.load(), 0);
    EXPECT_TRUE(TakeHistory().empty());
}

TEST_F(CatalogueDatabaseDown, DescricaoTrimsOnlyOnceConnected)
{
    for (int I = 0; I < 10001; ++I)
        service::THistory::Add("line");
    TakeHistory();
    ASSERT_EQ(service::THistory::Count(), 10001);
    EXPECT_EQ(Get("/api/descricao/1").Status, 500);
    EXPECT_EQ(service::THistory::Count(), 10001); // the open failed before the trim
    EXPECT_EQ(Get("/api/desc/1").Status, 500);
    EXPECT_EQ(service::THistory::Count(), 0); // trimmed first, then the open failed
    EXPECT_EQ(TakeHistory(), std::vector<std::string>{"<clear>"});
}

TEST_F(CatalogueDatabaseDown, NextRequestConnectsOnceTheServerAnswers)
{
    MIROVANDEL_REQUIRE_TEST_DB();
    EXPECT_EQ(Get("/api/desc/no-such-code").Status, 500);
    FDb->SetParam("Port", "3389");
    auto R = Get("/api/desc/no-such-code");
    EXPECT_EQ(R.Status, 404);
    EXPECT_EQ(Total404.load(), 1);
}

TEST_F(CatalogueDatabaseDown, MissingClientLibraryAnswers500)
{
    MIROVANDEL_IN_FRESH_PROCESS(); // once loaded, the library stays for the process
    platform::TFDConnection::SetClientLibrary("libmirovandel-absent-client.so.3");
    FDb->SetParam("Port", "3389");
    EXPECT_EQ(Get("/api/um/UN").Status, 500);
    EXPECT_EQ(Get("/api/descricao/1").Status, 500);
    EXPECT_EQ(Total404.load() + TotalResolvidos.load(), 0);
    // Pictures are still served.
    auto R = Get("/api/fotoexiste/1");
    EXPECT_EQ(R.Status, 200);
    EXPECT_EQ(R.Body, "Nao");
}

TEST_F(CatalogueDatabaseDown, PictureRequestsMakeNoConnection)
{
    EXPECT_EQ(Get("/api/fotoexiste/7891000100103").Status, 200);
    EXPECT_EQ(Get("/api/gtin/7891000100103").Status, 404);
    EXPECT_EQ(FDb->SessionCount(), 0u);
}

} // namespace

namespace {

// Many clients at once on the shared data form (its default pool, the real tables).
class CatalogueConcurrent : public ProductRoutes {
protected:
    void SetUp() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        ProductRoutes::SetUp();
        FCode = testsupport::UniqueCode("C");
        AddProduct(FCode, "Concorrência", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        try {
            testsupport::TestDbExec("delete from cad_produtos where binary ean = :e", {{"e", FCode}});
        } catch (...) {
        }
        ProductRoutes::TearDown();
    }
    std::string FCode;
};

TEST_F(CatalogueConcurrent, ThirtyTwoClientsGetTheirAnswersAndDistinctCounts)
{
    constexpr int KClients = 32;
    std::vector<std::thread> Threads;
    std::vector<testing_support::THttpReply> Replies(KClients);
    for (int I = 0; I < KClients; ++I)
        Threads.emplace_back([&, I] {
            Replies[I] = Get((I % 2 ? "/api/descricao/" : "/api/desc/") + (I % 4 == 3 ? "missing-" + FCode : FCode));
        });
    for (auto& T : Threads)
        T.join();
    int Found = 0, Missing = 0;
    for (int I = 0; I < KClients; ++I) {
        if (I % 4 == 3) {
            EXPECT_EQ(Replies[I].Status, 404) << I;
            ++Missing;
        } else {
            EXPECT_EQ(Replies[I].Status, 200) << I;
            EXPECT_EQ(Replies[I].Body, I % 2
                                           ? "Concorrência"
                                           : std::string(R"({"Status":"200","Status_Desc":"Ok","Nome":"Concorrencia",)"
                                                         R"("Ncm":"","Cest_Codigo":"","Embalagem":"",)"
                                                         R"("QuantidadeEmbalagem":"","Marca":"","Categoria":"",)"
                                                         R"("Peso":"","id_categoria":"","tributacao":""})"))
                << I;
            ++Found;
        }
    }
    EXPECT_EQ(TotalResolvidos.load(), Found);
    EXPECT_EQ(Total404.load(), Missing);
    // Each line shows the value its own increment produced: no value twice.
    std::set<int> Resolved, NotFound;
    for (const auto& Line : TakeHistory()) {
        auto L = ParseHistoryLine(Line);
        ASSERT_TRUE(L.Parsed) << Line;
        auto& Seen = L.Text.find("nao encontrada") != std::string::npos ? NotFound : Resolved;
        EXPECT_TRUE(Seen.insert(L.Counter).second) << Line;
    }
    EXPECT_EQ(Resolved.size(), static_cast<size_t>(Found));
    EXPECT_EQ(NotFound.size(), static_cast<size_t>(Missing));
    EXPECT_LE(FDb->SessionCount(), service::TBaseDados::KDefaultMaxSessions);
}

} // namespace
