#pragma once
// Slots of the demo portal that tests arm and release themselves.
#include <gtest/gtest.h>

#include <vector>

#include "portal/demo_portal.h"

namespace quilora::test {

// A not-released slot of each of n doctors with names.
inline std::vector<portal::SlotOfDoctor> LaterSlotsOfDoctors(const portal::DemoPortal& demo, std::size_t n) {
    std::vector<portal::SlotOfDoctor> found;
    for (const portal::Doctor& d : demo.GetCatalogue().Doctors()) {
        if (d.name.empty())
            continue;
        for (const portal::Slot& s : demo.SlotsOf(d.id))
            if (s.state == portal::state::kNotReleased) {
                found.push_back({d, s});
                break;
            }
        if (found.size() == n)
            break;
    }
    EXPECT_EQ(found.size(), n);
    return found;
}

} // namespace quilora::test
