// What this test process has used so far: CPU time and memory.
#pragma once

#include <QFile>

#include <unistd.h>

#include <chrono>
#include <ctime>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QVX_ADDRESS_SANITIZER
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define QVX_ADDRESS_SANITIZER
#endif
#ifdef QVX_ADDRESS_SANITIZER
#include <sanitizer/allocator_interface.h>
#endif

namespace usage {

// The CPU time this process has used, user and system together: unlike wall
// time, a busy machine does not inflate it, and a spinning panel cannot hide.
inline std::chrono::nanoseconds processCpuTime()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// The process's resident memory in bytes, or 0 where /proc cannot tell.
inline qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    // The second field is the resident size in pages.
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

// The memory the process holds in bytes: its resident size, or under
// AddressSanitizer the heap blocks in use, since the sanitizer keeps freed
// blocks aside (up to 256 MB) and the resident size would count those.
inline qint64 memoryInUse()
{
#ifdef QVX_ADDRESS_SANITIZER
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return residentBytes();
#endif
}

} // namespace usage
