#pragma once
// The running program whose database is a server of the test's own (tests/support/own_mariadb.hpp),
// so that a test can hold its tables, slow it down or watch its connections without disturbing
// the other tests. The program's data form is one of the test's own too.
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "running_program.hpp"
#include "service/main/basedados.hpp"
#include "support/own_mariadb.hpp"
#include "support/testdb.hpp"

namespace service_test {

class ProgramWithOwnDatabase : public RunningProgram {
protected:
    void BeforeStart() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        FDb = std::make_unique<testsupport::TOwnMariaDb>(DbDir(), ServerOptions());
        ASSERT_TRUE(FDb->Sql("insert into base_produtos.cad_produtos (ean, nome) values ('78900001', 'Cafe Moido')"));
        FSavedForm = service::BaseDados;
        FForm = std::make_unique<service::TBaseDados>();
        FForm->SetParam("Port", std::to_string(FDb->Port()));
        service::BaseDados = FForm.get();
    }

    int KeptLinks() override { return FForm ? static_cast<int>(FForm->ConnectedCount()) : 0; }

    void TearDown() override
    {
        RunningProgram::TearDown();
        service::BaseDados = FSavedForm;
        FForm.reset();
        FDb.reset();
    }

    // Server options of the test's database.
    virtual std::string ServerOptions() { return {}; }

    std::string DbDir() const { return "/tmp/mvdb-" + std::to_string(::getpid()); }

    // Connections of the program's login that the server holds now.
    int ServerLinks()
    {
        return std::atoi(
            FDb->Value("select count(*) from information_schema.processlist where user = 'Pelvador'").c_str());
    }

    // Runs AStatements as root in a client of their own, in the background: a session of another
    // program that holds a lock for as long as it runs.
    void RunInBackground(const std::string& AStatements)
    {
        const std::string command = "mariadb --no-defaults --protocol=socket --socket='" + DbDir() +
                                    "/mysqld.sock' -uroot -e \"" + AStatements + "\" >/dev/null 2>&1 &";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::optional<THttpReply> Get(const std::string& APath)
    {
        return RawExchange(FPort, "GET " + APath + " HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n");
    }

    std::optional<THttpReply> Post(const std::string& ABody)
    {
        return RawExchange(FPort,
                           "POST /api/grava HTTP/1.1\r\nHost: shop\r\nContent-Type: application/json\r\n"
                           "Connection: close\r\nContent-Length: " +
                               std::to_string(ABody.size()) + "\r\n\r\n" + ABody);
    }

    std::unique_ptr<testsupport::TOwnMariaDb> FDb;
    std::unique_ptr<service::TBaseDados> FForm;
    service::TBaseDados* FSavedForm = nullptr;
};

} // namespace service_test
