// The little state the passes keep between steps and frames, in one visible
// place. It lives for the whole process, across worlds.
#pragma once

#include <cstdint>

namespace ts {

struct PassState {
    // Row direction of the gas pressure pass: negated at the start of every step.
    int32_t scanDirection = -1;
    // Drift direction of the settle pass: negated at every gas cell it settles.
    int32_t gasDirection = -1;
    // Publications since the sublimation accumulator was last zeroed.
    uint32_t publicationCounter = 0;
};

PassState& ProcessPassState();

}  // namespace ts
