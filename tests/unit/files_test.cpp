// The seam file and the coefficient file.
#include "hardware/coefficient_file.h"
#include "files/recovery_file.h"
#include "files/seam_file.h"
#include "tests/unit/support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

std::vector<uint8_t> Written(const ScreenParams& header, const std::vector<SeamSegment>& records) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(WriteSeamFile(header, records, [&](const uint8_t* data, size_t size) {
        out.insert(out.end(), data, data + size);
        return true;
    }));
    return out;
}

// Every field its own value: 4 x 2 modules of 48 x 32, 32 records.
ScreenParams SmallHeader() {
    ScreenParams p = Screen(192, 64, 48, 32);
    p.start_x = -640;
    p.start_y = 1;
    p.box_width = 256;
    p.box_height = 0x01020304;
    p.gray_scale = 100;
    p.gamma = 2.2;
    return p;
}

} // namespace

TEST(SeamFile, HeaderAndRecordsAreLittleEndianFieldByField) {
    const SeamSegment record{64, 7, 300, 31, 1, 0, 1.01f};
    ScreenParams header = SmallHeader();
    header.reserved = 0x55555555; // never written: the gap reads 0 in every file
    const std::vector<uint8_t> bytes = Written(header, {record});
    const uint8_t expected[48 + 28] = {
        0xC0, 0, 0, 0, 0x40, 0, 0, 0, 0x80, 0xFD, 0xFF, 0xFF, 1, 0, 0, 0, 0, 1, 0, 0, 4, 3, 2, 1, 0x30, 0, 0,
        0, 0x20, 0, 0, 0, 0x64, 0, 0, 0, 0, 0, 0, 0, 0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0x01, 0x40,
        // x0 64, y0 7, x1 300, y1 31, selected 1, horizontal 0, gain 1.01f = 0x3F8147AE
        0x40, 0, 0, 0, 7, 0, 0, 0, 0x2C, 1, 0, 0, 0x1F, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xAE, 0x47, 0x81,
        0x3F};
    ASSERT_EQ(sizeof(expected), bytes.size());
    EXPECT_EQ(0, std::memcmp(expected, bytes.data(), sizeof(expected)));

    const ScreenParams back = DecodeSeamHeader(bytes.data());
    const ScreenParams want = SmallHeader();
    EXPECT_EQ(0, std::memcmp(&want, &back, sizeof(back)));
    const SeamSegment r = DecodeSeamRecord(bytes.data() + 48);
    EXPECT_EQ(0, std::memcmp(&record, &r, sizeof(r)));
}

TEST(SeamFile, TheHeaderAloneSaysHowManyRecordsAreRead) {
    std::vector<SeamSegment> records;
    for (int i = 0; i < 40; ++i) {
        records.push_back(
            SeamSegment{i, i + 1, i + 2, i + 3, i & 1, i < 8, 1.0f + static_cast<float>(i) / 64});
    }
    const std::vector<uint8_t> forty = Written(SmallHeader(), records);
    const struct {
        size_t bytes; // of the file kept
        SeamFileStatus status;
        uint32_t whole; // records it holds whole
    } cases[] = {{48 + 28 * 40, SeamFileStatus::Ok, 32},
                 {48 + 28 * 32, SeamFileStatus::Ok, 32},
                 {48 + 28 * 32 - 1, SeamFileStatus::Truncated, 31},
                 {48 + 28 * 10 + 13, SeamFileStatus::Truncated, 10},
                 {48, SeamFileStatus::Truncated, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        SeamFileContents got;
        ASSERT_EQ(c.status, ReadSeamFile(SourceOver(forty.data(), c.bytes), 1 << 20, got));
        const ScreenParams header = SmallHeader();
        EXPECT_EQ(0, std::memcmp(&header, &got.header, sizeof(header)));
        EXPECT_EQ(32u, got.record_count);
        if (c.status == SeamFileStatus::Truncated) {
            EXPECT_EQ(c.whole, got.whole_records);
            continue;
        }
        ASSERT_EQ(32u, got.records.size());
        EXPECT_EQ(0, std::memcmp(records.data(), got.records.data(), 32 * sizeof(SeamSegment)));
    }
    // Reading goes on past the first 2048 records: 2048 x 32 with 64 x 32 modules announces
    // 4 x 17 x 32 = 2176 records; a gain that no tuning gives is refused with its record.
    ScreenParams wide = Screen(64 * 32, 32 * 17, 64, 32);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float gain;
        SeamFileStatus status;
    } gains[] = {{0.0f, SeamFileStatus::Ok},        {2.0f, SeamFileStatus::Ok},
                 {-0.01f, SeamFileStatus::BadGain}, {std::nextafter(2.0f, 3.0f), SeamFileStatus::BadGain},
                 {nan, SeamFileStatus::BadGain},    {inf, SeamFileStatus::BadGain}};
    for (const auto& g : gains) {
        SCOPED_TRACE(g.gain);
        std::vector<SeamSegment> many(2176, SeamSegment{0, 0, 0, 0, 0, 0, 1.0f});
        many[2050].gain = g.gain;
        SeamFileContents got;
        ASSERT_EQ(g.status, ReadSeamFile(SourceOver(Written(wide, many)), 1 << 20, got));
        EXPECT_EQ(g.status == SeamFileStatus::Ok ? 0u : 2050u, got.bad_record);
    }
    // Sizes need not divide: 100 x 64 with 48 x 32 modules announces 4 x 2 x 2 records.
    ScreenParams odd = SmallHeader();
    odd.screen_width = 100;
    uint32_t n = 0;
    ASSERT_TRUE(SeamFileRecordCount(odd, n));
    EXPECT_EQ(16u, n);
}

