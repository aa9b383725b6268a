#include "files/seam_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// A byte source over a buffer: full requests until the data ends, as fread gives them.
ByteSource Source(const std::vector<uint8_t>& bytes) {
    auto offset = std::make_shared<size_t>(0);
    return [&bytes, offset](uint8_t* out, size_t size) {
        const size_t n = std::min(size, bytes.size() - *offset);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(*offset), n, out);
        *offset += n;
        return n;
    };
}

std::vector<uint8_t> Written(const ScreenParams& header, const std::vector<SeamSegment>& records) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(WriteSeamFile(header, records, [&](const uint8_t* data, size_t size) {
        out.insert(out.end(), data, data + size);
        return true;
    }));
    return out;
}

ScreenParams SmallHeader() {
    ScreenParams p;
    p.screen_width = 128;
    p.screen_height = 64;
    p.start_x = -640;
    p.start_y = 1;
    p.box_width = 256;
    p.box_height = 0x01020304;
    p.mod_width = 64;
    p.mod_height = 32;
    p.gray_scale = 128;
    p.reserved = 0x55555555; // never written: the gap reads 0 in every file
    p.gamma = 2.2;
    return p;
}

} // namespace

TEST(SeamFile, HeaderAndRecordsAreLittleEndianFieldByField) {
    const SeamSegment record{64, 0, 64, 31, 1, 0, 1.01f};
    const std::vector<uint8_t> bytes = Written(SmallHeader(), {record});
    const uint8_t expected[48 + 28] = {
        0x80, 0, 0, 0, 0x40, 0, 0, 0, 0x80, 0xFD, 0xFF, 0xFF, 1, 0, 0, 0, 0, 1, 0, 0, 4, 3, 2, 1, 0x40, 0, 0,
        0, 0x20, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0x01, 0x40,
        // x0 64, y0 0, x1 64, y1 31, selected 1, horizontal 0, gain 1.01f = 0x3F8147AE
        0x40, 0, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0, 0x1F, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xAE, 0x47, 0x81,
        0x3F};
    ASSERT_EQ(sizeof(expected), bytes.size());
    EXPECT_EQ(0, std::memcmp(expected, bytes.data(), sizeof(expected)));

    const ScreenParams back = DecodeSeamHeader(bytes.data());
    EXPECT_EQ(-640, back.start_x);
    EXPECT_EQ(0x01020304, back.box_height);
    EXPECT_EQ(2.2, back.gamma);
    const SeamSegment r = DecodeSeamRecord(bytes.data() + 48);
    EXPECT_EQ(0, std::memcmp(&record, &r, sizeof(r)));
}

