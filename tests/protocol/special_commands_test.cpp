// Commands with their own rules: LinkCheck's single poll, ReadRegChecked's
// attempts, SetBaudRate's switch, the listening rules after a wrong answer,
// the frames that expect no answer, and the argument limits.

#include <gtest/gtest.h>

#include "protocol/boot_intf.h"
#include "scripted_far_end.h"
#include "serial/comm_port.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class Commands : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(port.OpenInProcess(line, 115200, 0), 1); }
    void far_send(const Bytes& bytes, int baud = 115200) { line->far_write(bytes.data(), bytes.size(), baud); }
    Bytes far_take() {
        Bytes out;
        uint8_t buf[8192];
        int baud = 0;
        while (size_t n = line->far_read(buf, sizeof buf, 0, &baud)) out.insert(out.end(), buf, buf + n);
        return out;
    }
    std::shared_ptr<InProcessLine> line = std::make_shared<InProcessLine>();
    CQuarnUartPort port;
    CBootIntf intf{&port};
};

// ---- LinkCheck ---------------------------------------------------------------

TEST_F(Commands, LinkCheckMatchesAQueuedAnswerAndPurges) {
    // The answer is already queued (from an earlier knock); LinkCheck polls once.
    far_send(hex("04 0E 05 01 E0 FC 01 00"));
    far_send(hex("04 0E 05 01 E0 FC 01 00"));
    EXPECT_EQ(intf.LinkCheck(0.005), 1);
    EXPECT_EQ(far_take(), hex("01 E0 FC 01 00"));
    // The purge dropped the second queued answer.
    uint8_t buf[8];
    EXPECT_EQ(port.Read(buf, 8), 0);
}

TEST_F(Commands, LinkCheckWrongAnswerIsATimeOutAndForgetsTheBytes) {
    far_send(hex("04 0E 05 01 E0 FC 02 00"));
    EXPECT_EQ(intf.LinkCheck(0.005), -1);
    EXPECT_EQ(port.m_recv_len, 0);
    EXPECT_EQ(port.m_link_start_seen, 0);
}

TEST_F(Commands, LinkCheckOnAQuietLine) {
    EXPECT_EQ(intf.LinkCheck(0.005), -1);
    EXPECT_EQ(intf.LinkCheck(0.0), -1);
    EXPECT_EQ(far_take(), cat(hex("01 E0 FC 01 00"), hex("01 E0 FC 01 00")));
}

TEST_F(Commands, LinkCheckPartialAnswerKeepsItsLatchForTheNextCheck) {
    far_send(hex("55 04 0E 05"));
    EXPECT_EQ(intf.LinkCheck(0.005), -1);
    EXPECT_EQ(port.m_link_start_seen, 1);
    // The next check takes its first byte as part of an answer: the noise
    // byte is not skipped, the answer fails and the rest is purged.
    far_send(hex("11 04 0E 05 01 E0 FC 01 00"));
    EXPECT_EQ(intf.LinkCheck(0.005), -1);
    EXPECT_EQ(port.m_link_start_seen, 0);
    far_send(hex("04 0E 05 01 E0 FC 01 00"));
    EXPECT_EQ(intf.LinkCheck(0.005), 1);
}

// ---- register commands: listening rules -------------------------------------

TEST_F(Commands, ReadRegListensOnAfterAWrongAnswer) {
    ScriptedFarEnd far(line);
    far.on_frame(9, {{hex("04 0E 0C 01 E0 FC 03 04 00 01 34 10 58 00 00")},
                     {hex("04 0E 0C 01 E0 FC 03 04 00 01 44 20 58 00 00"), 10}});
    uint32_t value = 0;
    EXPECT_EQ(intf.ReadReg(0x44010004, value, 1.0), 1);
    EXPECT_EQ(value, 0x5820u);
}

TEST_F(Commands, WriteRegDoesNotTakeALaterCorrectAnswer) {
    ScriptedFarEnd far(line);
    far.on_frame(13, {{hex("04 0E 0C 01 E0 FC 01 00 21 80 00 00 08 00 00")},
                      {hex("04 0E 0C 01 E0 FC 01 00 21 80 00 00 09 00 00"), 5}});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(intf.WriteReg(0x00802100, 0x900, 0.1), -1);
    EXPECT_GE(seconds_since(start), 0.1);
}

