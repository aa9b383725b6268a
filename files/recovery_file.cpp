#include "files/recovery_file.h"

#include "lib/baselib/byte_order.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace {

constexpr uint8_t kSignature[4] = {'V', 'S', 'R', 'S'};
constexpr uint32_t kVersion = 1;
constexpr size_t kChunkRecords = 4096;

// Writes through `write` and hashes what went, for the checksum at the end.
class HashingSink {
public:
    explicit HashingSink(const ByteSink& write) : write_(write) {}
    bool operator()(const uint8_t* data, size_t size) {
        hash_.Add(data, size);
        return write_(data, size);
    }
    bool U32(uint32_t v) {
        uint8_t b[4];
        PutLE32(b, v);
        return (*this)(b, 4);
    }
    bool Text(const std::u16string& text) {
        if (text.size() > kRecoveryMaxText || !U32(static_cast<uint32_t>(text.size()))) {
            return false;
        }
        std::vector<uint8_t> bytes(text.size() * 2);
        for (size_t i = 0; i < text.size(); ++i) {
            bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
        }
        return (*this)(bytes.data(), bytes.size());
    }
    uint64_t Hash() const { return hash_.Value(); }

private:
    const ByteSink& write_;
    ContentHash hash_;
};

// Reads exactly what is asked for, hashing it; false when the data ends first.
class HashingSource {
public:
    explicit HashingSource(const ByteSource& read) : read_(read) {}
    bool Take(uint8_t* out, size_t size) {
        if (read_(out, size) != size) {
            return false;
        }
        hash_.Add(out, size);
        return true;
    }
    bool U32(uint32_t& v) {
        uint8_t b[4];
        if (!Take(b, 4)) {
            return false;
        }
        v = GetLE32(b);
        return true;
    }
    bool Text(std::u16string& text) {
        uint32_t length = 0;
        if (!U32(length) || length > kRecoveryMaxText) {
            return false;
        }
        std::vector<uint8_t> bytes(static_cast<size_t>(length) * 2);
        if (!Take(bytes.data(), bytes.size())) {
            return false;
        }
        text.resize(length);
        for (size_t i = 0; i < length; ++i) {
            text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
        return true;
    }
    uint64_t Hash() const { return hash_.Value(); }

private:
    const ByteSource& read_;
    ContentHash hash_;
};

RecoveryStatus ReadHead(HashingSource& in, RecoveryState& out) {
    uint8_t head[kRecoveryHeadSize];
    if (!in.Take(head, sizeof(head)) || std::memcmp(head, kSignature, 4) != 0 ||
        GetLE32(head + 4) != kVersion) {
        return RecoveryStatus::NotRecovery;
    }
    out.written_at = GetLE64(head + 8);
    out.content_hash = GetLE64(head + 16);
    out.baseline_hash = GetLE64(head + 24);
    out.tuned_records = GetLE64(head + 32);
    return RecoveryStatus::Ok;
}

} // namespace

// FNV-1a, byte by byte: about a tenth of a second for an 8K wall's 58 MB, off the window's thread but
// at a save or an import.
void ContentHash::Add(const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        hash_ ^= data[i];
        hash_ *= 1099511628211ull;
    }
}

uint64_t SeamFileHash(const ScreenParams& header, const std::vector<SeamSegment>& records) {
    ContentHash hash;
    WriteSeamFile(header, records, [&](const uint8_t* data, size_t size) {
        hash.Add(data, size);
        return true;
    });
    return hash.Value();
}

uint64_t TunedRecordCount(const std::vector<SeamSegment>& records) {
    return static_cast<uint64_t>(
        std::count_if(records.begin(), records.end(), [](const SeamSegment& s) { return s.gain != 1.0f; }));
}

bool WriteRecoveryFile(const RecoveryState& state, const ByteSink& write) {
    if (state.records.size() > UINT32_MAX || state.fields.size() > 64) {
        return false;
    }
    HashingSink out(write);
    uint8_t head[kRecoveryHeadSize];
    std::memcpy(head, kSignature, 4);
    PutLE32(head + 4, kVersion);
    PutLE64(head + 8, state.written_at);
    PutLE64(head + 16, state.content_hash);
    PutLE64(head + 24, state.baseline_hash);
    PutLE64(head + 32, state.tuned_records);
    if (!out(head, sizeof(head)) || !out.U32(static_cast<uint32_t>(state.fields.size()))) {
        return false;
    }
    for (const std::u16string& field : state.fields) {
        if (!out.Text(field)) {
            return false;
        }
    }
    if (!out.Text(state.coefficient_path) || !out.U32(state.has_grid ? 1 : 0) ||
        !out.U32(static_cast<uint32_t>(state.records.size()))) {
        return false;
    }
    if (!WriteSeamFile(state.grid_params, state.records, std::ref(out))) {
        return false;
    }
    uint8_t sum[8];
    PutLE64(sum, out.Hash());
    return write(sum, sizeof(sum));
}

RecoveryStatus ReadRecoveryHead(const ByteSource& read, RecoveryState& out) {
    HashingSource in(read);
    return ReadHead(in, out);
}

RecoveryStatus ReadRecoveryFile(const ByteSource& read, uint64_t memory_budget, RecoveryState& out) {
    HashingSource in(read);
    const RecoveryStatus head = ReadHead(in, out);
    if (head != RecoveryStatus::Ok) {
        return head;
    }
    uint32_t count = 0;
    if (!in.U32(count) || count > 64) {
        return RecoveryStatus::Damaged;
    }
    out.fields.assign(count, std::u16string());
    for (std::u16string& field : out.fields) {
        if (!in.Text(field)) {
            return RecoveryStatus::Damaged;
        }
    }
    uint32_t has_grid = 0;
    uint32_t records = 0;
    uint8_t header[kSeamHeaderSize];
    if (!in.Text(out.coefficient_path) || !in.U32(has_grid) || !in.U32(records) ||
        !in.Take(header, sizeof(header))) {
        return RecoveryStatus::Damaged;
    }
    out.has_grid = has_grid != 0;
    out.grid_params = DecodeSeamHeader(header);
    if (static_cast<uint64_t>(records) * sizeof(SeamSegment) > memory_budget) {
        return RecoveryStatus::TooLarge;
    }
    try {
        out.records.resize(records);
    } catch (const std::bad_alloc&) {
        return RecoveryStatus::TooLarge;
    }
    std::vector<uint8_t> chunk(kChunkRecords * kSeamRecordSize);
    for (size_t next = 0; next < out.records.size();) {
        const size_t n = std::min(kChunkRecords, out.records.size() - next);
        if (!in.Take(chunk.data(), n * kSeamRecordSize)) {
            return RecoveryStatus::Damaged;
        }
        for (size_t i = 0; i < n; ++i) {
            out.records[next + i] = DecodeSeamRecord(&chunk[i * kSeamRecordSize]);
        }
        next += n;
    }
    const uint64_t expected = in.Hash();
    uint8_t sum[8];
    if (read(sum, sizeof(sum)) != sizeof(sum) || GetLE64(sum) != expected) {
        return RecoveryStatus::Damaged;
    }
    return RecoveryStatus::Ok;
}
