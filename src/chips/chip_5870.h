// The 5870: address rules for its images unless its layout register reports
// an unrestricted part, the eFuse burnt first (from a file or a key list), a
// public key checked against the chip's device id, then the common download
// with the engine and the configuration repair.
#pragma once

#include "chips/chip_families.h"
#include "chips/family_chipset.h"

class CQN_WIFI_5870 : public FamilyChipset {
public:
    explicit CQN_WIFI_5870(Download* job) : FamilyChipset(job, kFamily5870) {}
};
