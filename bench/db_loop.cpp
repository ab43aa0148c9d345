// The database's ceiling for "/api/desc/:id": THREADS threads, each with its own
// connection, run the route's SELECT over random existing codes for SECONDS and read
// every column of the first row, straight through the MariaDB C client.
// Usage: bench_db_loop CODES_FILE [THREADS] [SECONDS] [HOST] [PORT] [MODE] [RUN_ID]
//   MODE text     (default) the statement with the code escaped into it: one round trip
//        prepare  a server-side prepared statement made, run and closed per query
//        cached   one prepared statement per connection, run again with each code
//        grava    the ceiling for "POST /api/grava": the route's INSERT of fresh products,
//                 one prepared statement per connection (as the program's sessions keep
//                 it), autocommit; codes start with 3, then RUN_ID, the thread and a counter,
//                 so they collide neither with the route's ("2...") nor with other runs
// Prints one RESULT line in the format of the bench's wrk scripts.
#include <mysql.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

const char* const KSelect =
    "SELECT base_produtos.cad_produtos.ean, base_produtos.cad_produtos.nome, \r\n"
    "base_produtos.cad_produtos.ncm, base_produtos.cad_produtos.cest_codigo, "
    "base_produtos.cad_produtos.embalagem, base_produtos.cad_produtos.quantidade_embalagem,\r\n"
    "base_produtos.cad_produtos.marca, base_produtos.cad_produtos.categoria\r\n"
    " FROM base_produtos.cad_produtos\r\n"
    "where ean = ";

// The route's statement, its parameters as the program's query turns them into markers.
const char* const KInsert =
    "insert into base_produtos.cad_produtos (Ean, Nome, Ncm, Cest_codigo, embalagem)\r\n"
    "values(?, ?, ?, ?, ?)";

enum class Mode { Text, Prepare, Cached, Grava };

// Runs the insert once with VALUES bound.
bool RunInsert(MYSQL_STMT* stmt, const std::string (&values)[5])
{
    MYSQL_BIND params[5] = {};
    unsigned long lengths[5];
    for (int i = 0; i < 5; ++i) {
        lengths[i] = values[i].size();
        params[i].buffer_type = MYSQL_TYPE_STRING;
        params[i].buffer = const_cast<char*>(values[i].data());
        params[i].buffer_length = lengths[i];
        params[i].length = &lengths[i];
    }
    return !mysql_stmt_bind_param(stmt, params) && !mysql_stmt_execute(stmt) && mysql_stmt_affected_rows(stmt) == 1;
}

// Runs one prepared statement with CODE bound and reads every column of the first row.
bool RunPrepared(MYSQL_STMT* stmt, const std::string& code, size_t& bytes)
{
    MYSQL_BIND param{};
    unsigned long length = code.size();
    param.buffer_type = MYSQL_TYPE_STRING;
    param.buffer = const_cast<char*>(code.data());
    param.buffer_length = length;
    param.length = &length;
    if (mysql_stmt_bind_param(stmt, &param) || mysql_stmt_execute(stmt))
        return false;
    const unsigned columns = mysql_stmt_field_count(stmt);
    std::vector<MYSQL_BIND> out(columns);
    std::vector<unsigned long> lengths(columns);
    std::vector<my_bool> nulls(columns);
    for (unsigned i = 0; i < columns; ++i) {
        out[i] = MYSQL_BIND{};
        out[i].buffer_type = MYSQL_TYPE_STRING;
        out[i].length = &lengths[i];
        out[i].is_null = &nulls[i];
    }
    if (mysql_stmt_store_result(stmt) || mysql_stmt_bind_result(stmt, out.data()))
        return false;
    const int rc = mysql_stmt_fetch(stmt);
    if (rc == 1 || rc == MYSQL_NO_DATA)
        return false;
    std::string value;
    for (unsigned i = 0; i < columns; ++i) {
        if (nulls[i])
            continue;
        value.resize(lengths[i]);
        MYSQL_BIND b{};
        b.buffer_type = MYSQL_TYPE_STRING;
        b.buffer = value.data();
        b.buffer_length = lengths[i];
        if (mysql_stmt_fetch_column(stmt, &b, i, 0))
            return false;
        bytes += value.size();
    }
    mysql_stmt_free_result(stmt);
    return true;
}

struct Result {
    std::vector<uint32_t> latencies_us;
    long errors = 0;
    size_t bytes = 0;
};

