// The steps the chip families are made of, each written once, and the
// runner that walks a family's list of them.

#include "chips/chip_family.h"

#include <algorithm>
#include <vector>

#include "chips/chip_steps.h"
#include "chips/chipset.h"
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

struct StepContext {
    CQN_WIFI_CHIPSET& chip;
    Download* job;
    const ChipFamily& family;
    const ChipRow& row;
    JobRecord record;
};

using StepFn = bool (*)(StepContext&);

bool step_require_images(StepContext& c) { return !c.record.images.empty(); }

bool step_nothing_to_do(StepContext& c) { return !nothing_to_do(c.record); }

bool document_enables_a_stage(const SecurityConfig& s) {
    return s.user_operate_enable == "true" || s.efuse_enable == "true" || s.security_ctrl_enable == "true" ||
           s.security_data_enable == "true";
}

bool step_check_inputs(StepContext& c) {
    if (c.row.engine != UserOperateEngine::None && document_enables_a_stage(c.record.security)) {
        job_log(LOG_ERROR, "The user-operate engine is not part of this build");
        return false;
    }
    // The eFuse image is assembled once here so that a source that cannot be
    // burnt is refused before the first image is written.
    if (c.row.efuse_set && c.record.efuse_enable) {
        EfuseImage image{};
        if (!assemble_efuse_image(c.job, c.record, image)) return false;
    }
    return true;
}

bool step_flash_model(StepContext& c) {
    if (find_flash_model(c.job->m_flash_mid)) return true;
    job_log(LOG_INFO, "ERR_CODE_NotSupportedFlash");
    return false;
}

bool step_th25q(StepContext& c) {
    if (c.job->m_flash_mid != kFlashIdTh25q16hb) return true;
    job_log(LOG_DETAIL, "Current Flash is : FLASH_ID_TH25Q_16HB");
    job_log(LOG_ERROR, "TH25Q_16HB flash parts are not supported by this build");
    return false;
}

bool step_image_size(StepContext& c) { return check_image_sizes(c.job, c.record); }

bool flash_model_check_after_read(StepContext& c) {
    if (find_flash_model(c.job->m_flash_mid)) return true;
    job_log(LOG_INFO, "ERR_CODE_NotSupportedFlash");
    return false;
}

bool step_flash_id_once(StepContext& c) {
    CBootIntf link(&c.job->m_uart);
    // Whatever the read returns, the id the job holds decides.
    (void)link.GetFlashMid(c.job->m_flash_mid);
    return flash_model_check_after_read(c);
}

bool step_flash_id_retrying(StepContext& c) {
    const float timeout =
        c.family.erase_getbus_timeout > 0 ? c.family.erase_getbus_timeout : c.job->m_getbus_timeout;
    return acquire_flash_id(c.chip, c.job, &c.record, timeout);
}

bool step_unprotect(StepContext& c) {
    job_log(LOG_INFO, "Unprotecting Flash");
    if (FlashProtect(*c.job, c.job->m_flash_mid, 0, c.chip.flash_waits) < 1) {
        job_log(LOG_INFO, "Unprotected Flash fail");
        return false;
    }
    job_log(LOG_INFO, "Unprotected Flash ->pass");
    return true;
}

bool step_protect(StepContext& c) {
    if (FlashProtect(*c.job, c.job->m_flash_mid, 1, c.chip.flash_waits) < 1) {
        job_log(LOG_INFO, "Enprotect fail");
        return false;
    }
    job_log(LOG_INFO, "Enprotect pass");
    return true;
}

bool step_images(StepContext& c) { return c.chip.download_images(c.job, &c.record, c.family.verify_mode); }

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

bool step_read_images(StepContext& c) {
    if (!c.chip.read_images(c.job, &c.record)) return false;
    if (c.family.read_pass_message) job_log(LOG_INFO, "ReadFlash ->pass");
    return true;
}

bool step_erase_entries(StepContext& c) { return c.chip.erase_entries(c.job, &c.record); }

// What each step is and does. `writes` marks the steps that change flash,
// which must run with the protection off.
struct StepInfo {
    ChipStep step;
    const char* name;
    StepFn run;
    bool writes_flash;
};

