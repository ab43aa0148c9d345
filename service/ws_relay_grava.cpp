// Product insert route: records a product posted as a JSON object.
#include <memory>
#include <string>

#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/exception.hpp"
#include "platform/json/json.hpp"
#include "platform/text/utf8.hpp"
#include "service/main/basedados.hpp"
#include "service/ws_relay.hpp"

namespace service {

namespace {

// The text value of the body's first member of exactly that name.
std::string MemberText(const platform::TJSONObject* ABody, const char* AName)
{
    if (!ABody)
        throw platform::Exception("The request body is not a JSON object");
    const platform::TJSONValue* value = ABody->GetValue(AName);
    if (!value)
        throw platform::Exception(std::string("The JSON object has no member \"") + AName + "\"");
    return value->Value();
}

} // namespace

void TWsRelayHandlers::PostGrava(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    const platform::TJSONObject* body = ARequest.Body<platform::TJSONObject>();
    std::string nome;
    try {
        std::string code;
        {
            // Every member is read before the statement runs, so a failure stores nothing.
            if (!BaseDados)
                throw platform::Exception("The database form has not been created");
            auto db = BaseDados->Use();
            if (!db.FdConnection1.Connected())
                db.FdConnection1.SetConnected(true);
            code = MemberText(body, "ean");
            while (platform::Utf16Length(code) < 8)
                code.insert(0, 1, '0');
            nome = MemberText(body, "nome");
            db.FDQuery2.SQL().Clear();
            db.FDQuery2.SQL().Add("insert into base_produtos.cad_produtos (Ean, Nome, Ncm, Cest_codigo, embalagem)");
            db.FDQuery2.SQL().Add("values(:Ean, :Nome, :Ncm, :Cest_codigo, :embalagem)");
            db.FDQuery2.ParamByName("Ean").AsString(code);
            db.FDQuery2.ParamByName("Nome").AsString(nome);
            db.FDQuery2.ParamByName("Ncm").AsString(MemberText(body, "ncm"));
            db.FDQuery2.ParamByName("Cest_codigo").AsString(MemberText(body, "cest"));
            db.FDQuery2.ParamByName("embalagem").AsString(MemberText(body, "um"));
            db.FDQuery2.ExecSQL();
        }
        CurrentCountLine(ARequest, "Produto cadastrado! | " + nome);
        auto answer = std::make_unique<platform::TJSONObject>();
        answer->AddPair("id", code);
        AResponse.Send<platform::TJSONObject>(answer.release()).Status(200);
    } catch (const std::exception& e) {
        CurrentCountLine(ARequest, "Erro cadastrando produto! | " + nome + " | " + e.what());
    } catch (...) {
        CurrentCountLine(ARequest, "Erro cadastrando produto! | " + nome + " | Unknown error");
    }
}

} // namespace service
