// The self-check of the chip families: every family passes it, and a family
// whose steps are out of order, or do not fit its chip-table row, is caught.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "chips/chip_families.h"
#include "chips/chip_family.h"
#include "job/chip_table.h"

namespace {

using S = ChipStep;

TEST(ChipFamilies, EveryFamilyPassesTheSelfCheck) {
    for (const ChipFamily* family : chip_families()) {
        const ChipRow* row = chip_row_for_kind(family->kind);
        ASSERT_NE(row, nullptr) << family->name;
        EXPECT_EQ(check_family(*family, *row), "") << family->name;
    }
}

// A family built from editable lists, to break one thing at a time. It starts
// as a sound 5820 download.
struct Lists {
    std::vector<ChipStep> download{S::nothing_to_do, S::check_inputs, S::efuse_guarded, S::th25q,
                                   S::flash_model,   S::image_size,   S::unprotect,     S::images,
                                   S::efuse_params,  S::user_operate, S::protect,       S::repair};
    std::vector<ChipStep> read{S::require_images, S::read_images};
    std::vector<ChipStep> erase{S::require_images, S::flash_id_once, S::unprotect, S::erase_entries};
    uint8_t kind = CHIP_KIND_5820;
    const char* name = "CQN_WIFI_5820";
    int verify_mode = 0;

    std::string check() const {
        const ChipFamily f{name, kind, download, read, erase, verify_mode, Closing::standard, false, 0};
        return check_family(f, *chip_row_for_kind(kind));
    }
};

void erase_step(std::vector<ChipStep>& steps, ChipStep s) { std::erase(steps, s); }
void move_before(std::vector<ChipStep>& steps, ChipStep s, ChipStep before) {
    erase_step(steps, s);
    steps.insert(std::find(steps.begin(), steps.end(), before), s);
}

TEST(ChipFamilies, SelfCheckAcceptsTheSound5820) { EXPECT_EQ(Lists{}.check(), ""); }

TEST(ChipFamilies, SelfCheckFindsBrokenFamilies) {
    struct Break {
        const char* what;
        std::function<void(Lists&)> apply;
        const char* expected;
    };
    const Break breaks[] = {
        {"protection on before the images", [](Lists& l) { move_before(l.download, S::protect, S::images); },
         "goes on before"},
        {"protection on before the engine", [](Lists& l) { move_before(l.download, S::protect, S::user_operate); },
         "goes on before user_operate"},
        {"protection off after the images", [](Lists& l) { move_before(l.download, S::unprotect, S::efuse_params); },
         "comes off after images"},
        {"protection never back on", [](Lists& l) { erase_step(l.download, S::protect); }, "never goes on again"},
        {"protection on in an erase", [](Lists& l) { l.erase.push_back(S::protect); }, "not restored"},
        {"a step twice", [](Lists& l) { l.download.push_back(S::image_size); }, "image_size runs twice"},
        {"read without its flow", [](Lists& l) { l.read = {S::require_images}; }, "no read_images"},
        {"erase not ending with its loop", [](Lists& l) { l.erase.push_back(S::flash_model); }, "must end with"},
        {"download without images", [](Lists& l) { erase_step(l.download, S::images); }, "no images"},
        {"size before model", [](Lists& l) { move_before(l.download, S::image_size, S::th25q); },
         "image_size before flash_model"},
        {"inputs checked after the eFuse burn",
         [](Lists& l) { move_before(l.download, S::check_inputs, S::th25q); }, "check_inputs after efuse_guarded"},
        {"no input check", [](Lists& l) { erase_step(l.download, S::check_inputs); }, "without check_inputs"},
        {"parameters after the engine", [](Lists& l) { move_before(l.download, S::efuse_params, S::repair); },
         "efuse_params after user_operate"},
        {"parameters missing", [](Lists& l) { erase_step(l.download, S::efuse_params); },
         "match the row's parameters"},
        {"two eFuse forms", [](Lists& l) { l.download.insert(l.download.begin() + 3, S::efuse_burn); },
         "two forms"},
        {"engine on the 5810", [](Lists& l) { l.kind = CHIP_KIND_5810, l.name = "CQN_WIFI_5810"; },
         "without an eFuse register set"},
        {"engine never run", [](Lists& l) { erase_step(l.download, S::user_operate); }, "never runs"},
        {"erase unprotects before the flash id", [](Lists& l) { l.erase = {S::require_images, S::unprotect,
                                                                            S::flash_id_once, S::erase_entries}; },
         "unprotect before the flash id"},
        {"repair before protection", [](Lists& l) { move_before(l.download, S::repair, S::protect); },
         "repair before protect"},
        {"another family's row", [](Lists& l) { l.name = "CQN_WIFI_5830"; }, "another family"},
        {"a bad verify mode", [](Lists& l) { l.verify_mode = 2; }, "verify_mode"},
        {"restartable images without a writer stage",
         [](Lists& l) { std::replace(l.download.begin(), l.download.end(), S::images, S::images_or_restart); },
         "without a secure_writer step"},
        {"a writer stage that never ends the download",
         [](Lists& l) { l.download.insert(l.download.begin() + 2, S::secure_writer); }, "ends at writer_done"},
        {"key writer before the input check",
         [](Lists& l) { l.download.insert(l.download.begin() + 1, S::otp_keys); }, "check_inputs after otp_keys"},
        {"layout rules without the register", [](Lists& l) { l.download.insert(l.download.begin() + 1, S::layout_rules); },
         "without layout_register"},
    };
    for (const Break& b : breaks) {
        SCOPED_TRACE(b.what);
        Lists lists;
        b.apply(lists);
        const std::string problem = lists.check();
        EXPECT_NE(problem.find(b.expected), std::string::npos) << problem;
    }
}

}  // namespace
