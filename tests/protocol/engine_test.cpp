// The transaction engine: noise before answers, split answers, time-outs
// while bytes arrive, the traffic lines, and the event queue.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "protocol/boot_intf.h"
#include "scripted_far_end.h"
#include "serial/comm_port.h"

namespace {

const Bytes kReadRegFrame = hex("01 E0 FC 05 03 04 00 01 44");
const Bytes kReadRegAnswer = hex("04 0E 0C 01 E0 FC 03 04 00 01 44 10 58 00 00");

// The traffic log opens once per process: every test uses this file and
// looks only at the lines added while it ran.
const std::string& traffic_path() {
    static const std::string path = ::testing::TempDir() + "tesk_protocol_traffic.log";
    return path;
}

std::vector<std::string> traffic_lines() {
    std::ifstream in(traffic_path());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (line.find("    ") != std::string::npos && line.find('[') != std::string::npos) lines.push_back(line);
    return lines;
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(port.OpenInProcess(line, 115200, 0), 1); }
    void far_send(const Bytes& bytes) { line->far_write(bytes.data(), bytes.size(), 115200); }
    std::shared_ptr<InProcessLine> line = std::make_shared<InProcessLine>();
    CQuarnUartPort port;
    CBootIntf intf{&port};
};

TEST_F(Engine, GarbageBeforeTheAnswerIsSkipped) {
    ScriptedFarEnd far(line);
    far.answer(9, cat(hex("00 55 AA"), kReadRegAnswer));
    uint32_t value = 0;
    EXPECT_EQ(intf.ReadReg(0x44010004, value, 1.0), 1);
    EXPECT_EQ(value, 0x5810u);
}

TEST_F(Engine, AnswerSplitOverSeveralReadsIsCollectedWithOneInLine) {
    port.open_debug_log(traffic_path());
    const size_t before = traffic_lines().size();
    ScriptedFarEnd far(line);
    const Bytes& a = kReadRegAnswer;
    far.on_frame(9, {{Bytes(a.begin(), a.begin() + 1)},
                     {Bytes(a.begin() + 1, a.begin() + 4), 15},
                     {Bytes(a.begin() + 4, a.end()), 15}});
    uint32_t value = 0;
    EXPECT_EQ(intf.ReadReg(0x44010004, value, 2.0), 1);
    EXPECT_EQ(value, 0x5810u);

    const auto lines = traffic_lines();
    ASSERT_EQ(lines.size(), before + 2);
    EXPECT_NE(lines[before].find("[OUT]    01 e0 fc 05 03 04 00 01 44 "), std::string::npos) << lines[before];
    EXPECT_NE(lines[before + 1].find("[ IN]    04 0e 0c 01 e0 fc 03 04 00 01 44 10 58 00 00 "), std::string::npos)
        << lines[before + 1];
}

TEST_F(Engine, GarbageHolding04SpoilsTheAnswer) {
    ScriptedFarEnd far(line);
    // Noise after an 04 is taken as answer bytes; CheckCRC gives up at once.
    far.answer(13, cat(hex("00 04 7F"), hex("04 0E 08 01 E0 FC 10 78 56 34 12")));
    uint32_t crc = 0;
    EXPECT_EQ(intf.CheckCRC(0, 16, crc, 1), -2);
}

TEST_F(Engine, GarbageHolding04BeforeAReadRegAnswerLetsALaterAnswerMatch) {
    ScriptedFarEnd far(line);
    // The first 15 bytes collected (04 7F + 13 answer bytes) fail; ReadReg
    // forgets them and the second answer matches.
    far.on_frame(9, {{cat(hex("00 04 7F"), kReadRegAnswer)}, {kReadRegAnswer, 10}});
    uint32_t value = 0;
    EXPECT_EQ(intf.ReadReg(0x44010004, value, 1.0), 1);
    EXPECT_EQ(value, 0x5810u);
}

