// Downloads against a chip that misbehaves (tesk_sim's fault switches): the
// faults a download must get through end with a correct flash; the ones it
// cannot get through end as a failed run (exit code 0, the failure line, the
// warning banner, the reboot sequence) without touching flash outside the
// image.
#include "e2e_fixture.h"

namespace e2e {
namespace {

// 40000 bytes at 0x11000: ten sector writes, the last one partly filled,
// preceded by the erase planner's rewrite of the block the image ends in.
constexpr uint32_t kImageStart = 0x11000;
constexpr uint32_t kImageBytes = 40000;

struct Survivable {
    const char* name;
    std::vector<std::string> sim_args;
    bool reset_on_open;
    std::vector<std::string> loader_args;
    // Texts the run's output must hold (how it got through).
    std::vector<std::string> out;
    // A command the chip must have received at least twice (a repeated write, a second link check).
    const char* repeated_command;
};

void PrintTo(const Survivable& c, std::ostream* os) { *os << c.name; }

class FaultDownload : public E2eTest {
protected:
    void SetUp() override {
        E2eTest::SetUp();
        if (IsSkipped()) return;
        prefill();
        image = random_bytes(kImageBytes, 5);
        ASSERT_TRUE(write_file(dir / "app.bin", image));
        expected = before;
        Bytes written = image;
        written.resize(padded(kImageBytes), 0xFF);
        put(expected, kImageStart, written);
    }

