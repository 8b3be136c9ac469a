#include "chips/chip_factory.h"

#include "chips/chip_5810.h"
#include "chips/chipset.h"
#include "job/chip_kind.h"

std::unique_ptr<CQN_WIFI_CHIPSET> make_chip(uint8_t kind, Download& job) {
    switch (kind) {
    case CHIP_KIND_5810:
        return std::make_unique<CQN_WIFI_5810>(&job);
    default:
        // The other families have no class yet; the run refuses them.
        return nullptr;
    }
}
