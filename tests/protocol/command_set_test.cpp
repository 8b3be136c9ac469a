// Every boot command: the exact frame written, and the result for a correct
// answer, a wrong answer and silence.

#include <gtest/gtest.h>

#include <functional>

#include "protocol/boot_intf.h"
#include "scripted_far_end.h"
#include "serial/comm_port.h"

namespace {

struct Outputs {
    uint32_t value = 0xDEADBEEF;
    uint8_t byte = 0xEE;
    Bytes data = Bytes(4096, 0xEE);
};

struct CommandCase {
    const char* name;
    std::function<int(CBootIntf&, Outputs&)> call;
    Bytes frame;          // what the host must write
    Bytes answer;         // a correct answer
    Bytes wrong;          // a wrong answer
    int wrong_result;     // -2, or -1 for commands that listen on after it
    double timeout;       // seconds the transaction is given
    std::function<void(const Outputs&)> check;  // results taken from `answer`
    bool test_silence = true;
};

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

Bytes pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}

const Bytes kSector = pattern(4096, 0x31);
const Bytes kSmall = pattern(16, 0x90);

std::vector<CommandCase> command_cases() {
    std::vector<CommandCase> c;
    c.push_back({"WriteReg",
                 [](CBootIntf& b, Outputs&) { return b.WriteReg(0x00802100, 0x00000900, 0.1); },
                 hex("01 E0 FC 09 01 00 21 80 00 00 09 00 00"),
                 hex("04 0E 0C 01 E0 FC 01 00 21 80 00 00 09 00 00"),
                 hex("04 0E 0C 01 E0 FC 01 00 21 80 00 00 08 00 00"), -1, 0.1, nullptr});
    c.push_back({"ReadReg",
                 [](CBootIntf& b, Outputs& o) { return b.ReadReg(0x44010004, o.value, 0.1); },
                 hex("01 E0 FC 05 03 04 00 01 44"),
                 hex("04 0E 0C 01 E0 FC 03 04 00 01 44 10 58 00 00"),
                 hex("04 0E 0C 01 E0 FC 03 04 00 01 34 10 58 00 00"), -1, 0.1,
                 [](const Outputs& o) { EXPECT_EQ(o.value, 0x5810u); }});
    c.push_back({"CheckCRC",
                 [](CBootIntf& b, Outputs& o) { return b.CheckCRC(0x00011000, 0x1000, o.value, 1); },
                 hex("01 E0 FC 09 10 00 10 01 00 FF 1F 01 00"),
                 hex("04 0E 08 01 E0 FC 10 78 56 34 12"),
                 hex("04 0E 08 01 E0 FC 11 78 56 34 12"), -2, 1.0,
                 [](const Outputs& o) { EXPECT_EQ(o.value, 0x12345678u); }});
    c.push_back({"MemoryWrite",
                 [](CBootIntf& b, Outputs&) {
                     const uint8_t data[3] = {0xAA, 0xBB, 0xCC};
                     return b.MemoryWrite(0x21, 0x00400000, data, 8);
                 },
                 hex("01 E0 FC 08 21 00 00 40 00 AA BB CC"),
                 hex("04 0E 0A 01 E0 FC 21 00 00 40 00 03 00"),
                 hex("04 0E 0A 01 E0 FC 21 00 00 40 00 04 00"), -2, 0.5, nullptr});
    c.push_back({"FlashEraseAll", [](CBootIntf& b, Outputs&) { return b.FlashEraseAll(); },
                 hex("01 E0 FC FF F4 02 00 0A 07"),
                 hex("04 0E FF 01 E0 FC F4 03 00 0A 00 07"),
                 hex("04 0E FF 01 E0 FC F4 03 00 0B 00 07"), -2, 20.0, nullptr,
                 /*test_silence=*/false});
    c.push_back({"FlashErase4K", [](CBootIntf& b, Outputs&) { return b.FlashErase4K(0x00012000); },
                 hex("01 E0 FC FF F4 05 00 0B 00 20 01 00"),
                 hex("04 0E FF 01 E0 FC F4 06 00 0B 00 00 20 01 00"),
                 hex("04 0E FF 01 E0 FC F4 06 00 0B 00 00 30 01 00"), -2, 0.3, nullptr});
    c.push_back({"FlashErase", [](CBootIntf& b, Outputs&) { return b.FlashErase(0x52, 0x00018000); },
                 hex("01 E0 FC FF F4 06 00 0F 52 00 80 01 00"),
                 hex("04 0E FF 01 E0 FC F4 07 00 0F 00 52 00 80 01 00"),
                 hex("04 0E FF 01 E0 FC F4 07 00 0F 01 52 00 80 01 00"), -2, 0.1, nullptr});
    c.push_back({"FlashReadSR", [](CBootIntf& b, Outputs& o) { return b.FlashReadSR(0x35, o.byte); },
                 hex("01 E0 FC FF F4 02 00 0C 35"),
                 hex("04 0E FF 01 E0 FC F4 04 00 0C 00 35 02"),
                 hex("04 0E FF 01 E0 FC F4 04 00 0C 00 05 02"), -2, 0.1,
                 [](const Outputs& o) { EXPECT_EQ(o.byte, 0x02); }});
    c.push_back({"FlashWriteSR_1", [](CBootIntf& b, Outputs&) { return b.FlashWriteSR(1, 0x01, 0x1C); },
                 hex("01 E0 FC FF F4 03 00 0D 01 1C"),
                 hex("04 0E FF 01 E0 FC F4 04 00 0D 00 01 1C"),
                 hex("04 0E FF 01 E0 FC F4 04 00 0D 00 01 00"), -2, 0.1, nullptr});
    c.push_back({"FlashWriteSR_2", [](CBootIntf& b, Outputs&) { return b.FlashWriteSR(2, 0x01, 0x021C); },
                 hex("01 E0 FC FF F4 04 00 0D 01 1C 02"),
                 hex("04 0E FF 01 E0 FC F4 05 00 0D 00 01 1C 02"),
                 hex("04 0E FF 01 E0 FC F4 05 00 0D 00 01 1C 00"), -2, 0.1, nullptr});
    c.push_back({"GetFlashMid", [](CBootIntf& b, Outputs& o) { return b.GetFlashMid(o.value); },
                 hex("01 E0 FC FF F4 05 00 0E 9F 00 00 00"),
                 hex("04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 15"),
                 hex("04 0E FF 01 E0 FC F4 07 00 0E 00 9F C8 40 15"), -2, 0.1,
                 [](const Outputs& o) { EXPECT_EQ(o.value, 0x1540C8u); }});
    c.push_back({"FlashSpiCommand",
                 [](CBootIntf& b, Outputs& o) {
                     const uint8_t tx[1] = {0x06};
                     return b.FlashSpiCommand(tx, o.data.data(), 1);
                 },
                 hex("01 E0 FC FF F4 02 00 0E 06"),
                 hex("04 0E FF 01 E0 FC F4 03 00 0E 00 FF"),
                 hex("04 0E FF 01 E0 FC F4 03 00 0D 00 FF"), -2, 0.2,
                 [](const Outputs& o) {
                     EXPECT_EQ(o.data[0], 0xFF);
                     EXPECT_EQ(o.data[1], 0xEE);
                 }});
    c.push_back({"FlashSpiRead",
                 [](CBootIntf& b, Outputs& o) {
                     const uint8_t tx[8] = {0x48, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
                     return b.FlashSpiRead(tx, o.data.data(), 8);
                 },
                 hex("01 E0 FC FF F4 09 00 0E 48 00 10 00 00 00 00 00"),
                 hex("04 0E FF 01 E0 FC F4 0A 00 0E 00 FF FF FF FF FF 11 22 33"),
                 hex("04 0E FF 01 E0 FC F4 0B 00 0E 00 FF FF FF FF FF 11 22 33"), -2, 0.2,
                 [](const Outputs& o) {
                     EXPECT_EQ(Bytes(o.data.begin(), o.data.begin() + 4), hex("11 22 33 EE"));
                 }});
    c.push_back({"FlashWrite4K",
                 [](CBootIntf& b, Outputs&) { return b.FlashWrite4K(0x00011000, kSector.data()); },
                 cat(hex("01 E0 FC FF F4 05 10 07 00 10 01 00"), kSector),
                 hex("04 0E FF 01 E0 FC F4 06 00 07 00 00 10 01 00"),
                 hex("04 0E FF 01 E0 FC F4 06 00 07 00 00 20 01 00"), -2, 0.5, nullptr});
    c.push_back({"FlashWrite",
                 [](CBootIntf& b, Outputs&) {
                     const uint8_t data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
                     return b.FlashWrite(0x00011000, data, 4);
                 },
                 hex("01 E0 FC FF F4 09 00 06 00 10 01 00 DE AD BE EF"),
                 hex("04 0E FF 01 E0 FC F4 07 00 06 00 00 10 01 00 04"),
                 hex("04 0E FF 01 E0 FC F4 07 00 07 00 00 10 01 00 04"), -2, 0.5, nullptr});
    c.push_back({"FlashRead4K", [](CBootIntf& b, Outputs& o) { return b.FlashRead4K(0x00011000, o.data.data()); },
                 hex("01 E0 FC FF F4 05 00 09 00 10 01 00"),
                 cat(hex("04 0E FF 01 E0 FC F4 06 10 09 00 00 10 01 00"), kSector),
                 cat(hex("04 0E FF 01 E0 FC F4 06 10 09 00 00 10 02 00"), kSector), -2,
                 1.3 * 4223 / 11520.0, [](const Outputs& o) { EXPECT_EQ(o.data, kSector); }});
    c.push_back({"FlashRead",
                 [](CBootIntf& b, Outputs& o) { return b.FlashRead(0x00011000, o.data.data(), 16); },
                 hex("01 E0 FC FF F4 06 00 08 00 10 01 00 10"),
                 cat(hex("04 0E FF 01 E0 FC F4 16 00 08 00 00 10 01 00"), kSmall),
                 cat(hex("04 0E FF 01 E0 FC F4 15 00 08 00 00 10 01 00"), kSmall), -2, 0.04,
                 [](const Outputs& o) {
                     EXPECT_EQ(Bytes(o.data.begin(), o.data.begin() + 16), kSmall);
                     EXPECT_EQ(o.data[16], 0xEE);
                 }});
    return c;
}

class Command : public ::testing::TestWithParam<CommandCase> {
protected:
    void SetUp() override { ASSERT_EQ(port.OpenInProcess(line, 115200, 0), 1); }
    std::shared_ptr<InProcessLine> line = std::make_shared<InProcessLine>();
    CQuarnUartPort port;
    CBootIntf intf{&port};
};

TEST_P(Command, CorrectAnswer) {
    const CommandCase& c = GetParam();
    ScriptedFarEnd far(line);
    far.answer(c.frame.size(), c.answer);
    Outputs out;
    EXPECT_EQ(c.call(intf, out), 1);
    EXPECT_EQ(far.received(c.frame.size()), c.frame);
    EXPECT_DOUBLE_EQ(port.m_timeout, c.timeout);
    if (c.check) c.check(out);
}

TEST_P(Command, WrongAnswer) {
    const CommandCase& c = GetParam();
    ScriptedFarEnd far(line);
    far.answer(c.frame.size(), c.wrong);
    Outputs out;
    const Outputs untouched;
    EXPECT_EQ(c.call(intf, out), c.wrong_result);
    EXPECT_EQ(far.received(c.frame.size()), c.frame);
    EXPECT_EQ(out.value, untouched.value);
    EXPECT_EQ(out.byte, untouched.byte);
    EXPECT_EQ(out.data, untouched.data);
}

TEST_P(Command, Silence) {
    const CommandCase& c = GetParam();
    if (!c.test_silence) GTEST_SKIP() << "time-out too long for a test; its value is checked above";
    ScriptedFarEnd far(line);
    Outputs out;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.call(intf, out), -1);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(took, c.timeout);
    EXPECT_EQ(far.received(c.frame.size()), c.frame);
}

INSTANTIATE_TEST_SUITE_P(All, Command, ::testing::ValuesIn(command_cases()),
                         [](const ::testing::TestParamInfo<CommandCase>& info) { return info.param.name; });

}  // namespace
