// The hardware commands' portable half: gain map, quantising and blocks, the upload's and the store's
// sequences of device calls, and the read-back's means.
#include "hardware/coefficient_block.h"
#include "hardware/correction_switch.h"
#include "hardware/gain_map.h"
#include "hardware/read_back.h"
#include "hardware/send_seam_data.h"
#include "hardware/solidify.h"
#include "tests/unit/support.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

GainMap Map(int64_t w, int64_t h, std::vector<float> cells = {}) {
    GainMap map;
    EXPECT_TRUE(MakeGainMap(w, h, 1 << 20, map));
    if (!cells.empty()) {
        map.cells = cells;
    }
    return map;
}

std::vector<uint8_t> Block(const GainMap& map, CardRect card) {
    std::vector<uint8_t> block(BlockBytes(card), 0xEE);
    FillCoefficientBlock(map, card, block.data());
    return block;
}

class Recorder final : public SendProgress {
public:
    std::vector<std::wstring> lines;
    std::string steps; // every Progress call as "done/total "
    void Trace(const std::wstring& line) override { lines.push_back(line); }
    void Progress(uint64_t done, uint64_t total) override {
        steps += std::to_string(done) + "/" + std::to_string(total) + " ";
    }
};

} // namespace

TEST(CoefficientBlock, GainsQuantiseToTheLowBitsOfTheirTruncatedProduct) {
    // Hostile files alone carry gains below 0: the low bits of the product, 0 for what has no integer.
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float gain;
        uint8_t byte;
    } cases[] = {{1.0f, 128},   {1.2f, 0x99},  {0.7f, 89},         {1.4f, 179}, {0.0f, 0},    {1.995f, 255},
                 {1.005f, 128}, {0.995f, 127}, {1.99f, 254},       {2.0f, 255}, {1e30f, 255}, {inf, 255},
                 {-1.0f, 0x80}, {-0.5f, 0xC0}, {std::nanf(""), 0}, {-inf, 0},   {-1e30f, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.byte, QuantiseGain(c.gain)) << c.gain;
    }
}

TEST(CoefficientBlock, RowsArePaddedToWordsAndEachWordReversed) {
    // The six-wide row: 80 99 80 80 80 80 00 00 goes out as 80 80 99 80 00 00 80 80.
    const GainMap six = Map(6, 1, {1.0f, 1.2f, 1.0f, 1.0f, 1.0f, 1.0f});
    EXPECT_EQ((std::vector<uint8_t>{0x80, 0x80, 0x99, 0x80, 0x00, 0x00, 0x80, 0x80}),
              Block(six, {0, 0, 1, 6}));

    // 130 columns take 132 bytes a row; the last word holds two gains and two zeros, reversed.
    GainMap wide = Map(140, 3);
    wide.cells[1 * 140 + 128] = 0.5f; // row 1, column 128 of the card
    const std::vector<uint8_t> block = Block(wide, {0, 0, 3, 130});
    ASSERT_EQ(3u * 132, block.size());
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 128, 64}),
              std::vector<uint8_t>(block.begin() + 132 + 128, block.begin() + 264));
    EXPECT_EQ(128, block[0]);
    EXPECT_EQ(0, block[129]); // row 0 ends 128 128 0 0, reversed
    EXPECT_EQ(128, block[130]);
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 128, 128}), std::vector<uint8_t>(block.end() - 4, block.end()));

    // Past the right and bottom edges, and starting at or beyond W: zeros, never bytes of other rows.
    const GainMap small = Map(10, 4);
    const std::vector<uint8_t> past = Block(small, {2, 8, 3, 4}); // two columns and two rows on screen
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 128, 128, 0, 0, 128, 128, 0, 0, 0, 0}), past);
    for (uint32_t first_column : {10u, 11u, 70000u}) {
        const std::vector<uint8_t> beyond = Block(small, {0, first_column, 2, 5});
        EXPECT_EQ(std::vector<uint8_t>(16, 0), beyond) << first_column;
    }
    EXPECT_TRUE(Block(small, {0, 0, 0, 0}).empty());
    EXPECT_TRUE(Block(small, {0, 0, 5, 0}).empty());
}

