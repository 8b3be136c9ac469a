// MAC address and device name placed in flash by the download, and the flash
// patch under them: the rest of each sector is kept, also when a command of
// the patch goes wrong.
#include <gtest/gtest.h>

#include <cstring>

#include "chip_fixture.h"

namespace {

constexpr uint32_t kMacAddr = 0x15010;
// Crosses from one sector into the next.
constexpr uint32_t kNameAddr = 0x16FFC;
const char kName[] = "tesk-dev";

class MacNameTest : public ChipFixture {
protected:
    void ask_for_mac() {
        job.m_mac_set = 1;
        const uint8_t mac[6] = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
        std::memcpy(job.m_mac, mac, 6);
        job.m_mac_addr = kMacAddr;
        job.m_mac_len = 6;
    }
    void ask_for_name() {
        job.m_dev_name_set = 1;
        std::strcpy(job.m_dev_name, kName);
        job.m_dev_name_addr = kNameAddr;
        job.m_dev_name_len = uint32_t(std::strlen(kName));
    }
    bool run() {
        JobRecord record = record_of_job();
        return chip.download_images(&job, &record, 1);
    }
    // Flash of the sectors around [address, address + n) with the patch
    // bytes taken out: it must equal the prefill.
    void expect_rest_of_sectors_kept(uint32_t address, size_t n, const Bytes& written) {
        const uint32_t first = address & ~0xFFFu;
        const uint32_t last = (address + uint32_t(n) + 0xFFF) & ~0xFFFu;
        Bytes want = prefill(first, last - first);
        std::copy(written.begin(), written.end(), want.begin() + (address - first));
        EXPECT_EQ(flash(first, last - first), want);
    }
};

class MacByteOrder : public MacNameTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MacByteOrder, MacReversedUnlessBigEndianNameAsText) {
    const bool big_endian = GetParam();
    start();
    ask_for_mac();
    ask_for_name();
    job.m_big_endian = big_endian ? 1 : 0;
    ASSERT_TRUE(run()) << console_text();

    const Bytes mac = big_endian ? Bytes{0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF} : Bytes{0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA};
    EXPECT_EQ(flash(kMacAddr, 6), mac);
    expect_rest_of_sectors_kept(kMacAddr, 6, mac);
    const Bytes name(kName, kName + std::strlen(kName));
    EXPECT_EQ(flash(kNameAddr, name.size()), name);
    expect_rest_of_sectors_kept(kNameAddr, name.size(), name);

    const std::string log = console_text();
    EXPECT_NE(log.find(big_endian ? "MAC Info : aa bb cc dd ee ff \n" : "MAC Info : ff ee dd cc bb aa \n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("MAC StartAddr : 0x00015010"), std::string::npos);
    EXPECT_NE(log.find("Write DeviceID -> pass"), std::string::npos);
    EXPECT_NE(log.find("DeviceName Info : tesk-dev"), std::string::npos);
    EXPECT_NE(log.find("Write DeviceName -> pass"), std::string::npos);
    // The placement runs at 115200, which stays the job's rate.
    EXPECT_EQ(job.m_baudrate, 115200);
}

INSTANTIATE_TEST_SUITE_P(BigEndian, MacByteOrder, ::testing::Bool());

struct PatchFault {
    const char* name;
    std::vector<uint32_t> drop_answers;
    std::vector<uint32_t> program_bit_errors;
};

class PatchFaults : public MacNameTest, public ::testing::WithParamInterface<PatchFault> {};

// The answers of a MAC-only download: baud command (1), sector read (2),
// erase (3), write (4), read back (5).
TEST_P(PatchFaults, PatchIsWrittenAgainAndKeepsTheSector) {
    sim::FaultConfig f;
    f.drop_answers = GetParam().drop_answers;
    f.program_bit_errors = GetParam().program_bit_errors;
    start(with_faults(f));
    ask_for_mac();
    ASSERT_TRUE(run()) << console_text();
    const Bytes mac{0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA};
    EXPECT_EQ(flash(kMacAddr, 6), mac);
    expect_rest_of_sectors_kept(kMacAddr, 6, mac);
}

INSTANTIATE_TEST_SUITE_P(Faults, PatchFaults,
                         ::testing::Values(PatchFault{"write_answer_lost", {4}, {}},
                                           PatchFault{"erase_answer_lost", {3}, {}},
                                           PatchFault{"read_back_lost", {5}, {}},
                                           PatchFault{"bit_error_on_program", {}, {1}}),
                         [](const ::testing::TestParamInfo<PatchFault>& info) { return std::string(info.param.name); });

TEST_F(MacNameTest, PatchWithoutAnOpenPortFailsBeforeErasing) {
    start();
    job.m_uart.Close();
    job.m_retry_count = 3;
    const uint8_t data[2] = {1, 2};
    EXPECT_EQ(CQN_WIFI_CHIPSET::write_flash_patch(&job, kMacAddr, data, 2), -1);
    EXPECT_EQ(CQN_WIFI_CHIPSET::write_flash_patch(nullptr, kMacAddr, data, 2), -10);
    EXPECT_EQ(count_commands("FlashErase"), 0u);
    EXPECT_EQ(flash(kMacAddr & ~0xFFFu, 0x1000), prefill(kMacAddr & ~0xFFFu, 0x1000));
}

TEST_F(MacNameTest, MacLongerThanSixBytesIsRefused) {
    start();
    ask_for_mac();
    job.m_mac_len = 7;
    EXPECT_FALSE(run());
    EXPECT_EQ(count_commands("FlashErase"), 0u);
}

}  // namespace
