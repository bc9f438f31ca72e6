// How far apart the stack stood at the calls it saw: a handler run inside another stands deeper.
#pragma once

#include <algorithm>
#include <cstdint>

struct StackSpread {
    std::uintptr_t low = UINTPTR_MAX;
    std::uintptr_t high = 0;
    void mark()
    {
        const auto at = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
        low = std::min(low, at);
        high = std::max(high, at);
    }
    std::uintptr_t bytes() const { return high >= low ? high - low : 0; }
};
