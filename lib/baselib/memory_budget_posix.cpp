#include "lib/baselib/memory_budget.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

uint64_t AvailablePhysicalMemory() {
    // MemAvailable counts the page cache the kernel would give back; free pages alone understate it.
    if (FILE* f = std::fopen("/proc/meminfo", "r")) {
        char line[256];
        unsigned long long kb = 0;
        bool found = false;
        while (std::fgets(line, sizeof(line), f) != nullptr) {
            if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
                found = true;
                break;
            }
        }
        std::fclose(f);
        if (found) {
            return static_cast<uint64_t>(kb) * 1024;
        }
    }
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long size = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : 0;
}
