// Reading of the eFuse configuration file (--efuse-file), section "efuse_cfg".
//
// Layout of the 32-byte image:
//   0..15  coef1..coef4, 32-bit little-endian words
//   16..23 UID, 16 hex digits, first pair in byte 23
//   24..29 MAC, 12 hex digits, first pair in byte 29
//   30     raw, first hex pair
//   31     flag bits
#include <cstdio>

#include "frontend/security_config.h"
#include "support/util.h"

namespace {

const char* const kSection = "efuse_cfg";

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Piece n (two characters) of a hex text; reading stops at the first
// character that is not a hex digit, and a piece beyond the end reads as 0.
uint8_t hex_piece(const std::string& text, size_t n) {
    unsigned value = 0;
    for (size_t i = 2 * n; i < text.size() && i < 2 * n + 2; ++i) {
        int digit = hex_digit(text[i]);
        if (digit < 0) {
            break;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<uint8_t>(value);
}

// Stores `count` pieces of the key's value from byte `top` downwards.
void store_pieces_downwards(const std::string& path, const char* key, size_t count, size_t top, EfuseImage& image) {
    std::string value = ini_read_value(path, kSection, key);
    for (size_t n = 0; n < count; ++n) {
        image[top - n] = hex_piece(value, n);
    }
}

struct FlagBit {
    const char* key;
    uint8_t bit;
};

const FlagBit kFlagBits[] = {
    {"disJtag", 0x80},
    {"disSpiFlash", 0x40},
    {"enEncryptWord", 0x20},
    {"disReadEncryptWord", 0x10},
    {"disWriteEncryptWord", 0x08},
    {"disWriteUID", 0x04},
    {"disWriteMAC", 0x02},
    {"disWriteEfuse", 0x01},
};

}  // namespace

void read_efuse_config(const std::string& path, EfuseImage& image) {
    image.fill(0);
    for (int n = 1; n <= 4; ++n) {
        char key[16];
        std::snprintf(key, sizeof key, "coef%d", n);
        uint32_t word = static_cast<uint32_t>(parse_number(ini_read_value(path, kSection, key)));
        size_t at = 4 * static_cast<size_t>(n - 1);
        for (size_t i = 0; i < 4; ++i) {
            image[at + i] = static_cast<uint8_t>(word >> (8 * i));
        }
    }
    store_pieces_downwards(path, "UID", 8, 23, image);
    store_pieces_downwards(path, "MAC", 6, 29, image);
    image[30] = hex_piece(ini_read_value(path, kSection, "raw"), 0);
    uint8_t flags = 0;
    for (const auto& flag : kFlagBits) {
        if (parse_number(ini_read_value(path, kSection, flag.key)) != 0) {
            flags |= flag.bit;
        }
    }
    image[31] = flags;
}