TEST(SeamFile, TheHeaderAloneSaysHowManyRecordsAreRead) {
    // 128 x 64 with 64 x 32 modules announces 16 records, whatever the file holds.
    std::vector<SeamSegment> records;
    for (int i = 0; i < 20; ++i) {
        records.push_back(
            SeamSegment{i, i + 1, i + 2, i + 3, i & 1, i < 8, 1.0f + static_cast<float>(i) / 64});
    }
    const std::vector<uint8_t> twenty = Written(SmallHeader(), records);
    struct Case {
        size_t bytes; // of the file kept
        size_t whole; // records it holds whole
    };
    const Case cases[] = {{48 + 28 * 20, 16}, {48 + 28 * 10, 10}, {48 + 28 * 10 + 13, 10}, {48, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const std::vector<uint8_t> file(twenty.begin(),
                                        twenty.begin() + static_cast<std::ptrdiff_t>(c.bytes));
        SeamFileContents got;
        ASSERT_EQ(SeamFileStatus::Ok, ReadSeamFile(Source(file), 1 << 20, got));
        ASSERT_EQ(16u, got.records.size());
        for (size_t i = 0; i < 16; ++i) {
            const SeamSegment want = i < c.whole ? records[i] : SeamSegment{};
            if (i == c.whole && c.bytes == 48 + 28 * 10 + 13) {
                // A record cut short keeps the bytes the file has (x0, y0, x1 and one of y1).
                EXPECT_EQ(records[i].x1, got.records[i].x1);
                EXPECT_EQ(records[i].y1 & 0xFF, got.records[i].y1);
                EXPECT_EQ(0.0f, got.records[i].gain);
                continue;
            }
            EXPECT_EQ(0, std::memcmp(&want, &got.records[i], sizeof(want))) << "record " << i;
        }
    }
    // Reading goes on past the first 2048 records, and a record cut short there keeps only its own
    // bytes: 2048 x 32 with 64 x 32 modules announces 4 x 17 x 32 = 2176 records.
    ScreenParams wide = SmallHeader();
    wide.screen_width = 64 * 32;
    wide.screen_height = 32 * 17;
    std::vector<SeamSegment> many(2049, SeamSegment{0, 0, 0, 0, 0, 0, 1.0f});
    many[2048].x0 = 7;
    std::vector<uint8_t> cut = Written(wide, many);
    cut.pop_back(); // the high byte of the last gain
    SeamFileContents got;
    ASSERT_EQ(SeamFileStatus::Ok, ReadSeamFile(Source(cut), 1 << 20, got));
    ASSERT_EQ(2176u, got.records.size());
    EXPECT_EQ(1.0f, got.records[2047].gain);
    EXPECT_EQ(7, got.records[2048].x0);
    EXPECT_EQ(std::numeric_limits<float>::min(), got.records[2048].gain); // 0x00800000
    // Sizes need not divide: 100 x 64 with 64 x 32 modules announces 4 x 2 x 1 records.
    ScreenParams odd = SmallHeader();
    odd.screen_width = 100;
    uint32_t n = 0;
    ASSERT_TRUE(SeamFileRecordCount(odd, n));
    EXPECT_EQ(8u, n);
}

TEST(SeamFile, UnusableHeadersAreRefusedBeforeAnyAllocation) {
    const std::vector<uint8_t> whole = Written(SmallHeader(), {});
    SeamFileContents got;
    EXPECT_EQ(SeamFileStatus::TooShort,
              ReadSeamFile(Source(std::vector<uint8_t>(whole.begin(), whole.begin() + 47)), 1 << 20, got));
    for (int32_t ScreenParams::*field : {&ScreenParams::mod_width, &ScreenParams::mod_height}) {
        ScreenParams zero = SmallHeader();
        zero.*field = 0;
        const std::vector<uint8_t> file = Written(zero, {});
        EXPECT_EQ(SeamFileStatus::ZeroModule, ReadSeamFile(Source(file), 1 << 20, got));
    }
    // 4 x 65535 x 65535 wraps in 32 bits to 4,294,443,012 records: 120 GB, refused by the budget.
    ScreenParams huge = SmallHeader();
    huge.screen_width = huge.screen_height = 65535;
    huge.mod_width = huge.mod_height = 1;
    const std::vector<uint8_t> file = Written(huge, {});
    EXPECT_EQ(SeamFileStatus::TooLarge, ReadSeamFile(Source(file), 8ull << 30, got));
    EXPECT_EQ(4294443012u, got.record_count);
    EXPECT_EQ(4294443012ull * 28, got.record_bytes);
    EXPECT_TRUE(got.records.empty());
    // Exactly at the budget is allowed; one byte under it is not.
    const std::vector<uint8_t> small = Written(SmallHeader(), {});
    EXPECT_EQ(SeamFileStatus::Ok, ReadSeamFile(Source(small), 16 * 28, got));
    EXPECT_EQ(SeamFileStatus::TooLarge, ReadSeamFile(Source(small), 16 * 28 - 1, got));
}

TEST(SeamFile, AFailingSinkStopsTheWrite) {
    int calls = 0;
    EXPECT_FALSE(WriteSeamFile(SmallHeader(), std::vector<SeamSegment>(5000),
                               [&](const uint8_t*, size_t) { return ++calls < 2; }));
    EXPECT_EQ(2, calls);
    calls = 0; // the header and one whole chunk: no write of nothing after it
    EXPECT_TRUE(
        WriteSeamFile(SmallHeader(), std::vector<SeamSegment>(2048), [&](const uint8_t*, size_t size) {
            ++calls;
            return size > 0;
        }));
    EXPECT_EQ(2, calls);
}
