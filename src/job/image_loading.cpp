// add_image: plain images and packaged multi-image files into the job's
// image slots and image list.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "job/download.h"
#include "support/log.h"
#include "support/util.h"

namespace {

constexpr uint8_t kPackageMagic[8] = {'q', 'u', 'a', 'r', 'n', '.', '.', '.'};
constexpr uint64_t kSlotBytes = ImageSlot::kMaxBytes;
constexpr int kSlotMegabytes = int(kSlotBytes / 0x100000);
constexpr uint64_t kPackageHeaderBytes = 32;
constexpr uint64_t kPackageRecordBytes = 32;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Lengths go to the flash in whole 256-byte pages; the padding is 0xFF.
uint64_t round_up_page(uint64_t length) { return (length + 0xFF) & ~uint64_t(0xFF); }

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

bool read_at(FILE* f, uint64_t offset, uint8_t* out, size_t length) {
    if (length == 0) return true;
    if (fseeko(f, off_t(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, length, f) == length;
}

// Size of an open file; false when it cannot be told.
bool file_size(FILE* f, uint64_t& size) {
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    off_t end = ftello(f);
    if (end < 0) return false;
    size = uint64_t(end);
    return true;
}

struct PackageRecord {
    uint32_t length;
    uint32_t address;
};

}  // namespace

int Download::add_image(const std::string& path, int index, ImageEntry& entry, int replace, int append) {
    if (index < 0 || index >= kImageSlots) {
        job_log(LOG_INFO, "image %s refused: image slot %d is outside 0..%d", path.c_str(), index, kImageSlots - 1);
        return 0;
    }
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return 0;
    uint64_t size = 0;
    if (!file_size(file.get(), size)) return 0;

    uint8_t magic[sizeof kPackageMagic] = {};
    const bool packaged = size >= sizeof magic && read_at(file.get(), 0, magic, sizeof magic) &&
                          std::memcmp(magic, kPackageMagic, sizeof magic) == 0;

    // Entry i of the list always uses image slot i: replaced entries keep
    // their positions, appended ones take the next free position.
    const bool replacing = replace == 1 && !m_images.empty() && append != 1;
    const size_t first = replacing ? size_t(index) : m_images.size();
    if (first > m_images.size()) {
        job_log(LOG_INFO, "image %s refused: the image list has no entry %d to replace", path.c_str(), index);
        return 0;
    }

    std::vector<ImageEntry> entries;
    std::vector<std::vector<uint8_t>> images;

    if (!packaged) {
        if (size > kSlotBytes) {
            job_log(LOG_INFO, "max size of a valid bin is : %d M, but the current bin size is : %.1f M",
                    kSlotMegabytes, double(size) / 1048576.0);
            return 0;
        }
        if (first >= size_t(kImageSlots)) {
            job_log(LOG_INFO, "image %s refused: all %d image slots are in use", path.c_str(), kImageSlots);
            return 0;
        }
        if (entry.length < 0) {
            job_log(LOG_INFO, "image %s refused: invalid length %d", path.c_str(), entry.length);
            return 0;
        }
        // A reload takes the bytes the first load took, not the padded length.
        const int32_t asked = entry.file_length > 0 ? entry.file_length : entry.length;
        const uint64_t length = asked == 0 ? size : uint64_t(asked);
        const uint64_t padded = round_up_page(length);
        if (padded > kSlotBytes) {
            job_log(LOG_INFO, "image %s refused: length 0x%llx is more than the %d M of an image slot", path.c_str(),
                    static_cast<unsigned long long>(length), kSlotMegabytes);
            return 0;
        }
        std::vector<uint8_t> image(std::max(round_up_page(size), padded), 0xFF);
        if (!read_at(file.get(), 0, image.data(), size_t(size))) {
            job_log(LOG_INFO, "image %s refused: the file cannot be read", path.c_str());
            return 0;
        }
        if (length < size) {
            // Only the first `length` bytes of the file were asked for: the
            // rest of the last page is padding, not the file's next bytes.
            std::fill(image.begin() + ptrdiff_t(length), image.begin() + ptrdiff_t(padded), 0xFF);
            image.resize(size_t(padded));
        }
        entry.length = int32_t(padded);
        entry.file_length = int32_t(length);
        entry.crc = crc32(image.data(), size_t(padded));
        entry.path = path;
        entries.push_back(entry);
        images.push_back(std::move(image));
    } else {
        uint8_t header[kPackageHeaderBytes];
        if (size < kPackageHeaderBytes || !read_at(file.get(), 0, header, sizeof header)) {
            job_log(LOG_INFO, "packaged image %s refused: its header reaches beyond the end of the file", path.c_str());
            return 0;
        }
        const int count = be16(header + 18);
        if (first + size_t(count) > size_t(kImageSlots)) {
            job_log(LOG_INFO, "packaged image %s refused: %d records from image slot %d need more than the %d slots",
                    path.c_str(), count, int(first), kImageSlots);
            return 0;
        }
        if (kPackageHeaderBytes + kPackageRecordBytes * uint64_t(count) > size) {
            job_log(LOG_INFO, "packaged image %s refused: its table of %d records reaches beyond the end of the file",
                    path.c_str(), count);
            return 0;
        }
        // Every record is checked before any slot changes, so a refused file
        // leaves the job as it was.
        std::vector<PackageRecord> records;
        for (int k = 0; k < count; ++k) {
            uint8_t raw[kPackageRecordBytes];
            if (!read_at(file.get(), kPackageHeaderBytes + kPackageRecordBytes * uint64_t(k), raw, sizeof raw)) {
                job_log(LOG_INFO, "packaged image %s refused: record %d cannot be read", path.c_str(), k);
                return 0;
            }
            PackageRecord record{be32(raw), be32(raw + 8)};
            if (round_up_page(record.length) > kSlotBytes) {
                job_log(LOG_INFO, "packaged image %s refused: record %d holds 0x%x bytes, more than the %d M of an image slot",
                        path.c_str(), k, record.length, kSlotMegabytes);
                return 0;
            }
            if (uint64_t(record.address) + record.length > size) {
                job_log(LOG_INFO,
                        "packaged image %s refused: record %d (0x%x bytes at 0x%x) reaches beyond the end of the file "
                        "(0x%llx bytes)",
                        path.c_str(), k, record.length, record.address, static_cast<unsigned long long>(size));
                return 0;
            }
            records.push_back(record);
        }
        for (int k = 0; k < count; ++k) {
            const PackageRecord& record = records[size_t(k)];
            const uint64_t padded = round_up_page(record.length);
            std::vector<uint8_t> image(size_t(padded), 0xFF);
            if (!read_at(file.get(), record.address, image.data(), record.length)) {
                job_log(LOG_INFO, "packaged image %s refused: record %d cannot be read", path.c_str(), k);
                return 0;
            }
            ImageEntry loaded = entry;
            loaded.length = int32_t(padded);
            loaded.file_length = int32_t(record.length);
            loaded.crc = crc32(image.data(), size_t(padded));
            loaded.path = path;
            loaded.start = record.address;
            entries.push_back(loaded);
            images.push_back(std::move(image));
        }
    }

    for (size_t k = 0; k < entries.size(); ++k) {
        const size_t position = first + k;
        m_slots[position].adopt(std::move(images[k]));
        if (position < m_images.size())
            m_images[position] = entries[k];
        else
            m_images.push_back(entries[k]);
    }
    return 1;
}
