// Loading plain and packaged images into the job's slots and image list.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "job/download.h"
#include "job_test_support.h"
#include "support/util.h"

namespace {

constexpr uint32_t kSlotBytes = 0x1000000;

void put_be32(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v >> 24);
    b[at + 1] = uint8_t(v >> 16);
    b[at + 2] = uint8_t(v >> 8);
    b[at + 3] = uint8_t(v);
}

struct Record {
    uint32_t length;
    uint32_t address;  // also the offset of the data in the file
};

// A packaged file: magic, record count at 18, records from 32; the data of
// each record is a pattern at its address. `file_size` 0 makes the file just
// long enough for the data.
Bytes package(const std::vector<Record>& records, uint16_t count, size_t file_size = 0) {
    size_t size = 32 + 32 * size_t(count);
    for (const Record& r : records) size = std::max<size_t>(size, size_t(r.address) + r.length);
    if (file_size) size = file_size;
    Bytes b(size, 0);
    std::memcpy(b.data(), "quarn...", 8);
    b[18] = uint8_t(count >> 8);
    b[19] = uint8_t(count);
    for (size_t k = 0; k < records.size(); ++k) {
        const size_t at = 32 + 32 * k;
        if (at + 32 > b.size()) break;
        put_be32(b, at, records[k].length);
        put_be32(b, at + 8, records[k].address);
        if (records[k].address >= b.size()) continue;
        const size_t room = std::min<size_t>(records[k].length, b.size() - records[k].address);
        Bytes data = pattern_bytes(room, uint8_t(k + 1));
        std::copy(data.begin(), data.end(), b.begin() + records[k].address);
    }
    return b;
}

Bytes slot_bytes(const Download& job, int slot, size_t length) {
    Bytes out(length);
    job.m_slots[slot].read(0, out.data(), length);
    return out;
}

class AddImage : public ::testing::Test {
protected:
    ScratchDir dir;
    Download job;
};

TEST_F(AddImage, PlainImageIsPaddedWithFFInsideTheCrc) {
    const Bytes data = pattern_bytes(1000);
    const std::string path = dir.write("app.bin", data);
    ImageEntry entry;
    entry.start = 0x11000;
    ASSERT_EQ(job.add_image(path, 0, entry, 0, 0), 1);

    ASSERT_EQ(job.m_images.size(), 1u);
    const ImageEntry& stored = job.m_images[0];
    EXPECT_EQ(stored.length, 1024);
    EXPECT_EQ(stored.start, 0x11000u);
    EXPECT_EQ(stored.path, path);
    EXPECT_EQ(entry.length, 1024);  // the caller's entry is completed too

    Bytes expected = data;
    expected.resize(1024, 0xFF);
    EXPECT_EQ(slot_bytes(job, 0, 1024), expected);
    EXPECT_EQ(stored.crc, crc32(expected.data(), expected.size()));
    // Beyond the image the slot reads as erased flash.
    EXPECT_EQ(job.m_slots[0].at(5000), 0xFF);
}

TEST_F(AddImage, GivenLengthIsRoundedAndLongerThanTheFileReadsFF) {
    const Bytes data = pattern_bytes(300);
    const std::string path = dir.write("app.bin", data);
    ImageEntry entry;
    entry.length = 0x500;
    ASSERT_EQ(job.add_image(path, 0, entry), 1);
    EXPECT_EQ(job.m_images[0].length, 0x500);
    Bytes expected = data;
    expected.resize(0x500, 0xFF);
    EXPECT_EQ(job.m_images[0].crc, crc32(expected.data(), expected.size()));
}

