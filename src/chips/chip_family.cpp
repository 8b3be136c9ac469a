// The steps the chip families are made of, each written once, and the
// runner that walks a family's list of them.

#include "chips/chip_family.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "chips/chip_steps.h"
#include "chips/chipset.h"
#include "chips/public_key_5870.h"
#include "chips/secure_boot_keys.h"
#include "chips/secure_writer.h"
#include "flash/flash_models.h"
#include "flash/flash_protect.h"
#include "job/chip_table.h"
#include "job/download.h"
#include "job/job_record.h"
#include "protocol/boot_intf.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint32_t kFlashIdTh25q16hb = 0x1560EB;

// The 5870's layout register and the address rules of a restricted part.
constexpr uint32_t kLayoutReg = 0x802740;
constexpr uint32_t kUnrestrictedLayout = 0x1E00;
constexpr uint32_t kRestrictedStart = 0x11000;
constexpr uint32_t kRfRegion = 0x709000;
constexpr uint32_t kLargestRestrictedImage = 0x7EF000;

// The 5850's attempt: a failed image download starts it over while fewer
// than this many restarts were made; the writer's own restart requests are
// bounded the same way (a writer that asks on every attempt would loop).
constexpr int kMaxRestarts = 10;
constexpr int kMaxWriterRestarts = 10;

struct StepContext {
    CQN_WIFI_CHIPSET& chip;
    Download* job;
    const ChipFamily& family;
    const ChipRow& row;
    JobRecord record;
    // The 5870's address rules are on (its layout register is not 0x1E00).
    bool layout_restricted = false;
    // The 5850's restarts of its attempt: after a failed upload or image
    // download, and on the writer's own request.
    int restarts = 0;
    int writer_restarts = 0;
};

// What a step tells the runner.
enum class Outcome {
    next,     // go on with the next step
    fail,     // the operation failed; closing sequence
    abort,    // the operation failed and the port is left as it is: no closing
    restart,  // start the attempt over at the restart step
    done,     // the operation succeeded here; closing sequence
};

bool secure_writer_mode(const StepContext& c) { return !c.job->m_sm_dl_file.empty(); }

bool document_enables_a_stage(const SecurityConfig& s) {
    return s.user_operate_enable == "true" || s.efuse_enable == "true" || s.security_ctrl_enable == "true" ||
           s.security_data_enable == "true";
}

bool has_step(std::span<const ChipStep> steps, ChipStep step) {
    return std::find(steps.begin(), steps.end(), step) != steps.end();
}

// ---- gates ------------------------------------------------------------------

bool step_require_images(StepContext& c) { return !c.record.images.empty(); }

bool step_nothing_to_do(StepContext& c) { return !nothing_to_do(c.record); }

// Whatever a later step would refuse is refused here, before the first step
// that writes: one-time bits must never be half burnt because of an input the
// tool could read first.
bool step_check_inputs(StepContext& c) {
    const auto& steps = c.family.download;
    if (c.row.engine != UserOperateEngine::None && document_enables_a_stage(c.record.security)) {
        job_log(LOG_ERROR, "The user-operate engine is not part of this build");
        return false;
    }
    const bool burns_efuse = has_step(steps, ChipStep::efuse_burn) || has_step(steps, ChipStep::efuse_guarded) ||
                             has_step(steps, ChipStep::efuse_secure_boot);
    if (burns_efuse && c.record.efuse_enable) {
        EfuseImage image{};
        if (!assemble_efuse_image(c.job, c.record, image)) return false;
    }
    if (has_step(steps, ChipStep::otp_keys) && c.record.otp_enable) {
        SecureBootKeys keys;
        const int r = collect_secure_boot_keys(*c.job, c.record.efuse_file, keys);
        if (r != 1) {
            job_log(LOG_INFO, "Write OTP Key Fail! iRet = %d \n", r);
            return false;
        }
    }
    return true;
}

// ---- flash checks -------------------------------------------------------------

