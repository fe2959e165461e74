// The bounded breadth-first walk that finds the open cells around a point, and
// the consuming walk that takes matter from them.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/world.h"

namespace ts {

// What a consuming walk took: element, disease, mass, mass-weighted temperature.
struct ConsumedMatter {
    uint8_t elementIdx = kNoElement;
    uint8_t diseaseIdx = kNoDisease;
    float mass = 0.0f;
    float temperature = 0.0f;
    int32_t diseaseCount = 0;
};

class FloodFill {
public:
    // The cells reachable from (x, y) within `radius` steps, skipping solids,
    // in breadth-first order (radius 1: the start cell only; 0: nothing).
    const std::vector<int32_t>& Fill(const World& world, int32_t x, int32_t y, int32_t radius);

    // Takes up to `amount` kg of `element` from the cells the same walk
    // reaches, accumulating into `result`. Returns the cell at which the
    // amount was satisfied, or -1.
    int32_t ConsumeNearby(World& world, int32_t x, int32_t y, int32_t radius, uint8_t element, float amount,
                          ConsumedMatter& result);

    const std::vector<int32_t>& found() const { return found_; }

private:
    struct Entry {
        int32_t x, y, depth;
    };
    template <class Visit>
    void Walk(const World& world, int32_t x, int32_t y, int32_t radius, Visit&& visit);

    std::vector<Entry> queue_;  // breadth-first: read from the front, append at the back
    std::vector<int32_t> found_;
    // A cell is visited in the current walk when its mark equals the walk's
    // generation (equivalent to searching the visited list, without its cost).
    std::vector<uint32_t> visitMark_;
    uint32_t generation_ = 0;
};

}  // namespace ts
