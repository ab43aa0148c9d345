#pragma once
// What this process holds right now, counted from /proc: its threads and its open descriptors,
// so a test can check that everything it caused is gone again.
#include <dirent.h>

#include <thread>

namespace testing_support {

// The entries of a folder of /proc/self (its dot entries left out).
inline int ProcSelfEntries(const char* AFolder)
{
    int n = 0;
    if (DIR* d = ::opendir(AFolder)) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}

// Threads of this process right now.
inline int ThreadCount()
{
    return ProcSelfEntries("/proc/self/task");
}

// Open descriptors of this process right now.
inline int FdCount()
{
    return ProcSelfEntries("/proc/self/fd") - 1; // the folder's own stream
}

// The thread count at rest. Sanitizer runtimes (TSan) start a helper thread of their own with
// the process's first new thread; one short-lived thread first makes sure it is already counted.
inline int IdleThreadCount()
{
    std::thread([] {}).join();
    return ThreadCount();
}

} // namespace testing_support