bool model_known() {
    job_log(LOG_INFO, "ERR_CODE_NotSupportedFlash");
    return false;
}

bool step_flash_model(StepContext& c) { return find_flash_model(c.job->m_flash_mid) || model_known(); }

bool step_th25q(StepContext& c) {
    if (c.job->m_flash_mid != kFlashIdTh25q16hb) return true;
    job_log(LOG_DETAIL, "Current Flash is : FLASH_ID_TH25Q_16HB");
    job_log(LOG_ERROR, "TH25Q_16HB flash parts are not supported by this build");
    return false;
}

bool step_image_size(StepContext& c) { return check_image_sizes(c.job, c.record); }

bool step_flash_id_once(StepContext& c) {
    CBootIntf link(&c.job->m_uart);
    // Whatever the read returns, the id the job holds decides.
    (void)link.GetFlashMid(c.job->m_flash_mid);
    return step_flash_model(c);
}

bool step_flash_id_retrying(StepContext& c) {
    const float timeout =
        c.family.erase_getbus_timeout > 0 ? c.family.erase_getbus_timeout : c.job->m_getbus_timeout;
    return acquire_flash_id(c.chip, c.job, &c.record, timeout);
}

// ---- protection -----------------------------------------------------------------
// A secure writer owns the flash while it runs: the protection is left alone.

bool step_unprotect(StepContext& c) {
    if (secure_writer_mode(c)) return true;
    job_log(LOG_INFO, "Unprotecting Flash");
    if (FlashProtect(*c.job, c.job->m_flash_mid, 0, c.chip.flash_waits) < 1) {
        job_log(LOG_INFO, "Unprotected Flash fail");
        return false;
    }
    job_log(LOG_INFO, "Unprotected Flash ->pass");
    return true;
}

bool step_protect(StepContext& c) {
    if (secure_writer_mode(c)) return true;
    if (FlashProtect(*c.job, c.job->m_flash_mid, 1, c.chip.flash_waits) < 1) {
        job_log(LOG_INFO, "Enprotect fail");
        return false;
    }
    job_log(LOG_INFO, "Enprotect pass");
    return true;
}

// ---- images ---------------------------------------------------------------------

bool step_images(StepContext& c) { return c.chip.download_images(c.job, &c.record, c.family.verify_mode); }

// Gets the link back for a restart; abort when it cannot (the port is then
// left as it is).
Outcome relink_for_restart(StepContext& c) {
    if (c.job->SWDL_ConnectRetry(&c.record) == 0) {
        job_log(LOG_INFO, "SWDL_ConnectRetry fail!");
        return Outcome::abort;
    }
    return Outcome::restart;
}

Outcome step_images_or_restart(StepContext& c) {
    if (c.chip.download_images(c.job, &c.record, c.family.verify_mode)) return Outcome::next;
    if (c.restarts >= kMaxRestarts) return Outcome::fail;
    const Outcome o = relink_for_restart(c);
    if (o == Outcome::restart) ++c.restarts;
    return o;
}

// ---- eFuse ------------------------------------------------------------------------

bool burn_efuse_image(StepContext& c, const EfuseImage& image) {
    job_log(LOG_INFO, "Writing EFuse ....");
    const int r = efuse_burn(c.job, image, *c.row.efuse_set);
    if (r != 1) {
        job_log(LOG_INFO, "Writing EFuse, ret %d", r);
        return false;
    }
    job_log(LOG_INFO, "Write EFuse OK\n");
    return true;
}

bool step_efuse_burn(StepContext& c) {
    if (!c.record.efuse_enable) return true;
    EfuseImage image{};
    if (!assemble_efuse_image(c.job, c.record, image)) return false;
    // An all-zero image burns nothing, but the burn still powers the block up
    // and down.
    return burn_efuse_image(c, image);
}

bool step_efuse_guarded(StepContext& c) {
    if (!c.record.efuse_enable) return true;
    const bool from_file = !c.record.efuse_file.empty() && file_exists(c.record.efuse_file);
    if (!from_file && c.job->m_efuse_key.empty()) return true;
    EfuseImage image{};
    if (!assemble_efuse_image(c.job, c.record, image)) return false;
    return burn_efuse_image(c, image);
}

