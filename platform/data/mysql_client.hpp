#pragma once
// The MySQL client library (MariaDB Connector/C), loaded on first use so that the program
// starts and serves everything else on a machine without it. Only its types and constants
// come from the headers; every function is looked up in the loaded library.
#include <mysql.h>

#include <string>

namespace platform {

// The members are named after the library functions they hold (mysql_stmt_prepare: stmt_prepare).
struct TMySQLClient {
    // NOLINTBEGIN(readability-identifier-naming)
    decltype(&::mysql_server_init) server_init;
    decltype(&::mysql_init) init;
    decltype(&::mysql_options) options;
    decltype(&::mysql_real_connect) real_connect;
    decltype(&::mysql_close) close;
    decltype(&::mysql_get_socket) get_socket;
    decltype(&::mysql_thread_id) thread_id;
    decltype(&::mysql_kill) kill;
    decltype(&::mysql_errno) errno_;
    decltype(&::mysql_error) error;
    decltype(&::mysql_stmt_init) stmt_init;
    decltype(&::mysql_stmt_prepare) stmt_prepare;
    decltype(&::mysql_stmt_param_count) stmt_param_count;
    decltype(&::mysql_stmt_field_count) stmt_field_count;
    decltype(&::mysql_stmt_bind_param) stmt_bind_param;
    decltype(&::mysql_stmt_execute) stmt_execute;
    decltype(&::mysql_stmt_result_metadata) stmt_result_metadata;
    decltype(&::mysql_num_fields) num_fields;
    decltype(&::mysql_fetch_fields) fetch_fields;
    decltype(&::mysql_free_result) free_result;
    decltype(&::mysql_stmt_bind_result) stmt_bind_result;
    decltype(&::mysql_stmt_store_result) stmt_store_result;
    decltype(&::mysql_stmt_fetch) stmt_fetch;
    decltype(&::mysql_stmt_fetch_column) stmt_fetch_column;
    decltype(&::mysql_stmt_next_result) stmt_next_result;
    decltype(&::mysql_stmt_affected_rows) stmt_affected_rows;
    decltype(&::mysql_stmt_close) stmt_close;
    decltype(&::mysql_stmt_free_result) stmt_free_result;
    decltype(&::mysql_stmt_errno) stmt_errno;
    decltype(&::mysql_stmt_error) stmt_error;
    // NOLINTEND(readability-identifier-naming)

    // The loaded library; loads it on the first call (thread-safe). Raises Exception naming
    // the library when it cannot be loaded; a later call tries again.
    static const TMySQLClient& Get();
    // File name handed to dlopen; "libmariadb.so.3" unless changed before the first load.
    static std::string LibraryName();
    static void SetLibraryName(std::string AName);
    static bool Loaded() noexcept;
};

} // namespace platform
