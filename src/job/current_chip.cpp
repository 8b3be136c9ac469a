#include "job/current_chip.h"

#include <vector>

#include "job/chip_operations.h"

namespace {

struct ChipHolder {
    std::unique_ptr<ChipOperations> current;
    std::vector<std::unique_ptr<ChipOperations>> replaced;
};

ChipHolder& holder() {
    static ChipHolder chips;
    return chips;
}

}  // namespace

ChipOperations* current_chip() { return holder().current.get(); }

void set_current_chip(std::unique_ptr<ChipOperations> chip) {
    ChipHolder& h = holder();
    if (h.current) h.replaced.push_back(std::move(h.current));
    h.current = std::move(chip);
}

void reset_current_chip() {
    ChipHolder& h = holder();
    h.current.reset();
    h.replaced.clear();
}
