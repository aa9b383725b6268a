#include "lib/devicecomm/devicecomm.h"

#include "lib/devicecomm/protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
constexpr size_t kHelloPayload = 12; // device id, protocol version
static_assert(kMaxCallData == devproto::kMaxData, "a call moves what one frame carries");
static_assert(kCallTooLong == static_cast<int>(devproto::Status::BadLength) && kWrongLength == kCallTooLong,
              "the library's refusals read as the controller's own");
} // namespace

// The reply timeout is the whole of a small call; register data adds time at the slowest rate a link
// to a controller still counts as working, so a 64 KiB block costs 64 ms more and a 64 MiB one a minute.
uint64_t CallDeadlineMs(int reply_timeout_ms, uint64_t bytes) {
    return static_cast<uint64_t>(reply_timeout_ms > 0 ? reply_timeout_ms : 0) + bytes / kBytesPerDeadlineMs;
}

// Requests and their responses, in order, on a connection that is given up at the first failure: after
// a timeout the stream can no longer be matched to requests.
//
// A write need not wait for its response: the controller answers every request in the order it came,
// so the responses of posted writes are taken off the stream before the next request that needs its
// own answer, and before the connection is let go. The round trip a response costs is paid once per
// read, not once per write.
//
// Every call of the interface has one deadline for all it sends and receives, not a timeout per
// receive: a controller that drips its answer a byte at a time still ends the call in time. A response
// is never buffered beyond what its request allows: a length announced beyond that ends the call at
// once.
class Connection {
public:
    Connection(net::Socket socket, int timeout_ms) : socket_(std::move(socket)), timeout_ms_(timeout_ms) {}

    // Starts the deadline of one call that moves `bytes` of register data, besides the responses still
    // owed for posted writes (whose data the controller may still be taking in).
    void Begin(uint64_t bytes) {
        deadline_ = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(CallDeadlineMs(timeout_ms_, bytes + unanswered_bytes_));
    }

    // The request goes out before the responses of posted writes are taken: they arrive first, in
    // order, and the round trip is paid once. `max_payload` is the most the response may carry.
    bool Call(const devproto::Request& request, size_t max_payload, devproto::Response& response) {
        return Send(request) && Drain() && Receive(max_payload, response);
    }

    // Sends a request whose response is not waited for; false when the connection failed.
    bool Post(const devproto::Request& request) {
        if (!Send(request)) {
            return false;
        }
        ++unanswered_;
        unanswered_bytes_ += request.data.size();
        // Responses are small, but the controller must never block on a full stream of them.
        return unanswered_ < kMaxUnanswered || Drain();
    }

    // Takes the responses of every posted request off the stream.
    bool Drain() {
        while (unanswered_ > 0) {
            devproto::Response r;
            if (!Receive(0, r)) {
                return false;
            }
            --unanswered_;
            refused_ = refused_ || r.status != devproto::Status::Ok;
        }
        unanswered_bytes_ = 0;
        return socket_.Valid();
    }

    // Whether a posted write was refused since the last question; a write that waits for its answer
    // stands for the posted ones before it.
    bool TakeRefusal() {
        const bool refused = refused_;
        refused_ = false;
        return refused;
    }

    bool Valid() const { return socket_.Valid(); }

private:
    static constexpr int kMaxUnanswered = 256;

    int RemainingMs() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline_ - std::chrono::steady_clock::now())
                              .count();
        return left <= 0 ? 0 : (left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left));
    }

    bool Fail() {
        socket_.Close();
        return false;
    }

    bool Send(const devproto::Request& request) {
        if (!socket_.Valid()) {
            return false;
        }
        const std::vector<uint8_t> bytes = devproto::EncodeRequest(request);
        const int left = RemainingMs();
        if (left == 0 || !net::SendAll(socket_, bytes.data(), bytes.size(), left)) {
            return Fail();
        }
        return true;
    }

    bool Receive(size_t max_payload, devproto::Response& response) {
        for (;;) {
            // The announced length is checked before the body is waited for, let alone kept.
            if (pending_.size() >= 4 && devproto::GetU32(pending_.data()) > max_payload + 1) {
                return Fail();
            }
            devproto::Frame frame;
            size_t used = 0;
            const devproto::ParseResult r =
                devproto::TakeFrame(pending_.data(), pending_.size(), frame, used);
            if (r == devproto::ParseResult::Ok) {
                pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
                if (!devproto::DecodeResponse(frame, response)) {
                    return Fail();
                }
                return true;
            }
            if (r == devproto::ParseResult::Malformed) {
                return Fail();
            }
            const int left = RemainingMs();
            if (left == 0) {
                return Fail();
            }
            const long n = net::RecvSome(socket_, chunk_, sizeof(chunk_), left);
            if (n <= 0) {
                return Fail();
            }
            pending_.insert(pending_.end(), chunk_, chunk_ + n);
        }
    }

    net::Socket socket_;
    int timeout_ms_;
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::now();
    std::vector<uint8_t> pending_;
    int unanswered_ = 0;
    uint64_t unanswered_bytes_ = 0;
    bool refused_ = false;
    uint8_t chunk_[64 * 1024];
};

