// End-to-end runs: the built tesk_loader against a tesk_sim process over a
// pseudo-terminal, each test in a directory of its own with a chip of its
// own. The chip's flash starts from random bytes written into its state
// directory; after the run the simulator is stopped (which saves the flash)
// and the flash file is compared with what the run should have left.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "program_run.h"
#include "sim_process.h"

namespace e2e {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// The default chip carries a GD25Q16B.
constexpr uint32_t kFlashSize = 0x200000;

Bytes random_bytes(size_t length, uint32_t seed);
Bytes read_file(const fs::path& path);
bool write_file(const fs::path& path, const Bytes& bytes);
std::string read_text(const fs::path& path);
std::vector<std::string> read_lines(const fs::path& path);
// Puts bytes into an image at address.
void put(Bytes& flash, uint32_t address, const Bytes& bytes);
void fill(Bytes& flash, uint32_t address, uint32_t length, uint8_t value);
// Length of an image as the loader pads it (a multiple of 256).
uint32_t padded(uint32_t length);
// Equal byte for byte; otherwise says where the differences are.
::testing::AssertionResult same_bytes(const Bytes& actual, const Bytes& expected);
// How often `needle` occurs in `text`.
size_t count_of(const std::string& text, const std::string& needle);
// The run's output, for failure messages (capped).
std::string describe(const ProgramResult& result);

// The banners the run ends with.
extern const char kDone[];
extern const char kWarning[];

class E2eTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes random flash contents into the chip's state directory (before
    // start_chip) and remembers them as `before`.
    void prefill();
    // Starts tesk_sim on this test's state and command log; with
    // reset_on_open every host that opens the line finds the boot ROM.
    ::testing::AssertionResult start_chip(const std::vector<std::string>& extra = {}, bool reset_on_open = true);
    // Stops the simulator (it saves its state) and returns the flash.
    Bytes stop_chip();

    // Runs tesk_loader `sub` with -p 0, --device, -o dir and `args`, in dir.
    ProgramResult loader(const std::string& sub, const std::vector<std::string>& args, RunOptions options = {});
    // Runs it with exactly `args`, in dir unless options say otherwise.
    ProgramResult loader_raw(const std::vector<std::string>& args, RunOptions options = {});
    // A copy of tesk_loader in dir/bin, for runs whose files go beside the program.
    std::string program_copy();
    // The commands the chip received, one line each.
    std::vector<std::string> commands() const { return read_lines(dir / "commands.log"); }

    fs::path dir;
    std::string tty;
    std::string program = TESK_LOADER_PATH;
    Bytes before;
    SimProcess sim;
};

}  // namespace e2e
