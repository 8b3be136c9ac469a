#include "flash_models.h"

#include <strings.h>

namespace sim {

namespace {

constexpr uint32_t KiB = 1024;

// A part with one status register answers 05 only; parts listed with 35 or 15
// have a second register behind that opcode, and the parts with three
// registers answer 05, 35 and 15.
#define SR1 1, {0x05, 0, 0}
#define SR2(op) 2, {0x05, op, 0}
#define SR3 3, {0x05, 0x35, 0x15}

const SimFlashModel kModels[] = {
    {0x13311C, "PN25F04B", "xtx", 512 * KiB, SR1, 0x003C},
    {0x14405E, "PN25F08B", "xtx", 1024 * KiB, SR1, 0x003C},
    {0x15400B, "XT25F16B", "xtx", 2048 * KiB, SR2(0x35), 0x407C},
    {0x16400B, "XT25F32B", "xtx", 4096 * KiB, SR2(0x35), 0x407C},
    {0x17600B, "XT25Q64B", "xtx", 8192 * KiB, SR2(0x35), 0x407C},
    {0x17400B, "XT25F64B", "xtx", 8192 * KiB, SR2(0x35), 0x407C},
    {0x18600B, "XT25Q128B", "xtx", 16384 * KiB, SR3, 0x407C},
    {0x18400B, "XT25F128F", "xtx", 16384 * KiB, SR3, 0x407C},
    {0x136085, "P25Q40", "Puya", 512 * KiB, SR2(0x35), 0x407C},
    {0x146085, "P25Q80", "Puya", 1024 * KiB, SR2(0x35), 0x407C},
    {0x154285, "P25Q80", "Puya", 2048 * KiB, SR2(0x35), 0x407C},
    {0x152085, "P25Q16HB_K", "Puya", 2048 * KiB, SR2(0x35), 0x407C},
    {0x156085, "P25Q16SU", "Puya", 2048 * KiB, SR2(0x35), 0x407C},
    {0x166085, "P25Q32H", "Puya", 4096 * KiB, SR2(0x35), 0x407C},
    {0x176085, "P25Q64H", "Puya", 8192 * KiB, SR2(0x35), 0x407C},
    {0x1423C2, "MX25V8035F", "WH", 1024 * KiB, SR2(0x15), 0x103C},
    {0x1523C2, "MX25V1635F", "WH", 2048 * KiB, SR2(0x15), 0x103C},
    {0x1340E0, "PN25Q40A", "BY", 512 * KiB, SR2(0x35), 0x401C},
    {0x1440E0, "PN25Q80A", "BY", 1024 * KiB, SR2(0x35), 0x401C},
    {0x1840EF, "WB25Q128JV", "WB", 16384 * KiB, SR2(0x35), 0x407C},
    {0x18505E, "DS_ZB25LQ128C", "WB", 16384 * KiB, SR3, 0x407C},
    {0x15701C, "EN25QH16B", "ESMT", 2048 * KiB, SR1, 0x003C},
    {0x16411C, "EN25QH32A", "ESMT", 4096 * KiB, SR2(0x35), 0x407C},
    {0x16611C, "EN25QH32A", "ESMT", 4096 * KiB, SR2(0x35), 0x407C},
    {0x1360CD, "TH25D_40HB", "TH", 512 * KiB, SR2(0x35), 0x407C},
    {0x1460CD, "TH25Q_80HB", "TH", 1024 * KiB, SR2(0x35), 0x407C},
    {0x1560EB, "TH25Q_16HB", "TH", 2048 * KiB, SR2(0x35), 0x407C},
    {0x134051, "GD25D40", "GD", 512 * KiB, SR1, 0x001C},
    {0x1340C8, "GD25Q41B", "GD", 512 * KiB, SR2(0x35), 0x401C},
    {0x144051, "GD25D80", "GD", 1024 * KiB, SR1, 0x001C},
    {0x1440C8, "GD25D80", "GD", 1024 * KiB, SR2(0x35), 0x407C},
    {0x1540C8, "GD25Q16B", "GD", 2048 * KiB, SR2(0x35), 0x407C},
    {0x1565C8, "GD25WQ16E", "GD", 2048 * KiB, SR2(0x35), 0x407C},
    {0x1665C8, "GD25WQ32E", "GD", 4096 * KiB, SR2(0x35), 0x407C},
    {0x1765C8, "GD25WQ64E", "GD", 8192 * KiB, SR2(0x35), 0x407C},
    {0x1740C8, "GD25Q64", "GD", 8192 * KiB, SR2(0x35), 0x407C},
    {0x1860C8, "GD25LQ128E", "GD", 16384 * KiB, SR2(0x35), 0x407C},
    {0x184120, "XM25QU128C", "XMC", 16384 * KiB, SR2(0x35), 0x407C},
    {0x1640C8, "NA_NA", "NA", 4096 * KiB, SR2(0x35), 0x407C},
};

#undef SR1
#undef SR2
#undef SR3

}  // namespace

const SimFlashModel* flash_models(size_t* count) {
    if (count) *count = sizeof(kModels) / sizeof(kModels[0]);
    return kModels;
}

const SimFlashModel* find_flash_model(uint32_t mid) {
    for (const SimFlashModel& m : kModels)
        if (m.mid == mid) return &m;
    return nullptr;
}

const SimFlashModel* find_flash_model_by_name(const char* name) {
    if (!name) return nullptr;
    for (const SimFlashModel& m : kModels)
        if (strcasecmp(m.name, name) == 0) return &m;
    return nullptr;
}

}  // namespace sim
