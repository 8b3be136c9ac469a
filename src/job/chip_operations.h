// What a run operation needs of a chip object: the three job operations and
// the bound of its retry loops. The chip families implement it; the job only
// holds the object the chip selection made.
#pragma once

#include <cstdint>
#include <memory>

class Download;
struct ChipRow;

class ChipOperations {
public:
    ChipOperations() = default;
    virtual ~ChipOperations() = default;
    ChipOperations(const ChipOperations&) = delete;
    ChipOperations& operator=(const ChipOperations&) = delete;

    virtual bool download() = 0;
    virtual bool read() = 0;
    virtual bool erase() = 0;
    virtual bool extra_operation() = 0;

    // Bound of the retry loops; chip selection sets it to the job's retry count.
    int32_t retry_limit = 20;
};

// The object of the family class of `row`, bound to `job`; null for a row
// without a family class. Defined by the chip families.
std::unique_ptr<ChipOperations> make_chip(const ChipRow& row, Download& job);
