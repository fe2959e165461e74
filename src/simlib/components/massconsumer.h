// Intakes: each takes an element's mass out of the cells near a point, once
// per step, and reports what it took.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/components/componentmanager.h"
#include "simlib/components/floodfill.h"
#include "simlib/components/simcomponent.h"
#include "tesselsim/tesselsim.h"

namespace ts {

class World;

struct MassConsumerRecord {
    float rate;  // kg per second
    uint8_t radius;
    uint8_t mode;        // 0: the fixed element, 1: any liquid, 2: any gas
    uint8_t elementIdx;  // mode 0
    uint8_t nextStart;   // rotates the search for a liquid or gas
    uint16_t x, y;       // sim coordinates
};

class MassConsumer final : public ComponentManager<MassConsumerRecord>, public SimComponent {
public:
    static constexpr ComponentKind kKind = ComponentKind::MassConsumer;
    enum Mode : uint8_t { kFixedElement = 0, kAnyLiquid = 1, kAnyGas = 2 };

    MassConsumer() : SimComponent(kKind) {}

    static MassConsumerRecord BuildRecord(const World& world, const AddMassConsumerPayload& m);
    // Moves the intake and sets its rate (stale handles are skipped silently).
    void Modify(const World& world, uint32_t h, int32_t gameCell, float rate);

    void Simulate(float dt, World& world) override;
    void Publish(World&) override {}

    // One entry per step in which an intake took something; the frame output
    // takes the list once per frame.
    std::vector<MassConsumerOutput> outputs;

private:
    FloodFill fill_;
};

}  // namespace ts