bool step_efuse_secure_boot(StepContext& c) {
    if (!c.record.efuse_enable) return true;
    job_log(LOG_INFO, "Writing EFuse ....");
    EfuseImage image{};
    if (!assemble_efuse_image(c.job, c.record, image)) return false;
    const int r = efuse_burn(c.job, image, *c.row.efuse_set);
    if (r != 1) {
        job_log(LOG_ERROR, "Write EFuse Fail! iRet = %d -> %s : %d\n", r, "CQN_WIFI_5850::do_Download_Start", 670);
        return false;
    }
    job_log(LOG_INFO, "Write EFuse OK\n");
    return burn_secure_boot_bits(c.job, c.record, c.chip.flash_waits);
}

bool step_efuse_params(StepContext& c) {
    const EfuseParamTexts& p = c.row.efuse_params;
    if (!p.given()) return true;
    SecurityConfig& s = c.record.security;
    s.efuse_size = p.efuse_size;
    s.enable_bit = p.enable_bit;
    s.efuse_ctrl_reg = p.efuse_ctrl_reg;
    s.efuse_power_reg = p.efuse_power_reg;
    s.aux_ctrl_reg = p.aux_ctrl_reg;
    return true;
}

// ---- device data ------------------------------------------------------------------

bool step_user_operate(StepContext& c) {
    if (!document_enables_a_stage(c.record.security)) return true;
    job_log(LOG_ERROR, "The user-operate engine is not part of this build");
    return false;
}

bool step_repair(StepContext& c) {
    if (c.job->m_flash_mid != kFlashIdTh25q16hb) return true;
    job_log(LOG_INFO, "chip_scratch_test_th25q fail ,error : [%d]", 0);
    return false;
}

bool step_otp_keys(StepContext& c) {
    if (!c.record.otp_enable) return true;
    const int r = write_secure_boot(c.job, c.record.efuse_file, c.chip.flash_waits);
    if (r != 1) {
        job_log(LOG_INFO, "Write OTP Key Fail! iRet = %d \n", r);
        return false;
    }
    job_log(LOG_INFO, "Write OTP Key OK\n");
    return true;
}

// ---- read and erase -----------------------------------------------------------------

bool step_read_images(StepContext& c) {
    if (!c.chip.read_images(c.job, &c.record)) return false;
    if (c.family.read_pass_message) job_log(LOG_INFO, "ReadFlash ->pass");
    return true;
}

bool step_erase_entries(StepContext& c) { return c.chip.erase_entries(c.job, &c.record); }

// ---- the 5870 -----------------------------------------------------------------------

Outcome step_layout_register(StepContext& c) {
    CBootIntf link(&c.job->m_uart);
    uint32_t value = 0;
    if (c.job->ReadRegister(link, kLayoutReg, value) < 1) return Outcome::abort;
    // Formatted into 64 bytes, as the chip's other short lines.
    char line[64];
    std::snprintf(line, sizeof line, "0x802740 value : 0x%x \n", value);
    job_log(LOG_INFO, "%s", line);
    c.layout_restricted = value != kUnrestrictedLayout;
    return Outcome::next;
}

bool step_layout_rules(StepContext& c) {
    if (!c.layout_restricted) return true;
    for (const ImageEntry& e : c.record.images) {
        if (!e.selected) continue;
        const uint64_t start = e.start, length = uint32_t(e.length);
        if (start != kRestrictedStart) {
            job_log(LOG_INFO, "Current Start address : %x , not '0x11000' \n", e.start);
            return false;
        }
        if (length > kLargestRestrictedImage) {
            job_log(LOG_INFO, "Current Start address : %x  can`t be wrote\n", kRestrictedStart);
            return false;
        }
        if (start + length >= kRfRegion) {
            job_log(LOG_INFO,
                    "Current address is : %x ,the Bin file will be overwrite the RF region, do you want to continue?",
                    e.start);
            return false;
        }
    }
    return true;
}

