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
bool Lookup(TOrder AOrder, const std::vector<std::string>& ALines, const char* AParam, const std::string& ACode,
            const std::vector<std::string>& AColumns, std::vector<std::string>& AValues)
{
    if (AOrder == TOrder::TrimThenOpen)
        TWsRelayHandlers::HistoryTrim();
    if (!BaseDados)
        throw platform::Exception("The database form has not been created");
    auto db = BaseDados->Use();
    if (!db.FdConnection1.Connected())
        db.FdConnection1.SetConnected(true);
    if (AOrder == TOrder::OpenThenTrim)
        TWsRelayHandlers::HistoryTrim();

    db.fdQuery1.Close();
    // Set on every request; the query keeps its parse when the text is the same as last time.
    db.fdQuery1.SQL().Clear();
    for (const std::string& line : ALines)
        db.fdQuery1.SQL().Add(line);
    db.fdQuery1.ParamByName(AParam).AsString(ACode);
    db.fdQuery1.Open();
    if (db.fdQuery1.IsEmpty())
        return false;
    for (const std::string& column : AColumns)
        AValues.push_back(db.fdQuery1.FieldByName(column).AsString());
    return true;
}

void SendJson(relay::TRelayResponse& AResponse, std::unique_ptr<platform::TJSONObject> AObject, int AStatus)
{
    AResponse.Send<platform::TJSONObject>(AObject.release()).Status(AStatus);
}

// Every JSON answer starts with these two members.
std::unique_ptr<platform::TJSONObject> NewAnswer(const std::string& AStatus, const std::string& AStatusDesc)
{
    auto j = std::make_unique<platform::TJSONObject>();
    j->AddPair("Status", AStatus);
    j->AddPair("Status_Desc", AStatusDesc);
    return j;
}

void SendNotFound(relay::TRelayResponse& AResponse, const std::string& AStatusDesc)
{
    SendJson(AResponse, NewAnswer("404", AStatusDesc), 404);
}

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
const std::vector<std::string> KProductColumns = {
    "nome", "ncm", "cest_codigo", "embalagem", "quantidade_embalagem", "marca", "categoria"};

// --- answers for a found item; ARow holds the route's columns ---

// The first column as plain text.
void SendText(relay::TRelayResponse& AResponse, const std::vector<std::string>& ARow)
{
    AResponse.Send(ARow[0]).Status(200);
}

// A unit of measure ("id", "nome") as JSON.
void SendUnit(relay::TRelayResponse& AResponse, const std::vector<std::string>& ARow)
{
    auto j = NewAnswer("200", "Ok");
    j->AddPair("id", TWsRelay::removeacento(ARow[0]));
    j->AddPair("nome", TWsRelay::removeacento(ARow[1]));
    SendJson(AResponse, std::move(j), 200);
}

// A product record (KProductColumns) as JSON.
void SendProductRecord(relay::TRelayResponse& AResponse, const std::vector<std::string>& ARow)
{
    auto j = NewAnswer("200", "Ok");
    j->AddPair("Nome", TWsRelay::removeacento(ARow[0]));
    j->AddPair("Ncm", TWsRelay::removeacento(ARow[1]));
    j->AddPair("Cest_Codigo", TWsRelay::removeacento(ARow[2]));
    j->AddPair("Embalagem", TWsRelay::removeacento(ARow[3]));
    j->AddPair("QuantidadeEmbalagem", TWsRelay::removeacento(ARow[4]));
    j->AddPair("Marca", TWsRelay::removeacento(ARow[5]));
    j->AddPair("Categoria", TWsRelay::removeacento(ARow[6]));
    j->AddPair("Peso", "");
    j->AddPair("id_categoria", "");
    j->AddPair("tributacao", "");
    SendJson(AResponse, std::move(j), 200);
}

// A product record (KProductColumns) as INI-style text under "[GENERAL]".
void SendProductIni(relay::TRelayResponse& AResponse, const std::vector<std::string>& ARow)
{
    platform::TStringList ini;
    ini.Add("[GENERAL]");
    ini.Add("Nome=" + TWsRelay::removeacento(ARow[0]));
    ini.Add("Ncm=" + TWsRelay::removeacento(ARow[1]));
    ini.Add("Cest_Codigo=" + TWsRelay::removeacento(ARow[2]));
    ini.Add("Embalagem=" + TWsRelay::removeacento(ARow[3]));
    ini.Add("QuantidadeEmbalagem=" + TWsRelay::removeacento(ARow[4]));
    ini.Add("Marca=" + TWsRelay::removeacento(ARow[5]));
    ini.Add("Categoria=" + TWsRelay::removeacento(ARow[6]));
    ini.Add("Peso=");
    ini.Add("id_categoria=");
    ini.Add("tributacao=");
    AResponse.Send(ini.Text()).Status(200);
}

// --- answers for a missing item ---

void SendProductNotFound(relay::TRelayResponse& AResponse, const std::string& ACode)
{
    SendNotFound(AResponse, "Descricao nao encontrada para o ean: " + ACode);
}

void SendUnitNotFound(relay::TRelayResponse& AResponse, const std::string& ACode)
{
    SendNotFound(AResponse, "Descricao nao encontrada para a unidade de medida: " + ACode);
}