TEST_F(Engine, TimeOutWhileBytesStillArriveClearsTheLatch) {
    {
        ScriptedFarEnd far(line);
        // A trickle that never completes within 0.1 s.
        std::vector<ScriptedFarEnd::Piece> trickle;
        for (int i = 0; i < 8; ++i) trickle.push_back({Bytes(1, kReadRegAnswer[size_t(i)]), 20});
        far.on_frame(9, trickle);
        uint32_t value = 0;
        EXPECT_EQ(intf.ReadReg(0x44010004, value, 0.1), -1);
        EXPECT_EQ(port.m_start_seen, 0);
    }
    port.Purge();
    // The next transaction scans afresh: leading noise is skipped again.
    ScriptedFarEnd far(line);
    far.answer(9, cat(hex("11 22"), kReadRegAnswer));
    uint32_t value = 0;
    EXPECT_EQ(intf.ReadReg(0x44010004, value, 1.0), 1);
    EXPECT_EQ(value, 0x5810u);
}

TEST_F(Engine, NeverAsksForMoreThanTheMissingBytes) {
    // Two answers back to back: the first transaction must leave the second
    // one in the queue for the next.
    far_send(cat(kReadRegAnswer, hex("04 0E 0C 01 E0 FC 03 04 00 01 44 20 58 00 00")));
    uint32_t value = 0;
    EXPECT_EQ(intf.ReadReg(0x44010004, value, 1.0), 1);
    EXPECT_EQ(value, 0x5810u);
    EXPECT_EQ(intf.ReadReg(0x44010004, value, 1.0), 1);
    EXPECT_EQ(value, 0x5820u);
}

TEST_F(Engine, SendCommandArmsTheTransaction) {
    uint8_t response[8];
    port.m_recv_len = 5;
    EXPECT_EQ(intf.SendCommand(hex("01 E0 FC 01 00").data(), 5, response, 8, 5.0), 1);
    EXPECT_EQ(port.m_expect_len, 8);
    EXPECT_EQ(port.m_recv_len, 0);
    EXPECT_EQ(port.m_resp_buf, response);
    EXPECT_DOUBLE_EQ(port.m_timeout, 5.0);
    // Restarted by the send (a stale timer would show its earlier start).
    EXPECT_LT(port.m_timer.elapsed(), 5.0);
    far_send(hex("04 0E 05 01 E0 FC 01 00"));
    int r;
    while ((r = intf.PollResponse()) == 0) {
    }
    EXPECT_EQ(r, 1);
    EXPECT_EQ(Bytes(response, response + 8), hex("04 0E 05 01 E0 FC 01 00"));
}

// ---- event queue ---------------------------------------------------------------

Bytes short_event(uint8_t opcode, const Bytes& rest) {
    Bytes e = {0x04, 0x0E, uint8_t(4 + rest.size()), 0x01, 0xE0, 0xFC, opcode};
    return cat(e, rest);
}

TEST_F(Engine, WaitEventSkipsToTheAskedOpcode) {
    far_send(cat(short_event(0x10, hex("01 02")), short_event(0xFE, hex("AA BB CC"))));
    uint8_t out[16] = {};
    EXPECT_EQ(intf.WaitEvent(0xFE, out, sizeof out), 4);
    EXPECT_EQ(Bytes(out, out + 4), hex("FE AA BB CC"));
    // The opcode-10 event was consumed on the way.
    EXPECT_EQ(intf.WaitEvent(0x10, out, sizeof out), 0);
}

TEST_F(Engine, WaitEventOnAQuietLine) {
    uint8_t out[16];
    EXPECT_EQ(intf.WaitEvent(0x10, out, sizeof out), 0);
}

