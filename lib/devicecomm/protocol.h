#pragma once

// The request/response protocol between the device library and an LED controller (the simulator, or a
// bridge to real hardware). Described in tools/ledsim/README.md. All numbers are big-endian.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace devproto {

constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 5;            // u32 body length, u8 op or status
constexpr uint32_t kMaxData = 64u << 20;     // the largest register block one frame carries
constexpr uint32_t kMaxBody = kMaxData + 32; // room for the fixed fields of a write

enum class Op : uint8_t {
    Hello = 0x01,
    PortCount = 0x02,
    CardCount = 0x03,
    ReadSender = 0x04,
    ReadCard = 0x05,
    WriteCard = 0x06,
};

enum class Status : uint8_t {
    Ok = 0,
    BadRequest = 1,
    NoSuchPort = 2,
    NoSuchCard = 3,
    NoSuchRegister = 4,
    BadLength = 5,
    WriteRefused = 6,
};

struct Request {
    Op op = Op::Hello;
    int32_t port = 0;
    uint32_t card = 0;
    uint32_t address = 0;
    uint32_t length = 0;       // bytes to read, or of data for a write
    std::vector<uint8_t> data; // a write's bytes
};

struct Response {
    Status status = Status::Ok;
    std::vector<uint8_t> payload;
};

// One frame taken off a stream: its op or status byte and its body.
struct Frame {
    uint8_t code = 0;
    std::vector<uint8_t> body;
};

enum class ParseResult { NeedMore, Ok, Malformed };

// Takes one frame from the front of the bytes received so far. A length of 0 or above kMaxBody is
// malformed: the stream cannot be trusted any more and the connection is to be closed.
ParseResult TakeFrame(const uint8_t* data, size_t size, Frame& out, size_t& consumed);

std::vector<uint8_t> EncodeRequest(const Request& request);
std::vector<uint8_t> EncodeResponse(const Response& response);

// Checks the body against the op: every field present, nothing left over, lengths that agree.
bool DecodeRequest(const Frame& frame, Request& out);
bool DecodeResponse(const Frame& frame, Response& out);

void PutU32(std::vector<uint8_t>& out, uint32_t v);
void PutU64(std::vector<uint8_t>& out, uint64_t v);
uint32_t GetU32(const uint8_t* p);
uint64_t GetU64(const uint8_t* p);

} // namespace devproto
