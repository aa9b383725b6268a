// Storing in the cards, and the read-back of gains from a coefficient file.
#include "hardware/coefficient_file.h"
#include "hardware/read_back.h"
#include "hardware/solidify.h"
#include "tests/unit/fake_device.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Write(int port, int card, uint32_t address, const char* bytes) {
    return std::to_string(port) + " " + std::to_string(card) + " " + std::to_string(address) + " 4 " + bytes;
}

ByteSource Bytes(const std::vector<uint8_t>& data) {
    auto offset = std::make_shared<size_t>(0);
    return [&data, offset](uint8_t* out, size_t size) {
        const size_t n = std::min(size, data.size() - *offset);
        std::memcpy(out, data.data() + *offset, n);
        *offset += n;
        return n;
    };
}

} // namespace

TEST(Solidify, StoreWordsCountWholePagesOfTheBlock) {
    const struct {
        uint16_t columns, rows;
        uint32_t word;
    } cases[] = {{128, 128, 0xC04A0080},
                 {256, 256, 0xC10A0080},
                 {130, 10, 0xC01A0080},
                 {200, 100, 0xC05A0080},
                 {0, 0, 0xC00A0080},
                 {1, 1, 0xC01A0080},
                 {1024, 4, 0xC01A0080},
                 {1025, 4, 0xC02A0080},
                 // 65535 x 65535: 4,294,901,760 bytes, shifted out of 32 bits but for its low pages.
                 {65535, 65535, 0xFF0A0080}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.word, StoreWord(c.rows, c.columns)) << c.columns << " x " << c.rows;
    }
}

TEST(Solidify, CopiesTheFirstAnsweringSwitchOnceThenStoresEveryCard) {
    FakeDevice device;
    device.ports = {{FakeCard{0, 0, 4, 8, false, false, true},
                     FakeCard{0, 0, 10, 130, false, false, false, 0xA8}, FakeCard{0, 0, 1, 1, false, true}},
                    {FakeCard{0, 0, 256, 256, false, false, false, 0x08}}};
    std::vector<std::string> sleeps;
    // The others are stored, but the card whose size cannot be read fails the run.
    ASSERT_FALSE(SolidifyCards(device, [&](int ms) {
        sleeps.push_back(std::to_string(device.calls.size()) + ":" + std::to_string(ms));
    }));
    const std::vector<std::string> expected = {
        Write(0, 0x2000, kStoreCommandRegister, "c01a0080"),  // its switch read failed: no copy yet
        Write(-1, 0x2FFF, kStoredSwitchRegister, "000000a8"), // the second card's switch, for all
        Write(0, 0x2001, kStoreCommandRegister, "c01a0080"),  // the third card's size read fails
        Write(1, 0x2000, kStoreCommandRegister, "c10a0080")};
    EXPECT_EQ(expected, device.calls);
    EXPECT_EQ((std::vector<std::string>{"2:1000", "4:1000"}), sleeps); // after the copy, and at the end
    EXPECT_EQ(1, device.released);

    device.ports.clear();
    device.calls.clear();
    sleeps.clear();
    ASSERT_TRUE(SolidifyCards(device, [&](int ms) { sleeps.push_back(std::to_string(ms)); }));
    EXPECT_TRUE(device.calls.empty());
    EXPECT_EQ(std::vector<std::string>{"1000"}, sleeps);
    device.opens = false;
    EXPECT_FALSE(SolidifyCards(device, [&](int ms) { sleeps.push_back(std::to_string(ms)); }));
    EXPECT_EQ(1u, sleeps.size());
}

// Writes 0 (the switch copy), 1 and 2 (the store commands): each must arrive; a lost link ends the run.
TEST(Solidify, ARefusedOrLostWriteFailsTheRun) {
    const struct {
        const char* name;
        size_t refuse, lose;
        bool stored;
        size_t calls;
        size_t sleeps;
    } cases[] = {
        {"all arrive", SIZE_MAX, SIZE_MAX, true, 3, 2},
        {"switch copy refused", 0, SIZE_MAX, false, 3, 2},
        {"first store refused", 1, SIZE_MAX, false, 3, 2},
        {"link lost at the switch copy", SIZE_MAX, 0, false, 0, 0},
        {"link lost at the second store", SIZE_MAX, 2, false, 2, 2},
    };
    for (const auto& c : cases) {
        FakeDevice device;
        device.ports = {{FakeCard{0, 0, 4, 8}, FakeCard{0, 0, 4, 8}}};
        device.refuse_write = c.refuse;
        device.lose_link_at_write = c.lose;
        size_t sleeps = 0;
        EXPECT_EQ(c.stored, SolidifyCards(device, [&](int) { ++sleeps; })) << c.name;
        EXPECT_EQ(c.calls, device.calls.size()) << c.name;
        EXPECT_EQ(c.sleeps, sleeps) << c.name;
        EXPECT_EQ(1, device.released) << c.name;
    }
}