TEST_F(Engine, AnEventLargerThanTheBufferStaysQueued) {
    far_send(short_event(0x10, Bytes(20, 0x33)));
    uint8_t out[64];
    EXPECT_EQ(intf.WaitEvent(0x10, out, 8), -2);
    EXPECT_EQ(intf.WaitEvent(0x10, out, 8), -2);
    EXPECT_EQ(intf.WaitEvent(0x10, out, sizeof out), 21);
}

TEST_F(Engine, TheRingKeepsTheLast16Of17Events) {
    Bytes all;
    for (int i = 0; i < 17; ++i) all = cat(all, short_event(0x20, Bytes(1, uint8_t(i))));
    intf.FeedEventParser(all.data(), all.size());
    EXPECT_EQ(port.m_ring_write - port.m_ring_read, 16u);
    uint8_t out[8];
    for (int i = 1; i < 17; ++i) {
        ASSERT_EQ(intf.WaitEvent(0x20, out, sizeof out), 2) << i;
        EXPECT_EQ(out[1], uint8_t(i));
    }
    EXPECT_EQ(intf.WaitEvent(0x20, out, sizeof out), 0);
}

TEST_F(Engine, AFullRingKeepsItsOldestEventWhileTheNextIsStillIncomplete) {
    Bytes all;
    for (int i = 0; i < 16; ++i) all = cat(all, short_event(0x20, Bytes(1, uint8_t(i))));
    // Start of a 17th event that never completes.
    all = cat(all, hex("04 0E 09 01 E0 FC 20 77 77"));
    intf.FeedEventParser(all.data(), all.size());
    uint8_t out[8];
    for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(intf.WaitEvent(0x20, out, sizeof out), 2) << i;
        EXPECT_EQ(out[1], uint8_t(i));
    }
}

TEST_F(Engine, LongFormAndBrokenEventsAreNotQueued) {
    const Bytes bytes = cat(cat(hex("04 0E FF 01 E0 FC F4 06 00 0E 00 9F C8 40 15"),  // long form
                                hex("04 0E 03 01 E0 FC")),                            // too short
                            cat(hex("04 0E 05 01 E0 04 0E 05 01 E0 FC 10 99"),        // restart at 04
                                hex("00 55 04 04 0E 04 01 E0 FC 11")));
    intf.FeedEventParser(bytes.data(), bytes.size());
    uint8_t out[8];
    EXPECT_EQ(intf.WaitEvent(0x10, out, sizeof out), 2);
    EXPECT_EQ(Bytes(out, out + 2), hex("10 99"));
    EXPECT_EQ(intf.WaitEvent(0x11, out, sizeof out), 1);
    EXPECT_EQ(intf.WaitEvent(0x9F, out, sizeof out), 0);
    EXPECT_EQ(intf.WaitEvent(0x0E, out, sizeof out), 0);
}

TEST_F(Engine, EventsSplitAcrossReadsAreAssembled) {
    const Bytes e = short_event(0x30, hex("01 02 03 04"));
    ScriptedFarEnd far(line);
    intf.RebootCommand();  // something for the far end to react to
    far.on_frame(6, {{Bytes(e.begin(), e.begin() + 5)}});
    uint8_t out[8];
    int r = 0;
    for (int i = 0; i < 200 && r == 0; ++i) r = intf.WaitEvent(0x30, out, sizeof out);
    EXPECT_EQ(r, 0);
    far_send(Bytes(e.begin() + 5, e.end()));
    EXPECT_EQ(intf.WaitEvent(0x30, out, sizeof out), 5);
    EXPECT_EQ(Bytes(out, out + 5), hex("30 01 02 03 04"));
}

TEST_F(Engine, WaitEventReturnsOnALineFullOfNoise) {
    std::atomic<bool> stop{false};
    std::thread noise([&] {
        const Bytes junk(64, 0x55);
        while (!stop) {
            line->far_write(junk.data(), junk.size(), 115200);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    uint8_t out[8];
    EXPECT_EQ(intf.WaitEvent(0x10, out, sizeof out), 0);
    stop = true;
    noise.join();
}

}  // namespace