// Clients of "/api/desc200/:id" cannot take a 404: a placeholder record, still counted as not found.
void SendPlaceholderRecord(relay::TRelayResponse& AResponse, const std::string&)
{
    auto j = NewAnswer("404", "404");
    j->AddPair("Nome", "404");
    j->AddPair("Ncm", "404");
    j->AddPair("Cest_Codigo", "404");
    j->AddPair("Embalagem", "404");
    j->AddPair("QuantidadeEmbalagem", "0");
    j->AddPair("Marca", "404");
    j->AddPair("Categoria", "404");
    j->AddPair("Peso", "0");
    j->AddPair("id_categoria", "0");
    j->AddPair("tributacao", "404");
    SendJson(AResponse, std::move(j), 200);
}

// One lookup route: its statement, its answers, its history lines.
struct TLookupRoute {
    TOrder Order;                     // when the history trim runs
    std::vector<std::string> Lines;   // the statement, line by line
    const char* Param;                // the statement's parameter that takes the code
    std::vector<std::string> Columns; // read from the first row, in answer order
    void (*SendFound)(relay::TRelayResponse&, const std::vector<std::string>&);
    std::string FoundText; // history: FoundText, the code, "|", column ShownColumn
    size_t ShownColumn;
    void (*SendMissing)(relay::TRelayResponse&, const std::string&);
    std::string MissingText; // history: MissingText and the code
    bool MissingBare;        // a missing item's line is the bare form
};

// "/api/descricao/:id": the trim only once the database answers.
const TLookupRoute KDescricao = {TOrder::OpenThenTrim,
                                 {"select nome, ncm, cest_codigo, embalagem, quantidade_embalagem, marca, categoria "
                                  "from cad_produtos where ean = :ean"},
                                 "ean",
                                 {"nome"},
                                 SendText,
                                 "| Entregue descricao: ",
                                 0,
                                 SendProductNotFound,
                                 "| Descricao nao encontrada para o ean: ",
                                 false};
// "/api/um2/:id"
const TLookupRoute KUm2 = {TOrder::TrimThenOpen,
                           {"select nome from unidade_medida where id = :id"},
                           "id",
                           {"nome"},
                           SendText,
                           "| Entregue descricao unidade medida: ",
                           0,
                           SendUnitNotFound,
                           "| Descricao nao encontrada a unidade de meida: ",
                           false};
// "/api/um/:id": the line shows the unit's name.
const TLookupRoute KUm = {TOrder::TrimThenOpen,
                          {"select id, nome from unidade_medida where id = :id"},
                          "id",
                          {"id", "nome"},
                          SendUnit,
                          "| Entregue descricao unidade medida: ",
                          1,
                          SendUnitNotFound,
                          "| Descricao nao encontrada a unidade de meida: ",
                          false};
// "/api/desc/:id", "/api/desc200/:id" and "/api/desc_ini/:id": a missing product's line is bare.
const TLookupRoute KDesc = {TOrder::TrimThenOpen,
                            KProductRecordLines,
                            "ean",
                            KProductColumns,
                            SendProductRecord,
                            "| Entregue json: ",
                            0,
                            SendProductNotFound,
                            "| Descricao nao encontrada para o ean: ",
                            true};
const TLookupRoute KDesc200 = {TOrder::TrimThenOpen,
                               KProductRecordLines,
                               "ean",
                               KProductColumns,
                               SendProductRecord,
                               "| Entregue json: ",
                               0,
                               SendPlaceholderRecord,
                               "| Descricao nao encontrada para o ean: ",
                               true};
const TLookupRoute KDescIni = {TOrder::TrimThenOpen,
                               KProductIniLines,
                               "ean",
                               KProductColumns,
                               SendProductIni,
                               "| Entregue INI: ",
                               0,
                               SendProductNotFound,
                               "| Descricao nao encontrada para o ean: ",
                               true};

// Every lookup route: the code from ":id", one lookup, the route's answer, then the counter and
// the history line with the value this request's increment produced.
void AnswerLookup(const TLookupRoute& ARoute, relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse)
{
    const std::string code = ARequest.Params()["id"];
    std::vector<std::string> row;
    if (!Lookup(ARoute.Order, ARoute.Lines, ARoute.Param, code, ARoute.Columns, row)) {
        ARoute.SendMissing(AResponse, code);
        const int32_t c = ++Total404;
        if (ARoute.MissingBare)
            TWsRelayHandlers::BareLine(c, ARoute.MissingText + code);
        else
            TWsRelayHandlers::AddressedLine(ARequest, c, ARoute.MissingText + code);
        return;
    }
    ARoute.SendFound(AResponse, row);
    const int32_t c = ++TotalResolvidos;
    TWsRelayHandlers::AddressedLine(ARequest, c, ARoute.FoundText + code + "|" + row[ARoute.ShownColumn]);
}

} // namespace

void TWsRelayHandlers::GetDescricao(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerLookup(KDescricao, ARequest, AResponse);
}

void TWsRelayHandlers::GetUm2(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerLookup(KUm2, ARequest, AResponse);
}

void TWsRelayHandlers::GetUm(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerLookup(KUm, ARequest, AResponse);
}

void TWsRelayHandlers::GetDesc(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerLookup(KDesc, ARequest, AResponse);
}

void TWsRelayHandlers::GetDesc200(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerLookup(KDesc200, ARequest, AResponse);
}

void TWsRelayHandlers::GetDescIni(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    AnswerLookup(KDescIni, ARequest, AResponse);
}

} // namespace service
