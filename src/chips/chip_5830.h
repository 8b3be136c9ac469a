// The 5830: the 5820's order with the model check first, the common engine
// without eFuse parameters, and a fixed reconnect time-out when it erases.
#pragma once

#include "chips/chip_families.h"
#include "chips/family_chipset.h"

class CQN_WIFI_5830 : public FamilyChipset {
public:
    explicit CQN_WIFI_5830(Download* job) : FamilyChipset(job, kFamily5830) {}
};