bool step_public_key(StepContext& c) {
    if (!c.record.secure_boot) return true;
    // A key that did not go in does not stop the download.
    if (write_public_key_5870(c.job, c.record.efuse_file, c.chip.flash_waits) == 1)
        job_log(LOG_INFO, "Write PublicKey OK\n");
    else
        job_log(LOG_INFO, "Write PublicKey Fail!\n");
    return true;
}

// ---- the 5850's secure writer ------------------------------------------------------------

std::vector<uint8_t> read_program(const std::string& path) {
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = read_file(path, length);
    // A file that cannot be opened gives an empty program: the start alone decides.
    if (!bytes) return {};
    return std::vector<uint8_t>(bytes.get(), bytes.get() + length);
}

Outcome step_secure_writer(StepContext& c) {
    if (!secure_writer_mode(c)) return Outcome::next;
    for (size_t i = 0; i < c.record.images.size(); ++i) {
        const ImageEntry& entry = c.record.images[i];
        if (!entry.selected) continue;
        if (!c.chip.erase_image_range(c.job, &c.record, &entry, int(i), 0)) {
            job_log(LOG_INFO, "ERR_CODE_EraseFlash");
            return Outcome::fail;
        }
        job_log(LOG_INFO, "EraseFlash ->pass");
    }
    if (!step_efuse_params(c) || !step_user_operate(c)) return Outcome::fail;

    const std::vector<uint8_t> program = read_program(c.job->m_sm_dl_file);
    job_log(LOG_INFO, "Begin StartSecureCode");
    bool started = false;
    for (int attempt = 0; attempt < c.job->m_retry_count && !started; ++attempt)
        started = secure_writer_upload(c.job, &c.record, program) != 0;
    if (!started) {
        if (c.restarts != 0) {
            job_log(LOG_INFO, "StartSecureCode failed");
            return Outcome::fail;
        }
        const Outcome o = relink_for_restart(c);
        if (o == Outcome::restart) c.restarts = 1;
        return o;
    }
    job_log(LOG_INFO, "End StartSecureCode");
    const uint8_t status = secure_writer_status(c.job);
    if (status == SECURE_WRITER_RESTART) {
        job_log(LOG_INFO, "StartState is SECURE_WRITER_RESTART");
        if (++c.writer_restarts > kMaxWriterRestarts) {
            job_log(LOG_ERROR, "The secure writer asked for a restart %d times; giving up", kMaxWriterRestarts);
            return Outcome::fail;
        }
        const Outcome o = relink_for_restart(c);
        if (o == Outcome::restart) sleep_ms(2);
        return o;
    }
    if (status == SECURE_WRITER_DOWNLOAD) {
        CBootIntf link(&c.job->m_uart);
        (void)link.SetBaudRate(c.job->m_baudrate, c.job->m_fast_link);
        return Outcome::next;
    }
    job_log(LOG_INFO, "StartState isn`t SECURE_WRITER_DOWNLOAD");
    job_log(LOG_INFO, "StartSecureCode failed,%x", SECURE_WRITER_DOWNLOAD);
    return Outcome::fail;
}

Outcome step_writer_done(StepContext& c) { return secure_writer_mode(c) ? Outcome::done : Outcome::next; }

// ---- the table of steps -----------------------------------------------------------------

// What each step is and does. A step either passes or fails (check) or
// steers the runner (steer). `writes_flash` marks the steps that change
// flash, which must run with the protection off; `writes_chip` those that
// change anything on the chip, which must come after the input check.
struct StepInfo {
    ChipStep step;
    const char* name;
    bool (*check)(StepContext&);
    Outcome (*steer)(StepContext&);
    bool writes_flash;
    bool writes_chip;
};

