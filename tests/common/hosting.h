// The steps every test host takes through the host kit: the tables, a running
// world, a frame.
#pragma once

#include <cstdint>

#include "hostkit/library.h"
#include "hostkit/payloads.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"

namespace tstest {

// Loads both tables: the element table's answer (its element count, 0 when refused).
inline uint64_t LoadTables(tshost::Library& lib, const tshost::SampleTables& tables) {
    const uint64_t count = lib.SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(tables.elements));
    lib.SendBytes(SIM_MSG_LOAD_DISEASE_TABLE,
                  tshost::DiseaseTablePayload(tables.diseases, static_cast<int32_t>(tables.elements.size())));
    return count;
}

// Creates the world, saves it and loads the save, so that the simulation runs:
// the results of the load, null when the library refused the world or the save.
inline const FrameResults* StartWorld(tshost::Library& lib, const tshost::WorldLayout& world) {
    const uint64_t cells = uint64_t(world.width) * uint64_t(world.height);
    if (lib.SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world)) != cells) return nullptr;
    return reinterpret_cast<const FrameResults*>(lib.SendBytes(SIM_MSG_LOAD_SAVE_GAME, lib.SaveWorld()));
}

// Closes a frame of `dt` over the whole grid and exchanges once: what the exchange returned.
inline const FrameResults* NextFrame(tshost::Library& lib, int32_t width, int32_t height, float dt) {
    lib.Send(SIM_MSG_END_FRAME, tshost::EndFrame(dt, 0, 0, width, height));
    return lib.ExchangeFrame(tshost::HostCellInput(width, height, 0));
}

}  // namespace tstest
