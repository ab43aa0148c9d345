#pragma once
// A MariaDB server of a test's own, on a free loopback port with its data in a scratch folder,
// for tests that kill, restart or reconfigure the server: the shared one of scripts/testdb
// serves other tests at the same time and must stay up. Needs the mariadb-server package
// (scripts/packages); callers skip unless MIROVANDEL_TEST_DB is set.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/http.hpp"

namespace testsupport {

class TOwnMariaDb {
public:
    // Installs a fresh data folder in ADir, starts the server with AServerOptions added (such as
    // "--sql-mode=''") and loads scripts/schema.sql. Throws when the server does not come up,
    // and leaves neither a server nor ADir behind then.
    explicit TOwnMariaDb(std::filesystem::path ADir, std::string AServerOptions = {})
        : FDir(std::move(ADir)), FOptions(std::move(AServerOptions)), FPort(testing_support::FreePort())
    {
        std::filesystem::remove_all(FDir);
        std::filesystem::create_directories(FDir / "data");
        std::filesystem::create_directories(FDir / "tmp"); // installs running at once must not share one
        try {
            // --skip-name-resolve --force: grants by address, so no host name (not even localhost)
            // has to resolve; minimal systems and containers may have no /etc/hosts.
            if (!Run("mariadb-install-db --no-defaults --auth-root-authentication-method=normal --skip-test-db"
                     " --skip-name-resolve --force --datadir='" +
                     (FDir / "data").string() + "' --tmpdir='" + (FDir / "tmp").string() + "'" + AsRoot() + " >'" +
                     (FDir / "install.log").string() + "' 2>&1"))
                throw std::runtime_error("mariadb-install-db failed:\n" + Tail(FDir / "install.log"));
            Start();
            if (!Sql("source " + std::string(MIROVANDEL_SOURCE_DIR) + "/scripts/schema.sql"))
                throw std::runtime_error("scripts/schema.sql did not load:\n" + Tail(FDir / "sql.log"));
        } catch (...) {
            Kill();
            std::error_code ec;
            std::filesystem::remove_all(FDir, ec);
            throw;
        }
    }
    ~TOwnMariaDb()
    {
        Kill();
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    TOwnMariaDb(const TOwnMariaDb&) = delete;
    TOwnMariaDb& operator=(const TOwnMariaDb&) = delete;

    uint16_t Port() const { return static_cast<uint16_t>(FPort); }

    // Starts the server on the same data and port; returns once it answers (at most 30 s).
    void Start()
    {
        Run("setsid mariadbd --no-defaults --datadir='" + (FDir / "data").string() + "' --tmpdir='" +
            (FDir / "tmp").string() + "' --socket='" + Socket() + "' --pid-file='" + (FDir / "mysqld.pid").string() +
            "' --port=" + std::to_string(FPort) +
            " --bind-address=127.0.0.1 --skip-name-resolve --skip-log-bin --innodb-buffer-pool-size=32M"
            " --max-connections=200 --log-error='" +
            (FDir / "error.log").string() + "'" + AsRoot() + " " + FOptions + " </dev/null >/dev/null 2>&1 &");
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!Answers()) {
            if (std::chrono::steady_clock::now() > until)
                throw std::runtime_error("the test's MariaDB did not answer within 30 s:\n" + Tail(FDir / "error.log"));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // Kills the server at once (SIGKILL, no shutdown) and waits until it is gone (at most 10 s).
    void Kill()
    {
        pid_t pid = Pid();
        if (pid <= 0)
            return;
        ::kill(pid, SIGKILL);
        for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::error_code ec;
        std::filesystem::remove(FDir / "mysqld.pid", ec);
    }

    // Runs SQL statements as root over the server's socket; false when the client fails.
    bool Sql(const std::string& AStatements)
    {
        std::ofstream(FDir / "statements.sql") << AStatements << ";\n";
        return Run("mariadb --no-defaults --default-character-set=utf8mb4 --protocol=socket --socket='" + Socket() +
                   "' -uroot <'" + (FDir / "statements.sql").string() + "' >'" + (FDir / "sql.log").string() +
                   "' 2>&1");
    }
    // The first column of the first row of AQuery as text ("" when none).
    std::string Value(const std::string& AQuery)
    {
        std::ofstream(FDir / "query.sql") << AQuery << ";\n";
        Run("mariadb --no-defaults --default-character-set=utf8mb4 --protocol=socket --socket='" + Socket() +
            "' -uroot -N -B <'" + (FDir / "query.sql").string() + "' >'" + (FDir / "query.out").string() + "' 2>&1");
        std::ifstream in(FDir / "query.out");
        std::string line;
        std::getline(in, line);
        return line;
    }

private:
    static bool Run(const std::string& ACommand) { return std::system(ACommand.c_str()) == 0; }
    // The last lines of a log, for an error message (the folder may be gone when it is read).
    static std::string Tail(const std::filesystem::path& AFile, size_t ALines = 20)
    {
        std::ifstream in(AFile);
        std::deque<std::string> last;
        for (std::string line; std::getline(in, line);) {
            last.push_back(std::move(line));
            if (last.size() > ALines)
                last.pop_front();
        }
        std::string out;
        for (const std::string& line : last)
            out += line + "\n";
        return out;
    }
    static std::string AsRoot() { return ::geteuid() == 0 ? " --user=root" : ""; }
    std::string Socket() const { return (FDir / "mysqld.sock").string(); }
    bool Answers() const
    {
        return Run("mariadb-admin --no-defaults --protocol=socket --socket='" + Socket() +
                   "' -uroot --connect-timeout=2 ping >/dev/null 2>&1");
    }
    pid_t Pid() const
    {
        std::ifstream in(FDir / "mysqld.pid");
        pid_t pid = 0;
        in >> pid;
        return pid;
    }

    std::filesystem::path FDir;
    std::string FOptions;
    int FPort;
};

} // namespace testsupport