constexpr StepInfo kSteps[] = {
    {ChipStep::require_images, "require_images", step_require_images, nullptr, false, false},
    {ChipStep::nothing_to_do, "nothing_to_do", step_nothing_to_do, nullptr, false, false},
    {ChipStep::check_inputs, "check_inputs", step_check_inputs, nullptr, false, false},
    {ChipStep::flash_model, "flash_model", step_flash_model, nullptr, false, false},
    {ChipStep::th25q, "th25q", step_th25q, nullptr, false, true},
    {ChipStep::image_size, "image_size", step_image_size, nullptr, false, false},
    {ChipStep::flash_id_once, "flash_id_once", step_flash_id_once, nullptr, false, false},
    {ChipStep::flash_id_retrying, "flash_id_retrying", step_flash_id_retrying, nullptr, false, false},
    {ChipStep::unprotect, "unprotect", step_unprotect, nullptr, false, true},
    {ChipStep::images, "images", step_images, nullptr, true, true},
    {ChipStep::efuse_burn, "efuse_burn", step_efuse_burn, nullptr, false, true},
    {ChipStep::efuse_guarded, "efuse_guarded", step_efuse_guarded, nullptr, false, true},
    {ChipStep::efuse_params, "efuse_params", step_efuse_params, nullptr, false, false},
    {ChipStep::user_operate, "user_operate", step_user_operate, nullptr, true, true},
    {ChipStep::protect, "protect", step_protect, nullptr, false, true},
    {ChipStep::repair, "repair", step_repair, nullptr, false, true},
    {ChipStep::read_images, "read_images", step_read_images, nullptr, false, false},
    {ChipStep::erase_entries, "erase_entries", step_erase_entries, nullptr, true, true},
    {ChipStep::layout_register, "layout_register", nullptr, step_layout_register, false, false},
    {ChipStep::layout_rules, "layout_rules", step_layout_rules, nullptr, false, false},
    {ChipStep::public_key, "public_key", step_public_key, nullptr, false, true},
    // The writer's stage erases and runs the engine with the protection as
    // it is: the writer program owns the flash.
    {ChipStep::secure_writer, "secure_writer", nullptr, step_secure_writer, false, true},
    {ChipStep::images_or_restart, "images_or_restart", nullptr, step_images_or_restart, true, true},
    {ChipStep::otp_keys, "otp_keys", step_otp_keys, nullptr, false, true},
    {ChipStep::efuse_secure_boot, "efuse_secure_boot", step_efuse_secure_boot, nullptr, false, true},
    {ChipStep::writer_done, "writer_done", nullptr, step_writer_done, false, false},
};

const StepInfo* info(ChipStep step) {
    for (const StepInfo& s : kSteps)
        if (s.step == step) return &s;
    return nullptr;
}

Outcome run_step(const StepInfo& s, StepContext& c) { return s.steer ? s.steer(c) : s.check(c) ? Outcome::next : Outcome::fail; }

bool close_operation(Download* job, Closing closing, bool result) {
    return closing == Closing::chip5810 ? close_job_5810(job, result) : close_job(job, result);
}

// ---- the self-check --------------------------------------------------------------------------

int find_step(std::span<const ChipStep> steps, ChipStep step) {
    auto it = std::find(steps.begin(), steps.end(), step);
    return it == steps.end() ? -1 : int(it - steps.begin());
}

std::string check_steps_known_and_once(std::span<const ChipStep> steps, const char* op) {
    std::vector<ChipStep> seen;
    for (ChipStep s : steps) {
        if (!info(s)) return std::string(op) + ": a step without a definition";
        if (std::find(seen.begin(), seen.end(), s) != seen.end()) {
            return std::string(op) + ": step " + chip_step_name(s) + " runs twice";
        }
        seen.push_back(s);
    }
    return "";
}

