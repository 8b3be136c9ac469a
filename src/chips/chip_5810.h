// The 5810, the oldest chip of the family: its operations hand the job to the
// shared flows with no flash model, protection or eFuse steps of their own.
#pragma once

#include "chips/chip_families.h"
#include "chips/family_chipset.h"

class CQN_WIFI_5810 : public FamilyChipset {
public:
    explicit CQN_WIFI_5810(Download* job) : FamilyChipset(job, kFamily5810) {}
};
