// The SPI flash models the tool supports, keyed by the JEDEC id the boot ROM
// reports, with how each model's block-protection bits sit in its status
// registers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct FlashModel {
    // Manufacturer code in bits 0-7, memory type in bits 8-15, capacity code
    // in bits 16-23.
    uint32_t mid;
    char name[16];
    char vendor[16];
    // Capacity in bits; the byte capacity is size / 8.
    uint32_t size;
    // Status registers read and written as one combined value (1 to 3):
    // register 1 in bits 0-7, register 2 in bits 8-15, register 3 in 16-23.
    uint8_t sr_count;
    // Protection-field values meaning "unprotected" and "protected".
    uint32_t unprotect_value;
    uint32_t protect_value;
    // Bits of the combined status value that make up the protection state.
    uint32_t mask;
    // Position and width of the protection field in the combined value.
    uint8_t shift;
    uint8_t bits;
    // Read- and write-status opcodes of registers 1, 2, 3; 0xFF = none.
    uint8_t read_sr[4];
    uint8_t write_sr[4];
};

constexpr uint8_t kNoOpcode = 0xFF;

// All rows, in lookup order.
std::span<const FlashModel> flash_models();

// The first row whose id equals mid, or null for an unknown flash.
const FlashModel* find_flash_model(uint32_t mid);

// Capacity in bytes.
constexpr uint32_t flash_size_bytes(const FlashModel& model) { return model.size / 8; }

// The combined status bits that mean the given protection value:
// ((2^bits - 1) AND value) << shift.
constexpr uint32_t flash_protect_bits(const FlashModel& model, uint32_t value) {
    return (((1u << model.bits) - 1u) & value) << model.shift;
}

// Models that are unprotected through exactly two status registers, written
// to zero one by one when register 2 is not zero (ids 0x154285, 0x1640C8).
bool flash_needs_split_unprotect(const FlashModel& model);

// Consistency check of a table: ids unique and 24-bit, capacity matching the
// id's capacity code, register counts and opcodes present, protection states
// reachable within the mask. Returns one line per problem; empty when sound.
std::vector<std::string> flash_table_problems(std::span<const FlashModel> models);

// The check above on the built-in table.
std::vector<std::string> flash_models_self_test();
