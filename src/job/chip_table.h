// The chips the tool knows, as one table: chip ids, kind, family class, how
// the link reaches the working rate on them, and the eFuse and user-operate
// parameters their families use. Everything that differs between chips is
// read from a row here; the link, the chip selection and the family code do
// not test chip kinds themselves.
#pragma once

#include <cstdint>
#include <span>
#include <string>

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

// Where the DCO calibration finds its fields in the system control word.
struct DcoParams {
    uint32_t shift;
    uint32_t field_mask;
    uint32_t clear_mask;
    uint32_t busy_mask;  // busy bits of the status word 0x00800040
};

// A rate the chip's UART cannot make and the one the link uses instead.
struct BaudSubstitute {
    int32_t asked;
    int32_t used;
};

// The registers through which the eFuse is burnt and read.
struct EfuseRegisterSet {
    uint32_t power_reg;
    uint32_t power_mask;  // set in the power register while burning
    uint32_t ctrl_reg;
    uint32_t data_reg;
    uint32_t command_high;  // ORed into every burn command
};
// Set B is the 5850's; every other chip that burns eFuse uses set A.
inline constexpr EfuseRegisterSet kEfuseSetA{0x00800008, 0x00800000, 0x00800074, 0x00800078, 0};
inline constexpr EfuseRegisterSet kEfuseSetB{0x44880000, 0x80000000, 0x44880000, 0x44880004, 0x80000000};

// Which user-operate engine a family runs after its images.
enum class UserOperateEngine : uint8_t {
    None,    // the family has no user-operate step
    Common,  // CQN_WIFI_CHIPSET::user_operate
    Qn5820,  // CQN_WIFI_5820::user_operate_qn5820
};

// The five eFuse parameter texts a family hands to the user-operate engine,
// in the order efuse_size, enable_bit, efuse_ctrl_reg, efuse_power_reg,
// aux_ctrl_reg. A family without them leaves all five null, and the texts of
// the job record stay as they are (empty).
struct EfuseParamTexts {
    const char* efuse_size;
    const char* enable_bit;
    const char* efuse_ctrl_reg;
    const char* efuse_power_reg;
    const char* aux_ctrl_reg;

    bool given() const { return efuse_size != nullptr; }
};

struct ChipRow {
    uint8_t kind;
    const char* family;     // chip family class; nullptr when there is none
    uint32_t ids[2];        // chip ids of the kind; 0 marks an unused place
    bool takes_unknown_ids; // the kind every unrecognised chip id runs as
    BaudSwitch baud_switch;
    bool sys_clk_step;               // SetSysClk follows the DCO calibration
    BaudSubstitute substitutes[2];   // {0, 0} marks an unused place
    DcoParams dco;
    const EfuseRegisterSet* efuse_set;  // nullptr: the family burns no eFuse
    EfuseParamTexts efuse_params;
    UserOperateEngine engine;

    bool has_family() const { return family != nullptr; }
    // The rate the link uses when `asked` is requested.
    int32_t substitute_rate(int32_t asked) const;
};

// Every row, in kind order.
std::span<const ChipRow> chip_table();

// The row of a chip kind, or nullptr for a kind the table does not have.
const ChipRow* chip_row_for_kind(uint8_t kind);
// The row that lists `chip_id` exactly, or nullptr.
const ChipRow* chip_row_for_id(uint32_t chip_id);
// The row that every unrecognised chip id runs as.
const ChipRow& chip_row_for_unknown_id();

// The kind of a chip id, or CHIP_KIND_NONE for an id the table does not list
// (which the chip selection runs as CHIP_KIND_5810N).
uint8_t chip_kind_for_id(uint32_t chip_id);
// True for the kinds a chip family class exists for.
bool chip_kind_has_family(uint8_t kind);
BaudSwitch chip_kind_baud_switch(uint8_t kind);
DcoParams dco_params(uint8_t kind);

// True when id is a chip id of the table. An id that is not is narrowed to
// its upper 16 bits, where some chips keep their number, and accepted when
// those are one of the table's 16-bit ids (id then keeps the narrowed value).
bool is_known_chip_id(uint32_t& id);

// Empty when the rows are consistent; otherwise what is wrong, naming the row.
std::string check_chip_table(std::span<const ChipRow> rows);
