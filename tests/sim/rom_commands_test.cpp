// Every boot ROM command, as literal frames, with the literal answers the
// device must give.
#include <gtest/gtest.h>

#include "sim_test_util.h"

namespace {

struct RomCase {
    const char* name;
    std::vector<const char*> before;  // frames sent first (answers ignored)
    const char* frame;
    const char* answer;  // "" = no answer at all
};

// "123456789" written at 0x1000 through the byte write.
const char* kWrite123 = "01 E0 FC FF F4 0E 00 06 00 10 00 00 31 32 33 34 35 36 37 38 39";

const RomCase kCases[] = {
    {"LinkCheck", {}, "01 E0 FC 01 00", "04 0E 05 01 E0 FC 01 00"},
    {"WriteReg", {}, "01 E0 FC 09 01 00 10 00 20 78 56 34 12", "04 0E 0C 01 E0 FC 01 00 10 00 20 78 56 34 12"},
    {"ReadRegAfterWrite",
     {"01 E0 FC 09 01 00 10 00 20 78 56 34 12"},
     "01 E0 FC 05 03 00 10 00 20",
     "04 0E 0C 01 E0 FC 03 00 10 00 20 78 56 34 12"},
    {"ReadRegPlainMemoryStartsAtZero", {}, "01 E0 FC 05 03 00 00 30 00", "04 0E 0C 01 E0 FC 03 00 00 30 00 00 00 00 00"},
    {"ReadChipId", {}, "01 E0 FC 05 03 04 00 01 44", "04 0E 0C 01 E0 FC 03 04 00 01 44 10 58 00 00"},
    {"ChipIdIsReadOnly",
     {"01 E0 FC 09 01 04 00 01 44 00 00 00 00"},
     "01 E0 FC 05 03 04 00 01 44",
     "04 0E 0C 01 E0 FC 03 04 00 01 44 10 58 00 00"},
    {"CheckCrcInclusiveEnd", {kWrite123}, "01 E0 FC 09 10 00 10 00 00 08 10 00 00", "04 0E 08 01 E0 FC 10 D9 C6 0B 34"},
    {"CheckCrcPastFlashEndUnanswered", {}, "01 E0 FC 09 10 00 F0 1F 00 00 00 20 00", ""},
    {"CheckCrcEndBeforeStartUnanswered", {}, "01 E0 FC 09 10 00 20 00 00 FF 1F 00 00", ""},
    {"MemoryWrite", {}, "01 E0 FC 0A 21 00 00 01 00 AA BB CC DD EE", "04 0E 0A 01 E0 FC 21 00 00 01 00 05 00"},
    {"MemoryWriteLandsInMemory",
     {"01 E0 FC 0A 21 00 00 01 00 AA BB CC DD EE"},
     "01 E0 FC 05 03 04 00 01 00",
     "04 0E 0C 01 E0 FC 03 04 00 01 00 EE 00 00 00"},
    {"RebootCommandUnanswered", {}, "01 E0 FC 02 0E A5", ""},
    {"ResetMagicUnanswered", {}, "01 E0 FC 05 FE 95 27 95 27", ""},
    {"ResetMagicHarmless", {"01 E0 FC 05 FE 95 27 95 27"}, "01 E0 FC 01 00", "04 0E 05 01 E0 FC 01 00"},
    {"UnknownShortUnanswered", {}, "01 E0 FC 01 55", ""},
    {"UnknownLongUnanswered", {}, "01 E0 FC FF F4 01 00 33", ""},
    {"WrongLengthUnanswered", {}, "01 E0 FC 04 03 00 10 00", ""},
    {"FlashEraseAll", {}, "01 E0 FC FF F4 02 00 0A 07", "04 0E FF 01 E0 FC F4 03 00 0A 00 07"},
    {"FlashErase4K", {}, "01 E0 FC FF F4 05 00 0B 00 10 00 00", "04 0E FF 01 E0 FC F4 06 00 0B 00 00 10 00 00"},
    {"FlashErase20", {}, "01 E0 FC FF F4 06 00 0F 20 00 10 00 00", "04 0E FF 01 E0 FC F4 07 00 0F 00 20 00 10 00 00"},
    {"FlashErase52", {}, "01 E0 FC FF F4 06 00 0F 52 00 80 00 00", "04 0E FF 01 E0 FC F4 07 00 0F 00 52 00 80 00 00"},
    {"FlashEraseD8", {}, "01 E0 FC FF F4 06 00 0F D8 00 00 01 00", "04 0E FF 01 E0 FC F4 07 00 0F 00 D8 00 00 01 00"},
    {"FlashEraseBadOpcode", {}, "01 E0 FC FF F4 06 00 0F 21 00 00 01 00", "04 0E FF 01 E0 FC F4 07 00 0F 03 21 00 00 01 00"},
    {"FlashErasePastEnd", {}, "01 E0 FC FF F4 06 00 0F 20 00 00 20 00", "04 0E FF 01 E0 FC F4 07 00 0F 02 20 00 00 20 00"},
    {"FlashReadSR1", {}, "01 E0 FC FF F4 02 00 0C 05", "04 0E FF 01 E0 FC F4 04 00 0C 00 05 00"},
    {"FlashReadSR2", {}, "01 E0 FC FF F4 02 00 0C 35", "04 0E FF 01 E0 FC F4 04 00 0C 00 35 00"},
    {"FlashReadSRShowsWel", {"01 E0 FC FF F4 02 00 0E 06"}, "01 E0 FC FF F4 02 00 0C 05", "04 0E FF 01 E0 FC F4 04 00 0C 00 05 02"},
    {"FlashReadSRMissingRegister", {}, "01 E0 FC FF F4 02 00 0C 15", "04 0E FF 01 E0 FC F4 04 00 0C 00 15 FF"},
    {"FlashWriteSRWidth1",
     {"01 E0 FC FF F4 02 00 0E 06"},
     "01 E0 FC FF F4 03 00 0D 01 1C",
     "04 0E FF 01 E0 FC F4 04 00 0D 00 01 1C"},
    {"FlashWriteSRWidth2",
     {"01 E0 FC FF F4 02 00 0E 06"},
     "01 E0 FC FF F4 04 00 0D 01 1C 40",
     "04 0E FF 01 E0 FC F4 05 00 0D 00 01 1C 40"},
    {"FlashWriteSRTakesEffect",
     {"01 E0 FC FF F4 02 00 0E 06", "01 E0 FC FF F4 04 00 0D 01 1C 40"},
     "01 E0 FC FF F4 02 00 0C 35",
     "04 0E FF 01 E0 FC F4 04 00 0C 00 35 40"},
    {"FlashWriteSRWithoutWriteEnable", {}, "01 E0 FC FF F4 03 00 0D 01 1C", "04 0E FF 01 E0 FC F4 04 00 0D 04 01 1C"},
    {"FlashWriteSRWithoutWriteEnableChangesNothing",
     {"01 E0 FC FF F4 03 00 0D 01 1C"},
     "01 E0 FC FF F4 02 00 0C 05",
     "04 0E FF 01 E0 FC F4 04 00 0C 00 05 00"},
    {"SpiWriteEnable", {}, "01 E0 FC FF F4 02 00 0E 06", "04 0E FF 01 E0 FC F4 03 00 0E 00 06"},
    {"GetFlashMid", {}, "01 E0 FC FF F4 05 00 0E 9F 00 00 00", "04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 15"},
    {"SpiReadStatus", {}, "01 E0 FC FF F4 03 00 0E 05 00", "04 0E FF 01 E0 FC F4 04 00 0E 00 05 00"},
    {"SpiReadData", {kWrite123}, "01 E0 FC FF F4 07 00 0E 03 00 10 00 00 00", "04 0E FF 01 E0 FC F4 08 00 0E 00 03 00 10 00 31 32"},
    {"FlashWrite", {}, kWrite123, "04 0E FF 01 E0 FC F4 07 00 06 00 00 10 00 00 09"},
    {"FlashRead",
     {kWrite123},
     "01 E0 FC FF F4 06 00 08 00 10 00 00 09",
     "04 0E FF 01 E0 FC F4 0F 00 08 00 00 10 00 00 31 32 33 34 35 36 37 38 39"},
    {"FlashReadPastEnd",
     {},
     "01 E0 FC FF F4 06 00 08 FE FF 1F 00 04",
     "04 0E FF 01 E0 FC F4 0A 00 08 02 FE FF 1F 00 FF FF FF FF"},
};

class RomCommand : public ::testing::TestWithParam<RomCase> {};

TEST_P(RomCommand, AnswersByteForByte) {
    const RomCase& c = GetParam();
    ChipDriver d;
    for (const char* f : c.before) d.exchange(B(f));
    EXPECT_EQ(hex(d.exchange(B(c.frame))), hex(B(c.answer)));
}

INSTANTIATE_TEST_SUITE_P(Frames, RomCommand, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RomCase>& i) { return std::string(i.param.name); });

