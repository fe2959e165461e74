// Builds the six components of a world, in registry order.
#pragma once

#include <array>
#include <memory>

#include "simlib/components/simcomponent.h"

namespace ts {

using ComponentRegistry = std::array<std::unique_ptr<SimComponent>, kComponentCount>;

ComponentRegistry CreateComponentRegistry();

}  // namespace ts
