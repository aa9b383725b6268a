#pragma once

// What a server replays of a client's stream, and the hand-over of the packets from the thread that
// receives them to the thread that replays them. Portable: the window message numbers are written out.

#include "remote/wire_format.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// An input packet that may reach the server's pattern window: true for exactly what a client's pattern
// window forwards, with `wparam` made what the server may deliver; false for anything else (a peer can
// send any message number, and many take lParam or wParam as a pointer, or start a modal loop).
bool AcceptReplayInput(uint32_t message, uint32_t& wparam, uint32_t lparam);

// The packets received and not yet replayed, in stream order, at most `capacity` of them. The receiving
// thread asks before each receive whether one receive's worth of packets still fits; when it does not,
// it stops reading (the peer's sends then wait in TCP) until a Pop says that reading may resume.
class ReplayQueue {
public:
    ReplayQueue(size_t capacity, size_t per_receive) : capacity_(capacity), per_receive_(per_receive) {}

    // True when a receive's packets fit; false, and a later Pop reports the room, when they do not.
    bool MayReceive();
    // Appends the packets in order; false, appending none, when they would exceed the capacity.
    bool Push(std::vector<WirePacket>& packets);
    // Takes the head: one notification, or the run of input packets up to the next notification. False
    // when empty. `resume` is set when a receive had been held back and one fits again.
    bool Pop(std::vector<WirePacket>& out, bool& resume);
    size_t Size();

private:
    std::mutex lock_;
    std::deque<WirePacket> items_;
    size_t capacity_;
    size_t per_receive_;
    bool held_back_ = false;
};