TEST(RomCommand4K, WriteAndReadWholeSector) {
    ChipDriver d;
    Bytes data(4096);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 3);
    Bytes frame = concat(B("01 E0 FC FF F4 05 10 07 00 20 00 00"), data);
    ASSERT_EQ(frame.size(), 4108u);
    EXPECT_EQ(hex(d.exchange(frame)), "04 0E FF 01 E0 FC F4 06 00 07 00 00 20 00 00");

    Bytes answer = d.exchange(B("01 E0 FC FF F4 05 00 09 00 20 00 00"));
    ASSERT_EQ(answer.size(), 4111u);
    EXPECT_EQ(hex(Bytes(answer.begin(), answer.begin() + 15)), "04 0E FF 01 E0 FC F4 06 10 09 00 00 20 00 00");
    EXPECT_EQ(Bytes(answer.begin() + 15, answer.end()), data);
}

TEST(RomCommand4K, WriteWithShortDataIsUnanswered) {
    ChipDriver d;
    Bytes frame = concat(B("01 E0 FC FF F4 05 01 07 00 20 00 00"), Bytes(256, 0));
    EXPECT_TRUE(d.exchange(frame).empty());
    EXPECT_EQ(hex(d.exchange(kLinkCheck)), hex(kLinkCheckAnswer));
}

