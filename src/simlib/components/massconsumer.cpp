#include "simlib/components/massconsumer.h"

#include "simlib/world.h"

namespace ts {

MassConsumerRecord MassConsumer::BuildRecord(const World& world, const AddMassConsumerPayload& m) {
    const int32_t c = world.GameToSim(m.gameCell);
    return MassConsumerRecord{0.0f, m.radius, m.mode, m.elementIdx, 0, uint16_t(c % world.width),
                              uint16_t(c / world.width)};
}

void MassConsumer::Modify(const World& world, uint32_t h, int32_t gameCell, float rate) {
    MassConsumerRecord* r = Find(h);
    if (r == nullptr) return;
    const int32_t c = world.GameToSim(gameCell);
    r->x = uint16_t(c % world.width);
    r->y = uint16_t(c / world.width);
    r->rate = rate;
}

void MassConsumer::Simulate(float dt, World& world) {
    for (size_t i = 0; i < records.size(); ++i) {
        MassConsumerRecord& r = records[i];
        const float amount = dt * r.rate;
        uint8_t element = kNoElement;
        if (r.mode == kFixedElement) {
            element = r.elementIdx;
        } else if (r.mode == kAnyLiquid || r.mode == kAnyGas) {
            // The first liquid (or gas) found, starting one further each step
            // so that an intake over several fluids takes them in turn.
            const std::vector<int32_t>& found = fill_.Fill(world, r.x, r.y, r.radius);
            const uint8_t bits = r.mode == kAnyLiquid ? SIM_STATE_LIQUID : SIM_STATE_GAS;
            const size_t n = found.size();
            for (size_t k = 0; k < n; ++k) {
                const uint8_t e = world.updatedCells.elementIdx[size_t(found[(r.nextStart % n + k) % n])];
                if ((world.elements.State(e) & bits) == bits) {
                    element = e;
                    break;
                }
            }
            if (element == kNoElement) continue;
        } else {
            continue;
        }
        ConsumedMatter taken;
        taken.elementIdx = element;
        fill_.ConsumeNearby(world, r.x, r.y, r.radius, element, amount, taken);
        if (taken.mass > 0.0f)
            outputs.push_back(MassConsumerOutput{handles[i], taken.elementIdx, taken.diseaseIdx, {0, 0}, taken.mass,
                                                 taken.temperature, taken.diseaseCount});
        r.nextStart = uint8_t(r.nextStart + 1);
    }
}

}  // namespace ts
