// Product insert route: records a product posted as a JSON object.
#include <chrono>
#include <memory>
#include <string>

#include "framework/relay/request.hpp"
#include "framework/relay/response.hpp"
#include "platform/base/coroutine.hpp"
#include "platform/base/exception.hpp"
#include "platform/data/data_limits.hpp"
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

// The insert's columns, as its parameters are named.
const char* const KColumns[] = {"Ean", "Nome", "Ncm", "Cest_codigo", "embalagem"};

// The link dropped while the insert was in flight: whether the row it sent is in the table,
// asked on a fresh link once the server has ended the dropped session, so that its statement
// has committed or rolled back. false when that cannot be told in time.
bool StoredAfterDrop(TBaseDados::TLease& ADb, uint64_t AServerSession, const std::string (&AValues)[5])
{
    try {
        platform::TFDQuery& q = ADb.fdQuery1;
        const auto until = std::chrono::steady_clock::now() + platform::data_limits::KDroppedInsertCheck;
        for (;;) {
            q.Close();
            q.SQL().Clear();
            q.SQL().Add("select count(*) as n from information_schema.processlist where id = :id");
            q.ParamByName("id").AsString(std::to_string(AServerSession));
            q.Open();
            if (q.FieldByName("n").AsString() == "0")
                break;
            if (std::chrono::steady_clock::now() >= until)
                return false;
            platform::AwaitFor(std::chrono::milliseconds(20));
        }
        q.Close();
        q.SQL().Clear();
        q.SQL().Add("select count(*) as n from base_produtos.cad_produtos");
        q.SQL().Add("where Ean = :Ean and Nome <=> :Nome and Ncm <=> :Ncm and Cest_codigo <=> :Cest_codigo");
        q.SQL().Add("and embalagem <=> :embalagem");
        for (size_t i = 0; i < std::size(KColumns); ++i)
            q.ParamByName(KColumns[i]).AsString(AValues[i]);
        q.Open();
        const bool stored = q.FieldByName("n").AsString() == "1";
        q.Close();
        return stored;
    } catch (const std::exception&) {
        return false;
    }
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
            const std::string values[] = {code, nome, MemberText(body, "ncm"), MemberText(body, "cest"),
                                          MemberText(body, "um")};
            db.FDQuery2.SQL().Clear();
            db.FDQuery2.SQL().Add("insert into base_produtos.cad_produtos (Ean, Nome, Ncm, Cest_codigo, embalagem)");
            db.FDQuery2.SQL().Add("values(:Ean, :Nome, :Ncm, :Cest_codigo, :embalagem)");
            for (size_t i = 0; i < std::size(KColumns); ++i)
                db.FDQuery2.ParamByName(KColumns[i]).AsString(values[i]);
            try {
                db.FDQuery2.ExecSQL();
            } catch (const platform::EFDAnswerLost& e) {
                // Never run again: asked whether the server stored it before the link broke.
                if (e.Cause() != platform::EFDAnswerLost::TCause::Dropped ||
                    !StoredAfterDrop(db, e.ServerSession(), values))
                    throw;
            }
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
