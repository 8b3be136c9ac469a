#include "chip_registers.h"

namespace sim {

namespace {

// Reset values of the clock and UART registers: peripheral clock mux bit 6
// set, SPI divider 10, clock select 1, UART divider for 115200 from the
// crystal. The system control word carries its calibration field at 1.
struct ResetValue {
    uint32_t address;
    uint32_t value;
};
constexpr ResetValue kResetValues[] = {
    {kRegSysCtrl, 0x0C000000},
    {kRegSysStatus, 0x00000000},
    {kRegPeriClkMux, 0x00000040},
    {kRegSpiCtrl, 0x00000A00},
    {kRegClkSet, 0x00000001},
    {kRegUartCfg, 0x0000E100},
};

uint32_t word_of(uint32_t address) { return address & ~3u; }

}  // namespace

ChipRegisters::ChipRegisters(const SimConfig& config, EfuseArray& efuse)
    : m_config(&config), m_efuse_busy_us(config.efuse_busy_us) {
    EfuseSets sets = config.efuse_sets;
    if (sets == EfuseSets::Auto) sets = (config.chip_id >> 16 == 0x5850 || config.chip_id == 0x5850) ? EfuseSets::B : EfuseSets::A;
    if (sets == EfuseSets::A || sets == EfuseSets::Both) m_efuse.push_back(std::make_unique<EfuseController>(efuse, kEfuseSetA));
    if (sets == EfuseSets::B || sets == EfuseSets::Both) m_efuse.push_back(std::make_unique<EfuseController>(efuse, kEfuseSetB));
    if (config.faults.efuse_busy_fault_ms > 0) m_efuse_busy_us = int64_t(config.faults.efuse_busy_fault_ms) * 1000;
    power_on();
}

void ChipRegisters::power_on() {
    m_memory.clear();
    for (const ResetValue& r : kResetValues) m_memory[r.address] = r.value;
    for (const auto& [address, value] : m_config->register_overrides) m_memory[word_of(address)] = value;
    m_status_busy_left = 0;
    for (auto& c : m_efuse) c->reset();
    ++m_changes;
}

EfuseController* ChipRegisters::efuse_for_control(uint32_t address) const {
    for (const auto& c : m_efuse)
        if (c->set().control_reg == address) return c.get();
    return nullptr;
}

EfuseController* ChipRegisters::efuse_for_data(uint32_t address) const {
    for (const auto& c : m_efuse)
        if (c->set().data_reg == address) return c.get();
    return nullptr;
}

uint32_t ChipRegisters::peek(uint32_t address) const {
    auto it = m_memory.find(word_of(address));
    return it == m_memory.end() ? 0 : it->second;
}

uint32_t ChipRegisters::read(uint32_t address, int64_t now) {
    address = word_of(address);
    if (address == word_of(m_config->chip_id_address)) return m_config->chip_id;
    if (EfuseController* c = efuse_for_control(address)) return c->read_control(now);
    if (EfuseController* c = efuse_for_data(address)) return c->read_data(now);
    if (address == kRegSysStatus) {
        uint32_t v = peek(address);
        if (m_status_busy_left > 0) {
            --m_status_busy_left;
            return v | m_config->status_busy_bits;
        }
        return v;
    }
    return peek(address);
}

int ChipRegisters::write(uint32_t address, uint32_t value, int64_t now) {
    address = word_of(address);
    if (address == word_of(m_config->chip_id_address)) return 0;  // read-only
    ++m_changes;
    if (EfuseController* c = efuse_for_control(address)) {
        const EfuseRegisterSet& set = c->set();
        bool powered = set.power_reg == set.control_reg ? (value & set.power_mask) != 0
                                                         : (peek(set.power_reg) & set.power_mask) != 0;
        c->write_control(value, powered, now, m_efuse_busy_us);
        return 0;
    }
    if (efuse_for_data(address)) return 0;  // the data register is read-only
    m_memory[address] = value;
    if (address == kRegSysCtrl) m_status_busy_left = m_config->status_busy_reads;
    if (address == kRegUartCfg && ((value >> 8) & 0x1FFF) == 9) return kDividerNineBaud;
    return 0;
}

void ChipRegisters::write_bytes(uint32_t address, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        uint32_t a = address + uint32_t(i);
        uint32_t shift = (a & 3u) * 8;
        uint32_t& word = m_memory[word_of(a)];
        word = (word & ~(0xFFu << shift)) | (uint32_t(data[i]) << shift);
    }
    if (length) ++m_changes;
}

}  // namespace sim
