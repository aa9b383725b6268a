#pragma once

// Allocations sized by what the operator typed, a file or the network are checked before they are
// made. An oversized allocation does not fail where it should: under Wine on Linux it succeeds and the
// process dies filling it, and Windows pages for minutes. One such allocation may take at most half of
// the physical memory available at the moment.

#include <cstdint>
#include <string>

// Physical memory available now, in bytes (0 if the system cannot say).
uint64_t AvailablePhysicalMemory();

// What one input-sized allocation may take now: half of the available physical memory.
uint64_t MemoryBudget();

// "25.2 GB", "512.0 MB", "4.0 KB", "12 bytes": sizes for messages to the operator.
std::string FormatBytes(uint64_t bytes);

// Why `bytes` are refused against `budget`: "needs X; Y can be used now", or "" when they fit. Read the
// budget once per decision and pass that same number to the decision and to this text, so the message
// names the number that refused.
std::string MemoryRefusal(uint64_t bytes, uint64_t budget);
// The same against the budget as it is now, read once.
std::string MemoryRefusal(uint64_t bytes);

// Multiplies two counts, false (and the result untouched) when the product overflows 64 bits.
bool MultiplyBytes(uint64_t a, uint64_t b, uint64_t& product);
