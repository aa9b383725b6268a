#include "lib/baselib/memory_budget.h"

#include <cstdio>

uint64_t MemoryBudget() {
    return AvailablePhysicalMemory() / 2;
}

std::string FormatBytes(uint64_t bytes) {
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " bytes";
    }
    double value = static_cast<double>(bytes) / 1024.0;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof(units) / sizeof(units[0])) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f %s", value, units[unit]);
    return text;
}

std::string MemoryRefusal(uint64_t bytes, uint64_t budget) {
    if (bytes <= budget) {
        return std::string();
    }
    return "needs " + FormatBytes(bytes) + "; " + FormatBytes(budget) + " can be used now";
}

std::string MemoryRefusal(uint64_t bytes) {
    return MemoryRefusal(bytes, MemoryBudget());
}

bool MultiplyBytes(uint64_t a, uint64_t b, uint64_t& product) {
    if (a != 0 && b > UINT64_MAX / a) {
        return false;
    }
    product = a * b;
    return true;
}