TEST(RomCommand4K, ReadPastEndReportsStatusTwo) {
    ChipDriver d;
    Bytes answer = d.exchange(B("01 E0 FC FF F4 05 00 09 00 00 20 00"));
    ASSERT_EQ(answer.size(), 4111u);
    EXPECT_EQ(answer[10], 0x02);
}

// The chip-id register can sit at any of the three places the host tries.
struct IdPlaceCase {
    uint32_t place;
    const char* answer_a;  // read of 0x44010004
    const char* answer_b;  // read of 0x34010004
    const char* answer_c;  // read of 0x00800000
};

class ChipIdPlace : public ::testing::TestWithParam<IdPlaceCase> {};

TEST_P(ChipIdPlace, OnlyTheConfiguredPlaceAnswersTheId) {
    sim::SimConfig config;
    config.chip_id = 0x58200001;
    config.chip_id_address = GetParam().place;
    ChipDriver d(config);
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC 05 03 04 00 01 44"))), hex(B(GetParam().answer_a)));
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC 05 03 04 00 01 34"))), hex(B(GetParam().answer_b)));
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC 05 03 00 00 80 00"))), hex(B(GetParam().answer_c)));
}

INSTANTIATE_TEST_SUITE_P(
    Places, ChipIdPlace,
    ::testing::Values(IdPlaceCase{0x44010004, "04 0E 0C 01 E0 FC 03 04 00 01 44 01 00 20 58",
                                  "04 0E 0C 01 E0 FC 03 04 00 01 34 00 00 00 00",
                                  "04 0E 0C 01 E0 FC 03 00 00 80 00 00 00 00 00"},
                      IdPlaceCase{0x34010004, "04 0E 0C 01 E0 FC 03 04 00 01 44 00 00 00 00",
                                  "04 0E 0C 01 E0 FC 03 04 00 01 34 01 00 20 58",
                                  "04 0E 0C 01 E0 FC 03 00 00 80 00 00 00 00 00"},
                      IdPlaceCase{0x00800000, "04 0E 0C 01 E0 FC 03 04 00 01 44 00 00 00 00",
                                  "04 0E 0C 01 E0 FC 03 04 00 01 34 00 00 00 00",
                                  "04 0E 0C 01 E0 FC 03 00 00 80 00 01 00 20 58"}));

