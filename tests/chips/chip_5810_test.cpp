// The 5810 chip object as the run operations use it: chosen by the link,
// download, read and erase each ending with the port closed; and the job
// records its operations start from.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "chip_fixture.h"
#include "job/current_chip.h"

namespace {

namespace fs = std::filesystem;

void write_file(const fs::path& p, const Bytes& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes read_file_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class Chip5810Test : public ChipFixture {
protected:
    void TearDown() override {
        reset_current_chip();
        ChipFixture::TearDown();
    }
    // Opens the port and gets the bus as a run operation does; the chip object it selected.
    CQN_WIFI_CHIPSET* link_up() {
        if (job.Connect(0) != 1) return nullptr;
        if (job.GetBus(nullptr, 0) == 0) return nullptr;
        return dynamic_cast<CQN_WIFI_CHIPSET*>(current_chip());
    }
    void add_file(const fs::path& p, uint32_t start) {
        ImageEntry e;
        e.start = start;
        ASSERT_EQ(job.add_image(p.string(), int(job.m_images.size()), e), 1);
    }
};

TEST_F(Chip5810Test, DownloadReadAndEraseThroughTheSelectedChip) {
    start();
    job.m_uart.Close();
    job.m_baudrate = 921600;
    const Bytes image = random_bytes(0x2345, 21);
    const fs::path file = temp_dir() / "app.bin";
    write_file(file, image);
    add_file(file, 0x11000);
    job.m_image_spec_set = 1;

    CQN_WIFI_CHIPSET* chip5810 = link_up();
    ASSERT_NE(chip5810, nullptr) << console_text();
    ASSERT_NE(dynamic_cast<CQN_WIFI_5810*>(chip5810), nullptr);
    EXPECT_EQ(chip5810->retry_limit, job.m_retry_count);
    ASSERT_TRUE(chip5810->download()) << console_text();
    EXPECT_FALSE(job.m_uart.is_open());
    EXPECT_EQ(sim->mode(), sim::ChipMode::Firmware);
    Bytes padded = image;
    padded.resize(0x2400, 0xFF);
    EXPECT_EQ(flash(0x11000, padded.size()), padded);
    EXPECT_EQ(flash(0x11000 + 0x2400, 0x1000), prefill(0x11000 + 0x2400, 0x1000));

    // Read the range back into a file of our naming.
    job.m_images.clear();
    ImageEntry range;
    range.path = (temp_dir() / "back.bin").string();
    range.start = 0x11000;
    range.length = 0x2400;
    job.m_images.push_back(range);
    job.m_force_create = 1;
    ASSERT_NE(chip5810 = link_up(), nullptr);
    ASSERT_TRUE(chip5810->read()) << console_text();
    EXPECT_NE(console_text().find("ReadFlash ->pass"), std::string::npos);
    EXPECT_EQ(read_file_bytes(range.path), padded);
    EXPECT_FALSE(job.m_uart.is_open());

    // And erase it.
    ASSERT_NE(chip5810 = link_up(), nullptr);
    ASSERT_TRUE(chip5810->erase()) << console_text();
    EXPECT_EQ(flash(0x11000, 0x2400), Bytes(0x2400, 0xFF));
    EXPECT_EQ(flash(0x10000, 0x1000), prefill(0x10000, 0x1000));
    EXPECT_FALSE(job.m_uart.is_open());
}

TEST_F(Chip5810Test, NothingToDoFailsAndStillCloses) {
    start();
    job.m_uart.Close();
    CQN_WIFI_CHIPSET* chip5810 = link_up();
    ASSERT_NE(chip5810, nullptr);
    EXPECT_FALSE(chip5810->download());
    EXPECT_FALSE(job.m_uart.is_open());
    ASSERT_NE(chip5810 = link_up(), nullptr);
    EXPECT_FALSE(chip5810->read());
    ASSERT_NE(chip5810 = link_up(), nullptr);
    EXPECT_FALSE(chip5810->erase());
    EXPECT_FALSE(job.m_uart.is_open());
    EXPECT_EQ(count_commands("FlashWrite4K") + count_commands("FlashRead4K") + count_commands("FlashErase"), 0u);
}

// ---- job records -------------------------------------------------------------------------

class DownloadRecord : public Chip5810Test {};

TEST_F(DownloadRecord, PlainFileNamedTwiceIsWrittenTwice) {
    const fs::path file = temp_dir() / "a.bin";
    write_file(file, random_bytes(0x300, 1));
    add_file(file, 0x11000);
    add_file(file, 0x21000);
    // A path that is part of the previous one is an image of its own.
    const fs::path other = temp_dir() / "a.b";
    write_file(other, random_bytes(0x100, 2));
    add_file(other, 0x31000);
    JobRecord record;
    ASSERT_TRUE(CQN_WIFI_CHIPSET::build_download_record(&job, &record));
    ASSERT_EQ(record.images.size(), 3u);
    EXPECT_EQ(record.images[0].start, 0x11000u);
    EXPECT_EQ(record.images[1].start, 0x21000u);
    EXPECT_EQ(record.images[2].start, 0x31000u);
    EXPECT_EQ(job.m_slots[2].at(0), read_file_bytes(other)[0]);
}

TEST_F(DownloadRecord, PackagedFileIsLoadedOnce) {
    // Header: magic, count 2 at offset 18; records of 32 bytes: length at 0, address at 8 (big-endian).
    Bytes pkg(0x2080, 0x00);
    const char magic[] = "quarn...";
    std::copy(magic, magic + 8, pkg.begin());
    pkg[19] = 2;
    auto be32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) pkg[at + i] = uint8_t(v >> (24 - 8 * i));
    };
    be32(32, 0x100);
    be32(40, 0x1000);
    be32(64, 0x80);
    be32(72, 0x2000);
    const Bytes first = random_bytes(0x100, 3), second = random_bytes(0x80, 4);
    std::copy(first.begin(), first.end(), pkg.begin() + 0x1000);
    std::copy(second.begin(), second.end(), pkg.begin() + 0x2000);
    const fs::path file = temp_dir() / "pack.bin";
    write_file(file, pkg);
    add_file(file, 0);
    ASSERT_EQ(job.m_images.size(), 2u);
    job.m_images[1].selected = false;

    JobRecord record;
    ASSERT_TRUE(CQN_WIFI_CHIPSET::build_download_record(&job, &record));
    ASSERT_EQ(record.images.size(), 2u);
    EXPECT_EQ(record.images[0].start, 0x1000u);
    EXPECT_EQ(record.images[1].start, 0x2000u);
    EXPECT_TRUE(record.images[0].selected);
    EXPECT_FALSE(record.images[1].selected);
    EXPECT_EQ(job.m_slots[1].at(0), second[0]);
}

TEST_F(DownloadRecord, FileGoneSinceTheStartFailsTheRecord) {
    const fs::path file = temp_dir() / "gone.bin";
    write_file(file, random_bytes(0x100, 1));
    add_file(file, 0x11000);
    fs::remove(file);
    JobRecord record;
    EXPECT_FALSE(CQN_WIFI_CHIPSET::build_download_record(&job, &record));
    EXPECT_NE(console_text().find(file.string()), std::string::npos);
}

}  // namespace
