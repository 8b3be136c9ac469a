// Drives a virtual chip directly, without threads or a line: bytes in at a
// rate and a time, answers out with their rate and the time they are due.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "virtual_chip.h"

using Bytes = std::vector<uint8_t>;

// "01 E0 FC 01 00" -> bytes.
inline Bytes B(const std::string& hex) {
    Bytes out;
    std::istringstream in(hex);
    std::string piece;
    while (in >> piece) out.push_back(uint8_t(std::stoul(piece, nullptr, 16)));
    return out;
}

inline std::string hex(const Bytes& bytes) {
    std::string s;
    char buf[4];
    for (uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", b);
        s += buf;
    }
    return s;
}

inline Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

struct ChipOutput {
    Bytes bytes;
    int baud = 0;
    int64_t due = 0;
};

class ChipDriver {
public:
    explicit ChipDriver(const sim::SimConfig& config = sim::SimConfig{}) {
        std::string error;
        chip = sim::VirtualChip::create(config, error);
        if (!chip) ADD_FAILURE() << error;
    }

    // Sends bytes at `baud` now.
    void send(const Bytes& bytes, int baud = 115200) { chip->receive(bytes.data(), bytes.size(), baud, now); }

    // Everything the chip sends from now until `span_us` later; the clock moves there.
    std::vector<ChipOutput> collect(int64_t span_us = 1'000'000) {
        std::vector<ChipOutput> out;
        int64_t until = now + span_us;
        while (chip->next_output_at() <= until) {
            ChipOutput o;
            o.due = chip->next_output_at();
            if (!chip->take_output(until, o.bytes, o.baud)) break;
            out.push_back(o);
        }
        now = until;
        return out;
    }

    // Bytes answered (all rates joined) to one frame sent at `baud`.
    Bytes exchange(const Bytes& frame, int baud = 115200, int64_t span_us = 1'000'000) {
        send(frame, baud);
        Bytes all;
        for (const ChipOutput& o : collect(span_us)) all.insert(all.end(), o.bytes.begin(), o.bytes.end());
        return all;
    }

    // Register access through the ROM's frames; the clock moves by span_us.
    void write_reg(uint32_t address, uint32_t value, int64_t span_us = 1'000'000) {
        Bytes frame = B("01 E0 FC 09 01");
        for (uint32_t v : {address, value})
            for (int i = 0; i < 4; ++i) frame.push_back(uint8_t(v >> (8 * i)));
        Bytes answer = exchange(frame, m_baud, span_us);
        if (answer.size() != 15) ADD_FAILURE() << "write answer " << answer.size() << " bytes";
    }
    uint32_t read_reg(uint32_t address, int64_t span_us = 1'000'000) {
        Bytes frame = B("01 E0 FC 05 03");
        for (int i = 0; i < 4; ++i) frame.push_back(uint8_t(address >> (8 * i)));
        Bytes a = exchange(frame, m_baud, span_us);
        if (a.size() != 15) {
            ADD_FAILURE() << "read answer " << a.size() << " bytes";
            return 0xDEADBEEF;
        }
        return uint32_t(a[11]) | (uint32_t(a[12]) << 8) | (uint32_t(a[13]) << 16) | (uint32_t(a[14]) << 24);
    }
    // Rate the register helpers send at.
    void use_baud(int baud) { m_baud = baud; }

    void advance(int64_t us) { now += us; }

    std::unique_ptr<sim::VirtualChip> chip;
    int64_t now = 1'000'000;

private:
    int m_baud = 115200;
};

// Frames typed out from the protocol.
inline const Bytes kLinkCheck = B("01 E0 FC 01 00");
inline const Bytes kLinkCheckAnswer = B("04 0E 05 01 E0 FC 01 00");
inline const Bytes kReboot = B("01 E0 FC 02 0E A5");
inline const Bytes kWriteEnable = B("01 E0 FC FF F4 02 00 0E 06");
