// Creates the chip object of a chip kind.
#pragma once

#include <cstdint>
#include <memory>

class CQN_WIFI_CHIPSET;
class Download;

// The object of the family class of `kind`, bound to `job`; null for a kind
// without a family class.
std::unique_ptr<CQN_WIFI_CHIPSET> make_chip(uint8_t kind, Download& job);
