// The chip selection's maker of chip objects: the family class of a row.

#include "chips/chip_5810.h"
#include "chips/chipset.h"
#include "job/chip_operations.h"
#include "job/chip_table.h"

std::unique_ptr<ChipOperations> make_chip(const ChipRow& row, Download& job) {
    switch (row.kind) {
    case CHIP_KIND_5810:
        return std::make_unique<CQN_WIFI_5810>(&job);
    default:
        // The other families have no class yet; the run refuses them.
        return nullptr;
    }
}
