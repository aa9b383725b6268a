#include "files/seam_file.h"

#include "lib/baselib/byte_order.h"

#include <algorithm>
#include <new>

namespace {

// Records move through a buffer of this many at a time: bounded memory for any file size.
constexpr size_t kChunkRecords = 2048;

int32_t I32(const uint8_t* p) {
    return static_cast<int32_t>(GetLE32(p));
}

} // namespace

void EncodeSeamHeader(const ScreenParams& p, uint8_t* out) {
    const int32_t fields[9] = {p.screen_width, p.screen_height, p.start_x,    p.start_y,   p.box_width,
                               p.box_height,   p.mod_width,     p.mod_height, p.gray_scale};
    for (size_t i = 0; i < 9; ++i) {
        PutLE32(out + 4 * i, static_cast<uint32_t>(fields[i]));
    }
    PutLE32(out + 36, 0);
    PutLE64(out + 40, DoubleBits(p.gamma));
}

ScreenParams DecodeSeamHeader(const uint8_t* in) {
    ScreenParams p;
    p.screen_width = I32(in);
    p.screen_height = I32(in + 4);
    p.start_x = I32(in + 8);
    p.start_y = I32(in + 12);
    p.box_width = I32(in + 16);
    p.box_height = I32(in + 20);
    p.mod_width = I32(in + 24);
    p.mod_height = I32(in + 28);
    p.gray_scale = I32(in + 32);
    p.gamma = BitsDouble(GetLE64(in + 40));
    return p;
}

void EncodeSeamRecord(const SeamSegment& s, uint8_t* out) {
    PutLE32(out, static_cast<uint32_t>(s.x0));
    PutLE32(out + 4, static_cast<uint32_t>(s.y0));
    PutLE32(out + 8, static_cast<uint32_t>(s.x1));
    PutLE32(out + 12, static_cast<uint32_t>(s.y1));
    PutLE32(out + 16, static_cast<uint32_t>(s.selected));
    PutLE32(out + 20, static_cast<uint32_t>(s.horizontal));
    PutLE32(out + 24, FloatBits(s.gain));
}

SeamSegment DecodeSeamRecord(const uint8_t* in) {
    SeamSegment s;
    s.x0 = I32(in);
    s.y0 = I32(in + 4);
    s.x1 = I32(in + 8);
    s.y1 = I32(in + 12);
    s.selected = I32(in + 16);
    s.horizontal = I32(in + 20);
    s.gain = BitsFloat(GetLE32(in + 24));
    return s;
}

bool SeamFileRecordCount(const ScreenParams& header, uint32_t& count) {
    const uint32_t w = static_cast<uint32_t>(header.screen_width);
    const uint32_t h = static_cast<uint32_t>(header.screen_height);
    const uint32_t mw = static_cast<uint32_t>(header.mod_width);
    const uint32_t mh = static_cast<uint32_t>(header.mod_height);
    if (mw == 0 || mh == 0) {
        return false;
    }
    count = 4u * (h / mh) * (w / mw); // wraps as a 32-bit count, as the files were always read
    return true;
}

SeamFileStatus ReadSeamFile(const ByteSource& read, uint64_t memory_budget, SeamFileContents& out) {
    uint8_t head[kSeamHeaderSize];
    if (read(head, sizeof(head)) != sizeof(head)) {
        return SeamFileStatus::TooShort;
    }
    out.header = DecodeSeamHeader(head);
    if (!SeamFileRecordCount(out.header, out.record_count)) {
        return SeamFileStatus::ZeroModule;
    }
    out.record_bytes = static_cast<uint64_t>(out.record_count) * kSeamRecordSize;
    if (out.record_bytes > memory_budget) {
        return SeamFileStatus::TooLarge;
    }
    try {
        out.records.assign(out.record_count, SeamSegment{});
    } catch (const std::bad_alloc&) {
        return SeamFileStatus::TooLarge;
    }
    std::vector<uint8_t> chunk(kChunkRecords * kSeamRecordSize);
    size_t next = 0;
    while (next < out.records.size()) {
        const size_t want = std::min(kChunkRecords, out.records.size() - next) * kSeamRecordSize;
        const size_t got = read(chunk.data(), want);
        for (size_t offset = 0; offset + kSeamRecordSize <= got; offset += kSeamRecordSize, ++next) {
            out.records[next] = DecodeSeamRecord(&chunk[offset]);
            if (!UsableGain(out.records[next].gain)) {
                out.bad_record = static_cast<uint32_t>(next);
                return SeamFileStatus::BadGain;
            }
        }
        if (got < want) {
            out.whole_records = static_cast<uint32_t>(next);
            return SeamFileStatus::Truncated;
        }
    }
    return SeamFileStatus::Ok;
}

bool UsableGain(float gain) {
    return gain >= 0.0f && gain <= 2.0f; // false for NaN as well
}

bool WriteSeamFile(const ScreenParams& header, const std::vector<SeamSegment>& records,
                   const ByteSink& write) {
    uint8_t head[kSeamHeaderSize];
    EncodeSeamHeader(header, head);
    if (!write(head, sizeof(head))) {
        return false;
    }
    std::vector<uint8_t> chunk(kChunkRecords * kSeamRecordSize);
    for (size_t first = 0; first < records.size(); first += kChunkRecords) {
        const size_t n = std::min(kChunkRecords, records.size() - first);
        for (size_t i = 0; i < n; ++i) {
            EncodeSeamRecord(records[first + i], &chunk[i * kSeamRecordSize]);
        }
        if (!write(chunk.data(), n * kSeamRecordSize)) {
            return false;
        }
    }
    return true;
}
