#include "simlib/passregion.h"

#include <algorithm>

namespace ts {

Rect ChunkRegion(const World& world) {
    const Region& a = world.activeRegion;
    Rect r{32 * ((a.minX - 1) / 32) + 1, 32 * ((a.minY - 1) / 32) + 1, 32 * ((a.maxX + 30) / 32) + 1,
           32 * ((a.maxY + 30) / 32) + 1};
    r.x0 = std::clamp(r.x0, 1, std::max(world.width - 1, 1));
    r.x1 = std::clamp(r.x1, r.x0, std::max(world.width - 1, 1));
    r.y0 = std::clamp(r.y0, 1, std::max(world.height - 1, 1));
    r.y1 = std::clamp(r.y1, r.y0, std::max(world.height - 1, 1));
    return r;
}

Rect InnerRegion(const World& world) {
    const Region& a = world.activeRegion;
    const int32_t x0 = std::max(a.minX, 3);
    const int32_t length = std::min(std::min(a.maxX, world.width - 3) - x0, a.maxX - a.minX);
    const int32_t y0 = std::max(a.minY, 3);
    const int32_t y1 = std::min(a.maxY, world.height - 3);
    return Rect{x0, y0, x0 + std::max(length, 0), std::max(y1, y0)};
}

}  // namespace ts