TEST(SeamFile, UnusableHeadersAreRefusedBeforeAnyAllocation) {
    const std::vector<uint8_t> whole = Written(SmallHeader(), {});
    SeamFileContents got;
    EXPECT_EQ(SeamFileStatus::TooShort, ReadSeamFile(SourceOver(whole.data(), 47), 1 << 20, got));
    for (int32_t ScreenParams::*field : {&ScreenParams::mod_width, &ScreenParams::mod_height}) {
        ScreenParams zero = SmallHeader();
        zero.*field = 0;
        const std::vector<uint8_t> file = Written(zero, {});
        EXPECT_EQ(SeamFileStatus::ZeroModule, ReadSeamFile(SourceOver(file), 1 << 20, got));
    }
    // 4 x 65535 x 65535 wraps in 32 bits to 4,294,443,012 records: 120 GB, refused by the budget.
    ScreenParams huge = SmallHeader();
    huge.screen_width = huge.screen_height = 65535;
    huge.mod_width = huge.mod_height = 1;
    const std::vector<uint8_t> file = Written(huge, {});
    EXPECT_EQ(SeamFileStatus::TooLarge, ReadSeamFile(SourceOver(file), 8ull << 30, got));
    EXPECT_EQ(4294443012u, got.record_count);
    EXPECT_EQ(4294443012ull * 28, got.record_bytes);
    EXPECT_TRUE(got.records.empty());
    // Exactly at the budget is allowed; one byte under it is not.
    EXPECT_EQ(SeamFileStatus::Truncated, ReadSeamFile(SourceOver(whole), 32 * 28, got)); // a header alone
    EXPECT_EQ(SeamFileStatus::TooLarge, ReadSeamFile(SourceOver(whole), 32 * 28 - 1, got));
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

TEST(CoefficientFile, IsFloatsOrCardBytesByItsSize) {
    GainMap map;
    const std::vector<uint8_t> card_bytes = {128, 0, 255, 64, 129, 127};
    ASSERT_EQ(CoefficientFileStatus::Ok, ReadCoefficientFile(SourceOver(card_bytes), 6, 3, 2, 1 << 10, map));
    EXPECT_EQ((std::vector<float>{1.0f, 0.0f, 255.0f / 128, 0.5f, 129.0f / 128, 127.0f / 128}), map.cells);
    EXPECT_EQ(3, map.width);
    EXPECT_EQ(2, map.height);

    const std::vector<uint8_t> floats = {0x00, 0x00, 0x80, 0x3F, 0xAE, 0x47, 0x81, 0x3F}; // 1.0f, 1.01f
    ASSERT_EQ(CoefficientFileStatus::Ok, ReadCoefficientFile(SourceOver(floats), 8, 1, 2, 1 << 10, map));
    EXPECT_EQ((std::vector<float>{1.0f, 1.01f}), map.cells);
    for (const uint64_t size : {1, 3, 7, 9}) { // neither two bytes nor two floats
        EXPECT_EQ(CoefficientFileStatus::WrongSize,
                  ReadCoefficientFile(SourceOver(floats), size, 2, 1, 1 << 10, map));
    }
    const std::vector<uint8_t> short_file = {1, 2, 3}; // shorter than it said it was
    EXPECT_EQ(CoefficientFileStatus::ReadFailed,
              ReadCoefficientFile(SourceOver(short_file), 8, 2, 1, 1 << 10, map));
    EXPECT_EQ(CoefficientFileStatus::Ok, ReadCoefficientFile(SourceOver(floats), 8, 2, 1, 8, map));
    uint64_t bad = 0; // -0.01f in the second cell, NaN in the first
    const std::vector<uint8_t> negative = {0, 0, 0x80, 0x3F, 0x0A, 0xD7, 0x23, 0xBC, 0, 0, 0xC0, 0x7F};
    EXPECT_EQ(CoefficientFileStatus::BadGain,
              ReadCoefficientFile(SourceOver(negative), 12, 3, 1, 1 << 10, map, &bad));
    EXPECT_EQ(1u, bad);
    EXPECT_EQ(CoefficientFileStatus::BadGain,
              ReadCoefficientFile(SourceOver(negative.data() + 8, 4), 4, 1, 1, 1 << 10, map, &bad));
    EXPECT_EQ(0u, bad);
    EXPECT_EQ(CoefficientFileStatus::NoMemory, ReadCoefficientFile(SourceOver(floats), 8, 2, 1, 7, map));
    EXPECT_EQ(CoefficientFileStatus::NoMemory,
              ReadCoefficientFile(SourceOver(floats), 8, -2, 1, 1 << 10, map));
    EXPECT_EQ(CoefficientFileStatus::Ok,
              ReadCoefficientFile(SourceOver(short_file.data(), 0), 0, 0, 5, 1 << 10, map));

    // Past the first 65536 cells, in both layouts: each cell in its place.
    for (const size_t per_cell : {1u, 4u}) {
        std::vector<uint8_t> big(257 * 256 * per_cell, 0);
        big.back() = 0x40; // 0.5, or the high byte of 2.0f
        ASSERT_EQ(CoefficientFileStatus::Ok,
                  ReadCoefficientFile(SourceOver(big), big.size(), 257, 256, 1 << 20, map));
        EXPECT_EQ(per_cell == 1 ? 0.5f : 2.0f, map.cells.back()) << per_cell;
        EXPECT_EQ(0.0f, map.cells[65535]) << per_cell;
    }
}

TEST(RecoveryFile, KeepsFieldsPathAndGridExactlyAndTellsADamagedOne) {
    RecoveryState state;
    state.written_at = 0x01DB2C3D4E5F6071;
    state.baseline_hash = 7;
    state.fields = {u"192", u"", u"2.25", u"接缝"};
    state.coefficient_path = u"D:\\墙\\wall.dat";
    state.has_grid = true;
    state.grid_params = SmallHeader();
    for (int i = 0; i < 5000; ++i) { // past a chunk of records
        state.records.push_back(SeamSegment{i, -i, i * 3, 7, i & 1, 0, i == 4321 ? 1.4f : 1.0f});
    }
    state.content_hash = SeamFileHash(SmallHeader(), state.records);
    state.tuned_records = TunedRecordCount(state.records);
    EXPECT_EQ(1u, state.tuned_records);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(WriteRecoveryFile(state, [&](const uint8_t* d, size_t n) {
        bytes.insert(bytes.end(), d, d + n);
        return true;
    }));
    RecoveryState back;
    ASSERT_EQ(RecoveryStatus::Ok, ReadRecoveryFile(SourceOver(bytes), 5000 * 28, back));
    EXPECT_TRUE(back.Unsaved() && back.has_grid);
    EXPECT_EQ(state.written_at, back.written_at);
    EXPECT_EQ(state.fields, back.fields);
    EXPECT_EQ(state.coefficient_path, back.coefficient_path);
    EXPECT_EQ(0, std::memcmp(&state.grid_params, &back.grid_params, 36)); // all but the gap and gamma
    EXPECT_EQ(Written(SmallHeader(), state.records), Written(back.grid_params, back.records));
    EXPECT_EQ(state.content_hash, SeamFileHash(back.grid_params, back.records));
    EXPECT_EQ(RecoveryStatus::TooLarge, ReadRecoveryFile(SourceOver(bytes), 5000 * 28 - 1, back));
    EXPECT_EQ(RecoveryStatus::Damaged,
              ReadRecoveryFile(SourceOver(bytes.data(), bytes.size() - 1), 1 << 20, back));
    std::vector<uint8_t> flipped = bytes;
    flipped[bytes.size() / 2] ^= 1;
    EXPECT_EQ(RecoveryStatus::Damaged, ReadRecoveryFile(SourceOver(flipped), 1 << 20, back));
    flipped = bytes;
    flipped[4] = 2; // another version
    EXPECT_EQ(RecoveryStatus::NotRecovery, ReadRecoveryHead(SourceOver(flipped), back));
    ASSERT_EQ(RecoveryStatus::Ok, ReadRecoveryHead(SourceOver(bytes.data(), kRecoveryHeadSize), back));
    EXPECT_EQ(1u, back.tuned_records);
    state.records[4321].gain = 1.0f; // one gain's bits: another hash
    EXPECT_NE(state.content_hash, SeamFileHash(SmallHeader(), state.records));
    // At the limits that keep a damaged set from allocating: 64 texts of 32768 characters, and one past.
    RecoveryState full;
    full.fields.assign(64, std::u16string(kRecoveryMaxText, u'9'));
    const auto sink = [&](const uint8_t* d, size_t n) { return bytes.insert(bytes.end(), d, d + n), true; };
    bytes.clear();
    ASSERT_TRUE(WriteRecoveryFile(full, sink));
    ASSERT_EQ(RecoveryStatus::Ok, ReadRecoveryFile(SourceOver(bytes), 0, back));
    EXPECT_TRUE(full.fields == back.fields && !back.has_grid);
    full.fields.push_back(u"");
    EXPECT_FALSE(WriteRecoveryFile(full, sink));
    full.fields = {std::u16string(kRecoveryMaxText + 1, u'9')};
    EXPECT_FALSE(WriteRecoveryFile(full, sink));
}
