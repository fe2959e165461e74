// The rectangles the passes run over, drawn from the frame's active region.
#pragma once

#include <cstdint>

#include "simlib/world.h"

namespace ts {

// Rectangle x in [x0, x1), y in [y0, y1) of sim cells.
struct Rect {
    int32_t x0, y0, x1, y1;
};

// The active region widened to whole 32 x 32 chunks (chunks start at 1, 33,
// 65, ...), then kept inside the grid's interior: rounded out, it would reach
// past the grid whenever a side is not a multiple of 32.
Rect ChunkRegion(const World& world);

// The mixing passes' region: the active region kept three cells from every
// edge, since they read neighbours two cells away.
Rect InnerRegion(const World& world);

}  // namespace ts