TEST_F(Commands, ReadRegCheckedAcceptsTheAddressEchoPlus0x100) {
    ScriptedFarEnd far(line);
    far.answer(9, hex("04 0E 0C 01 E0 FC 03 04 01 01 44 00 58 00 00"));
    uint32_t value = 0;
    EXPECT_EQ(intf.ReadRegChecked(0x44010004, value), 1);
    EXPECT_EQ(value, 0x5800u);
    EXPECT_EQ(far.received(9), hex("01 E0 FC 05 03 04 00 01 44"));
    EXPECT_DOUBLE_EQ(port.m_timeout, 0.1);
}

TEST_F(Commands, ReadRegCheckedEchoPlus0x100HasNoCarry) {
    ScriptedFarEnd far(line);
    // 0x0000FF00 + 0x100 without carry echoes 00 00 00 00, not 00 00 01 00.
    far.answer(9, hex("04 0E 0C 01 E0 FC 03 00 00 00 00 78 56 34 12"));
    uint32_t value = 0;
    EXPECT_EQ(intf.ReadRegChecked(0x0000FF00, value), 1);
    EXPECT_EQ(value, 0x12345678u);
}

TEST_F(Commands, ReadRegCheckedTriesFiveTimes) {
    const Bytes frame = hex("01 E0 FC 05 03 04 00 01 44");
    {
        // Four wrong answers, then a right one.
        ScriptedFarEnd far(line);
        for (int i = 0; i < 4; ++i) far.answer(9, hex("04 0E 0C 01 E0 FC 03 08 00 01 44 00 00 00 00"));
        far.answer(9, hex("04 0E 0C 01 E0 FC 03 04 00 01 44 10 58 00 00"));
        uint32_t value = 0;
        EXPECT_EQ(intf.ReadRegChecked(0x44010004, value), 1);
        EXPECT_EQ(value, 0x5810u);
        EXPECT_EQ(far.received(45).size(), 45u);
    }
    {
        // Five wrong answers.
        ScriptedFarEnd far(line);
        for (int i = 0; i < 5; ++i) far.answer(9, hex("04 0E 0C 01 E0 FC 03 08 00 01 44 00 00 00 00"));
        uint32_t value = 7;
        EXPECT_EQ(intf.ReadRegChecked(0x44010004, value), -2);
        EXPECT_EQ(value, 7u);
        EXPECT_EQ(far.received(45).size(), 45u);
    }
    {
        // Silence: five attempts of 0.1 s.
        ScriptedFarEnd far(line);
        uint32_t value = 7;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(intf.ReadRegChecked(0x44010004, value), -1);
        EXPECT_GE(seconds_since(start), 0.5);
        Bytes five;
        for (int i = 0; i < 5; ++i) five = cat(five, frame);
        EXPECT_EQ(far.received(45), five);
    }
}

// ---- SetBaudRate -------------------------------------------------------------

TEST_F(Commands, SetBaudRateSwitchesBothEnds) {
    ScriptedFarEnd far(line);
    far.on_frame(10, {{hex("04 0E 09 01 E0 FC 0F 80 84 1E 00 0F"), 0, 2000000}});
    EXPECT_EQ(intf.SetBaudRate(2000000, 0), 1);
    EXPECT_EQ(far.received(10), hex("01 E0 FC 06 0F 80 84 1E 00 0F"));
    EXPECT_EQ(port.m_baud, 2000000);
    EXPECT_EQ(line->host_baud(), 2000000);
    EXPECT_DOUBLE_EQ(port.m_timeout, 0.035);
}

