// POST "/api/grava" over HTTP, against the test database.
#include <gtest/gtest.h>

#include "platform/json/json.hpp"
#include "product_routes.hpp"

using namespace producttest;
using service::Total404;
using service::TotalResolvidos;

namespace {

class GravaRoute : public ProductRoutes {
protected:
    void SetUp() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        ProductRoutes::SetUp();
        IsolateTables();
    }

    // Posts and expects the failure answer: status 200, empty body, one failure line.
    std::string PostFailing(const std::string& ABody, const std::string& AContentType = "application/json")
    {
        auto R = Post("/api/grava", ABody, AContentType);
        EXPECT_EQ(R.Status, 200) << ABody;
        EXPECT_EQ(R.Body, "") << ABody;
        auto L = TakeOneLine();
        EXPECT_EQ(L.Address, "127.0.0.1");
        EXPECT_EQ(L.Counter, TotalResolvidos.load());
        return L.Text;
    }
};

TEST_F(GravaRoute, EanIsPaddedToEightUnits)
{
    struct TCase {
        std::string EanJson;
        std::string Stored;
    };
    const TCase Cases[] = {
        {R"("123")", "00000123"},
        {R"("")", "00000000"},
        {R"("7891234567895")", "7891234567895"},
        {R"("12345678")", "12345678"},
        {"4567", "00004567"}, // a JSON number: its digits
        {"null", "0000null"},
        {"true", "0000true"},
        {R"("ção")", "00000ção"},                        // counted in UTF-16 units, not bytes
        {R"("\ud83d\ude00")", "000000\xF0\x9F\x98\x80"}, // one character, two units
        {R"(" 12 ")", "0000 12 "},                       // not trimmed
    };
    int N = 0;
    for (const auto& C : Cases) {
        const std::string Nome = "Produto " + std::to_string(++N);
        auto R = Post("/api/grava", R"({"ean":)" + C.EanJson + R"(,"nome":")" + Nome +
                                        R"(","ncm":"04029900","cest":"1700700","um":"UN"})");
        EXPECT_EQ(R.Status, 200) << C.EanJson;
        auto Answer = platform::TJSONObject::ParseJSONValue(R.Body);
        ASSERT_TRUE(Answer) << R.Body;
        auto* Object = dynamic_cast<platform::TJSONObject*>(Answer.get());
        ASSERT_TRUE(Object && Object->Count() == 1 && Object->GetValue("id")) << R.Body;
        EXPECT_EQ(Object->GetValue("id")->Value(), C.Stored) << C.EanJson;
        EXPECT_EQ(R.HeaderOr("Content-Type"), KJsonType);
        EXPECT_EQ(StoredProducts(C.Stored), std::vector<std::string>{Nome + "|04029900|1700700|UN"}) << C.EanJson;
        auto L = TakeOneLine();
        EXPECT_EQ(L.Address, "127.0.0.1");
        EXPECT_EQ(L.Counter, 0);
        EXPECT_EQ(L.Text, "Produto cadastrado! | " + Nome);
    }
    EXPECT_EQ(TotalResolvidos.load(), 0);
    EXPECT_EQ(Total404.load(), 0);
}

TEST_F(GravaRoute, MembersAreTakenAsTheirTextValues)
{
    auto R = Post("/api/grava",
                  R"({"ean":"7891000100103","nome":"Pão de Açúcar \"Especial\"","ncm":4029900,"cest":null,)"
                  R"("um":{"x":1},"ean":"ignored"})");
    EXPECT_EQ(R.Body, R"({"id":"7891000100103"})");
    // Stored unchanged: accents kept, numbers as digits, null as "null", an object as "".
    EXPECT_EQ(StoredProducts("7891000100103"), std::vector<std::string>{"Pão de Açúcar \"Especial\"|4029900|null|"});
    EXPECT_EQ(TakeOneLine().Text, "Produto cadastrado! | Pão de Açúcar \"Especial\"");
}

