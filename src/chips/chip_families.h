// The chip families the tool has, for the chip maker and the self-check.
#pragma once

#include <span>

#include "chips/chip_family.h"

extern const ChipFamily kFamily5810;
extern const ChipFamily kFamily5810N;
extern const ChipFamily kFamily5820;
extern const ChipFamily kFamily5830;
extern const ChipFamily kFamily5850;
extern const ChipFamily kFamily5870;

// Every family with a class.
std::span<const ChipFamily* const> chip_families();
