#include "lib/baselib/memory_budget.h"

#include <windows.h>

uint64_t AvailablePhysicalMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    if (!::GlobalMemoryStatusEx(&status)) {
        return 0; // nothing is known to be free: every input-sized allocation is refused
    }
    return status.ullAvailPhys;
}
