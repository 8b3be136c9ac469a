// One image slot of the job: the image to write and the data read back for
// one entry of the image list.
//
// Slots are allocated when first used and sized to what they hold; every byte
// beyond the held image reads as 0xFF, as erased flash does, so a job with one
// small image does not cost 16 MiB per slot.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

class ImageSlot {
public:
    // Largest image one slot holds.
    static constexpr size_t kMaxBytes = 0x1000000;
    static constexpr size_t kSectorBytes = 0x1000;

    // Replaces the image by `length` bytes of `data`, padded with 0xFF to
    // `padded_length` (at least length, at most kMaxBytes).
    void assign(const uint8_t* data, size_t length, size_t padded_length) {
        padded_length = std::min(std::max(padded_length, length), kMaxBytes);
        length = std::min(length, padded_length);
        m_image.assign(padded_length, 0xFF);
        if (length) std::memcpy(m_image.data(), data, length);
    }
    // Takes `image` (already padded, at most kMaxBytes) as the slot's image,
    // dropping the memory of the one it replaces.
    void adopt(std::vector<uint8_t>&& image) {
        if (image.size() > kMaxBytes) image.resize(kMaxBytes);
        m_image = std::move(image);
    }
    void clear() { std::vector<uint8_t>().swap(m_image); }

    // Bytes held (the padded image); reads beyond it give 0xFF.
    size_t size() const { return m_image.size(); }
    const uint8_t* data() const { return m_image.data(); }

    // Copies [offset, offset + length) of the image; 0xFF where the slot holds nothing.
    void read(size_t offset, uint8_t* out, size_t length) const {
        size_t held = offset < m_image.size() ? std::min(length, m_image.size() - offset) : 0;
        if (held) std::memcpy(out, m_image.data() + offset, held);
        if (held < length) std::memset(out + held, 0xFF, length - held);
    }
    uint8_t at(size_t offset) const { return offset < m_image.size() ? m_image[offset] : 0xFF; }

    // Receives the data read from flash for this slot's entry.
    std::vector<uint8_t>& read_buffer() { return m_read; }
    // One 4 KiB sector of scratch space.
    uint8_t* sector_buffer() { return m_sector.data(); }

private:
    std::vector<uint8_t> m_image;
    std::vector<uint8_t> m_read;
    std::array<uint8_t, kSectorBytes> m_sector{};
};
