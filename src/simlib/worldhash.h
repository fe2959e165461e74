// A 64-bit fingerprint of a world's state, for determinism checks and for
// hosts chasing a desync: equal worlds give equal hashes on every machine.
#pragma once

#include <cstdint>

namespace ts {

class World;
struct OutputCollector;

// The ten arrays of the live cells, the side arrays the passes keep between
// steps (accumulator, flows, target temperatures), the grid size and the
// generator's seed.
uint64_t HashWorldState(const World& world);

// Every entry of every result list, in list order.
uint64_t HashOutputs(const OutputCollector& outputs);

}  // namespace ts
