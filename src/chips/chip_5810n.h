// The 5810N (chip id 0x5810C and every id the table does not know): flash
// checks, the TH25Q quirk, protection around the download, an eFuse burn after
// the images, the common user-operate engine and the configuration repair.
#pragma once

#include "chips/chip_families.h"
#include "chips/family_chipset.h"

class CQN_WIFI_5810N : public FamilyChipset {
public:
    explicit CQN_WIFI_5810N(Download* job) : FamilyChipset(job, kFamily5810N) {}
};
