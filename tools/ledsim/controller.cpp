#include "tools/ledsim/controller.h"

#include <cstring>
#include <filesystem>
#include <fstream>

namespace ledsim {

using devproto::Status;

namespace {

uint32_t Stride(const CardSpec& c) {
    return (static_cast<uint32_t>(c.columns) + 3u) / 4u * 4u;
}

uint32_t Word(const std::vector<uint8_t>& data) {
    return devproto::GetU32(data.data());
}

std::vector<uint8_t> WordBytes(uint32_t v) {
    std::vector<uint8_t> out;
    devproto::PutU32(out, v);
    return out;
}

devproto::Response Reply(Status status, std::vector<uint8_t> payload = {}) {
    devproto::Response r;
    r.status = status;
    r.payload = std::move(payload);
    return r;
}

// The first `length` bytes of a register of `size` bytes.
devproto::Response Prefix(std::vector<uint8_t> value, uint32_t length) {
    if (length > value.size()) {
        return Reply(Status::BadLength);
    }
    value.resize(length);
    return Reply(Status::Ok, std::move(value));
}

} // namespace

Controller::Controller(Topology topology, ControllerOptions options)
    : topology_(std::move(topology)), options_(std::move(options)) {
    for (const PortSpec& port : topology_.ports) {
        std::vector<Card> cards;
        for (const CardSpec& shape : port.cards) {
            Card card;
            card.shape = shape;
            card.memory.assign(static_cast<size_t>(Stride(shape)) * shape.rows, 0);
            cards.push_back(std::move(card));
        }
        cards_.push_back(std::move(cards));
    }
    uint32_t width = 0;
    uint32_t height = 0;
    TopologyExtent(topology_, width, height);
    wall_ = MakeWall(topology_.wall, width, height);
}

Controller::~Controller() {
    if (journal_ != nullptr) {
        std::fclose(journal_);
    }
}

std::string Controller::StatePath(int port, int index) const {
    return options_.state_dir + "/card-" + std::to_string(port) + "-" + std::to_string(index) + ".bin";
}

bool Controller::Open(std::string& error) {
    if (!options_.state_dir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options_.state_dir, ec);
        if (ec) {
            error = "cannot create " + options_.state_dir + ": " + ec.message();
            return false;
        }
        // Power-on: every card loads what it stored last (the stored switch, then the coefficients).
        for (size_t p = 0; p < cards_.size(); ++p) {
            for (size_t c = 0; c < cards_[p].size(); ++c) {
                Card& card = cards_[p][c];
                const std::string path = StatePath(static_cast<int>(p), static_cast<int>(c));
                // Sized before it is read: a state file of another size (another topology, or a file
                // that grew by mistake) is not loaded, however large it is.
                std::error_code size_error;
                const uintmax_t size = std::filesystem::file_size(path, size_error);
                if (size_error || size != 4 + card.memory.size()) {
                    continue;
                }
                std::ifstream in(path, std::ios::binary);
                if (!in) {
                    continue;
                }
                std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
                if (bytes.size() != 4 + card.memory.size()) {
                    continue; // stored for another topology: the card starts empty
                }
                card.stored_switch = devproto::GetU32(bytes.data());
                card.correction = card.stored_switch;
                card.stored.assign(bytes.begin() + 4, bytes.end());
                card.memory = card.stored;
            }
        }
    }
    if (!options_.journal.empty()) {
        journal_ = std::fopen(options_.journal.c_str(), "ab");
        if (journal_ == nullptr) {
            error = "cannot open the journal " + options_.journal;
            return false;
        }
    }
    return true;
}

bool Controller::Persist(int port, int index, const Card& card) {
    if (options_.state_dir.empty()) {
        return true;
    }
    const std::string path = StatePath(port, index);
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        const std::vector<uint8_t> head = WordBytes(card.stored_switch);
        out.write(reinterpret_cast<const char*>(head.data()), 4);
        out.write(reinterpret_cast<const char*>(card.stored.data()),
                  static_cast<std::streamsize>(card.stored.size()));
        if (!out) {
            return false;
        }
    }
    // Replaced in one step: a crash mid-write leaves the previous store intact.
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    return !ec;
}

