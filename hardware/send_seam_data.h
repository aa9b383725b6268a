#pragma once

// The upload of the tuned gains to every receiving card: gain map, per-card block, three writes a card.
// Portable: it talks to the device library only, and reports to whatever shows its progress.

#include "lib/devicecomm/devicecomm.h"
#include "seam/screen_params.h"
#include "seam/seam_grid.h"

#include <functional>
#include <string>
#include <vector>

class SendProgress {
public:
    virtual void Trace(const std::wstring& line) = 0;
    // done out of total parts of the whole run.
    virtual void Progress(uint64_t done, uint64_t total) = 0;

protected:
    ~SendProgress() = default;
};

enum class SendOutcome {
    MemoryError, // the gain map could not be had: "memory errer" traced, nothing sent
    DeviceError, // the device could not be opened, the port offsets read, or no card was counted
    Finished,
};

constexpr uint32_t kUploadGateRegister = 0xDA000003;
constexpr uint32_t kCoefficientRegister = 0xD0020000;
constexpr int kOffsetTablePorts = 16;

// Turns the grid into a gain map of the screen's size and writes every card's block, port by port and
// card by card in ascending order. Each allocation sized by the screen or a card is checked against
// `memory_budget` first; a card whose block cannot be had is skipped with "memory errer".
SendOutcome SendSeamData(ICommInterfaceMan& manager, const ScreenParams& params,
                         const std::vector<SeamSegment>& segments, uint64_t memory_budget,
                         SendProgress& progress);

// Runs an upload and gives its outcome. An exception that escapes it ends it as well: as a memory error
// when an allocation failed, as a device error otherwise, so the caller always closes its progress
// window and tells the operator.
SendOutcome GuardedSend(const std::function<SendOutcome()>& send);
