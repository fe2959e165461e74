#include "persistence/worldsave.h"

#include "common/report.h"

namespace ts {

uint64_t SaveLength(const World& world) { return 24 * world.cellCount() + 21; }

void WriteSave(const World& world, SaveBuffer& buffer) {
    const uint64_t n = world.cellCount();
    BinaryBufferWriter writer(buffer);
    writer.WriteBytes("SIMSAVE\0", 8);
    writer.Write<int32_t>(SIM_SAVE_VERSION);
    writer.Write<int32_t>(world.width);
    writer.Write<int32_t>(world.height);
    writer.Write<uint8_t>(world.worldFlags);
    const CellArrays& u = world.updatedCells;
    const ElementTable& elements = world.elements;
    for (size_t c = 0; c < n; ++c) {
        const uint8_t e = u.elementIdx[c];
        // A cell outside the table is written as empty space.
        writer.Write<uint32_t>(elements.Contains(e) ? elements.records[e].id : SIM_VACUUM_ELEMENT_ID);
        writer.Write<float>(u.temperature[c]);
        writer.Write<float>(u.mass[c]);
    }
    for (size_t c = 0; c < n; ++c) {
        const uint8_t d = u.diseaseIdx[c];
        writer.Write<uint32_t>(world.diseases.Contains(d) ? world.diseases.records[d].id : 0u);
        writer.Write<int32_t>(u.diseaseCount[c]);
    }
    writer.WriteBytes(world.targetTemperature.data(), 4 * n);
    TS_CHECK_AS(buffer.GuardsIntact() && buffer.size() == SaveLength(world) && writer.position() == buffer.size(),
                "save buffer guards intact and size == length");
}

}  // namespace ts