Controller::Card* Controller::Find(int32_t port, uint32_t address, Status& status) {
    if (port < 0 || static_cast<size_t>(port) >= cards_.size()) {
        status = Status::NoSuchPort;
        return nullptr;
    }
    const uint32_t index = address & 0x0FFF;
    if ((address & 0xFFFFF000u) != static_cast<uint32_t>(0x2000) || index >= cards_[port].size()) {
        status = Status::NoSuchCard;
        return nullptr;
    }
    return &cards_[port][index];
}

devproto::Response Controller::Handle(const devproto::Request& q) {
    std::lock_guard<std::mutex> guard(lock_);
    switch (q.op) {
    case devproto::Op::Hello: {
        std::vector<uint8_t> payload;
        devproto::PutU64(payload, options_.device_id);
        devproto::PutU32(payload, devproto::kVersion);
        return Reply(Status::Ok, payload);
    }
    case devproto::Op::PortCount:
        return Reply(Status::Ok, WordBytes(static_cast<uint32_t>(cards_.size())));
    case devproto::Op::CardCount:
        if (q.port < 0 || static_cast<size_t>(q.port) >= cards_.size()) {
            return Reply(Status::NoSuchPort);
        }
        return Reply(Status::Ok, WordBytes(static_cast<uint32_t>(cards_[q.port].size())));
    case devproto::Op::ReadSender:
        if (q.address == reg::kWallModel) {
            return Prefix(EncodeWall(wall_), q.length);
        }
        if (q.address != reg::kPortOffsets) {
            return Reply(Status::NoSuchRegister);
        } else {
            std::vector<uint8_t> table(256, 0);
            for (size_t p = 0; p < topology_.ports.size(); ++p) {
                const size_t word = p < 8 ? 3 + p : 4 + p;
                const uint32_t v = (static_cast<uint32_t>(topology_.ports[p].row_offset) << 16) |
                                   topology_.ports[p].column_offset;
                const std::vector<uint8_t> bytes = WordBytes(v);
                std::memcpy(&table[word * 4], bytes.data(), 4);
            }
            return Prefix(table, q.length);
        }
    case devproto::Op::ReadCard:
        return Read(q);
    case devproto::Op::WriteCard:
        return Write(q);
    }
    return Reply(Status::BadRequest);
}

devproto::Response Controller::Read(const devproto::Request& q) {
    Status status = Status::Ok;
    Card* card = Find(q.port, q.card, status);
    if (card == nullptr) {
        return Reply(status);
    }
    switch (q.address) {
    case reg::kPosition: {
        std::vector<uint8_t> value(20, 0);
        value[4] = static_cast<uint8_t>(card->shape.row >> 8);
        value[5] = static_cast<uint8_t>(card->shape.row);
        value[6] = static_cast<uint8_t>(card->shape.column >> 8);
        value[7] = static_cast<uint8_t>(card->shape.column);
        return Prefix(value, q.length);
    }
    case reg::kSize: {
        const CardSpec& s = card->shape;
        const uint16_t rows = s.misreports ? s.reported_rows : s.rows;
        const uint16_t columns = s.misreports ? s.reported_columns : s.columns;
        return Prefix({static_cast<uint8_t>(rows >> 8), static_cast<uint8_t>(rows),
                       static_cast<uint8_t>(columns >> 8), static_cast<uint8_t>(columns)},
                      q.length);
    }
    case reg::kUploadGate:
        return Prefix(WordBytes(card->gate), q.length);
    case reg::kSwitch:
        return Prefix(WordBytes(card->correction), q.length);
    case reg::kStoredSwitch:
        return Prefix(WordBytes(card->stored_switch), q.length);
    case reg::kStore:
        return Prefix(WordBytes(card->store_word), q.length);
    default:
        break;
    }
    if (q.address >= reg::kCoefficients && q.address - reg::kCoefficients < reg::kCoefficientWindow) {
        const uint64_t offset = q.address - reg::kCoefficients;
        if (offset + q.length > card->memory.size()) {
            return Reply(Status::BadLength);
        }
        const auto begin = card->memory.begin() + static_cast<std::ptrdiff_t>(offset);
        return Reply(Status::Ok, std::vector<uint8_t>(begin, begin + q.length));
    }
    return Reply(Status::NoSuchRegister);
}

