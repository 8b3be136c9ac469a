// The 5850: an optional secure writer that takes over the flash download,
// bounded restarts of the whole attempt, the secure-boot keys in OTP, eFuse
// with register set B and the secure-boot enable bits.
#pragma once

#include "chips/chip_families.h"
#include "chips/family_chipset.h"

class CQN_WIFI_5850 : public FamilyChipset {
public:
    explicit CQN_WIFI_5850(Download* job) : FamilyChipset(job, kFamily5850) {}

    // The OTP key writer: 1, or a negative code.
    int Do_QnWriteSecureBoot();
};