namespace {

class CommInterface final : public ICommInterface {
public:
    CommInterface(std::unique_ptr<Connection> connection, DeviceTrace trace)
        : connection_(std::move(connection)), trace_(std::move(trace)) {}

    void Release() override {
        connection_->Begin(0);
        connection_->Drain(); // a posted write is answered before the connection goes
        delete this;
    }

    int GetPortCount() override {
        devproto::Request q;
        q.op = devproto::Op::PortCount;
        const int n = CountOf(q);
        if (n > kMaxDevicePorts) {
            // The sending card's offset table places 16 ports; a larger count is a fault, not a wall.
            Trace("the controller reports " + std::to_string(n) + " ports; the first " +
                  std::to_string(kMaxDevicePorts) + " are used");
            return kMaxDevicePorts;
        }
        return n;
    }

    int GetCardCount(int port, int /*kind*/) override {
        devproto::Request q;
        q.op = devproto::Op::CardCount;
        q.port = port;
        const int n = CountOf(q);
        if (n > kMaxCardsOnPort) {
            // Index 0xFFF with 0x2000 is the broadcast address, and higher ones alias other cards.
            Trace("the controller reports " + std::to_string(n) + " cards on port " + std::to_string(port) +
                  "; the first " + std::to_string(kMaxCardsOnPort) + " are used");
            return kMaxCardsOnPort;
        }
        return n;
    }

    int ReadCardRegister(int port, int card, uint32_t address, uint8_t* buffer, uint32_t length) override {
        devproto::Request q;
        q.op = devproto::Op::ReadCard;
        q.port = port;
        q.card = static_cast<uint32_t>(card);
        q.address = address;
        q.length = length;
        return Read(q, buffer, length);
    }

    int WriteCardRegister(int port, int card, uint32_t address, const uint8_t* buffer, uint32_t length,
                          int flags) override {
        if (length > kMaxCallData || (buffer == nullptr && length != 0)) {
            return kCallTooLong; // refused before anything is sent: the link stays as it was
        }
        devproto::Request q;
        q.op = devproto::Op::WriteCard;
        q.port = port;
        q.card = static_cast<uint32_t>(card);
        q.address = address;
        q.data.assign(buffer, buffer + length);
        connection_->Begin(length);
        if ((flags & kWaitForReply) == 0) {
            return connection_->Post(q) ? 0 : -1;
        }
        devproto::Response r;
        if (!connection_->Call(q, 0, r)) {
            return -1;
        }
        if (connection_->TakeRefusal()) {
            return static_cast<int>(devproto::Status::WriteRefused);
        }
        return static_cast<int>(r.status);
    }

    int ReadSenderRegister(uint32_t address, uint8_t* buffer, uint32_t count) override {
        if (count > kMaxCallData / 4) {
            return kCallTooLong;
        }
        devproto::Request q;
        q.op = devproto::Op::ReadSender;
        q.address = address;
        q.length = count * 4;
        return Read(q, buffer, q.length);
    }

private:
    void Trace(const std::string& line) {
        if (trace_) {
            trace_(line);
            return;
        }
        std::fprintf(stderr, "devicecomm: %s\n", line.c_str());
        std::fflush(stderr);
    }

    int CountOf(const devproto::Request& q) {
        devproto::Response r;
        connection_->Begin(0);
        if (!connection_->Call(q, 4, r) || r.status != devproto::Status::Ok || r.payload.size() != 4) {
            return 0; // no ports or cards: the loops of the commands simply end
        }
        const uint32_t n = devproto::GetU32(r.payload.data());
        return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
    }