void Worker(const std::vector<std::string>& codes, const char* host, unsigned port, Mode mode, unsigned seed,
            long runId, int thread, Clock::time_point start, Clock::time_point end, std::atomic<int>& ready,
            Result& out)
{
    MYSQL* db = mysql_init(nullptr);
    my_bool reconnect = 1;
    mysql_options(db, MYSQL_OPT_RECONNECT, &reconnect);
    mysql_options(db, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    // What the program's sessions run on every connect.
    mysql_options(db, MYSQL_INIT_COMMAND,
                  "SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@SESSION.sql_mode, ''), 'STRICT_ALL_TABLES'),"
                  " autocommit = 1");
    if (!mysql_real_connect(db, host, "Pelvador", "Rwt507kpxm%", "base_produtos", port, nullptr, 0)) {
        std::fprintf(stderr, "connect: %s\n", mysql_error(db));
        ++out.errors;
        ready.fetch_add(1);
        mysql_close(db);
        return;
    }
    ready.fetch_add(1);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<size_t> pick(0, codes.size() - 1);
    std::string sql;
    std::vector<char> escaped;
    const std::string prepared = std::string(KSelect) + "?";
    MYSQL_STMT* cached = nullptr;
    if (mode == Mode::Cached || mode == Mode::Grava) {
        const std::string text = mode == Mode::Grava ? std::string(KInsert) : prepared;
        cached = mysql_stmt_init(db);
        if (mysql_stmt_prepare(cached, text.data(), text.size())) {
            std::fprintf(stderr, "prepare: %s\n", mysql_stmt_error(cached));
            ++out.errors;
            return;
        }
    }
    long seq = 0;
    std::this_thread::sleep_until(start);
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        if (mode == Mode::Grava) {
            char ean[32];
            std::snprintf(ean, sizeof ean, "3%05ld%02d%07ld", runId % 100000, thread % 100, ++seq);
            const std::string values[5] = {ean, std::string("Produto de teste ") + ean, "19059090", "1706200", "UN"};
            if (!RunInsert(cached, values)) {
                if (out.errors++ == 0)
                    std::fprintf(stderr, "insert: %s\n", mysql_stmt_error(cached));
                continue;
            }
            out.latencies_us.push_back(static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - now).count()));
            continue;
        }
        const std::string& code = codes[pick(rng)];
        if (mode != Mode::Text) {
            MYSQL_STMT* stmt = cached;
            if (!stmt) {
                stmt = mysql_stmt_init(db);
                if (mysql_stmt_prepare(stmt, prepared.data(), prepared.size())) {
                    ++out.errors;
                    mysql_stmt_close(stmt);
                    continue;
                }
            }
            if (!RunPrepared(stmt, code, out.bytes))
                ++out.errors;
            if (!cached)
                mysql_stmt_close(stmt);
            out.latencies_us.push_back(static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - now).count()));
            continue;
        }
        escaped.resize(code.size() * 2 + 1);
        const auto n = mysql_real_escape_string(db, escaped.data(), code.data(), code.size());
        sql.assign(KSelect);
        sql += '\'';
        sql.append(escaped.data(), n);
        sql += '\'';
        if (mysql_real_query(db, sql.data(), sql.size()) != 0) {
            ++out.errors;
            continue;
        }
        MYSQL_RES* res = mysql_store_result(db);
        if (!res) {
            ++out.errors;
            continue;
        }
        if (MYSQL_ROW row = mysql_fetch_row(res)) {
            const unsigned long* lengths = mysql_fetch_lengths(res);
            std::string value;
            for (unsigned i = 0; i < mysql_num_fields(res); ++i) {
                value.assign(row[i] ? row[i] : "", row[i] ? lengths[i] : 0);
                out.bytes += value.size();
            }
        } else {
            ++out.errors; // every code exists
        }
        mysql_free_result(res);
        out.latencies_us.push_back(
            static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - now).count()));
    }
    if (cached)
        mysql_stmt_close(cached);
    mysql_close(db);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: %s CODES_FILE [THREADS] [SECONDS] [HOST] [PORT] [text|prepare|cached|grava] [RUN_ID]\n",
                     argv[0]);
        return 2;
    }
    std::vector<std::string> codes;
    std::ifstream in(argv[1]);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            codes.push_back(line);
    if (codes.empty()) {
        std::fprintf(stderr, "no codes in %s\n", argv[1]);
        return 2;
    }
    const int threads = argc > 2 ? std::atoi(argv[2]) : 32;
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 10;
    const char* host = argc > 4 ? argv[4] : "127.0.0.1";
    const unsigned port = argc > 5 ? static_cast<unsigned>(std::atoi(argv[5])) : 3389;
    const std::string mode_name = argc > 6 ? argv[6] : "text";
    const Mode mode = mode_name == "prepare"  ? Mode::Prepare
                      : mode_name == "cached" ? Mode::Cached
                      : mode_name == "grava"  ? Mode::Grava
                                              : Mode::Text;
    const long runId = argc > 7 ? std::atol(argv[7]) : 0;

    mysql_library_init(0, nullptr, nullptr);
    std::vector<Result> results(threads);
    std::vector<std::thread> pool;
    std::atomic<int> ready{0};
    // Connections open first; the timed window starts after a short grace period.
    const auto start = Clock::now() + std::chrono::milliseconds(500);
    const auto end = start + std::chrono::seconds(seconds);
    for (int i = 0; i < threads; ++i)
        pool.emplace_back(Worker, std::cref(codes), host, port, mode, 1234u + i, runId, i, start, end, std::ref(ready),
                          std::ref(results[i]));
    for (auto& t : pool)
        t.join();
    mysql_library_end();

    std::vector<uint32_t> all;
    long errors = 0;
    for (auto& r : results) {
        all.insert(all.end(), r.latencies_us.begin(), r.latencies_us.end());
        errors += r.errors;
    }
    std::sort(all.begin(), all.end());
    auto pct = [&](double p) -> uint32_t {
        if (all.empty())
            return 0;
        return all[std::min(all.size() - 1, static_cast<size_t>(p / 100.0 * all.size()))];
    };
    const double duration_us = seconds * 1e6;
    std::printf(
        "RESULT requests=%zu duration_us=%.0f rps=%.1f p50_us=%u p99_us=%u max_us=%u "
        "connect_err=0 read_err=0 write_err=0 timeout_err=0 status_err=%ld\n",
        all.size(), duration_us, all.size() / (duration_us / 1e6), pct(50), pct(99), all.empty() ? 0 : all.back(),
        errors);
    return errors > 0 && all.empty() ? 1 : 0;
}
