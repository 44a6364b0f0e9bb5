// The sale both receipt benchmarks time: ten positions paid in cash.
#pragma once

#include <string>

#include "host/receipt_fixture.h"

namespace vktest {

inline std::string TenPositionSale() {
    std::string lines;
    for (int i = 1; i <= 10; ++i) lines += Position("Товар " + std::to_string(i), "2", "12.25", "24.50");
    return Sale(lines, "Cash=\"245\"");
}

}  // namespace vktest
