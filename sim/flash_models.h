// The serial NOR flash parts the virtual chip can carry, as the parts
// themselves behave: JEDEC id, capacity, status registers and the bits of the
// status registers that control block protection.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

struct SimFlashModel {
    uint32_t mid;           // JEDEC id: manufacturer in bits 0-7, type 8-15, capacity code 16-23
    const char* name;
    const char* vendor;
    uint32_t size_bytes;
    uint8_t status_regs;    // status registers the part has (1 to 3)
    uint8_t read_ops[3];    // read opcodes of status registers 1 to 3 (0 = none)
    uint32_t protect_mask;  // bits of the combined status value that take part in protection
};

// Every supported part, in table order.
const SimFlashModel* flash_models(size_t* count);

// The part with this id, or null.
const SimFlashModel* find_flash_model(uint32_t mid);

// The part with this name (case-insensitive), or null. Where two rows share a
// name the first is returned.
const SimFlashModel* find_flash_model_by_name(const char* name);

}  // namespace sim