TEST(ReadBack, EachSegmentTakesTheMeanOfTheCellsItCoversInsideTheMap) {
    GainMap map;
    ASSERT_TRUE(MakeGainMap(4, 3, 1 << 10, map));
    map.cells = {0.1f, 0.2f, 0.3f, 2.0f, //
                 1.5f, 0.5f, 1.1f, 0.9f, //
                 0.7f, 1.3f, 1.0f, 1.2f};
    std::vector<SeamSegment> segments = {
        {0, 0, 3, 0, 1, 1, 9.0f},   // row 0, columns 0 to 2; selected stays
        {1, 0, 1, 3, 0, 0, 9.0f},   // column 1, rows 0 to 2
        {2, 1, 9, 1, 0, 1, 9.0f},   // past the right edge: columns 2 and 3 only
        {-2, 2, 1, 2, 0, 1, 9.0f},  // from outside the left edge: column 0 only
        {3, 2, 3, 2, 0, 1, 9.0f},   // x0 = x1: 1.0
        {0, 5, 3, 5, 0, 1, 9.0f},   // a row below the map: 1.0
        {0, 3, 3, 3, 0, 1, 9.0f},   // the first row below it: 1.0
        {4, 0, 4, 3, 0, 7, 9.0f},   // a column right of the map: 1.0
        {3, 1, 3, 0, 0, 0, 9.0f},   // y0 > y1: 1.0
        {0, 1, 0, 3, 0, 0, 9.0f},   // column 0, rows 1 and 2
        {0, -1, 3, -1, 0, 1, 9.0f}, // the row above the map: 1.0
        {-1, 0, -1, 3, 0, 0, 9.0f}, // the column left of it: 1.0
    };
    AverageSegmentGains(map, segments);
    const float expected[] = {((0.1f + 0.2f) + 0.3f) / 3.0f,
                              ((0.2f + 0.5f) + 1.3f) / 3.0f,
                              (1.1f + 0.9f) / 2.0f,
                              0.7f,
                              1.0f,
                              1.0f,
                              1.0f,
                              1.0f,
                              1.0f,
                              (1.5f + 0.7f) / 2.0f,
                              1.0f,
                              1.0f};
    for (size_t i = 0; i < segments.size(); ++i) {
        EXPECT_EQ(expected[i], segments[i].gain) << i;
    }
    EXPECT_EQ(1, segments[0].selected);
    EXPECT_EQ(7, segments[7].horizontal);
    EXPECT_EQ(9, segments[2].x1);
}

TEST(ReadBack, CoefficientFilesAreFloatsOrCardBytesByTheirSize) {
    GainMap map;
    const std::vector<uint8_t> card_bytes = {128, 0, 255, 64, 129, 127};
    ASSERT_EQ(CoefficientFileStatus::Ok, ReadCoefficientFile(Bytes(card_bytes), 6, 3, 2, 1 << 10, map));
    EXPECT_EQ((std::vector<float>{1.0f, 0.0f, 255.0f / 128, 0.5f, 129.0f / 128, 127.0f / 128}), map.cells);

    std::vector<uint8_t> floats = {0x00, 0x00, 0x80, 0x3F, 0xAE, 0x47, 0x81, 0x3F}; // 1.0f, 1.01f
    ASSERT_EQ(CoefficientFileStatus::Ok, ReadCoefficientFile(Bytes(floats), 8, 2, 1, 1 << 10, map));
    EXPECT_EQ((std::vector<float>{1.0f, 1.01f}), map.cells);

    EXPECT_EQ(CoefficientFileStatus::WrongSize, ReadCoefficientFile(Bytes(floats), 8, 3, 1, 1 << 10, map));
    const std::vector<uint8_t> short_file = {1, 2, 3}; // shorter than it said it was
    EXPECT_EQ(CoefficientFileStatus::ReadFailed,
              ReadCoefficientFile(Bytes(short_file), 8, 2, 1, 1 << 10, map));
    EXPECT_EQ(CoefficientFileStatus::NoMemory, ReadCoefficientFile(Bytes(floats), 8, 2, 1, 7, map));
    EXPECT_EQ(CoefficientFileStatus::NoMemory, ReadCoefficientFile(Bytes(floats), 8, -2, 1, 1 << 10, map));
    EXPECT_EQ(CoefficientFileStatus::Ok, ReadCoefficientFile(Bytes({}), 0, 0, 5, 1 << 10, map));
}
