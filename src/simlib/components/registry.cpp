#include "simlib/components/registry.h"

namespace ts {

namespace {

// A component kind whose records and passes are not built yet: it holds no
// objects, so a step and a publication have nothing to do.
class EmptyComponent final : public SimComponent {
public:
    using SimComponent::SimComponent;
    void Simulate(float, World&) override {}
    void Publish(World&) override {}
};

}  // namespace

ComponentRegistry CreateComponentRegistry() {
    ComponentRegistry registry;
    for (int i = 0; i < kComponentCount; ++i)
        registry[static_cast<size_t>(i)] = std::make_unique<EmptyComponent>(static_cast<ComponentKind>(i));
    return registry;
}

}  // namespace ts