devproto::Response Controller::Write(const devproto::Request& q) {
    Status status = Status::Ok;
    if (q.port == -1 && q.card == 0x2FFF) {
        // Broadcast: every card takes the write; the reply is the first refusal, if any.
        for (size_t p = 0; p < cards_.size(); ++p) {
            for (size_t c = 0; c < cards_[p].size(); ++c) {
                const Status s =
                    WriteOne(static_cast<int>(p), static_cast<int>(c), cards_[p][c], q.address, q.data);
                if (status == Status::Ok) {
                    status = s;
                }
            }
        }
    } else if (Card* card = Find(q.port, q.card, status)) {
        status = WriteOne(q.port, static_cast<int>(q.card & 0x0FFF), *card, q.address, q.data);
    }
    Journal(q, status);
    return Reply(status);
}

Status Controller::WriteOne(int port, int index, Card& card, uint32_t address,
                            const std::vector<uint8_t>& data) {
    const bool word = data.size() == 4;
    switch (address) {
    case reg::kUploadGate:
        if (!word) {
            return Status::BadLength;
        }
        card.gate = Word(data);
        return Status::Ok;
    case reg::kSwitch:
        if (!word) {
            return Status::BadLength;
        }
        card.correction = Word(data);
        return Status::Ok;
    case reg::kStoredSwitch:
        if (!word) {
            return Status::BadLength;
        }
        card.stored_switch = Word(data);
        return Status::Ok;
    case reg::kStore:
        if (!word) {
            return Status::BadLength;
        }
        card.store_word = Word(data);
        card.stored = card.memory;
        return Persist(port, index, card) ? Status::Ok : Status::WriteRefused;
    default:
        break;
    }
    if (address >= reg::kCoefficients && address - reg::kCoefficients < reg::kCoefficientWindow) {
        // Coefficient memory takes data only between the opening and the closing of an upload.
        if (card.gate != kGateOpen) {
            return Status::WriteRefused;
        }
        const uint64_t offset = address - reg::kCoefficients;
        if (offset + data.size() > card.memory.size()) {
            return Status::BadLength;
        }
        std::copy(data.begin(), data.end(), card.memory.begin() + static_cast<std::ptrdiff_t>(offset));
        return Status::Ok;
    }
    return Status::NoSuchRegister;
}

void Controller::Journal(const devproto::Request& q, Status status) {
    if (journal_ == nullptr) {
        return;
    }
    std::fprintf(journal_, "%d 0x%04x 0x%08x %u ", q.port, q.card, q.address,
                 static_cast<unsigned>(q.data.size()));
    for (uint8_t b : q.data) {
        std::fprintf(journal_, "%02x", b);
    }
    if (q.data.empty()) {
        std::fputc('-', journal_);
    }
    std::fprintf(journal_, "%s\n", status == Status::Ok ? "" : " refused");
    std::fflush(journal_);
}

std::vector<uint8_t> Controller::Memory(int port, int card) {
    std::lock_guard<std::mutex> guard(lock_);
    return cards_.at(static_cast<size_t>(port)).at(static_cast<size_t>(card)).memory;
}

std::vector<uint8_t> Controller::Stored(int port, int card) {
    std::lock_guard<std::mutex> guard(lock_);
    return cards_.at(static_cast<size_t>(port)).at(static_cast<size_t>(card)).stored;
}

} // namespace ledsim