TEST_F(GravaRoute, SuccessLineShowsTheUnchangedResolvedCount)
{
    AddProduct("00000777", "Existente", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(Get("/api/descricao/00000777").Status, 200);
    EXPECT_EQ(Get("/api/descricao/00000778").Status, 404);
    TakeHistory();
    auto R = Post("/api/grava", R"({"ean":"779","nome":"Novo","ncm":"","cest":"","um":""})");
    EXPECT_EQ(R.Body, R"({"id":"00000779"})");
    auto L = TakeOneLine();
    EXPECT_EQ(L.Counter, 1);
    EXPECT_EQ(L.Text, "Produto cadastrado! | Novo");
    EXPECT_EQ(TotalResolvidos.load(), 1);
    EXPECT_EQ(Total404.load(), 1);
}

TEST_F(GravaRoute, MissingInputFailsAtItsStepAndStoresNothing)
{
    struct TCase {
        std::string Body;
        std::string ContentType;
        std::string TextStart; // the line's text up to the message
    };
    const TCase Cases[] = {
        {R"({"EAN":"1","nome":"A","ncm":"","cest":"","um":""})", "application/json", "Erro cadastrando produto! |  | "},
        {R"({"ean":"1","Nome":"A","ncm":"","cest":"","um":""})", "application/json", "Erro cadastrando produto! |  | "},
        {R"({"ean":"1","nome":"Sem ncm","cest":"","um":""})", "application/json",
         "Erro cadastrando produto! | Sem ncm | "},
        {R"({"ean":"1","nome":"Sem cest","ncm":"","um":""})", "application/json",
         "Erro cadastrando produto! | Sem cest | "},
        {R"({"ean":"1","nome":"Sem um","ncm":"","cest":""})", "application/json",
         "Erro cadastrando produto! | Sem um | "},
        {R"([{"ean":"1","nome":"A","ncm":"","cest":"","um":""}])", "application/json",
         "Erro cadastrando produto! |  | "},
        {R"("texto")", "application/json", "Erro cadastrando produto! |  | "},
        {R"({"ean":"1","nome":"A","ncm":"","cest":"","um":""})", "text/plain", "Erro cadastrando produto! |  | "},
        {R"({"ean":"1","nome":"A","ncm":"","cest":"","um":""})", "Application/JSON", "Erro cadastrando produto! |  | "},
        {R"({"ean":"1","nome":"A","ncm":"","cest":"","um":""})", "application/json; v=1",
         "Erro cadastrando produto! |  | "},
    };
    for (const auto& C : Cases) {
        const std::string Text = PostFailing(C.Body, C.ContentType);
        EXPECT_EQ(Text.rfind(C.TextStart, 0), 0u) << C.Body << " " << C.ContentType << " -> " << Text;
        EXPECT_GT(Text.size(), C.TextStart.size()) << "a message follows";
    }
    EXPECT_EQ(ProductCount(), 0u);
    EXPECT_EQ(TotalResolvidos.load(), 0);
}

TEST_F(GravaRoute, CharsetParameterStillParses)
{
    auto R = Post("/api/grava", R"({"ean":"5","nome":"Com charset","ncm":"","cest":"","um":""})",
                  "application/json; charset=utf-8");
    EXPECT_EQ(R.Body, R"({"id":"00000005"})");
    EXPECT_EQ(TakeOneLine().Text, "Produto cadastrado! | Com charset");
}

TEST_F(GravaRoute, DuplicateIsRejectedByTheDatabase)
{
    const std::string Body = R"({"ean":"123","nome":"Açúcar","ncm":"1","cest":"2","um":"KG"})";
    EXPECT_EQ(Post("/api/grava", Body).Body, R"({"id":"00000123"})");
    TakeHistory();
    const std::string Text = PostFailing(R"({"ean":"00000123","nome":"Outro Açúcar","ncm":"9","cest":"9","um":"UN"})");
    EXPECT_EQ(Text, "Erro cadastrando produto! | Outro Açúcar | Duplicate entry '00000123' for key 'PRIMARY'");
    EXPECT_EQ(StoredProducts("00000123"), std::vector<std::string>{"Açúcar|1|2|KG"});
}

TEST_F(GravaRoute, TooLongValueLeavesNoPartialRow)
{
    const std::string Text =
        PostFailing(R"({"ean":"42","nome":"Longo","ncm":")" + std::string(40, '9') + R"(","cest":"","um":""})");
    EXPECT_EQ(Text.rfind("Erro cadastrando produto! | Longo | Data too long for column 'ncm'", 0), 0u) << Text;
    EXPECT_EQ(ProductCount(), 0u);
}

TEST_F(GravaRoute, MembersAreStoredAsPlainTextNotSql)
{
    const std::string Ean = "1' OR '1'='1";
    const std::string Nome = "x'); DROP TABLE cad_produtos; --";
    auto R = Post("/api/grava", R"({"ean":"1' OR '1'='1","nome":"x'); DROP TABLE cad_produtos; --",)"
                                R"("ncm":"'; DELETE --","cest":"\\","um":"`"})");
    EXPECT_EQ(R.Body, R"({"id":"1' OR '1'='1"})") << ::testing::PrintToString(TakeHistory());
    EXPECT_EQ(StoredProducts(Ean), std::vector<std::string>{Nome + "|'; DELETE --|\\|`"});
    EXPECT_EQ(ProductCount(), 1u);
    R = Get("/api/descricao/1'%20OR%20'1'='1");
    EXPECT_EQ(R.Body, Nome);
}

TEST_F(GravaRoute, GetIsNotAllowed)
{
    auto R = Get("/api/grava");
    EXPECT_EQ(R.Status, 405);
    EXPECT_TRUE(TakeHistory().empty());
}

// Runs without the test database.
class GravaDatabaseDown : public ProductRoutes {
protected:
    void SetUp() override
    {
        ProductRoutes::SetUp();
        FDb->SetParam("Port", std::to_string(testing_support::FreePort()));
    }
};

TEST_F(GravaDatabaseDown, FailureIsWrittenAndAnsweredEmpty)
{
    auto R = Post("/api/grava", R"({"ean":"1","nome":"A","ncm":"","cest":"","um":""})");
    EXPECT_EQ(R.Status, 200);
    EXPECT_EQ(R.Body, "");
    auto Lines = TakeHistory();
    ASSERT_EQ(Lines.size(), 1u);
    auto L = ParseHistoryLine(Lines[0]);
    EXPECT_EQ(L.Counter, 0);
    // The open fails before any member is read: the name is empty.
    EXPECT_EQ(L.Text.rfind("Erro cadastrando produto! |  | Can't connect", 0), 0u) << L.Text;
    EXPECT_EQ(TotalResolvidos.load() + Total404.load(), 0);
}

} // namespace