    int Read(const devproto::Request& q, uint8_t* buffer, uint32_t length) {
        if (length > kMaxCallData || (buffer == nullptr && length != 0)) {
            return kCallTooLong;
        }
        devproto::Response r;
        connection_->Begin(length);
        if (!connection_->Call(q, length, r)) {
            return -1;
        }
        if (r.status != devproto::Status::Ok) {
            return static_cast<int>(r.status);
        }
        if (r.payload.size() != length) {
            // It cannot fill the caller's buffer as asked; but the frame was whole, so the stream still
            // matches the requests and the next call may succeed.
            return kWrongLength;
        }
        if (length != 0) {
            std::memcpy(buffer, r.payload.data(), length);
        }
        return 0;
    }

    std::unique_ptr<Connection> connection_;
    DeviceTrace trace_;
};

} // namespace

CCommInstMan::CCommInstMan(DeviceSettings settings) : settings_(std::move(settings)) {}
CCommInstMan::~CCommInstMan() = default;

void CCommInstMan::SetSettings(const DeviceSettings& settings) {
    std::lock_guard<std::mutex> guard(lock_);
    settings_ = settings;
}

DeviceSettings CCommInstMan::Settings() {
    std::lock_guard<std::mutex> guard(lock_);
    return settings_;
}

std::string CCommInstMan::LastError() {
    std::lock_guard<std::mutex> guard(lock_);
    return last_error_;
}

namespace {

// Asks who the controller is; an empty text and its id when it answered as one.
std::string Greet(Connection& connection, uint64_t& id) {
    devproto::Request hello;
    hello.op = devproto::Op::Hello;
    devproto::Response r;
    connection.Begin(0);
    if (!connection.Call(hello, kHelloPayload, r)) {
        return "the controller did not answer";
    }
    if (r.status != devproto::Status::Ok || r.payload.size() != kHelloPayload ||
        devproto::GetU32(r.payload.data() + 8) != devproto::kVersion) {
        return "the controller speaks another protocol";
    }
    id = devproto::GetU64(r.payload.data());
    return std::string();
}

} // namespace

int CCommInstMan::InitDeviceList() {
    const DeviceSettings s = Settings();
    std::string error;
    net::Socket socket = net::Connect(s.host, s.port, s.connect_timeout_ms, error);
    uint64_t id = 0;
    std::unique_ptr<Connection> connection;
    if (socket.Valid()) {
        connection = std::make_unique<Connection>(std::move(socket), s.reply_timeout_ms);
        error = Greet(*connection, id);
    }
    std::lock_guard<std::mutex> guard(lock_);
    has_device_ = connection != nullptr && error.empty();
    // The connection that answered is kept for the interface the command asks for next.
    found_ = has_device_ ? std::move(connection) : nullptr;
    device_id_ = id;
    current_id_ = has_device_ ? id : current_id_;
    last_error_ = has_device_ ? std::string() : error;
    return has_device_ ? 0 : 1;
}

ICommInterface* OpenCommInterfaceOver(net::Socket socket, const DeviceSettings& settings) {
    auto connection = std::make_unique<Connection>(std::move(socket), settings.reply_timeout_ms);
    uint64_t id = 0;
    if (!Greet(*connection, id).empty()) {
        return nullptr;
    }
    return new CommInterface(std::move(connection), settings.trace);
}

int CCommInstMan::GetDeviceCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return has_device_ ? 1 : 0;
}

uint64_t CCommInstMan::GetAt(int index) {
    std::lock_guard<std::mutex> guard(lock_);
    return has_device_ && index == 0 ? device_id_ : 0;
}

ICommInterface* CCommInstMan::GetCommInst(uint64_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!has_device_ || id != device_id_ || found_ == nullptr) {
        return nullptr;
    }
    has_device_ = false; // one interface per discovery: the connection now belongs to it
    return new CommInterface(std::move(found_), settings_.trace);
}

void CCommInstMan::SetCurDeviceId(uint64_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    current_id_ = id;
}

uint64_t CCommInstMan::GetCurDeviceId() {
    std::lock_guard<std::mutex> guard(lock_);
    return current_id_;
}

bool CCommInstMan::IsValidCurrentDeviceId() {
    std::lock_guard<std::mutex> guard(lock_);
    return has_device_ && current_id_ == device_id_;
}

bool CCommInstMan::ChkDeviceId(uint64_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    return has_device_ && id == device_id_;
}

ICommInterface* OpenCommInterface(ICommInterfaceMan& manager) {
    if (manager.InitDeviceList() != 0) {
        return nullptr;
    }
    if (manager.GetDeviceCount() == 0) {
        return nullptr;
    }
    const uint64_t id = manager.GetCurDeviceId();
    if (!manager.ChkDeviceId(id)) {
        return nullptr;
    }
    return manager.GetCommInst(id);
}
