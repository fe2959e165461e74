// Outlets: each puts an element's mass into the cells near a point at a fixed
// interval, and tells the host when it is blocked and when it has room again.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/components/componentmanager.h"
#include "simlib/components/floodfill.h"
#include "simlib/components/simcomponent.h"
#include "tesselsim/tesselsim.h"

namespace ts {

class World;

struct MassEmitterRecord {
    float timer;
    float interval;  // seconds between emissions
    float emitMass;
    float emitTemperature;  // negative: the element's default temperature
    float maxPressure;      // a cell receives matter only while its mass is below this
    int32_t emitDiseaseCount;
    uint16_t x, y;  // sim coordinates
    uint8_t elementIdx;
    uint8_t radius;
    uint8_t blocked;  // 0 room, 1 blocked, 255 not yet evaluated
    uint8_t emitDiseaseIdx;
    uint32_t blockedCallback;
    uint32_t unblockedCallback;
};

class MassEmitter final : public ComponentManager<MassEmitterRecord>, public SimComponent {
public:
    static constexpr ComponentKind kKind = ComponentKind::MassEmitter;
    static constexpr uint8_t kNotEvaluated = 255;

    MassEmitter() : SimComponent(kKind) {}

    static MassEmitterRecord BuildRecord(const AddMassEmitterPayload& m);
    // Replaces every setting and restarts the timer (stale handles are skipped silently).
    void Modify(const World& world, const ModifyMassEmitterPayload& m);

    void Simulate(float dt, World& world) override;
    void Publish(World& world) override;

    // One entry per slot: what the outlet placed during the frame.
    std::vector<MassEmitterOutput> outputs;

private:
    struct Placed {
        bool placed;
        float mass;
        float temperature;
    };
    Placed Place(World& world, const MassEmitterRecord& r, const std::vector<int32_t>& found);
    Placed Take(World& world, const MassEmitterRecord& r, int32_t cell, float temperature);
    void SizeOutputs() { outputs.resize(slotCount(), Idle()); }
    static MassEmitterOutput Idle() { return MassEmitterOutput{kNoElement, 255, {0, 0}, 0.0f, 0.0f, 0}; }

    FloodFill fill_;
};

}  // namespace ts