TEST_F(Commands, SetBaudRateWrongAnswerAndSilence) {
    {
        ScriptedFarEnd far(line);
        far.on_frame(10, {{hex("04 0E 09 01 E0 FC 0F 00 C2 01 00 0F"), 0, 921600}});
        EXPECT_EQ(intf.SetBaudRate(921600, 0), -2);
        EXPECT_EQ(far.received(10), hex("01 E0 FC 06 0F 00 10 0E 00 0F"));
    }
    {
        ScriptedFarEnd far(line);
        EXPECT_EQ(intf.SetBaudRate(1500000, 0), -1);
        EXPECT_EQ(far.received(10), hex("01 E0 FC 06 0F 60 E3 16 00 0F"));
        EXPECT_EQ(port.m_baud, 1500000);  // the host switched; the chip did not answer
    }
}

TEST_F(Commands, SetBaudRateOnARateThePortRefusesDoesNotPoll) {
    line->set_host_baud_limit(1500000);
    ScriptedFarEnd far(line);
    // An answer at the old rate would match if the command listened for it.
    far.answer(10, hex("04 0E 09 01 E0 FC 0F 80 84 1E 00 0F"));
    EXPECT_EQ(intf.SetBaudRate(2000000, 0), -1);
    EXPECT_EQ(far.received(10), hex("01 E0 FC 06 0F 80 84 1E 00 0F"));
    EXPECT_EQ(port.m_baud, 115200);
    EXPECT_EQ(line->host_baud(), 115200);
    // The answer is still queued: nothing read it.
    uint8_t buf[12];
    int got = 0;
    for (int i = 0; i < 500 && got < 12; ++i) got += port.Read(buf + got, 12 - got);
    EXPECT_EQ(Bytes(buf, buf + got), hex("04 0E 09 01 E0 FC 0F 80 84 1E 00 0F"));
}

// ---- frames without an answer -------------------------------------------------

TEST_F(Commands, RebootAndResetMagicExpectNoAnswer) {
    EXPECT_EQ(intf.RebootCommand(), 1);
    EXPECT_EQ(far_take(), hex("01 E0 FC 02 0E A5"));
    EXPECT_EQ(intf.ResetMagic(), 1);
    EXPECT_EQ(far_take(), hex("01 E0 FC 05 FE 95 27 95 27 01 E0 FC 05 FE 95 27 95 27 01 E0 FC 05 FE 95 27 95 27"));
}

// ---- frame details -------------------------------------------------------------

TEST_F(Commands, CheckCrcOfOneSectorSendsTheLastByteAsEnd) {
    ScriptedFarEnd far(line);
    far.answer(13, hex("04 0E 08 01 E0 FC 10 01 02 03 04"));
    uint32_t crc = 0;
    EXPECT_EQ(intf.CheckCRC(0x00200000, 4096, crc, 1), 1);
    EXPECT_EQ(far.received(13), hex("01 E0 FC 09 10 00 00 20 00 FF 0F 20 00"));
    EXPECT_EQ(crc, 0x04030201u);
}

TEST_F(Commands, MemoryWriteOf244DataBytes) {
    Bytes data(244);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
    ScriptedFarEnd far(line);
    // The opcode echo (byte 6) and the last byte are not compared.
    far.answer(253, hex("04 0E 0A 01 E0 FC 99 00 10 40 00 F4 77"));
    EXPECT_EQ(intf.MemoryWrite(0x21, 0x00401000, data.data(), 249), 1);
    const Bytes sent = far.received(253);
    ASSERT_EQ(sent.size(), 253u);
    EXPECT_EQ(sent, cat(hex("01 E0 FC F9 21 00 10 40 00"), data));
}

TEST_F(Commands, GetFlashMidAcceptsBothLengths) {
    for (const char* answer : {"04 0E FF 01 E0 FC F4 05 00 0E 9F C8 40 15 00",
                               "04 0E FF 01 E0 FC F4 06 00 0E 00 9F EF 40 18"}) {
        SCOPED_TRACE(answer);
        ScriptedFarEnd far(line);
        far.answer(12, hex(answer));
        uint32_t mid = 0;
        EXPECT_EQ(intf.GetFlashMid(mid), 1);
        EXPECT_EQ(far.received(12), hex("01 E0 FC FF F4 05 00 0E 9F 00 00 00"));
        const Bytes a = hex(answer);
        EXPECT_EQ(mid, uint32_t(a[12]) | uint32_t(a[13]) << 8 | uint32_t(a[14]) << 16);
    }
}

