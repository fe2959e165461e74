// Buildings: each covers a rectangle of cells, exchanges heat with the cells
// of it that hold matter, adds its own production, and tells the host when it
// crosses its overheat threshold or its material's highTemp.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "simlib/components/componentmanager.h"
#include "simlib/components/simcomponent.h"
#include "tesselsim/tesselsim.h"

namespace ts {

class World;

struct BuildingRecord {
    float temperature;
    float overheatTemperature;
    float heatGeneration;  // kJ/s
    float heatCapacity;    // per covered cell
    float thermalConductivity;
    float highTemp;
    int32_t minX, minY, maxX, maxY;  // sim coordinates, maxima exclusive

    int32_t cellCount() const { return (maxX - minX) * (maxY - minY); }
};

class BuildingHeatExchange final : public ComponentManager<BuildingRecord>, public SimComponent {
public:
    static constexpr ComponentKind kKind = ComponentKind::BuildingHeatExchange;
    BuildingHeatExchange() : SimComponent(kKind) {}

    // The record of an add or replacement; nothing (after a report) for a
    // building without cells, with an invalid temperature or one that does
    // not lie on the grid.
    static std::optional<BuildingRecord> BuildRecord(const World& world, const BuildingHeatExchangeBody& body);

    // The message effects; stale handles are skipped silently.
    void Replace(World& world, uint32_t h, const BuildingRecord& record);
    void ModifyEnergy(uint32_t h, float kilojoules, float minTemperature, float maxTemperature);
    void RemoveBuilding(uint32_t h);

    void Simulate(float dt, World& world) override;
    void Publish(World& world) override;

    // One entry per slot: {handle, temperature}; -1 after a removal.
    std::vector<BuildingOutputEntry> outputs;

private:
    void SizeOutputs() { outputs.resize(slotCount(), BuildingOutputEntry{0, 0.0f}); }
};

}  // namespace ts