TEST(GainMap, SegmentsCoverUpToTheirEndPointInGridOrderAndStopAtTheEdge) {
    GainMap map = Map(8, 4);
    RasteriseSegments(map, {
                               SeamSegment{1, 1, 5, 1, 0, 1, 1.2f},   // row 1, columns 1 to 4
                               SeamSegment{3, 0, 3, 3, 0, 0, 0.8f},   // column 3, rows 0 to 2: wins (3, 1)
                               SeamSegment{6, 3, 20, 3, 0, 1, 1.3f},  // row 3, clipped at the right edge
                               SeamSegment{-1, 2, 4, 2, 0, 1, 1.5f},  // first cell outside: nothing
                               SeamSegment{0, 4, 4, 4, 0, 1, 1.5f},   // row 4 is below the map
                               SeamSegment{5, -1, 5, 2, 0, 0, 1.5f},  // from above the map: nothing
                               SeamSegment{7, 2, 7, 2, 0, 0, 1.5f},   // y0 = y1: nothing
                               SeamSegment{8, 0, 8, 3, 0, 0, 1.5f},   // column 8 is past the map
                               SeamSegment{0, 0, 2, 0, 0, 1, 1.1f},   // row 0 from column 0
                               SeamSegment{2, -1, 4, -1, 0, 1, 1.5f}, // the row above the map: nothing
                               SeamSegment{-1, 1, -1, 3, 0, 0, 1.5f}, // the column left of it: nothing
                               SeamSegment{0, 0, 0, 1, 0, 5, 0.9f},   // any other flag runs down a column
                               SeamSegment{5, 2, 5, 9, 0, 0, 1.6f},   // column 5, clipped at the bottom edge
                           });
    const float expected[4][8] = {
        {0.9f, 1.1f, 1, 0.8f, 1, 1, 1, 1},
        {1, 1.2f, 1.2f, 0.8f, 1.2f, 1, 1, 1},
        {1, 1, 1, 0.8f, 1, 1.6f, 1, 1},
        {1, 1, 1, 1, 1, 1.6f, 1.3f, 1.3f},
    };
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(expected[y][x], map.At(x, y)) << x << "," << y;
        }
    }
    GainMap refused;
    EXPECT_FALSE(MakeGainMap(-1, 4, 1 << 20, refused));
    EXPECT_FALSE(MakeGainMap(-1, 0, 1 << 20, refused)); // no cells, but a negative size all the same
    EXPECT_FALSE(MakeGainMap(0, -1, 1 << 20, refused));
    EXPECT_FALSE(MakeGainMap(1 << 20, 1 << 20, 1ull << 40, refused)); // 4 TB
    EXPECT_TRUE(MakeGainMap(0, 0, 0, refused));
    EXPECT_TRUE(MakeGainMap(16, 8, 512, refused));
    EXPECT_EQ(16, refused.width);
    EXPECT_EQ(8, refused.height);
    EXPECT_FALSE(MakeGainMap(16, 8, 511, refused));
}

TEST(SendSeamData, WritesEveryCardInOrderAndNamesTheCardsThatFailed) {
    FakeDevice device;
    device.offsets[1] = {2, 1}; // port 1: two rows down, one column right
    device.offsets[15] = {0, 4};
    device.ports.resize(17);
    device.ports[0] = {FakeCard{0, 0, 2, 3}, FakeCard{0, 3, 2, 2, true}, FakeCard{0, 5, 2, 2, false, true}};
    device.ports[1] = {FakeCard{0, 0, 1, 4}};
    // The first's block exceeds the budget given below; the second's what a card takes (64 MiB), found
    // before its gate is opened.
    device.ports[15] = {FakeCard{0, 0, 1, 1000}, FakeCard{0, 0, 8192, 8200}};
    device.ports[16] = {FakeCard{0, 0, 1, 1}, FakeCard{0, 0, 1, 1}};
    Recorder progress;
    const std::vector<SeamSegment> grid = {SeamSegment{0, 0, 4, 0, 0, 1, 0.5f},
                                           SeamSegment{1, 2, 2, 2, 0, 1, 1.5f}};
    // The others go on, but a run with a card left unwritten is no success.
    ASSERT_EQ(SendOutcome::DeviceError, SendSeamData(device, Screen(8, 4), grid, 512, progress));

    const uint32_t gate = kUploadGateRegister, memory = kCoefficientRegister;
    const std::vector<std::string> expected = {
        Call(0, 0x2000, gate, 4, "00000010"), Call(0, 0x2000, memory, 8, "0,128"),
        Call(0, 0x2000, gate, 4, "00000000"),
        // port 1's card starts at (2, 1): the gain 1.5 of row 2, column 1, is its first byte, word-reversed.
        Call(1, 0x2000, gate, 4, "00000010"), Call(1, 0x2000, memory, 4, "128,192"),
        Call(1, 0x2000, gate, 4, "00000000")};
    EXPECT_EQ(expected, device.calls);
    EXPECT_EQ(1, device.released);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"port 0: card 1 of 3", L"port 0: card 2 of 3 failed", L"port 0: card 3 of 3 failed",
                  L"port 1: card 1 of 1", L"memory errer", L"port 15: card 1 of 2 failed",
                  L"port 15: card 2 of 2 failed: it reports 8200 x 8192 pixels, a block of 67174400 bytes, "
                  L"beyond the 67108864 a card takes",
                  L"port 16 has no offset entry: its 2 cards are skipped", L"6 of 8 cards failed"}),
              progress.lines);
    // The bar moves per card within its port, ports taking equal shares.
    EXPECT_EQ("1/51 2/51 3/51 2/17 3/17 4/17 5/17 6/17 7/17 8/17 9/17 10/17 11/17 12/17 13/17 14/17 15/17 "
              "31/34 32/34 17/17 ",
              progress.steps);
}

