#include "simlib/components/diseaseemitter.h"

#include <algorithm>

#include "simlib/world.h"

namespace ts {

void DiseaseEmitter::Modify(const World& world, const ModifyDiseaseEmitterPayload& m) {
    DiseaseEmitterRecord* r = Find(m.handle);
    if (r == nullptr) return;
    r->cell = world.GameToSim(m.gameCell);
    r->diseaseIdx = m.diseaseIdx;
    r->radius = m.radius;
    r->interval = m.interval;
    r->count = m.count;
}

void DiseaseEmitter::Simulate(float dt, World& world) {
    outputs.resize(slotCount(), Idle());
    for (DiseaseEmitterRecord& r : records) {
        // Without germs or a disease the timer does not run.
        if (r.count < 1 || r.diseaseIdx == kNoDisease) continue;
        if (r.timer >= r.interval) {
            const std::vector<int32_t>& found = fill_.Fill(world, r.cell % world.width, r.cell / world.width, r.radius);
            const int32_t n = int32_t(found.size());
            if (n > 0) {
                // An even share for every cell, and the remainder one germ at
                // a time to the nearest cells.
                const int32_t remainder = r.count % n;
                const int32_t share = std::max(r.count - remainder, 0) / n;
                if (share > 0)
                    for (int32_t cell : found) AddDisease(world.updatedCells, size_t(cell), r.diseaseIdx, share, world.diseases);
                for (int32_t k = 0; k < remainder; ++k)
                    AddDisease(world.updatedCells, size_t(found[size_t(k)]), r.diseaseIdx, 1, world.diseases);
            }
            r.timer -= r.interval;
        }
        r.timer += dt;
    }
}

void DiseaseEmitter::Publish(World&) {
    outputs.resize(slotCount(), Idle());
    std::fill(outputs.begin(), outputs.end(), Idle());
}

}  // namespace ts
