#include "lib/devicecomm/protocol.h"

namespace devproto {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v >> 24));
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void PutU64(std::vector<uint8_t>& out, uint64_t v) {
    PutU32(out, static_cast<uint32_t>(v >> 32));
    PutU32(out, static_cast<uint32_t>(v));
}

uint32_t GetU32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

uint64_t GetU64(const uint8_t* p) {
    return (static_cast<uint64_t>(GetU32(p)) << 32) | GetU32(p + 4);
}

ParseResult TakeFrame(const uint8_t* data, size_t size, Frame& out, size_t& consumed) {
    consumed = 0;
    if (size < 4) {
        return ParseResult::NeedMore;
    }
    const uint32_t length = GetU32(data);
    if (length == 0 || length > kMaxBody) {
        return ParseResult::Malformed;
    }
    if (size - 4 < length) {
        return ParseResult::NeedMore;
    }
    out.code = data[4];
    out.body.assign(data + kHeaderSize, data + 4 + length);
    consumed = 4 + static_cast<size_t>(length);
    return ParseResult::Ok;
}

namespace {

std::vector<uint8_t> Framed(uint8_t code, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    out.reserve(kHeaderSize + body.size());
    PutU32(out, static_cast<uint32_t>(body.size() + 1));
    out.push_back(code);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// The fixed part of each op's request body.
size_t FixedSize(Op op) {
    switch (op) {
    case Op::Hello:
    case Op::PortCount:
        return 0;
    case Op::CardCount:
        return 4;
    case Op::ReadSender:
        return 8;
    case Op::ReadCard:
    case Op::WriteCard:
        return 16;
    }
    return 0;
}

bool KnownOp(uint8_t code) {
    return code >= static_cast<uint8_t>(Op::Hello) && code <= static_cast<uint8_t>(Op::WriteCard);
}

} // namespace

std::vector<uint8_t> EncodeRequest(const Request& r) {
    std::vector<uint8_t> body;
    switch (r.op) {
    case Op::Hello:
    case Op::PortCount:
        break;
    case Op::CardCount:
        PutU32(body, static_cast<uint32_t>(r.port));
        break;
    case Op::ReadSender:
        PutU32(body, r.address);
        PutU32(body, r.length);
        break;
    case Op::ReadCard:
    case Op::WriteCard:
        PutU32(body, static_cast<uint32_t>(r.port));
        PutU32(body, r.card);
        PutU32(body, r.address);
        PutU32(body, r.op == Op::WriteCard ? static_cast<uint32_t>(r.data.size()) : r.length);
        if (r.op == Op::WriteCard) {
            body.insert(body.end(), r.data.begin(), r.data.end());
        }
        break;
    }
    return Framed(static_cast<uint8_t>(r.op), body);
}

std::vector<uint8_t> EncodeResponse(const Response& r) {
    return Framed(static_cast<uint8_t>(r.status), r.payload);
}

bool DecodeRequest(const Frame& frame, Request& out) {
    if (!KnownOp(frame.code)) {
        return false;
    }
    out = Request{};
    out.op = static_cast<Op>(frame.code);
    const std::vector<uint8_t>& b = frame.body;
    const size_t fixed = FixedSize(out.op);
    if (b.size() < fixed) {
        return false;
    }
    const uint8_t* p = b.data();
    switch (out.op) {
    case Op::Hello:
    case Op::PortCount:
        break;
    case Op::CardCount:
        out.port = static_cast<int32_t>(GetU32(p));
        break;
    case Op::ReadSender:
        out.address = GetU32(p);
        out.length = GetU32(p + 4);
        break;
    case Op::ReadCard:
    case Op::WriteCard:
        out.port = static_cast<int32_t>(GetU32(p));
        out.card = GetU32(p + 4);
        out.address = GetU32(p + 8);
        out.length = GetU32(p + 12);
        break;
    }
    if (out.op == Op::WriteCard) {
        if (b.size() - fixed != out.length) {
            return false;
        }
        out.data.assign(b.begin() + static_cast<std::ptrdiff_t>(fixed), b.end());
        return true;
    }
    if ((out.op == Op::ReadCard || out.op == Op::ReadSender) && out.length > kMaxData) {
        return false;
    }
    return b.size() == fixed;
}

bool DecodeResponse(const Frame& frame, Response& out) {
    if (frame.code > static_cast<uint8_t>(Status::WriteRefused)) {
        return false;
    }
    out.status = static_cast<Status>(frame.code);
    out.payload = frame.body;
    return true;
}

} // namespace devproto