TEST(SendSeamData, OutcomesFollowTheDeviceAndTheCardCounts) {
    Recorder progress;
    FakeDevice device;
    device.ports = {{}, {}};
    EXPECT_EQ(SendOutcome::DeviceError, SendSeamData(device, Screen(4, 4), {}, 1 << 20, progress));
    device.ports = {{FakeCard{0, 0, 1, 1, true}}}; // counted, though its position cannot be read
    EXPECT_EQ(SendOutcome::DeviceError, SendSeamData(device, Screen(4, 4), {}, 1 << 20, progress));
    device.ports = {{FakeCard{0, 0, 1, 1}}};
    EXPECT_EQ(SendOutcome::Finished, SendSeamData(device, Screen(4, 4), {}, 1 << 20, progress));
    device.calls.clear();
    device.table_fails = true;
    EXPECT_EQ(SendOutcome::DeviceError, SendSeamData(device, Screen(4, 4), {}, 1 << 20, progress));
    EXPECT_EQ(4, device.released);
    device.opens = false;
    EXPECT_EQ(SendOutcome::DeviceError, SendSeamData(device, Screen(4, 4), {}, 1 << 20, progress));
    EXPECT_EQ(4, device.released);
    // An exception that escapes the work ends it too, as what it says.
    EXPECT_EQ(SendOutcome::Finished, GuardedSend([] { return SendOutcome::Finished; }));
    EXPECT_EQ(SendOutcome::MemoryError, GuardedSend([]() -> SendOutcome { throw std::bad_alloc(); }));
    EXPECT_EQ(SendOutcome::DeviceError,
              GuardedSend([]() -> SendOutcome { throw std::runtime_error("gone"); }));
    EXPECT_TRUE(device.calls.empty());
    // A map beyond the budget: "memory errer", and the device is never opened.
    device.opens = true;
    progress.lines.clear();
    EXPECT_EQ(SendOutcome::MemoryError, SendSeamData(device, Screen(100, 100), {}, 39999, progress));
    EXPECT_EQ((std::vector<std::wstring>{L"memory errer"}), progress.lines);
    EXPECT_EQ(SendOutcome::MemoryError, SendSeamData(device, Screen(-4, 4), {}, 1 << 20, progress));
    EXPECT_EQ(4, device.released);
    // At exactly the budget the map is made, and a card's block too; one byte less is "memory errer".
    device.table_fails = false;
    device.ports = {{FakeCard{0, 0, 2, 256}}};
    EXPECT_EQ(SendOutcome::Finished, SendSeamData(device, Screen(100, 100), {}, 40000, progress));
    EXPECT_EQ(SendOutcome::Finished, SendSeamData(device, Screen(4, 4), {}, 512, progress));
    progress.lines.clear();
    EXPECT_EQ(SendOutcome::DeviceError, SendSeamData(device, Screen(4, 4), {}, 511, progress));
    EXPECT_EQ(L"memory errer", progress.lines.at(0));
    device.ports = {{FakeCard{0, 0, 8192, 8192}}}; // exactly the most a card takes
    EXPECT_EQ(SendOutcome::Finished, SendSeamData(device, Screen(4, 4), {}, kMaxCallData, progress));
}

