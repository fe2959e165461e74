// Loose items of matter: each exchanges heat with the cell it lies in, with a
// solid cell below it, or with the storage it sits in.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/components/componentmanager.h"
#include "simlib/components/simcomponent.h"
#include "tesselsim/tesselsim.h"

namespace ts {

class World;

struct ElementChunkRecord {
    int32_t cell;  // sim cell
    float temperature;
    float heatCapacity;  // 0 for chunks too light to take part
    float thermalConductivity;
    float cellExchangeScale;
    float floorExchangeScale;
    float highTemp;
    // The storage the chunk sits in; while storageHeatCapacity > 0 it
    // exchanges with the storage only.
    float storageTemperature;
    float storageHeatCapacity;
    float storageConductivity;
};

// The outcome of one exchange between body 1 (a cell or a storage) and body 2
// (the chunk): their new temperatures and the energy that went into the chunk.
struct Conduction {
    float energy;
    float f1;
    float f2;
    bool valid;  // false: the outputs left their interval (they are not applied)
};

Conduction ConductTemperature(float dt, float scale, float t1, float hc1, float tc1, float i1, float t2, float hc2,
                              float tc2, float i2);

class ElementChunk final : public ComponentManager<ElementChunkRecord>, public SimComponent {
public:
    static constexpr ComponentKind kKind = ComponentKind::ElementChunk;
    ElementChunk() : SimComponent(kKind) {}

    // Records from host values (already checked by the caller).
    static ElementChunkRecord BuildRecord(const World& world, const AddElementChunkPayload& m);

    void Simulate(float dt, World& world) override;
    void Publish(World& world) override;

    // Heat exchange of the chunk with cell c (on updatedCells); the energy
    // the chunk took from the cell.
    float ExchangeWithCell(float dt, World& world, uint32_t h, int32_t c, float scale, ElementChunkRecord& chunk);

    // One entry per slot: {temperature, energy taken during the frame}.
    std::vector<ElementChunkOutput> outputs;

private:
    void SizeOutputs() { outputs.resize(slotCount(), ElementChunkOutput{0.0f, 0.0f}); }
};

}  // namespace ts
