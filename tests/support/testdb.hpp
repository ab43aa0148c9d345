#pragma once
// Helpers for tests against the throwaway MariaDB of scripts/testdb (127.0.0.1:3389).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/data/fd_connection.hpp"
#include "platform/data/fd_query.hpp"

// Skips the test unless scripts/test (or the developer) started the test database.
#define MIROVANDEL_REQUIRE_TEST_DB()                                                \
    do {                                                                            \
        if (!std::getenv("MIROVANDEL_TEST_DB"))                                     \
            GTEST_SKIP() << "MIROVANDEL_TEST_DB is not set (scripts/testdb start)"; \
    } while (0)

namespace testsupport {

inline constexpr uint16_t KTestDbPort = 3389;

// The program's login to the test database.
inline void SetTestDbParams(platform::TFDConnection& AConnection, uint16_t APort = KTestDbPort)
{
    AConnection.Params.Clear();
    AConnection.Params.Add("Server=127.0.0.1");
    AConnection.Params.Add("User_Name=Pelvador");
    AConnection.Params.Add("Password=Rwt507kpxm%");
    AConnection.Params.Add("Database=base_produtos");
    AConnection.Params.Add("Port=" + std::to_string(APort));
    AConnection.Params.Add("DriverID=MySQL");
}

// A product code no other test (or test run sharing the server) uses.
inline std::string UniqueCode(const std::string& ATag = "T")
{
    static std::atomic<int> Counter{0};
    return ATag + std::to_string(getpid()) + "x" + std::to_string(Counter++);
}

// Runs one statement on a connection of its own (test set-up and clean-up).
inline void TestDbExec(const std::string& AStatement,
                       std::initializer_list<std::pair<const char*, std::string>> AParams = {})
{
    platform::TFDConnection C;
    SetTestDbParams(C);
    platform::TFDQuery Q(&C);
    Q.SQL().Add(AStatement);
    for (auto& [Name, Value] : AParams)
        Q.ParamByName(Name).AsString(Value);
    Q.ExecSQL();
}

// Number of products with that exact code (binary comparison).
inline int TestDbCountEan(const std::string& AEan)
{
    platform::TFDConnection C;
    SetTestDbParams(C);
    platform::TFDQuery Q(&C);
    Q.SQL().Add("select count(*) as n from cad_produtos where binary ean = :ean");
    Q.ParamByName("ean").AsString(AEan);
    Q.Open();
    return std::stoi(Q.FieldByName("n").AsString());
}

} // namespace testsupport
