// A component that only hands out handles: hosts reserve them for objects the
// simulation does not model.
#pragma once

#include <cstdint>
#include <vector>

#include "simlib/components/componentmanager.h"
#include "simlib/components/simcomponent.h"
#include "tesselsim/tesselsim.h"

namespace ts {

struct ReservedRecord {
    uint8_t unused;
};

class ReservedComponent final : public ComponentManager<ReservedRecord>, public SimComponent {
public:
    static constexpr ComponentKind kKind = ComponentKind::ReservedComponent;
    ReservedComponent() : SimComponent(kKind) {}
    void Simulate(float, World&) override {}
    void Publish(World&) override {}

    // Never filled: published empty every frame.
    std::vector<ReservedComponentOutput> outputs;
};

}  // namespace ts
