// Catalogue lookup routes: product names and records, units of measure.
#include <memory>
#include <string>
#include <vector>

#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/exception.hpp"
#include "platform/base/string_list.hpp"
#include "platform/json/json.hpp"
#include "service/main/basedados.hpp"
#include "service/ws_relay.hpp"

namespace service {

namespace {

enum class TOrder { OpenThenTrim, TrimThenOpen };

// One lookup on fdQuery1: the statement lines as given, the code bound to AParam as text.
// Holds the database from the connection test through the last column read. Fills AValues
// with the named columns of the first row; false when the result has no row.
bool Lookup(TOrder AOrder, const std::vector<std::string>& ALines, const char* AParam,
            const std::string& ACode, const std::vector<std::string>& AColumns,
            std::vector<std::string>& AValues)
{
    if (AOrder == TOrder::TrimThenOpen)
        TWsRelayHandlers::HistoryTrim();
    if (!BaseDados)
        throw platform::Exception("The database form has not been created");
    auto Db = BaseDados->Use();
    if (!Db.FdConnection1.Connected())
        Db.FdConnection1.SetConnected(true);
    if (AOrder == TOrder::OpenThenTrim)
        TWsRelayHandlers::HistoryTrim();

    Db.fdQuery1.Close();
    // Set on every request; the query keeps its parse when the text is the same as last time.
    Db.fdQuery1.SQL().Clear();
    for (const std::string& Line : ALines)
        Db.fdQuery1.SQL().Add(Line);
    Db.fdQuery1.ParamByName(AParam).AsString(ACode);
    Db.fdQuery1.Open();
    if (Db.fdQuery1.IsEmpty())
        return false;
    for (const std::string& Column : AColumns)
        AValues.push_back(Db.fdQuery1.FieldByName(Column).AsString());
    return true;
}

void SendJson(relay::TRelayResponse& AResponse, std::unique_ptr<platform::TJSONObject> AObject, int AStatus)
{
    AResponse.Send<platform::TJSONObject>(AObject.release()).Status(AStatus);
}

void SendNotFound(relay::TRelayResponse& AResponse, const std::string& AStatusDesc)
{
    auto J = std::make_unique<platform::TJSONObject>();
    J->AddPair("Status", "404");
    J->AddPair("Status_Desc", AStatusDesc);
    SendJson(AResponse, std::move(J), 404);
}

const std::string KProdutoNaoEncontrado = "Descricao nao encontrada para o ean: ";

// The product statement of "/api/desc/:id" and "/api/desc200/:id", line by line.
const std::vector<std::string> KProductRecordLines = {
    "SELECT base_produtos.cad_produtos.ean, base_produtos.cad_produtos.nome, ",
    "base_produtos.cad_produtos.ncm, base_produtos.cad_produtos.cest_codigo, base_produtos.cad_produtos.embalagem, "
    "base_produtos.cad_produtos.quantidade_embalagem,",
    "base_produtos.cad_produtos.marca, base_produtos.cad_produtos.categoria",
    " FROM base_produtos.cad_produtos",
    "where ean = :ean",
};
// The same without the database prefix, for "/api/desc_ini/:id".
const std::vector<std::string> KProductIniLines = {
    "SELECT cad_produtos.ean, cad_produtos.nome, ",
    "cad_produtos.ncm, cad_produtos.cest_codigo, cad_produtos.embalagem, cad_produtos.quantidade_embalagem,",
    "cad_produtos.marca, cad_produtos.categoria",
    " FROM cad_produtos",
    "where ean = :ean",
};
// The columns of a product record, in answer order.
const std::vector<std::string> KProductColumns = {"nome", "ncm", "cest_codigo", "embalagem",
                                                  "quantidade_embalagem", "marca", "categoria"};

// Answers a product record as JSON; ARecord holds the columns of KProductColumns.
void SendProductRecord(relay::TRelayResponse& AResponse, const std::vector<std::string>& ARecord)
{
    auto J = std::make_unique<platform::TJSONObject>();
    J->AddPair("Status", "200");
    J->AddPair("Status_Desc", "Ok");
    J->AddPair("Nome", TWsRelay::removeacento(ARecord[0]));
    J->AddPair("Ncm", TWsRelay::removeacento(ARecord[1]));
    J->AddPair("Cest_Codigo", TWsRelay::removeacento(ARecord[2]));
    J->AddPair("Embalagem", TWsRelay::removeacento(ARecord[3]));
    J->AddPair("QuantidadeEmbalagem", TWsRelay::removeacento(ARecord[4]));
    J->AddPair("Marca", TWsRelay::removeacento(ARecord[5]));
    J->AddPair("Categoria", TWsRelay::removeacento(ARecord[6]));
    J->AddPair("Peso", "");
    J->AddPair("id_categoria", "");
    J->AddPair("tributacao", "");
    SendJson(AResponse, std::move(J), 200);
}

// Answers a product record as INI-style text under "[GENERAL]".
void SendProductIni(relay::TRelayResponse& AResponse, const std::vector<std::string>& ARecord)
{
    platform::TStringList Ini;
    Ini.Add("[GENERAL]");
    Ini.Add("Nome=" + TWsRelay::removeacento(ARecord[0]));
    Ini.Add("Ncm=" + TWsRelay::removeacento(ARecord[1]));
    Ini.Add("Cest_Codigo=" + TWsRelay::removeacento(ARecord[2]));
    Ini.Add("Embalagem=" + TWsRelay::removeacento(ARecord[3]));
    Ini.Add("QuantidadeEmbalagem=" + TWsRelay::removeacento(ARecord[4]));
    Ini.Add("Marca=" + TWsRelay::removeacento(ARecord[5]));
    Ini.Add("Categoria=" + TWsRelay::removeacento(ARecord[6]));
    Ini.Add("Peso=");
    Ini.Add("id_categoria=");
    Ini.Add("tributacao=");
    AResponse.Send(Ini.Text()).Status(200);
}

void SendProductNotFound(relay::TRelayResponse& AResponse, const std::string& ACode)
{
    SendNotFound(AResponse, KProdutoNaoEncontrado + ACode);
}

// Clients of "/api/desc200/:id" cannot take a 404: a placeholder record, still counted as not found.
void SendPlaceholderRecord(relay::TRelayResponse& AResponse, const std::string&)
{
    auto J = std::make_unique<platform::TJSONObject>();
    J->AddPair("Status", "404");
    J->AddPair("Status_Desc", "404");
    J->AddPair("Nome", "404");
    J->AddPair("Ncm", "404");
    J->AddPair("Cest_Codigo", "404");
    J->AddPair("Embalagem", "404");
    J->AddPair("QuantidadeEmbalagem", "0");
    J->AddPair("Marca", "404");
    J->AddPair("Categoria", "404");
    J->AddPair("Peso", "0");
    J->AddPair("id_categoria", "0");
    J->AddPair("tributacao", "404");
    SendJson(AResponse, std::move(J), 200);
}

// The three product-record routes differ only in their statement and their two answers: one
// lookup, the route's answer, then the counter and the history line (the bare form when the
// product is missing).
void AnswerProductRecord(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse,
                         const std::vector<std::string>& ALines, const std::string& AFoundText,
                         void (*ASendFound)(relay::TRelayResponse&, const std::vector<std::string>&),
                         void (*ASendMissing)(relay::TRelayResponse&, const std::string&))
{
    const std::string Code = ARequest.Params()["id"];
    std::vector<std::string> Row;
    if (!Lookup(TOrder::TrimThenOpen, ALines, "ean", Code, KProductColumns, Row)) {
        ASendMissing(AResponse, Code);
        const int32_t C = ++Total404;
        TWsRelayHandlers::BareLine(C, "| Descricao nao encontrada para o ean: " + Code);
        return;
    }
    ASendFound(AResponse, Row);
    const int32_t C = ++TotalResolvidos;
    TWsRelayHandlers::AddressedLine(ARequest, C, AFoundText + Code + "|" + Row[0]);
}

} // namespace

void TWsRelayHandlers::GetDescricao(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    const std::string Code = ARequest.Params()["id"];
    std::vector<std::string> Row;
    if (!Lookup(TOrder::OpenThenTrim,
                {"select nome, ncm, cest_codigo, embalagem, quantidade_embalagem, marca, categoria from cad_produtos "
                 "where ean = :ean"},
                "ean", Code, {"nome"}, Row)) {
        SendNotFound(AResponse, KProdutoNaoEncontrado + Code);
        const int32_t C = ++Total404;
        AddressedLine(ARequest, C, "| Descricao nao encontrada para o ean: " + Code);
        return;
    }
    AResponse.Send(Row[0]).Status(200);
    const int32_t C = ++TotalResolvidos;
    AddressedLine(ARequest, C, "| Entregue descricao: " + Code + "|" + Row[0]);
}

void TWsRelayHandlers::GetUm2(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    const std::string Code = ARequest.Params()["id"];
    std::vector<std::string> Row;
    if (!Lookup(TOrder::TrimThenOpen, {"select nome from unidade_medida where id = :id"}, "id", Code, {"nome"}, Row)) {
        SendNotFound(AResponse, "Descricao nao encontrada para a unidade de medida: " + Code);
        const int32_t C = ++Total404;
        AddressedLine(ARequest, C, "| Descricao nao encontrada a unidade de meida: " + Code);
        return;
    }
    AResponse.Send(Row[0]).Status(200);
    const int32_t C = ++TotalResolvidos;
    AddressedLine(ARequest, C, "| Entregue descricao unidade medida: " + Code + "|" + Row[0]);
}

void TWsRelayHandlers::GetUm(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    const std::string Code = ARequest.Params()["id"];
    std::vector<std::string> Row;
    if (!Lookup(TOrder::TrimThenOpen, {"select id, nome from unidade_medida where id = :id"}, "id", Code,
                {"id", "nome"}, Row)) {
        SendNotFound(AResponse, "Descricao nao encontrada para a unidade de medida: " + Code);
        const int32_t C = ++Total404;
        AddressedLine(ARequest, C, "| Descricao nao encontrada a unidade de meida: " + Code);
        return;
    }
    auto J = std::make_unique<platform::TJSONObject>();
    J->AddPair("Status", "200");
    J->AddPair("Status_Desc", "Ok");
    J->AddPair("id", TWsRelay::removeacento(Row[0]));
    J->AddPair("nome", TWsRelay::removeacento(Row[1]));
    SendJson(AResponse, std::move(J), 200);
    const int32_t C = ++TotalResolvidos;
    AddressedLine(ARequest, C, "| Entregue descricao unidade medida: " + Code + "|" + Row[1]);
}

void TWsRelayHandlers::GetDesc(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerProductRecord(ARequest, AResponse, KProductRecordLines, "| Entregue json: ", SendProductRecord,
                        SendProductNotFound);
}

void TWsRelayHandlers::GetDesc200(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerProductRecord(ARequest, AResponse, KProductRecordLines, "| Entregue json: ", SendProductRecord,
                        SendPlaceholderRecord);
}

void TWsRelayHandlers::GetDescIni(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerProductRecord(ARequest, AResponse, KProductIniLines, "| Entregue INI: ", SendProductIni,
                        SendProductNotFound);
}

} // namespace service