TEST_F(AddImage, GivenLengthShorterThanTheFilePadsWithFFNotWithTheFile) {
    const Bytes data = pattern_bytes(0x900);
    const std::string path = dir.write("app.bin", data);
    ImageEntry entry;
    entry.length = 0x680;
    ASSERT_EQ(job.add_image(path, 0, entry), 1);
    EXPECT_EQ(job.m_images[0].length, 0x700);
    Bytes expected(data.begin(), data.begin() + 0x680);
    expected.resize(0x700, 0xFF);
    EXPECT_EQ(slot_bytes(job, 0, 0x700), expected);
    EXPECT_EQ(job.m_images[0].crc, crc32(expected.data(), expected.size()));

    // Loaded again (as a download does) from its own entry: the same bytes.
    ImageEntry again = job.m_images[0];
    job.m_images.clear();
    ASSERT_EQ(job.add_image(path, 0, again), 1);
    EXPECT_EQ(job.m_images[0].length, 0x700);
    EXPECT_EQ(slot_bytes(job, 0, 0x700), expected);
}

TEST_F(AddImage, SixteenMegabytesFitOneByteMoreIsRefused) {
    const std::string fits = dir.write_sparse("fits.bin", kSlotBytes);
    const std::string too_big = dir.write_sparse("big.bin", kSlotBytes + 1);

    ConsoleCapture console;
    ImageEntry entry;
    ASSERT_EQ(job.add_image(fits, 0, entry), 1);
    EXPECT_EQ(job.m_images[0].length, int32_t(kSlotBytes));
    Bytes zeros(kSlotBytes, 0);
    EXPECT_EQ(job.m_images[0].crc, crc32(zeros.data(), zeros.size()));

    ImageEntry second;
    EXPECT_EQ(job.add_image(too_big, 1, second), 0);
    EXPECT_EQ(job.m_images.size(), 1u);
    EXPECT_NE(console.text().find("max size of a valid bin is : 16 M, but the current bin size is : 16.0 M\n"),
              std::string::npos)
        << console.text();
}

TEST_F(AddImage, PackagedFileFillsOneSlotPerRecord) {
    const std::vector<Record> records = {{0x2F0, 0x1000}, {0x155, 0x3000}};
    const Bytes file = package(records, 2);
    const std::string path = dir.write("all.bin", file);
    ImageEntry entry;
    ASSERT_EQ(job.add_image(path, 0, entry), 1);

    ASSERT_EQ(job.m_images.size(), 2u);
    const uint32_t padded[2] = {0x300, 0x200};
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        const ImageEntry& e = job.m_images[size_t(k)];
        EXPECT_EQ(e.start, records[size_t(k)].address);
        EXPECT_EQ(uint32_t(e.length), padded[k]);
        EXPECT_EQ(e.path, path);
        Bytes expected(file.begin() + records[size_t(k)].address,
                       file.begin() + records[size_t(k)].address + records[size_t(k)].length);
        expected.resize(padded[k], 0xFF);
        EXPECT_EQ(slot_bytes(job, k, padded[k]), expected);
        EXPECT_EQ(e.crc, crc32(expected.data(), expected.size()));
    }
}

// The image list passes each item's list position: a packaged file of two
// records followed by another image must not put that image into the slot of
// the second record, nor leave its own entry pointing at an empty slot.
TEST_F(AddImage, ImageAfterAPackagedFileGetsTheNextSlot) {
    const Bytes file = package({{0x100, 0x1000}, {0x100, 0x2000}}, 2);
    const std::string packaged = dir.write("all.bin", file);
    const Bytes plain = pattern_bytes(0x100, 9);
    const std::string single = dir.write("one.bin", plain);

    ImageEntry first;
    ASSERT_EQ(job.add_image(packaged, 0, first), 1);
    ImageEntry second;
    second.start = 0x8000;
    ASSERT_EQ(job.add_image(single, 1, second), 1);

    ASSERT_EQ(job.m_images.size(), 3u);
    EXPECT_EQ(job.m_images[2].start, 0x8000u);
    EXPECT_EQ(slot_bytes(job, 2, 0x100), plain);
    EXPECT_EQ(slot_bytes(job, 1, 0x100), Bytes(file.begin() + 0x2000, file.begin() + 0x2100));
}

