// Builds the six components of a world, in registry order.
#pragma once

#include <array>
#include <memory>

#include "simlib/components/simcomponent.h"

namespace ts {

using ComponentRegistry = std::array<std::unique_ptr<SimComponent>, kComponentCount>;

ComponentRegistry CreateComponentRegistry();

// The registry's component of type T (T::kKind names its place).
template <class T>
T& ComponentOf(const ComponentRegistry& registry) {
    return static_cast<T&>(*registry[static_cast<size_t>(T::kKind)]);
}

}  // namespace ts
