// Chip kinds: which chip family a chip id belongs to, and how the link
// reaches the working baud rate on it.
#pragma once

#include <cstdint>

// The value kept in the job's m_chip_kind. Kinds 3 and 7 are not used.
enum ChipKind : uint8_t {
    CHIP_KIND_NONE = 0,   // no chip found yet
    CHIP_KIND_5810 = 1,   // 0x5810
    CHIP_KIND_5810A = 2,  // 0x5810A (no chip family)
    CHIP_KIND_5870 = 4,   // 0x5870
    CHIP_KIND_5810N = 5,  // 0x5810C and every id the tool does not know
    CHIP_KIND_5820 = 6,   // 0x5820
    CHIP_KIND_5800A = 8,  // 0x5800A (no chip family)
    CHIP_KIND_5850 = 9,   // 0x5850 and 0x3D40
    CHIP_KIND_5830 = 10,  // 0x5830
};

// How the host and the chip move to the working baud rate.
enum class BaudSwitch {
    None,        // no chip family: the link does not go on
    Direct,      // one baud command whose answer is not checked
    Negotiated,  // checked baud command (with the DCO calibration for 3000000)
};

// The kind of a chip id, or CHIP_KIND_NONE for an id the table does not list
// (which the chip selection runs as CHIP_KIND_5810N).
uint8_t chip_kind_for_id(uint32_t chip_id);

// True for the kinds a chip family class exists for.
bool chip_kind_has_family(uint8_t kind);

BaudSwitch chip_kind_baud_switch(uint8_t kind);

// Where the DCO calibration finds its fields in the system control word.
struct DcoParams {
    uint32_t shift;
    uint32_t field_mask;
    uint32_t clear_mask;
    uint32_t busy_mask;  // busy bits of the status word 0x00800040
};

// The kinds that reach the calibration share one set of values; other kinds
// get the same set, as nothing else is known about them.
DcoParams dco_params(uint8_t kind);
