// The program's deepest routes run on a request's coroutine stack with room to spare: a JSON
// body stored in the database, error pages, a multipart form where JSON is expected.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/base/coroutine.hpp"
#include "running_program.hpp"
#include "service/main/basedados.hpp"
#include "support/http.hpp"
#include "support/testdb.hpp"

using namespace service_test;
using namespace testing_support;

namespace {

class CoroutineStack : public RunningProgram {
protected:
    void BeforeStart() override
    {
        MIROVANDEL_REQUIRE_TEST_DB();
        service::BaseDados = &FForm;
    }
    void TearDown() override
    {
        RunningProgram::TearDown();
        service::BaseDados = FSaved;
    }
    int KeptLinks() override { return static_cast<int>(FForm.ConnectedCount()); }

    service::TBaseDados FForm;
    service::TBaseDados* const FSaved = service::BaseDados;
};

std::string Post(const std::string& AContentType, const std::string& ABody)
{
    return "POST /api/grava HTTP/1.1\r\nHost: shop\r\nConnection: close\r\nContent-Type: " + AContentType +
           "\r\nContent-Length: " + std::to_string(ABody.size()) + "\r\n\r\n" + ABody;
}

} // namespace

TEST_F(CoroutineStack, DeepestRoutesUseLessThanHalfTheStack)
{
    // Longer than eight digits whatever the pid: the insert pads a shorter code with zeros, and
    // the lookup of the unpadded one would then find nothing.
    const std::string ean = "7892" + std::to_string(1000000000LL + ::getpid());
    const std::string boundary = "XyZbOuNdArY";
    struct Row {
        std::string request;
        int status;
    };
    const Row rows[] = {
        {Post("application/json", R"({"ean":")" + ean + R"(","nome":"Pilha","ncm":"1","cest":"","um":"UN"})"), 200},
        {Post("application/json", R"({"ean":)"), 400},
        {Post("multipart/form-data; boundary=" + boundary,
              "--" + boundary + "\r\nContent-Disposition: form-data; name=\"ean\"\r\n\r\n" + ean + "\r\n--" + boundary +
                  "\r\nContent-Disposition: form-data; name=\"foto\"; filename=\"a.png\"\r\n"
                  "Content-Type: image/png\r\n\r\n\x89PNG\r\n--" +
                  boundary + "--\r\n"),
         0},
        {"GET /api/desc/" + ean + " HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n", 200},
        {"GET /api/nowhere HTTP/1.1\r\nHost: shop\r\nConnection: close\r\n\r\n", 404},
    };
    for (const Row& row : rows) {
        auto reply = RawExchange(FPort, row.request);
        ASSERT_TRUE(reply) << row.request.substr(0, 60);
        if (row.status != 0) {
            EXPECT_EQ(reply->Status, row.status) << row.request.substr(0, 60) << "\n" << reply->Body.substr(0, 200);
        }
    }
    testsupport::TestDbExec("delete from cad_produtos where ean = :ean", {{"ean", ean}});
    platform::TStackPool& stacks = platform::TStackPool::Instance();
    EXPECT_GT(stacks.DeepestUse(), 0u);
    EXPECT_LT(stacks.DeepestUse(), stacks.StackSize() / 2) << "of " << stacks.StackSize() << " bytes";
    RecordProperty("DeepestStackUse", std::to_string(stacks.DeepestUse()));
    std::printf("deepest coroutine stack use: %zu of %zu bytes\n", stacks.DeepestUse(), stacks.StackSize());
    ExpectBackToIdle();
}