// Writes are counted as arrived only when the closing gate write's answer says so; a lost link ends the
// run at the card where it was noticed.
TEST(SendSeamData, RefusedOrLostWritesFailTheCardAndALostLinkStopsTheRun) {
    const struct {
        const char* name;
        size_t refuse, lose;
        SendOutcome outcome;
        size_t calls;
        std::wstring last_line;
        std::string steps;
        size_t fail = SIZE_MAX;
    } cases[] = {
        {"all arrive", SIZE_MAX, SIZE_MAX, SendOutcome::Finished, 6, L"port 0: card 2 of 2", "1/2 2/2 "},
        {"first card's closing write refused", 2, SIZE_MAX, SendOutcome::DeviceError, 6,
         L"1 of 2 cards failed", "1/2 2/2 "},
        {"link lost in the second block", SIZE_MAX, 4, SendOutcome::DeviceError, 4,
         L"port 0: card 2 of 2 failed: the link to the controller is lost", "1/2 "},
        {"link lost at the first gate", SIZE_MAX, 0, SendOutcome::DeviceError, 0,
         L"port 0: card 1 of 2 failed: the link to the controller is lost", ""},
        // A block refused with the link intact fails its card; the gate opened is closed all the same.
        {"second block refused", SIZE_MAX, SIZE_MAX, SendOutcome::DeviceError, 6, L"1 of 2 cards failed",
         "1/2 2/2 ", 4}};
    for (const auto& c : cases) {
        FakeDevice device;
        device.ports = {{FakeCard{0, 0, 1, 4}, FakeCard{0, 4, 1, 4}}};
        device.refuse_write = c.refuse;
        device.lose_link_at_write = c.lose;
        device.fail_write = c.fail;
        Recorder progress;
        EXPECT_EQ(c.outcome, SendSeamData(device, Screen(8, 1), {}, 1 << 20, progress)) << c.name;
        EXPECT_EQ(c.calls, device.calls.size()) << c.name;
        EXPECT_EQ(c.last_line, progress.lines.back()) << c.name;
        EXPECT_EQ(c.steps, progress.steps) << c.name;
        EXPECT_EQ(1, device.released) << c.name;
    }
}

TEST(Solidify, StoreWordsCountWholePagesOfTheBlock) {
    // Rows are padded to words; 65535 x 65535 (4,294,901,760 bytes) shifts out of 32 bits but for its low
    // pages.
    const struct {
        uint16_t columns, rows;
        uint32_t word;
    } cases[] = {{128, 128, 0xC04A0080},    {256, 256, 0xC10A0080}, {130, 10, 0xC01A0080},
                 {200, 100, 0xC05A0080},    {0, 0, 0xC00A0080},     {1, 1, 0xC01A0080},
                 {1024, 4, 0xC01A0080},     {1025, 4, 0xC02A0080},  {1, 4096, 0xC04A0080},
                 {65535, 65535, 0xFF0A0080}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.word, StoreWord(c.rows, c.columns)) << c.columns << " x " << c.rows;
    }
}

TEST(Solidify, CopiesTheFirstAnsweringSwitchOnceThenStoresEveryCard) {
    FakeDevice device;
    device.ports = {{FakeCard{0, 0, 4096, 1, false, false, true},
                     FakeCard{0, 0, 10, 130, false, false, false, 0xA8}, FakeCard{0, 0, 1, 1, false, true}},
                    {FakeCard{0, 0, 256, 256, false, false, false, 0x08}}};
    std::vector<std::string> sleeps;
    // The others are stored, but the card whose size cannot be read fails the run.
    ASSERT_FALSE(SolidifyCards(device, [&](int ms) {
        sleeps.push_back(std::to_string(device.calls.size()) + ":" + std::to_string(ms));
    }));
    const std::vector<std::string> expected = {
        Call(0, 0x2000, kStoreCommandRegister, 4, "c04a0080"),  // its switch read failed: no copy yet
        Call(-1, 0x2FFF, kStoredSwitchRegister, 4, "000000a8"), // the second card's switch, for all
        Call(0, 0x2001, kStoreCommandRegister, 4, "c01a0080"),  // the third card's size read fails
        Call(1, 0x2000, kStoreCommandRegister, 4, "c10a0080")};
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
    } cases[] = {{"all arrive", SIZE_MAX, SIZE_MAX, true, 3, 2},
                 {"switch copy refused", 0, SIZE_MAX, false, 3, 2},
                 {"first store refused", 1, SIZE_MAX, false, 3, 2},
                 {"link lost at the switch copy", SIZE_MAX, 0, false, 0, 0},
                 {"link lost at the second store", SIZE_MAX, 2, false, 2, 2}};
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
        // The switch waits for its answer as well: refused or lost, it did not switch.
        FakeDevice cards;
        cards.refuse_write = c.refuse;
        cards.lose_link_at_write = c.lose;
        EXPECT_EQ(c.refuse != 0 && c.lose != 0, SwitchCorrection(cards, false)) << c.name;
        EXPECT_EQ(c.lose != 0 ? 1u : 0u, cards.calls.size()) << c.name;
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
