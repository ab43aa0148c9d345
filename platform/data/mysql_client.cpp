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
    void* Address = dlsym(AHandle, ASymbol);
    if (!Address)
        throw Exception("The MySQL client library " + GLibraryName + " has no function " + ASymbol);
    AFunction = reinterpret_cast<F>(Address);
}

} // namespace

const TMySQLClient& TMySQLClient::Get()
{
    if (GLoaded.load(std::memory_order_acquire))
        return GClient;
    std::lock_guard Guard(GLoadLock);
    if (GLoaded.load(std::memory_order_relaxed))
        return GClient;

    void* Handle = dlopen(GLibraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!Handle) {
        const char* Why = dlerror();
        throw Exception("Cannot load the MySQL client library " + GLibraryName + ": " + (Why ? Why : "unknown error"));
    }
    TMySQLClient C{};
    try {
        Resolve(Handle, C.server_init, "mysql_server_init");
        Resolve(Handle, C.init, "mysql_init");
        Resolve(Handle, C.options, "mysql_options");
        Resolve(Handle, C.real_connect, "mysql_real_connect");
        Resolve(Handle, C.close, "mysql_close");
        Resolve(Handle, C.get_socket, "mysql_get_socket");
        Resolve(Handle, C.errno_, "mysql_errno");
        Resolve(Handle, C.error, "mysql_error");
        Resolve(Handle, C.stmt_init, "mysql_stmt_init");
        Resolve(Handle, C.stmt_prepare, "mysql_stmt_prepare");
        Resolve(Handle, C.stmt_param_count, "mysql_stmt_param_count");
        Resolve(Handle, C.stmt_field_count, "mysql_stmt_field_count");
        Resolve(Handle, C.stmt_bind_param, "mysql_stmt_bind_param");
        Resolve(Handle, C.stmt_execute, "mysql_stmt_execute");
        Resolve(Handle, C.stmt_result_metadata, "mysql_stmt_result_metadata");
        Resolve(Handle, C.num_fields, "mysql_num_fields");
        Resolve(Handle, C.fetch_fields, "mysql_fetch_fields");
        Resolve(Handle, C.free_result, "mysql_free_result");
        Resolve(Handle, C.stmt_bind_result, "mysql_stmt_bind_result");
        Resolve(Handle, C.stmt_store_result, "mysql_stmt_store_result");
        Resolve(Handle, C.stmt_fetch, "mysql_stmt_fetch");
        Resolve(Handle, C.stmt_fetch_column, "mysql_stmt_fetch_column");
        Resolve(Handle, C.stmt_next_result, "mysql_stmt_next_result");
        Resolve(Handle, C.stmt_affected_rows, "mysql_stmt_affected_rows");
        Resolve(Handle, C.stmt_close, "mysql_stmt_close");
        Resolve(Handle, C.stmt_free_result, "mysql_stmt_free_result");
        Resolve(Handle, C.stmt_errno, "mysql_stmt_errno");
        Resolve(Handle, C.stmt_error, "mysql_stmt_error");
    } catch (...) {
        dlclose(Handle);
        throw;
    }
    // The library's global set-up is not thread-safe; do it here, once, under the lock.
    if (C.server_init(0, nullptr, nullptr) != 0) {
        dlclose(Handle);
        throw Exception("The MySQL client library " + GLibraryName + " failed to initialise");
    }
    GClient = C; // the library stays loaded until the process ends
    GLoaded.store(true, std::memory_order_release);
    return GClient;
}

std::string TMySQLClient::LibraryName()
{
    std::lock_guard Guard(GLoadLock);
    return GLibraryName;
}

void TMySQLClient::SetLibraryName(std::string AName)
{
    std::lock_guard Guard(GLoadLock);
    GLibraryName = std::move(AName);
}

bool TMySQLClient::Loaded() noexcept
{
    return GLoaded.load(std::memory_order_acquire);
}

} // namespace platform
