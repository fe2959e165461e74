// Germ sources: each spreads a count of germs over the cells near a cell at a
// fixed interval.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/components/componentmanager.h"
#include "simlib/components/floodfill.h"
#include "simlib/components/simcomponent.h"
#include "tesselsim/tesselsim.h"

namespace ts {

class World;

struct DiseaseEmitterRecord {
    int32_t cell;  // sim cell; -1 until the first modification
    uint8_t diseaseIdx;
    uint8_t radius;
    int32_t count;  // germs per emission
    float interval;
    float timer;
};

class DiseaseEmitter final : public ComponentManager<DiseaseEmitterRecord>, public SimComponent {
public:
    static constexpr ComponentKind kKind = ComponentKind::DiseaseEmitter;
    DiseaseEmitter() : SimComponent(kKind) {}

    static DiseaseEmitterRecord BuildRecord() { return DiseaseEmitterRecord{-1, kNoDisease, 0, 0, 0.0f, 0.0f}; }
    // Replaces the settings; the timer runs on (stale handles are skipped silently).
    void Modify(const World& world, const ModifyDiseaseEmitterPayload& m);

    void Simulate(float dt, World& world) override;
    void Publish(World& world) override;

    // One entry per slot, always {255, 0}.
    std::vector<DiseaseEmitterOutput> outputs;

private:
    static DiseaseEmitterOutput Idle() { return DiseaseEmitterOutput{kNoDisease, {0, 0, 0}, 0}; }

    FloodFill fill_;
};

}  // namespace ts
