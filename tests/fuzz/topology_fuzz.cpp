// Topology files are the operator's own, typed by hand: any text is refused or read, never a crash.
#include "tools/ledsim/topology.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ledsim::Topology t;
    std::string error;
    ledsim::ParseTopology(std::string(reinterpret_cast<const char*>(data), size), t, error);
    return 0;
}
