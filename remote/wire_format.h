#pragma once

// The packets of the remote link, client to server. Every packet starts with a length byte (total
// length minus 1) and a type byte (0: a notification of the main window; anything else: an input
// message of the pattern window). Numbers are big-endian 32-bit; texts travel as a count byte (the
// bytes that follow, a terminating zero included) and one byte per character U+0000..U+00FF.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// An input message of the pattern window: length byte 13, type 1, then message, wParam and lParam
// (wider values keep their low 32 bits).
constexpr size_t kInputPacketSize = 14;
using InputPacket = std::array<uint8_t, kInputPacketSize>;

InputPacket EncodeInputPacket(uint32_t message, uint64_t wparam, uint64_t lparam);
void DecodeInputPacket(const uint8_t* packet, uint32_t& message, uint32_t& wparam, uint32_t& lparam);

// A notification as it travels: the UI lookup of the sender and the edit-text side effect belong to
// whoever replays it.
struct NotifyRecord {
    std::wstring type;           // "click", "selectchanged", ...
    std::wstring virtual_window; // usually empty
    std::wstring sender_name;
    std::wstring sender_text;
    uint32_t timestamp = 0;
    uint32_t wparam = 0;
    uint32_t lparam = 0;
    int32_t x = 0;
    int32_t y = 0;
};

// A text's bytes: each character U+0000..U+00FF becomes the byte of the same value; false for any
// other character (the text then travels as count 0 with no bytes).
bool NarrowWireText(const std::wstring& text, std::string& bytes);

// The NotifyPacket of a notification; false, and nothing to send, when it does not fit the format: a
// text of 255 bytes or more, or a packet over 256 bytes.
bool EncodeNotifyPacket(const NotifyRecord& notification, std::vector<uint8_t>& packet);
// Decodes a whole NotifyPacket (length byte and type included); false when it is malformed: shorter
// than its fixed fields, or a count running past the packet. A count of 0 is an empty text; a text
// ends at its zero byte or its count, whichever comes first.
bool DecodeNotifyPacket(const uint8_t* packet, size_t size, NotifyRecord& out);

struct WirePacket {
    bool is_notification = false;
    NotifyRecord notification;
    uint32_t message = 0;
    uint32_t wparam = 0;
    uint32_t lparam = 0;
    uint64_t source = 0; // the connection it came in on, numbered from 1 by the server
};

// The packets of one connection's stream. A packet whose rest has not arrived is kept until it does;
// a malformed packet fails the stream for good (its connection is to be closed).
class WireReceiver {
public:
    // Takes the bytes of one receive and appends the whole packets it completes, in stream order;
    // false once the stream holds a malformed packet (the packets before it are still given).
    bool Receive(const uint8_t* data, size_t size, std::vector<WirePacket>& out);
    size_t Pending() const { return pending_.size(); }

private:
    std::vector<uint8_t> pending_;
    bool failed_ = false;
};