constexpr StepInfo kSteps[] = {
    {ChipStep::require_images, "require_images", step_require_images, false},
    {ChipStep::nothing_to_do, "nothing_to_do", step_nothing_to_do, false},
    {ChipStep::check_inputs, "check_inputs", step_check_inputs, false},
    {ChipStep::flash_model, "flash_model", step_flash_model, false},
    {ChipStep::th25q, "th25q", step_th25q, false},
    {ChipStep::image_size, "image_size", step_image_size, false},
    {ChipStep::flash_id_once, "flash_id_once", step_flash_id_once, false},
    {ChipStep::flash_id_retrying, "flash_id_retrying", step_flash_id_retrying, false},
    {ChipStep::unprotect, "unprotect", step_unprotect, false},
    {ChipStep::images, "images", step_images, true},
    {ChipStep::efuse_burn, "efuse_burn", step_efuse_burn, false},
    {ChipStep::efuse_guarded, "efuse_guarded", step_efuse_guarded, false},
    {ChipStep::efuse_params, "efuse_params", step_efuse_params, false},
    {ChipStep::user_operate, "user_operate", step_user_operate, true},
    {ChipStep::protect, "protect", step_protect, false},
    {ChipStep::repair, "repair", step_repair, false},
    {ChipStep::read_images, "read_images", step_read_images, false},
    {ChipStep::erase_entries, "erase_entries", step_erase_entries, true},
};

const StepInfo* info(ChipStep step) {
    for (const StepInfo& s : kSteps)
        if (s.step == step) return &s;
    return nullptr;
}

bool close_operation(Download* job, Closing closing, bool result) {
    return closing == Closing::chip5810 ? close_job_5810(job, result) : close_job(job, result);
}

// Position of a step in a list, or -1.
int find_step(std::span<const ChipStep> steps, ChipStep step) {
    auto it = std::find(steps.begin(), steps.end(), step);
    return it == steps.end() ? -1 : int(it - steps.begin());
}

bool has_step(std::span<const ChipStep> steps, ChipStep step) { return find_step(steps, step) >= 0; }

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
    bool ok = op == FamilyOperation::download ? build_download_record(job, &c.record)
                                              : build_job_record(job, &c.record);
    const std::span<const ChipStep> steps = op == FamilyOperation::download ? family.download
                                            : op == FamilyOperation::read   ? family.read
                                                                            : family.erase;
    for (size_t i = 0; ok && i < steps.size(); ++i) ok = info(steps[i])->run(c);
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
    const Op ops[] = {{family.download, "download", ChipStep::images, false, true},
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

    const auto& d = family.download;
    if (!d.empty() && d.front() != ChipStep::require_images && d.front() != ChipStep::nothing_to_do) {
        return name + "download: must start with require_images or nothing_to_do";
    }
    for (const Op& op : {ops[1], ops[2]}) {
        if (op.steps.empty() || op.steps.front() != ChipStep::require_images) {
            return name + op.name + ": must start with require_images";
        }
    }
    const bool efuse_step = has_step(d, ChipStep::efuse_burn) || has_step(d, ChipStep::efuse_guarded);
    if (efuse_step && !row.efuse_set) return name + "an eFuse step without an eFuse register set";
    if (has_step(d, ChipStep::efuse_burn) && has_step(d, ChipStep::efuse_guarded)) {
        return name + "two forms of the eFuse step";
    }
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
    // Whatever the engine or the eFuse step would refuse is found before the
    // first step that touches the chip.
    const bool needs_check = efuse_step || has_step(d, ChipStep::user_operate);
    const int check = find_step(d, ChipStep::check_inputs);
    if (needs_check && check < 0) return name + "eFuse or engine steps without check_inputs";
    if (check >= 0) {
        for (int i = 0; i < check; ++i) {
            const ChipStep s = d[size_t(i)];
            if (s != ChipStep::require_images && s != ChipStep::nothing_to_do) {
                return name + "check_inputs after " + chip_step_name(s);
            }
        }
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
