// The component interface: host objects that live on the grid and take part in
// every physics step. The world calls its six components in registry order.
#pragma once

#include <cstdint>

namespace ts {

class World;

enum class ComponentKind : uint8_t {
    MassConsumer,
    MassEmitter,
    ElementChunk,
    BuildingHeatExchange,
    DiseaseEmitter,
    ReservedComponent,
};
constexpr int kComponentCount = 6;

class SimComponent {
public:
    explicit SimComponent(ComponentKind kind) : kind_(kind) {}
    virtual ~SimComponent() = default;
    ComponentKind kind() const { return kind_; }

    // One physics step's work of the component.
    virtual void Simulate(float dt, World& world) = 0;
    // Refreshes the outputs from the records, without simulating.
    virtual void Publish(World& world) = 0;

private:
    ComponentKind kind_;
};

}  // namespace ts