// Protection must be off before the first step that writes flash and, in a
// download, on again after the last one.
std::string check_protection(std::span<const ChipStep> steps, const char* op, bool restores) {
    const int off = find_step(steps, ChipStep::unprotect);
    const int on = find_step(steps, ChipStep::protect);
    int first_write = -1, last_write = -1;
    for (int i = 0; i < int(steps.size()); ++i) {
        if (!info(steps[size_t(i)])->writes_flash) continue;
        if (first_write < 0) first_write = i;
        last_write = i;
    }
    const std::string where = std::string(op) + ": ";
    if (off < 0 && on < 0) return "";
    if (off < 0) return where + "protection goes on without coming off";
    if (first_write >= 0 && off > first_write) {
        return where + "protection comes off after " + chip_step_name(steps[size_t(first_write)]);
    }
    if (!restores) {
        if (on >= 0) return where + "protection is not restored in this operation";
        return "";
    }
    if (on < 0) return where + "protection comes off and never goes on again";
    if (on < last_write) return where + "protection goes on before " + chip_step_name(steps[size_t(last_write)]);
    return "";
}

}  // namespace

const char* chip_step_name(ChipStep step) {
    const StepInfo* s = info(step);
    return s ? s->name : "?";
}

bool run_family_operation(CQN_WIFI_CHIPSET& chip, Download* job, const ChipFamily& family, FamilyOperation op) {
    if (!job) return false;
    const ChipRow* row = chip_row_for_kind(family.kind);
    if (!row) return false;
    StepContext c{chip, job, family, *row, JobRecord{}};
    const std::span<const ChipStep> steps = op == FamilyOperation::download ? family.download
                                            : op == FamilyOperation::read   ? family.read
                                                                            : family.erase;
    bool ok = op == FamilyOperation::download ? build_download_record(job, &c.record)
                                              : build_job_record(job, &c.record);
    // The secure writer replaces the boot ROM's own flash commands; a family
    // that cannot run one must not download as if it did.
    if (ok && op == FamilyOperation::download && !job->m_sm_dl_file.empty() &&
        !has_step(family.download, ChipStep::secure_writer)) {
        job_log(LOG_ERROR, "--sm-dl: the %s runs no secure writer", family.name);
        ok = false;
    }
    const int restart_at = find_step(steps, ChipStep::secure_writer);
    for (size_t i = 0; ok && i < steps.size(); ++i) {
        const Outcome o = run_step(*info(steps[i]), c);
        if (o == Outcome::abort) return false;
        if (o == Outcome::done) break;
        if (o == Outcome::fail) ok = false;
        // The step at restart_at runs next.
        if (o == Outcome::restart) i = size_t(restart_at) - 1;
    }
    return close_operation(job, family.closing, ok);
}

