// One image or flash range of a job.
#pragma once

#include <cstdint>
#include <string>

struct ImageEntry {
    // The entry takes part in the run; the job may clear it.
    bool selected = true;
    // The image file to write, or the file a read range is stored in.
    std::string path;
    // Flash start address in bytes.
    uint32_t start = 0;
    // CRC-32 of the image contents as loaded into its slot; zero for ranges.
    uint32_t crc = 0;
    // Length in bytes; for images 0 means the file's size is taken.
    int32_t length = 0;
    // Bytes of the image file the entry takes, before the padding to whole
    // pages; set when the image is loaded, so that loading it again takes
    // the same bytes (0: not loaded yet).
    int32_t file_length = 0;
};
