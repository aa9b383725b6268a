#pragma once

// What the unit tests share: screen parameters, literal bytes, a byte source over a buffer (the fuzz
// targets read through it too), and a controller whose cards and failures a test sets, recording every
// write as the text Call() gives.

#include "files/seam_file.h"
#include "hardware/card_layout.h"
#include "lib/baselib/byte_order.h"
#include "lib/devicecomm/devicecomm.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

inline ScreenParams Screen(int32_t width, int32_t height, int32_t mod_width = 0, int32_t mod_height = 0) {
    ScreenParams p;
    p.screen_width = width;
    p.screen_height = height;
    p.mod_width = mod_width;
    p.mod_height = mod_height;
    return p;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
    return std::vector<uint8_t>(list.begin(), list.end());
}

// Full requests until the data ends, as fread gives them.
inline ByteSource SourceOver(const uint8_t* data, size_t size) {
    auto offset = std::make_shared<size_t>(0);
    return [data, size, offset](uint8_t* out, size_t want) {
        const size_t n = std::min(want, size - *offset);
        std::copy_n(data + *offset, n, out);
        *offset += n;
        return n;
    };
}

inline ByteSource SourceOver(const std::vector<uint8_t>& bytes) {
    return SourceOver(bytes.data(), bytes.size());
}

// A device write as FakeDevice records it: "port card address length[ bytes]".
inline std::string Call(int port, int card, uint32_t address, uint32_t length,
                        const std::string& bytes = "") {
    return std::to_string(port) + " " + std::to_string(card) + " " + std::to_string(address) + " " +
           std::to_string(length) + (bytes.empty() ? "" : " " + bytes);
}

constexpr uint32_t kFakeCoefficientRegister = 0xD0020000;

struct FakeCard {
    uint16_t row, column, rows, columns;
    bool position_fails = false;
    bool size_fails = false;
    bool switch_fails = false;
    uint8_t switch_value = 0x08;
};

// Coefficient writes are recorded with their first and last byte, 4-byte writes with their word.
class FakeDevice final : public ICommInterface, public ICommInterfaceMan {
public:
    std::vector<std::vector<FakeCard>> ports;
    std::vector<std::pair<uint16_t, uint16_t>> offsets = std::vector<std::pair<uint16_t, uint16_t>>(16);
    bool opens = true;
    bool table_fails = false;
    int released = 0;
    std::vector<std::string> calls;
    size_t refuse_write = SIZE_MAX;       // this write (by its index in calls) is refused
    size_t lose_link_at_write = SIZE_MAX; // from this write on, every call fails as on a lost link
    size_t fail_write = SIZE_MAX;         // this write fails at once (5), the link intact
    bool link_lost = false;
    bool refusal_pending = false;

    int InitDeviceList() override { return opens ? 0 : 1; }
    int GetDeviceCount() override { return 1; }
    uint64_t GetAt(int) override { return 7; }
    ICommInterface* GetCommInst(uint64_t) override { return this; }
    void SetCurDeviceId(uint64_t) override {}
    uint64_t GetCurDeviceId() override { return 7; }
    bool IsValidCurrentDeviceId() override { return true; }
    bool ChkDeviceId(uint64_t) override { return true; }

    void Release() override { ++released; }
    int GetPortCount() override { return static_cast<int>(ports.size()); }
    int GetCardCount(int port, int) override {
        return static_cast<int>(ports[static_cast<size_t>(port)].size());
    }
    int ReadCardRegister(int port, int card, uint32_t address, uint8_t* b, uint32_t length) override {
        if (link_lost) {
            return -1;
        }
        const FakeCard& c = ports[static_cast<size_t>(port)][static_cast<size_t>(card & 0xFFF)];
        std::fill(b, b + length, 0);
        if (address == kCardPositionRegister && !c.position_fails && length == 20) {
            PutBE32(b + 4, (uint32_t{c.row} << 16) | c.column);
        } else if (address == 0xDA000005 && !c.switch_fails && length == 4) {
            b[3] = c.switch_value;
        } else if (address == kCardSizeRegister && !c.size_fails && length == 4) {
            PutBE32(b, (uint32_t{c.rows} << 16) | c.columns);
        } else {
            return 4;
        }
        return 0;
    }
    int WriteCardRegister(int port, int card, uint32_t address, const uint8_t* b, uint32_t length,
                          int flags) override {
        char bytes[24] = "";
        if (address == kFakeCoefficientRegister && length > 0) {
            std::snprintf(bytes, sizeof(bytes), "%u,%u", b[0], b[length - 1]);
        } else if (length == 4) {
            std::snprintf(bytes, sizeof(bytes), "%08x", GetBE32(b));
        }
        link_lost = link_lost || calls.size() >= lose_link_at_write;
        if (link_lost) {
            return -1;
        }
        calls.push_back(Call(port, card, address, length, bytes));
        if (calls.size() - 1 == fail_write) {
            return kCallTooLong;
        }
        // As over the link: a refusal shows in the answer of the next write that waits for one.
        refusal_pending = refusal_pending || calls.size() - 1 == refuse_write;
        if ((flags & kWaitForReply) == 0) {
            return 0;
        }
        const bool refused = refusal_pending;
        refusal_pending = false;
        return refused ? 6 : 0;
    }
    int ReadSenderRegister(uint32_t address, uint8_t* b, uint32_t count) override {
        if (table_fails || address != kPortOffsetRegister || count != 64) {
            return 1;
        }
        std::fill(b, b + 256, 0);
        for (size_t p = 0; p < 16; ++p) {
            PutBE32(b + (p < 8 ? 3 + p : 4 + p) * 4, (uint32_t{offsets[p].first} << 16) | offsets[p].second);
        }
        return 0;
    }
};