std::string check_family(const ChipFamily& family, const ChipRow& row) {
    const std::string name = std::string(family.name ? family.name : "?") + ": ";
    if (row.kind != family.kind) return name + "row of another kind";
    if (!row.family || std::string(row.family) != family.name) return name + "the chip table names another family";
    struct Op {
        std::span<const ChipStep> steps;
        const char* name;
        ChipStep main;  // the step the operation is for
        bool ends_with_main;
        bool restores;  // protection goes on again before the end
    };
    const auto& d = family.download;
    const ChipStep image_step = has_step(d, ChipStep::images_or_restart) ? ChipStep::images_or_restart : ChipStep::images;
    const Op ops[] = {{family.download, "download", image_step, false, true},
                      {family.read, "read", ChipStep::read_images, true, false},
                      {family.erase, "erase", ChipStep::erase_entries, true, false}};
    for (const Op& op : ops) {
        std::string problem = check_steps_known_and_once(op.steps, op.name);
        if (problem.empty()) problem = check_protection(op.steps, op.name, op.restores);
        if (problem.empty() && !has_step(op.steps, op.main)) {
            problem = std::string(op.name) + ": no " + chip_step_name(op.main) + " step";
        }
        if (problem.empty() && op.ends_with_main && op.steps.back() != op.main) {
            problem = std::string(op.name) + ": must end with " + chip_step_name(op.main);
        }
        if (!problem.empty()) return name + problem;
    }
    for (const Op& op : {ops[1], ops[2]}) {
        if (op.steps.front() != ChipStep::require_images) return name + op.name + ": must start with require_images";
    }
    if (has_step(d, ChipStep::images) && has_step(d, ChipStep::images_or_restart)) {
        return name + "two forms of the image step";
    }
    const int restart_at = find_step(d, ChipStep::secure_writer);
    if (has_step(d, ChipStep::images_or_restart) && (restart_at < 0 || restart_at > find_step(d, image_step))) {
        return name + "images_or_restart without a secure_writer step before it";
    }
    if (has_step(d, ChipStep::writer_done) != (restart_at >= 0) ||
        (restart_at >= 0 && find_step(d, ChipStep::writer_done) < find_step(d, image_step))) {
        return name + "a secure writer download ends at writer_done, after its images";
    }
    const int efuse_steps = int(has_step(d, ChipStep::efuse_burn)) + int(has_step(d, ChipStep::efuse_guarded)) +
                            int(has_step(d, ChipStep::efuse_secure_boot));
    if (efuse_steps > 0 && !row.efuse_set) return name + "an eFuse step without an eFuse register set";
    if (efuse_steps > 1) return name + "two forms of the eFuse step";
    if (has_step(d, ChipStep::user_operate) && row.engine == UserOperateEngine::None) {
        return name + "user_operate without an engine";
    }
    if (row.engine != UserOperateEngine::None && !has_step(d, ChipStep::user_operate)) {
        return name + "an engine that never runs";
    }
    const int params = find_step(d, ChipStep::efuse_params);
    if (row.efuse_params.given() != (params >= 0)) return name + "efuse_params must match the row's parameters";
    if (params >= 0 && params > find_step(d, ChipStep::user_operate)) {
        return name + "efuse_params after user_operate";
    }
    // Whatever the engine or an eFuse or key step would refuse is found
    // before the first step that changes the chip.
    int first_chip_write = -1;
    bool needs_check = false;
    for (int i = 0; i < int(d.size()); ++i) {
        const ChipStep s = d[size_t(i)];
        if (info(s)->writes_chip && first_chip_write < 0) first_chip_write = i;
        needs_check = needs_check || s == ChipStep::user_operate || s == ChipStep::otp_keys || efuse_steps > 0;
    }
    const int check = find_step(d, ChipStep::check_inputs);
    if (needs_check && check < 0) return name + "eFuse, key or engine steps without check_inputs";
    if (check >= 0 && first_chip_write >= 0 && check > first_chip_write) {
        return name + "check_inputs after " + chip_step_name(d[size_t(first_chip_write)]);
    }
    if (d.front() != ChipStep::require_images && d.front() != ChipStep::nothing_to_do &&
        info(d.front())->writes_chip) {
        return name + "download: starts with " + chip_step_name(d.front());
    }
    if (has_step(d, ChipStep::layout_rules) && !has_step(d, ChipStep::layout_register)) {
        return name + "layout_rules without layout_register";
    }
    const int model = find_step(d, ChipStep::flash_model);
    const int size = find_step(d, ChipStep::image_size);
    if (size >= 0 && (model < 0 || model > size)) return name + "image_size before flash_model";
    if (has_step(d, ChipStep::unprotect) && (model < 0 || model > find_step(d, ChipStep::unprotect))) {
        return name + "download: unprotect before flash_model";
    }
    const auto& e = family.erase;
    if (has_step(e, ChipStep::unprotect)) {
        const int id = std::max(find_step(e, ChipStep::flash_id_once), find_step(e, ChipStep::flash_id_retrying));
        if (id < 0 || id > find_step(e, ChipStep::unprotect)) return name + "erase: unprotect before the flash id";
    }
    if (has_step(d, ChipStep::repair) && find_step(d, ChipStep::repair) < find_step(d, ChipStep::protect)) {
        return name + "repair before protect";
    }
    if (family.verify_mode != 0 && family.verify_mode != 1) return name + "verify_mode is 0 or 1";
    return "";
}
