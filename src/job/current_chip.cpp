#include "job/current_chip.h"

#include <vector>

#include "chips/chipset.h"

namespace {

struct ChipHolder {
    std::unique_ptr<CQN_WIFI_CHIPSET> current;
    std::vector<std::unique_ptr<CQN_WIFI_CHIPSET>> replaced;
};

ChipHolder& holder() {
    static ChipHolder chips;
    return chips;
}

}  // namespace

CQN_WIFI_CHIPSET* current_chip() { return holder().current.get(); }

void set_current_chip(std::unique_ptr<CQN_WIFI_CHIPSET> chip) {
    ChipHolder& h = holder();
    if (h.current) h.replaced.push_back(std::move(h.current));
    h.current = std::move(chip);
}

void reset_current_chip() {
    ChipHolder& h = holder();
    h.current.reset();
    h.replaced.clear();
}
