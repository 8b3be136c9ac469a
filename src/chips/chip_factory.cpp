// The chip selection's maker of chip objects: the family class of a row.

#include <memory>

#include "chips/chip_5810.h"
#include "chips/chip_5810n.h"
#include "chips/chip_5820.h"
#include "chips/chip_5830.h"
#include "chips/chip_5850.h"
#include "chips/chip_5870.h"
#include "chips/chip_families.h"
#include "job/chip_operations.h"
#include "job/chip_table.h"

namespace {

template <class Chip>
std::unique_ptr<ChipOperations> make(Download& job) {
    return std::make_unique<Chip>(&job);
}

struct FamilyClass {
    const ChipFamily* family;
    std::unique_ptr<ChipOperations> (*make)(Download&);
};

const FamilyClass kClasses[] = {
    {&kFamily5810, make<CQN_WIFI_5810>},
    {&kFamily5810N, make<CQN_WIFI_5810N>},
    {&kFamily5820, make<CQN_WIFI_5820>},
    {&kFamily5830, make<CQN_WIFI_5830>},
    {&kFamily5850, make<CQN_WIFI_5850>},
    {&kFamily5870, make<CQN_WIFI_5870>},
};

const ChipFamily* const kFamilies[] = {&kFamily5810, &kFamily5810N, &kFamily5820, &kFamily5830, &kFamily5850, &kFamily5870};

}  // namespace

std::span<const ChipFamily* const> chip_families() { return kFamilies; }

std::unique_ptr<ChipOperations> make_chip(const ChipRow& row, Download& job) {
    for (const FamilyClass& c : kClasses)
        if (c.family->kind == row.kind) return c.make(job);
    // A row without a class: the run refuses the chip.
    return nullptr;
}