TEST_F(Commands, FlashSpiReadWithoutStatusTakesAllBytes) {
    ScriptedFarEnd far(line);
    // Length n + 1: the n bytes from byte 11 on.
    far.answer(16, hex("04 0E FF 01 E0 FC F4 09 00 0E 00 A1 A2 A3 A4 A5 A6 A7 A8"));
    const uint8_t tx[8] = {0x48, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
    uint8_t rx[9];
    memset(rx, 0xEE, sizeof rx);
    EXPECT_EQ(intf.FlashSpiRead(tx, rx, 8), 1);
    EXPECT_EQ(Bytes(rx, rx + 9), hex("A1 A2 A3 A4 A5 A6 A7 A8 EE"));
}

TEST_F(Commands, FlashWriteSRWithAnUnknownWidthSendsTwoBytesAndFails) {
    ScriptedFarEnd far(line);
    far.answer(11, hex("04 0E FF 01 E0 FC F4 05 00 0D 00 01 1C 02"));
    EXPECT_EQ(intf.FlashWriteSR(3, 0x01, 0x021C), -2);
    EXPECT_EQ(far.received(11), hex("01 E0 FC FF F4 04 00 0D 01 1C 02"));
}

TEST_F(Commands, FlashReadTimeOutsFollowTheBaudRate) {
    EXPECT_NEAR(CBootIntf::flash_read4k_timeout(115200), 0.4766, 0.0001);
    EXPECT_NEAR(CBootIntf::flash_read4k_timeout(2000000), 0.02745, 0.00001);
    EXPECT_DOUBLE_EQ(CBootIntf::flash_read4k_timeout(3000000), 0.02);
    EXPECT_DOUBLE_EQ(CBootIntf::flash_read_timeout(115200, 16), 0.04);
    EXPECT_NEAR(CBootIntf::flash_read_timeout(115200, 255), 2.0 * 383 / 11520, 1e-9);
    EXPECT_DOUBLE_EQ(CBootIntf::flash_read_timeout(3000000, 255), 0.04);

    // And the transactions use them at the port's current rate.
    uint8_t out[4096];
    ASSERT_EQ(port.Configure(3000000, 0), 1);
    EXPECT_EQ(intf.FlashRead4K(0, out), -1);
    EXPECT_DOUBLE_EQ(port.m_timeout, 0.02);
    ASSERT_EQ(port.Configure(115200, 0), 1);
    EXPECT_EQ(intf.FlashRead(0, out, 255), -1);
    EXPECT_NEAR(port.m_timeout, 2.0 * 383 / 11520, 1e-9);
}

TEST_F(Commands, ArgumentsTheFrameCannotCarrySendNothing) {
    uint8_t buf[300] = {};
    uint32_t v = 0;
    EXPECT_EQ(intf.MemoryWrite(0x21, 0, buf, 4), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.MemoryWrite(0x21, 0, buf, 256), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.FlashWrite(0, buf, 0), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.FlashWrite(0, buf, 256), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.FlashRead(0, buf, 0), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.FlashRead(0, buf, 256), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.FlashSpiCommand(buf, buf, 0), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.FlashSpiRead(buf, nullptr, 4), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.CheckCRC(0, 0, v, 1), BOOT_BAD_ARGUMENT);
    EXPECT_EQ(intf.CheckCRC(0xFFFFF000, 0x2000, v, 1), BOOT_BAD_ARGUMENT);
    EXPECT_TRUE(far_take().empty());
}

// ---- dead ports -----------------------------------------------------------------

TEST_F(Commands, AClosedPortEndsAsTimeOut) {
    port.Close();
    uint32_t v = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(intf.ReadReg(0x44010004, v, 0.05), -1);
    EXPECT_GE(seconds_since(start), 0.05);
    EXPECT_EQ(intf.LinkCheck(0.005), -1);
    EXPECT_EQ(intf.RebootCommand(), 1);

    CBootIntf unbound;
    EXPECT_EQ(unbound.ReadReg(0x44010004, v, 0.05), -1);
    EXPECT_EQ(unbound.WaitEvent(0x10, nullptr, 0), 0);
}

}  // namespace
