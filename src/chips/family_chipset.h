// A chip class whose three operations are its family's lists of steps.
#pragma once

#include "chips/chip_family.h"
#include "chips/chipset.h"

class Download;

class FamilyChipset : public CQN_WIFI_CHIPSET {
public:
    FamilyChipset(Download* job, const ChipFamily& family) : m_job(job), m_family(family) {}

    bool download() override { return run_family_operation(*this, m_job, m_family, FamilyOperation::download); }
    bool read() override { return run_family_operation(*this, m_job, m_family, FamilyOperation::read); }
    bool erase() override { return run_family_operation(*this, m_job, m_family, FamilyOperation::erase); }
    bool extra_operation() override { return false; }

protected:
    Download* m_job;  // not owned; the job outlives the chip object

private:
    const ChipFamily& m_family;
};