TEST_F(AddImage, ReplaceKeepsTheListPosition) {
    const std::string a = dir.write("a.bin", pattern_bytes(0x100, 1));
    const std::string b = dir.write("b.bin", pattern_bytes(0x100, 2));
    const Bytes c_data = pattern_bytes(0x80, 3);
    const std::string c = dir.write("c.bin", c_data);
    ImageEntry ea, eb;
    ASSERT_EQ(job.add_image(a, 0, ea), 1);
    ASSERT_EQ(job.add_image(b, 1, eb), 1);

    ImageEntry reload = job.m_images[0];
    reload.length = 0;
    ASSERT_EQ(job.add_image(c, 0, reload, 1, 0), 1);
    ASSERT_EQ(job.m_images.size(), 2u);
    EXPECT_EQ(job.m_images[0].path, c);
    EXPECT_EQ(job.m_images[1].path, b);
    Bytes expected = c_data;
    expected.resize(0x100, 0xFF);
    EXPECT_EQ(slot_bytes(job, 0, 0x100), expected);

    // append 1 appends even when replacing was asked for.
    ImageEntry again;
    ASSERT_EQ(job.add_image(a, 0, again, 1, 1), 1);
    EXPECT_EQ(job.m_images.size(), 3u);
}

struct Refusal {
    const char* name;
    Bytes file;
    int index;
    const char* reason;
};

class AddImageRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(AddImageRefusal, SaysWhyNamesTheFileAndChangesNothing) {
    const Refusal& c = GetParam();
    ScratchDir dir;
    Download job;
    const Bytes kept = pattern_bytes(0x100, 5);
    ImageEntry first;
    ASSERT_EQ(job.add_image(dir.write("kept.bin", kept), 0, first), 1);

    const std::string path = dir.write("refused.bin", c.file);
    ConsoleCapture console;
    ImageEntry entry;
    EXPECT_EQ(job.add_image(path, c.index, entry), 0);
    const std::string text = console.text();
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    ASSERT_EQ(job.m_images.size(), 1u);
    EXPECT_EQ(slot_bytes(job, 0, 0x100), kept);
    EXPECT_EQ(job.m_slots[1].size(), 0u);
}

std::vector<Record> zero_records(int n) { return std::vector<Record>(size_t(n), Record{0, 0}); }

INSTANTIATE_TEST_SUITE_P(
    Cases, AddImageRefusal,
    ::testing::Values(
        Refusal{"SeventeenRecords", package(zero_records(17), 17), 0, "need more than the 16 slots"},
        // One slot is taken already: sixteen records do not fit either.
        Refusal{"SixteenRecordsAfterOneImage", package(zero_records(16), 16), 1, "need more than the 16 slots"},
        Refusal{"RecordOverSixteenMegabytes", package({{kSlotBytes + 1, 0x1000}}, 1, 0x1100), 0,
                "more than the 16 M of an image slot"},
        Refusal{"RecordBeyondTheEnd", package({{0x100, 0x1000}}, 1, 0x1080), 0,
                "reaches beyond the end of the file"},
        Refusal{"TableBeyondTheEnd", package({}, 4, 64), 0, "reaches beyond the end of the file"},
        Refusal{"IndexSixteen", pattern_bytes(10), 16, "outside 0..15"},
        Refusal{"IndexNegative", pattern_bytes(10), -1, "outside 0..15"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST_F(AddImage, MissingFileIsRefusedQuietly) {
    ConsoleCapture console;
    ImageEntry entry;
    EXPECT_EQ(job.add_image(dir.file("none.bin"), 0, entry), 0);
    EXPECT_TRUE(job.m_images.empty());
    EXPECT_EQ(console.text(), "");
}

TEST_F(AddImage, ShortFileWithoutMagicIsPlain) {
    const Bytes data = {'q', 'u', 'a'};
    ImageEntry entry;
    ASSERT_EQ(job.add_image(dir.write("tiny.bin", data), 0, entry), 1);
    EXPECT_EQ(job.m_images[0].length, 0x100);
}

}  // namespace
