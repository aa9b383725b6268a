#pragma once

// The device-communication library: a device manager hands out one interface per command to the
// sending card and the receiving cards chained on its ports. Our transport is the controller protocol
// over TCP (protocol.h); every call has one deadline, so a silent or dripping controller fails a command
// instead of hanging the window that runs it.

#include "lib/devicecomm/net.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// Where the library says what it changed of a controller's answers (counts it cut); standard error
// when none is set.
using DeviceTrace = std::function<void(const std::string&)>;

struct DeviceSettings {
    std::string host = "127.0.0.1";
    uint16_t port = 26600;
    int connect_timeout_ms = 2000;
    int reply_timeout_ms = 3000; // the deadline of a call without register data
    DeviceTrace trace;
};

// A call's deadline: the reply timeout, and a millisecond more for each KiB of register data it moves.
constexpr uint64_t kBytesPerDeadlineMs = 1024;
uint64_t CallDeadlineMs(int reply_timeout_ms, uint64_t bytes);

// Counts beyond these are cut: the sending card's offset table places 16 ports, and card indices from
// 0xFFF on give the broadcast address or alias other cards.
constexpr int kMaxDevicePorts = 16;
constexpr int kMaxCardsOnPort = 0xFFF;

class Connection;

class ICommInterface {
public:
    // Ends the use of the interface and frees it; nothing may touch it afterwards.
    virtual void Release() = 0;
    virtual int GetPortCount() = 0;
    virtual int GetCardCount(int port, int kind) = 0;
    // Results: 0 on success (a read's buffer then filled); a positive status when the call failed with
    // the link intact (refused, or an answer of another length: the next call may succeed); negative
    // when the link is lost, after which every call fails.
    virtual int ReadCardRegister(int port, int card, uint32_t address, uint8_t* buffer, uint32_t length) = 0;
    // With flags 0 the write is sent without waiting for the controller's answer, and 0 means only that
    // it was sent; with kWaitForReply it returns the controller's status, 0 only when this write and
    // every write posted since the last waiting one were taken.
    virtual int WriteCardRegister(int port, int card, uint32_t address, const uint8_t* buffer,
                                  uint32_t length, int flags) = 0;
    // count is in 32-bit words.
    virtual int ReadSenderRegister(uint32_t address, uint8_t* buffer, uint32_t count) = 0;

protected:
    virtual ~ICommInterface() = default;
};

class ICommInterfaceMan {
public:
    virtual ~ICommInterfaceMan() = default;
    virtual int InitDeviceList() = 0;
    virtual int GetDeviceCount() = 0;
    virtual uint64_t GetAt(int index) = 0;
    virtual ICommInterface* GetCommInst(uint64_t id) = 0;
    virtual void SetCurDeviceId(uint64_t id) = 0;
    virtual uint64_t GetCurDeviceId() = 0;
    virtual bool IsValidCurrentDeviceId() = 0;
    virtual bool ChkDeviceId(uint64_t id) = 0;
};

class CCommInstMan : public ICommInterfaceMan {
public:
    explicit CCommInstMan(DeviceSettings settings = DeviceSettings());
    ~CCommInstMan() override;

    // Looks for the controller: connects and asks who it is. 0 when one answered.
    int InitDeviceList() override;
    int GetDeviceCount() override;
    uint64_t GetAt(int index) override;
    // Hands the connection found by InitDeviceList to a new interface; null when there is none.
    ICommInterface* GetCommInst(uint64_t id) override;
    void SetCurDeviceId(uint64_t id) override;
    uint64_t GetCurDeviceId() override;
    bool IsValidCurrentDeviceId() override;
    bool ChkDeviceId(uint64_t id) override;

    void SetSettings(const DeviceSettings& settings);
    DeviceSettings Settings();
    // Why the last InitDeviceList failed, for diagnostics.
    std::string LastError();

private:
    std::mutex lock_;
    DeviceSettings settings_;
    std::unique_ptr<Connection> found_;
    bool has_device_ = false;
    uint64_t device_id_ = 0;
    uint64_t current_id_ = 0;
    std::string last_error_;
};

// The sequence every hardware command begins with; null when any step fails.
ICommInterface* OpenCommInterface(ICommInterfaceMan& manager);

// An interface over a socket already connected to a controller, after the same greeting; null when it
// does not answer as one. For fuzzing the library's side of the link without a listener.
ICommInterface* OpenCommInterfaceOver(net::Socket socket, const DeviceSettings& settings);

// The most register data one call moves; a longer call is refused with kCallTooLong, the link intact.
constexpr uint32_t kMaxCallData = 64u << 20;
constexpr int kCallTooLong = 5;
// A read answered with another length than asked for.
constexpr int kWrongLength = 5;

// The address a card is reached at: its index on the port with 0x2000; port -1 with card 0x2FFF writes
// to every card at once.
constexpr int kCardAddressBase = 0x2000;
constexpr int kWaitForReply = 1;
constexpr int kBroadcastPort = -1;
constexpr int kBroadcastCard = 0x2FFF;