TEST(ChipIdQuirk, EchoRaisedBy100) {
    sim::SimConfig config;
    config.chip_id_echo_plus_100 = true;
    ChipDriver d(config);
    EXPECT_EQ(hex(d.exchange(B("01 E0 FC 05 03 04 00 01 44"))), "04 0E 0C 01 E0 FC 03 04 01 01 44 10 58 00 00");
}

// How the ROM finds frames in what it receives.
TEST(RomFraming, GarbageBeforeAndSplitFrames) {
    ChipDriver d;
    d.send(B("00 55 AA 01 E0 04"));  // noise, including a broken header
    d.send(B("01"));
    d.send(B("E0 FC"));
    d.send(B("01 00"));
    Bytes all;
    for (const ChipOutput& o : d.collect()) all = concat(all, o.bytes);
    EXPECT_EQ(hex(all), hex(kLinkCheckAnswer));
}

TEST(RomFraming, BackToBackFramesInOneBurst) {
    ChipDriver d;
    Bytes burst = concat(concat(kLinkCheck, B("01 E0 FC 05 03 04 00 01 44")), kLinkCheck);
    EXPECT_EQ(hex(d.exchange(burst)), hex(concat(concat(kLinkCheckAnswer, B("04 0E 0C 01 E0 FC 03 04 00 01 44 10 58 00 00")),
                                                 kLinkCheckAnswer)));
}

TEST(RomFraming, StaleHalfFrameIsDroppedAfterAPause) {
    ChipDriver d;
    // Half of a 4 KiB write, then the host goes away.
    d.send(concat(B("01 E0 FC FF F4 05 10 07 00 00 00 00"), Bytes(100, 0)));
    d.advance(300'000);
    EXPECT_EQ(hex(d.exchange(kLinkCheck)), hex(kLinkCheckAnswer));
    EXPECT_EQ(d.chip->flash().contents()[0], 0xFF);
}

TEST(RomFraming, AnswerDoesNotGoOutBeforeTheFrameArrived) {
    sim::SimConfig config;
    config.wire_timing = true;
    ChipDriver d(config);
    d.send(B("01 E0 FC 05 03 04 00 01 44"));
    std::vector<ChipOutput> out = d.collect();
    ASSERT_EQ(out.size(), 1u);
    // 9 bytes in and 15 bytes out at 115200: about 2.08 ms on the wire.
    EXPECT_GE(out[0].due - 1'000'000, 2000);
    EXPECT_LE(out[0].due - 1'000'000, 2200);
}

TEST(CommandLogTest, RecordsWhatTheRomSaw) {
    ChipDriver d;
    d.exchange(B("01 E0 FC FF F4 06 00 0F 20 00 10 01 00"));
    d.exchange(B("01 E0 FC FF F4 05 00 0B 00 20 01 00"));
    d.exchange(B("01 E0 FC FF F4 06 00 0F D8 00 00 02 00"));
    d.exchange(B("01 E0 FC FF F4 05 00 0E 20 01 30 00"));  // SPI sector erase (needs write enable; still seen)
    d.exchange(B("01 E0 FC 01 55"));
    const auto& records = d.chip->command_log().records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].describe(), "FlashErase 20 0x00011000 status 0");
    EXPECT_EQ(records[4].describe(), "Unknown short 55 (no answer)");
    std::vector<sim::EraseEvent> erases = sim::erase_events(records);
    std::vector<sim::EraseEvent> want = {{0x20, 0x11000}, {0x20, 0x12000}, {0xD8, 0x20000}, {0x20, 0x013000}};
    EXPECT_EQ(erases, want);
}

TEST(RomCrc, MatchesTheCheckValue) {
    const char* text = "123456789";
    EXPECT_EQ(sim::rom_crc32(reinterpret_cast<const uint8_t*>(text), 9), 0x340BC6D9u);
    // Continuing a running value gives the same as one pass.
    uint32_t part = sim::rom_crc32(reinterpret_cast<const uint8_t*>(text), 4);
    EXPECT_EQ(sim::rom_crc32(reinterpret_cast<const uint8_t*>(text) + 4, 5, part), 0x340BC6D9u);
}

}  // namespace
