#include "remote/replay_rules.h"

namespace {

enum class Param {
    Any,     // delivered as received: coordinates, key-state flags, wheel delta
    AsZero,  // a handle of the client's desktop, meaningless here: delivered as 0
    Exactly, // only this value is accepted
};

struct ReplayableInput {
    uint32_t message;
    Param wparam;
    uint32_t wparam_value;
    Param lparam;
    uint32_t lparam_value;
};

// What the pattern window forwards, one row per message: additions to the forwarding are one line here.
const ReplayableInput kReplayableInputs[] = {
    {0x0200 /* WM_MOUSEMOVE */, Param::Any, 0, Param::Any, 0},
    {0x0201 /* WM_LBUTTONDOWN */, Param::Any, 0, Param::Any, 0},
    {0x0202 /* WM_LBUTTONUP */, Param::Any, 0, Param::Any, 0},
    {0x020A /* WM_MOUSEWHEEL */, Param::Any, 0, Param::Any, 0},
    {0x0008 /* WM_KILLFOCUS */, Param::AsZero, 0, Param::Any, 0},
    {0x0111 /* WM_COMMAND, the popup menu's "exit" */, Param::Exactly, 100, Param::Exactly, 0},
};

} // namespace

bool AcceptReplayInput(uint32_t message, uint32_t& wparam, uint32_t lparam) {
    for (const ReplayableInput& rule : kReplayableInputs) {
        if (rule.message != message) {
            continue;
        }
        if ((rule.wparam == Param::Exactly && wparam != rule.wparam_value) ||
            (rule.lparam == Param::Exactly && lparam != rule.lparam_value)) {
            return false;
        }
        if (rule.wparam == Param::AsZero) {
            wparam = 0;
        }
        return true;
    }
    return false;
}

bool ReplayQueue::MayReceive() {
    std::lock_guard<std::mutex> guard(lock_);
    if (items_.size() + per_receive_ <= capacity_) {
        return true;
    }
    held_back_ = true;
    return false;
}

bool ReplayQueue::Push(std::vector<WirePacket>& packets) {
    std::lock_guard<std::mutex> guard(lock_);
    if (packets.size() > capacity_ - items_.size()) {
        return false;
    }
    for (WirePacket& p : packets) {
        items_.push_back(std::move(p));
    }
    return true;
}

bool ReplayQueue::Pop(std::vector<WirePacket>& out, bool& resume) {
    out.clear();
    resume = false;
    std::lock_guard<std::mutex> guard(lock_);
    if (items_.empty()) {
        return false;
    }
    if (items_.front().is_notification) {
        out.push_back(std::move(items_.front()));
        items_.pop_front();
    } else {
        while (!items_.empty() && !items_.front().is_notification) {
            out.push_back(std::move(items_.front()));
            items_.pop_front();
        }
    }
    if (held_back_ && items_.size() + per_receive_ <= capacity_) {
        held_back_ = false;
        resume = true;
    }
    return true;
}

size_t ReplayQueue::Size() {
    std::lock_guard<std::mutex> guard(lock_);
    return items_.size();
}
