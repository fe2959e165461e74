// Building worlds: from the host's arrays, from a save, and the passes that
// complete a freshly built world.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/binarybuffer.h"
#include "simlib/world.h"

namespace ts {

// Border cells of both cell arrays: the border element, 9999 kg, 0 K, no germs.
void FillBorder(World& world);

// Checks that the tables can back a world (vacuum and border elements exist).
bool TablesCanBuildWorld(const ElementTable& elements, std::string& error);

// Builds a world from a CreateWorld payload; null (with `error`) when refused.
std::unique_ptr<World> CreateWorldFromPayload(BinaryBufferReader& reader, const ElementTable& elements,
                                              const DiseaseTable& diseases, std::string& error);

}  // namespace ts
