#include "remote/wire_format.h"

#include "lib/baselib/byte_order.h"

namespace {

constexpr size_t kNotifyFixedSize = 26; // length, type, four counts, five numbers
constexpr size_t kMaxPacket = 256;

} // namespace

InputPacket EncodeInputPacket(uint32_t message, uint64_t wparam, uint64_t lparam) {
    InputPacket p{};
    p[0] = static_cast<uint8_t>(kInputPacketSize - 1);
    p[1] = 1;
    PutBE32(&p[2], message);
    PutBE32(&p[6], static_cast<uint32_t>(wparam));
    PutBE32(&p[10], static_cast<uint32_t>(lparam));
    return p;
}

void DecodeInputPacket(const uint8_t* packet, uint32_t& message, uint32_t& wparam, uint32_t& lparam) {
    message = GetBE32(packet + 2);
    wparam = GetBE32(packet + 6);
    lparam = GetBE32(packet + 10);
}

bool NarrowWireText(const std::wstring& text, std::string& bytes) {
    bytes.clear();
    for (const wchar_t c : text) {
        if (static_cast<uint32_t>(c) > 0xFF) {
            bytes.clear();
            return false;
        }
        bytes.push_back(static_cast<char>(c));
    }
    return true;
}

bool EncodeNotifyPacket(const NotifyRecord& n, std::vector<uint8_t>& packet) {
    packet.assign(2, 0);
    for (const std::wstring* text : {&n.type, &n.virtual_window, &n.sender_name, &n.sender_text}) {
        std::string bytes;
        if (!NarrowWireText(*text, bytes)) {
            packet.push_back(0); // cannot be converted: count 0, no bytes, the rest stays in step
            continue;
        }
        if (bytes.size() >= 255) {
            packet.clear();
            return false;
        }
        packet.push_back(static_cast<uint8_t>(bytes.size() + 1));
        packet.insert(packet.end(), bytes.begin(), bytes.end());
        packet.push_back(0);
    }
    const uint32_t numbers[5] = {n.timestamp, n.wparam, n.lparam, static_cast<uint32_t>(n.x),
                                 static_cast<uint32_t>(n.y)};
    for (const uint32_t v : numbers) {
        uint8_t be[4];
        PutBE32(be, v);
        packet.insert(packet.end(), be, be + 4);
    }
    if (packet.size() > kMaxPacket) {
        packet.clear();
        return false;
    }
    packet[0] = static_cast<uint8_t>(packet.size() - 1);
    packet[1] = 0;
    return true;
}

bool DecodeNotifyPacket(const uint8_t* packet, size_t size, NotifyRecord& out) {
    if (size < kNotifyFixedSize) {
        return false;
    }
    size_t p = 2;
    for (std::wstring* text : {&out.type, &out.virtual_window, &out.sender_name, &out.sender_text}) {
        // The count and, after the texts, the 20 bytes of numbers must all lie inside the packet.
        if (p >= size) {
            return false;
        }
        const size_t count = packet[p++];
        if (count > size - p) {
            return false;
        }
        text->clear();
        for (size_t i = 0; i < count && packet[p + i] != 0; ++i) {
            text->push_back(static_cast<wchar_t>(packet[p + i]));
        }
        p += count;
    }
    if (size - p < 20) {
        return false;
    }
    out.timestamp = GetBE32(packet + p);
    out.wparam = GetBE32(packet + p + 4);
    out.lparam = GetBE32(packet + p + 8);
    out.x = static_cast<int32_t>(GetBE32(packet + p + 12));
    out.y = static_cast<int32_t>(GetBE32(packet + p + 16));
    return true;
}

bool WireReceiver::Receive(const uint8_t* data, size_t size, std::vector<WirePacket>& out) {
    if (failed_) {
        return false;
    }
    pending_.insert(pending_.end(), data, data + size);
    size_t p = 0;
    while (pending_.size() > p) {
        const size_t length = static_cast<size_t>(pending_[p]) + 1;
        if (length < 2) {
            failed_ = true; // no room even for its type byte
            break;
        }
        if (pending_.size() - p < length) {
            break; // the rest of the packet comes with a later receive
        }
        WirePacket packet;
        packet.is_notification = pending_[p + 1] == 0;
        const uint8_t* bytes = pending_.data() + p;
        if (packet.is_notification) {
            if (!DecodeNotifyPacket(bytes, length, packet.notification)) {
                failed_ = true;
                break;
            }
        } else if (length < kInputPacketSize) {
            failed_ = true;
            break;
        } else {
            DecodeInputPacket(bytes, packet.message, packet.wparam, packet.lparam);
        }
        out.push_back(std::move(packet));
        p += length;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(p));
    if (failed_) {
        pending_.clear();
    }
    return !failed_;
}
