// Worlds the tool builds itself: the demo scene and the benchmark scenes.
#pragma once

#include <string>

#include "hostkit/world.h"
#include "tessel/host.h"

namespace tessel {

inline constexpr int32_t kDemoWidth = 256;
inline constexpr int32_t kDemoHeight = 192;

// The demo: a water pool over ice, a block of water and a heap of sand that
// fall onto open ground, magma meeting water, a heated building, and a chamber
// of hydrogen under carbon dioxide over a methane vent.
tshost::WorldLayout DemoWorld(const tshost::SampleTables& tables);
// The demo's objects, added to the loaded demo world: the heated building, the
// vent (a mass emitter) and a germ source in the pool. Runs two frames without
// physics to learn the handles.
void AddDemoObjects(Host& host);

// Benchmark scenes of any size: "mixed" (every pass busy: a temperature
// gradient, water, ice, sand, two gases) and "settled" (layers at rest at one
// temperature, as most of a game world is). Throws UsageError for another name.
tshost::WorldLayout BenchWorld(const std::string& scene, const tshost::SampleTables& tables, int32_t width,
                               int32_t height);

// The save of a world built by CreateWorld (the host's usual way to make one).
std::string SaveOf(Host& host, const tshost::WorldLayout& world);

}  // namespace tessel