    Bytes image;
    Bytes expected;
};

class Survives : public FaultDownload, public ::testing::WithParamInterface<Survivable> {};

TEST_P(Survives, FlashEndsCorrect) {
    const Survivable& c = GetParam();
    ASSERT_TRUE(start_chip(c.sim_args, c.reset_on_open));
    std::vector<std::string> args{"-i", "app.bin", "-s", "11000"};
    args.insert(args.end(), c.loader_args.begin(), c.loader_args.end());
    const ProgramResult run = loader("download", args);
    const Bytes flash = stop_chip();

    ASSERT_EQ(run.exit_code, 1) << describe(run);
    EXPECT_NE(run.out.find(kDone), std::string::npos);
    for (const std::string& text : c.out) EXPECT_NE(run.out.find(text), std::string::npos) << text << "\n" << describe(run);
    if (c.repeated_command) {
        size_t seen = 0;
        for (const std::string& line : commands()) seen += line.find(c.repeated_command) != std::string::npos;
        EXPECT_GE(seen, 2u) << c.repeated_command;
    }
    EXPECT_TRUE(same_bytes(flash, expected));
}

const Survivable kSurvivable[] = {
    // Eight bytes: the link check takes its eight answer bytes in one read
    // and only from the start of a read, so the noise before its answers
    // must fill whole reads; every other command skips noise of any length.
    {"NoiseBeforeEveryAnswer", {"--fault-noise", "8", "--seed", "11"}, true, {"-b", "2000000"}, {}, nullptr},
    {"DroppedAnswers", {"--fault-drop-answer", "5,9,14,20,26"}, true, {"-b", "2000000", "-g", "2"}, {}, nullptr},
    // The fourth program is the sector at 0x13000: the whole-image CRC
    // differs, the sectors are checked one by one and that one is written again.
    {"BitErrorInASector",
     {"--fault-program-bit-error", "4", "--seed", "3"},
     true,
     {"-b", "2000000"},
     {"CRC_Verify ->fail", "CheckCRC ->fail ,Address = 0x00013000", "CRC_Verify ->pass"},
     "FlashWrite4K 0x00013000"},
    // The first program is the erase planner's rewrite of the block the image
    // ends in, which its CRC check repeats.
    {"BitErrorInTheTailBlock",
     {"--fault-program-bit-error", "1", "--seed", "3"},
     true,
     {"-b", "2000000"},
     {"CRC_Verify ->pass"},
     "FlashWrite4K 0x0001A000"},
    // At 115200 the chip, silent after its 24th command (link checks are not
    // counted), falls silent at the sector write of 0x16000, hears the
    // reboot text of the reconnect and the download goes on where it stopped. The text
    // goes out after 200 unanswered link checks of 5 ms each; a loaded
    // machine stretches those, so the bus wait leaves room for several.
    {"SilentChipComesBack",
     {"--fault-silent-after", "24"},
     false,
     {"-b", "115200", "-g", "10", "--retrycnt", "3"},
     {"CRC_Verify ->pass"},
     "LinkCheck"},
};

INSTANTIATE_TEST_SUITE_P(E2e, Survives, ::testing::ValuesIn(kSurvivable),
                         [](const ::testing::TestParamInfo<Survivable>& info) { return info.param.name; });

// The reboot frames at the end of the traffic log: the run's closing sends
// three after the failure and three more after opening the port again.
size_t trailing_reboot_frames(const std::vector<std::string>& traffic) {
    size_t count = 0;
    for (auto it = traffic.rbegin(); it != traffic.rend(); ++it) {
        if (it->find("[OUT]    01 e0 fc 02 0e a5 ") == std::string::npos) break;
        ++count;
    }
    return count;
}

void expect_failed_run(const ProgramResult& run) {
    EXPECT_EQ(run.exit_code, 0) << describe(run);
    EXPECT_NE(run.out.find("Writing Flash Failed, code 0                \n"), std::string::npos) << describe(run);
    EXPECT_NE(run.out.find(kWarning), std::string::npos) << "warning banner";
    EXPECT_EQ(run.out.find(kDone), std::string::npos);
}

// Silent at 2000000 with no reset reaching it: the reconnect knocks at
// 115200 in vain and the run ends as a failure.
TEST_F(FaultDownload, SilentChipThatStaysSilentFailsTheRun) {
    ASSERT_TRUE(start_chip({"--fault-silent-after", "26"}, false));
    const ProgramResult run =
        loader("download", {"-i", "app.bin", "-s", "11000", "-b", "2000000", "-g", "1", "--retrycnt", "3", "-d", "999"});
    const Bytes flash = stop_chip();

    expect_failed_run(run);
    EXPECT_GE(trailing_reboot_frames(read_lines(dir / "Debug_tesk_loader_COM0_.log")), 6u);
    // Part of the image may be written; nothing outside it changed.
    Bytes outside = flash;
    put(outside, kImageStart, Bytes(padded(kImageBytes), 0));
    Bytes want = before;
    put(want, kImageStart, Bytes(padded(kImageBytes), 0));
    EXPECT_TRUE(same_bytes(outside, want));
}

// Block protection that cannot be cleared: every erase is refused, the run
// fails cleanly and the flash is untouched.
TEST_F(FaultDownload, StuckProtectionFailsCleanly) {
    ASSERT_TRUE(start_chip({"--fault-stuck-protect"}));
    const ProgramResult run =
        loader("download", {"-i", "app.bin", "-s", "11000", "-b", "2000000", "-g", "2", "--retrycnt", "3", "-d", "999"});
    const Bytes flash = stop_chip();

    expect_failed_run(run);
    EXPECT_NE(run.out.find("ERR_CODE_EraseFlash"), std::string::npos);
    EXPECT_TRUE(same_bytes(flash, before));
    EXPECT_GE(trailing_reboot_frames(read_lines(dir / "Debug_tesk_loader_COM0_.log")), 6u);

    // The chip heard the reboot command once per session it was in the boot
    // ROM for: after the failure, and again after each reopening of the port.
    const std::vector<std::string> received = commands();
    size_t last_flash = 0;
    for (size_t i = 0; i < received.size(); ++i)
        if (received[i].find("Flash") != std::string::npos) last_flash = i;
    size_t reboots = 0;
    for (size_t i = last_flash + 1; i < received.size(); ++i) {
        if (received[i].find("RebootCommand") != std::string::npos)
            ++reboots;
        else
            ADD_FAILURE() << "after the failure: " << received[i];
    }
    EXPECT_GE(reboots, 2u);
}

}  // namespace
}  // namespace e2e
