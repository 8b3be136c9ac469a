#include "command_log.h"

#include <cstdio>

namespace sim {

namespace {

const char* short_name(uint8_t op) {
    switch (op) {
    case 0x00: return "LinkCheck";
    case 0x01: return "WriteReg";
    case 0x03: return "ReadReg";
    case 0x0E: return "RebootCommand";
    case 0x0F: return "SetBaudRate";
    case 0x10: return "CheckCRC";
    case 0x21: return "MemoryWrite";
    case 0xFE: return "ResetMagic";
    default: return "Unknown";
    }
}

const char* long_name(uint8_t op) {
    switch (op) {
    case 0x06: return "FlashWrite";
    case 0x07: return "FlashWrite4K";
    case 0x08: return "FlashRead";
    case 0x09: return "FlashRead4K";
    case 0x0A: return "FlashEraseAll";
    case 0x0B: return "FlashErase4K";
    case 0x0C: return "FlashReadSR";
    case 0x0D: return "FlashWriteSR";
    case 0x0E: return "FlashSpi";
    case 0x0F: return "FlashErase";
    default: return "Unknown";
    }
}

std::string hex_bytes(const std::vector<uint8_t>& bytes, size_t from, size_t total) {
    std::string out;
    char buf[4];
    for (size_t i = from; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%s%02X", out.empty() ? "" : " ", bytes[i]);
        out += buf;
    }
    if (total > bytes.size()) out += " ...";
    return out;
}

}  // namespace

CommandRecord make_command_record(const RomFrame& frame, int64_t time_us) {
    CommandRecord r;
    r.time_us = time_us;
    r.long_form = frame.long_form;
    r.opcode = frame.opcode;
    r.param_length = frame.params.size();
    size_t keep = frame.params.size() < CommandRecord::kKeptParams ? frame.params.size() : CommandRecord::kKeptParams;
    r.params.assign(frame.params.begin(), frame.params.begin() + keep);
    return r;
}

std::string CommandRecord::name() const { return long_form ? long_name(opcode) : short_name(opcode); }

uint32_t CommandRecord::word(size_t offset) const {
    if (offset + 4 > params.size()) return 0;
    return uint32_t(params[offset]) | (uint32_t(params[offset + 1]) << 8) | (uint32_t(params[offset + 2]) << 16) |
           (uint32_t(params[offset + 3]) << 24);
}

std::string CommandRecord::describe() const {
    char buf[160];
    std::string n = name();
    if (n == "Unknown") {
        std::snprintf(buf, sizeof buf, "Unknown %s %02X", long_form ? "long" : "short", opcode);
        std::string s = buf;
        if (!params.empty()) s += " " + hex_bytes(params, 0, param_length);
        if (!answered) s += " (no answer)";
        return s;
    }
    std::string args;
    if (!long_form) {
        switch (opcode) {
        case 0x01: std::snprintf(buf, sizeof buf, " 0x%08X=0x%08X", word(0), word(4)); args = buf; break;
        case 0x03: std::snprintf(buf, sizeof buf, " 0x%08X", word(0)); args = buf; break;
        case 0x0F: std::snprintf(buf, sizeof buf, " %u", word(0)); args = buf; break;
        case 0x10: std::snprintf(buf, sizeof buf, " 0x%08X..0x%08X", word(0), word(4)); args = buf; break;
        case 0x21:
            std::snprintf(buf, sizeof buf, " 0x%08X len %zu", word(0), param_length >= 4 ? param_length - 4 : 0);
            args = buf;
            break;
        default: break;
        }
    } else {
        switch (opcode) {
        case 0x06:
        case 0x07:
            std::snprintf(buf, sizeof buf, " 0x%08X len %zu", word(0), param_length >= 4 ? param_length - 4 : 0);
            args = buf;
            break;
        case 0x08:
            std::snprintf(buf, sizeof buf, " 0x%08X len %u", word(0), params.size() > 4 ? params[4] : 0);
            args = buf;
            break;
        case 0x09:
        case 0x0B: std::snprintf(buf, sizeof buf, " 0x%08X", word(0)); args = buf; break;
        case 0x0F:
            if (params.size() >= 5) {
                std::snprintf(buf, sizeof buf, " %02X 0x%08X", params[0], word(1));
                args = buf;
            }
            break;
        case 0x0C:
        case 0x0D:
        case 0x0E:
            if (!params.empty()) args = " " + hex_bytes(params, 0, param_length);
            break;
        default: break;
        }
    }
    std::string s = n + args;
    if (status >= 0) {
        std::snprintf(buf, sizeof buf, " status %d", status);
        s += buf;
    }
    if (!answered) s += " (no answer)";
    return s;
}

std::vector<EraseEvent> erase_events(const std::vector<CommandRecord>& records) {
    std::vector<EraseEvent> out;
    for (const CommandRecord& r : records) {
        if (!r.long_form) continue;
        if (r.opcode == 0x0B && r.params.size() >= 4) {
            out.push_back({0x20, r.word(0)});
        } else if (r.opcode == 0x0F && r.params.size() >= 5) {
            out.push_back({r.params[0], r.word(1)});
        } else if (r.opcode == 0x0A) {
            out.push_back({0x60, 0});
        } else if (r.opcode == 0x0E && !r.params.empty()) {
            uint8_t op = r.params[0];
            if ((op == 0x20 || op == 0x52 || op == 0xD8) && r.params.size() >= 4) {
                uint32_t a = (uint32_t(r.params[1]) << 16) | (uint32_t(r.params[2]) << 8) | r.params[3];
                out.push_back({op, a});
            } else if (op == 0x60 || op == 0xC7) {
                out.push_back({0x60, 0});
            }
        }
    }
    return out;
}

void CommandLog::add(const CommandRecord& record) {
    if (m_keep) m_records.push_back(record);
    if (m_observer) m_observer(record);
}

}  // namespace sim
