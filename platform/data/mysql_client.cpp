#include "platform/data/mysql_client.hpp"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

#include "platform/base/exception.hpp"

namespace platform {

namespace {

std::mutex GLoadLock;
std::string GLibraryName = "libmariadb.so.3";
TMySQLClient GClient{};
std::atomic<bool> GLoaded{false};

template <class F>
void Resolve(void* AHandle, F& AFunction, const char* ASymbol)
{
    void* address = dlsym(AHandle, ASymbol);
    if (!address)
        throw Exception("The MySQL client library " + GLibraryName + " has no function " + ASymbol);
    AFunction = reinterpret_cast<F>(address);
}

} // namespace

const TMySQLClient& TMySQLClient::Get()
{
    if (GLoaded.load(std::memory_order_acquire))
        return GClient;
    std::lock_guard guard(GLoadLock);
    if (GLoaded.load(std::memory_order_relaxed))
        return GClient;

    void* handle = dlopen(GLibraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        throw Exception("Cannot load the MySQL client library " + GLibraryName + ": " + (why ? why : "unknown error"));
    }
    TMySQLClient c{};
    try {
        Resolve(handle, c.server_init, "mysql_server_init");
        Resolve(handle, c.init, "mysql_init");
        Resolve(handle, c.options, "mysql_options");
        Resolve(handle, c.real_connect, "mysql_real_connect");
        Resolve(handle, c.close, "mysql_close");
        Resolve(handle, c.get_socket, "mysql_get_socket");
        Resolve(handle, c.thread_id, "mysql_thread_id");
        Resolve(handle, c.kill, "mysql_kill");
        Resolve(handle, c.errno_, "mysql_errno");
        Resolve(handle, c.error, "mysql_error");
        Resolve(handle, c.stmt_init, "mysql_stmt_init");
        Resolve(handle, c.stmt_prepare, "mysql_stmt_prepare");
        Resolve(handle, c.stmt_param_count, "mysql_stmt_param_count");
        Resolve(handle, c.stmt_field_count, "mysql_stmt_field_count");
        Resolve(handle, c.stmt_bind_param, "mysql_stmt_bind_param");
        Resolve(handle, c.stmt_execute, "mysql_stmt_execute");
        Resolve(handle, c.stmt_result_metadata, "mysql_stmt_result_metadata");
        Resolve(handle, c.num_fields, "mysql_num_fields");
        Resolve(handle, c.fetch_fields, "mysql_fetch_fields");
        Resolve(handle, c.free_result, "mysql_free_result");
        Resolve(handle, c.stmt_bind_result, "mysql_stmt_bind_result");
        Resolve(handle, c.stmt_store_result, "mysql_stmt_store_result");
        Resolve(handle, c.stmt_fetch, "mysql_stmt_fetch");
        Resolve(handle, c.stmt_fetch_column, "mysql_stmt_fetch_column");
        Resolve(handle, c.stmt_next_result, "mysql_stmt_next_result");
        Resolve(handle, c.stmt_affected_rows, "mysql_stmt_affected_rows");
        Resolve(handle, c.stmt_close, "mysql_stmt_close");
        Resolve(handle, c.stmt_free_result, "mysql_stmt_free_result");
        Resolve(handle, c.stmt_errno, "mysql_stmt_errno");
        Resolve(handle, c.stmt_error, "mysql_stmt_error");
    } catch (...) {
        dlclose(handle);
        throw;
    }
    // The library's global set-up is not thread-safe; do it here, once, under the lock.
    if (c.server_init(0, nullptr, nullptr) != 0) {
        dlclose(handle);
        throw Exception("The MySQL client library " + GLibraryName + " failed to initialise");
    }
    GClient = c; // the library stays loaded until the process ends
    GLoaded.store(true, std::memory_order_release);
    return GClient;
}

std::string TMySQLClient::LibraryName()
{
    std::lock_guard guard(GLoadLock);
    return GLibraryName;
}

void TMySQLClient::SetLibraryName(std::string AName)
{
    std::lock_guard guard(GLoadLock);
    GLibraryName = std::move(AName);
}

bool TMySQLClient::Loaded() noexcept
{
    return GLoaded.load(std::memory_order_acquire);
}

} // namespace platform
