#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/arg_formats.h"
#include "temp_dir.h"

namespace {

struct Call {
    std::string path;
    int index;
    ImageEntry entry;
};

// Stands in for the job: records what it is handed and accepts it unless
// told to refuse at some position.
class ImageListTest : public ::testing::Test {
protected:
    int run(const std::string& text) {
        AddImageFn add = [this](const std::string& path, int index, ImageEntry& entry) {
            calls_.push_back({path, index, entry});
            return index == refuse_at_ ? 0 : 1;
        };
        testing::internal::CaptureStdout();
        int code = parse_image_list(text, add);
        out_ = testing::internal::GetCapturedStdout();
        return code;
    }

    void expect_call(size_t i, const std::string& path, uint32_t start, int32_t length) {
        ASSERT_LT(i, calls_.size());
        SCOPED_TRACE(i);
        EXPECT_EQ(calls_[i].path, path);
        EXPECT_EQ(calls_[i].index, static_cast<int>(i));
        EXPECT_TRUE(calls_[i].entry.selected);
        EXPECT_EQ(calls_[i].entry.start, start);
        EXPECT_EQ(calls_[i].entry.length, length);
    }

    TempDir tmp_;
    std::vector<Call> calls_;
    std::string out_;
    int refuse_at_ = -1;
};

TEST_F(ImageListTest, EachImageAtItsAddressWithItsFullSize) {
    std::string boot = tmp_.write("bootloader.bin", 0x1234);
    std::string bsp = tmp_.write("bsp.bin", 0x800);
    EXPECT_EQ(run(boot + "@0," + bsp + "@11000"), 1);
    EXPECT_EQ(out_, "");
    ASSERT_EQ(calls_.size(), 2u);
    expect_call(0, boot, 0, 0x1234);
    expect_call(1, bsp, 0x11000, 0x800);
}

TEST_F(ImageListTest, LengthTakesThePrefixOfTheFile) {
    std::string app = tmp_.write("app.bin", 0x3000);
    EXPECT_EQ(run(app + "@0x11000-2000"), 1);
    EXPECT_EQ(out_, "");
    expect_call(0, app, 0x11000, 0x2000);
}

TEST_F(ImageListTest, LengthBeyondTheFileIsCutToIt) {
    std::string app = tmp_.write("app.bin", 0x1000);
    EXPECT_EQ(run(app + "@11000-2000"), 1);
    EXPECT_EQ(out_, "iRealLength is 4096,but input file length is 8192");
    expect_call(0, app, 0x11000, 0x1000);
}

TEST_F(ImageListTest, HugeLengthIsCutToTheFileNotNegative) {
    std::string app = tmp_.write("app.bin", 0x100);
    EXPECT_EQ(run(app + "@0-ffffffff"), 1);
    expect_call(0, app, 0, 0x100);
}

TEST_F(ImageListTest, DashOnlyInTheFileName) {
    std::string fw = tmp_.write("fw-2.bin", 0x500);
    EXPECT_EQ(run(fw + "@0"), 1);
    expect_call(0, fw, 0, 0x500);
}

TEST_F(ImageListTest, UpperCaseExtension) {
    std::string fw = tmp_.write("FW.BIN", 0x40);
    EXPECT_EQ(run(fw + "@0X2000-20"), 1);
    expect_call(0, fw, 0x2000, 0x20);
}

TEST_F(ImageListTest, SpacesAroundItemsAndNumbersAreIgnored) {
    std::string a = tmp_.write("a.bin", 0x100);
    std::string b = tmp_.write("b.bin", 0x300);
    EXPECT_EQ(run(a + "@0, " + b + "@ 20000 - 200 "), 1);
    EXPECT_EQ(out_, "");
    ASSERT_EQ(calls_.size(), 2u);
    expect_call(0, a, 0, 0x100);
    expect_call(1, b, 0x20000, 0x200);
}

TEST_F(ImageListTest, EmptyListIsAFormatError) {
    EXPECT_EQ(run(""), -16);
    EXPECT_EQ(out_, "the format of bin file is invalid : \n");
    EXPECT_TRUE(calls_.empty());
}

TEST_F(ImageListTest, ItemWithoutBinAtIsAFormatError) {
    std::string a = tmp_.write("a.bin", 0x100);
    EXPECT_EQ(run(a + "@0,image.hex@1000"), -16);
    EXPECT_EQ(out_, "the format of bin file is invalid :image.hex@1000 \n");
    // The image before the bad item stays with the job.
    ASSERT_EQ(calls_.size(), 1u);
    expect_call(0, a, 0, 0x100);
}

TEST_F(ImageListTest, MissingFile) {
    std::string a = tmp_.write("a.bin", 0x100);
    std::string missing = tmp_.file("missing.bin");
    EXPECT_EQ(run(a + "@0," + missing + "@1000-2000"), -14);
    // Only the missing file is reported, not a length mismatch first.
    EXPECT_EQ(out_, "the bin file isn`t exist :" + missing + " \n");
    EXPECT_EQ(calls_.size(), 1u);
}

TEST_F(ImageListTest, RefusedImage) {
    std::string a = tmp_.write("a.bin", 0x100);
    std::string b = tmp_.write("b.bin", 0x100);
    refuse_at_ = 1;
    EXPECT_EQ(run(a + "@0," + b + "@1000," + a + "@2000"), -16);
    EXPECT_EQ(out_, "the size of bin file is invalid :" + b + " \n");
    EXPECT_EQ(calls_.size(), 2u);
}

}  // namespace
