// The 5820: the 5810N's steps with the eFuse burnt first (only from a file or
// a key list), the TH25Q check before the model check, and its own engine.
#pragma once

#include "chips/chip_families.h"
#include "chips/family_chipset.h"

class CQN_WIFI_5820 : public FamilyChipset {
public:
    explicit CQN_WIFI_5820(Download* job) : FamilyChipset(job, kFamily5820) {}
};
