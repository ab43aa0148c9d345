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
    const platform::TJSONValue* Value = ABody->GetValue(AName);
    if (!Value)
        throw platform::Exception(std::string("The JSON object has no member \"") + AName + "\"");
    return Value->Value();
}

} // namespace

void TWsRelayHandlers::PostGrava(relay::TRelayRequest& ARequest, relay::TRelayResponse& AResponse, const TNext&)
{
    const platform::TJSONObject* Body = ARequest.Body<platform::TJSONObject>();
    std::string Nome;
    try {
        std::string Code;
        {
            // Every member is read before the statement runs, so a failure stores nothing.
            if (!BaseDados)
                throw platform::Exception("The database form has not been created");
            auto Db = BaseDados->Use();
            if (!Db.FdConnection1.Connected())
                Db.FdConnection1.SetConnected(true);
            Code = MemberText(Body, "ean");
            while (platform::Utf16Length(Code) < 8)
                Code.insert(0, 1, '0');
            Nome = MemberText(Body, "nome");
            Db.FDQuery2.SQL().Clear();
            Db.FDQuery2.SQL().Add("insert into base_produtos.cad_produtos (Ean, Nome, Ncm, Cest_codigo, embalagem)");
            Db.FDQuery2.SQL().Add("values(:Ean, :Nome, :Ncm, :Cest_codigo, :embalagem)");
            Db.FDQuery2.ParamByName("Ean").AsString(Code);
            Db.FDQuery2.ParamByName("Nome").AsString(Nome);
            Db.FDQuery2.ParamByName("Ncm").AsString(MemberText(Body, "ncm"));
            Db.FDQuery2.ParamByName("Cest_codigo").AsString(MemberText(Body, "cest"));
            Db.FDQuery2.ParamByName("embalagem").AsString(MemberText(Body, "um"));
            Db.FDQuery2.ExecSQL();
        }
        CurrentCountLine(ARequest, "Produto cadastrado! | " + Nome);
        auto Answer = std::make_unique<platform::TJSONObject>();
        Answer->AddPair("id", Code);
        AResponse.Send<platform::TJSONObject>(Answer.release()).Status(200);
    } catch (const std::exception& E) {
        CurrentCountLine(ARequest, "Erro cadastrando produto! | " + Nome + " | " + E.what());
    } catch (...) {
        CurrentCountLine(ARequest, "Erro cadastrando produto! | " + Nome + " | Unknown error");
    }
}

} // namespace service
