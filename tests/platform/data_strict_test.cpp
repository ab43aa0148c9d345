// Values that do not fit their column are refused, never cut down to a partial row, also by a
// server that is not in strict mode and also on a link made again after a drop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/data/fd_connection.hpp"
#include "platform/data/fd_query.hpp"
#include "support/own_mariadb.hpp"
#include "support/testdb.hpp"

using namespace platform;

namespace {

void Insert(TFDConnection& AConnection, const std::string& AEan, const std::string& ANome)
{
    TFDQuery Q(&AConnection);
    Q.SQL().Add("insert into base_produtos.cad_produtos (Ean, Nome) values(:Ean, :Nome)");
    Q.ParamByName("Ean").AsString(AEan);
    Q.ParamByName("Nome").AsString(ANome);
    Q.ExecSQL();
}

std::string ConnectionId(TFDConnection& AConnection)
{
    TFDQuery Q(&AConnection);
    Q.SQL().Add("select connection_id() as id");
    Q.Open();
    return Q.FieldByName("id").AsString();
}

} // namespace

TEST(DataStrict, LaxServerRefusesTooLongValuesOnEveryLink)
{
    MIROVANDEL_REQUIRE_TEST_DB();
    testsupport::TOwnMariaDb db("/tmp/mvdb-s" + std::to_string(::getpid()), "--sql-mode=''");
    ASSERT_EQ(db.Value("select @@global.sql_mode"), "");
    TFDConnection connection;
    testsupport::SetTestDbParams(connection, db.Port());
    connection.ResourceOptions.AutoReconnect = true;

    Insert(connection, "1", "fits");
    EXPECT_THROW(Insert(connection, "2", std::string(201, 'n')), EFDDBEngineException);
    // The server dropped the link: the insert runs on a new one, which is strict as well.
    db.Sql("kill connection " + ConnectionId(connection));
    try {
        Insert(connection, "3", std::string(300, 'n'));
        ADD_FAILURE() << "a too long name was stored";
    } catch (const EFDDBEngineException& e) {
        EXPECT_EQ(e.ErrorCode(), 1406u) << e.Message();
    }
    EXPECT_EQ(db.Value("select group_concat(ean order by ean) from base_produtos.cad_produtos"), "1");
}
