// Writing the world as a "SIMSAVE" blob, version 13.
#include "common/report.h"
#include "hostapi/catchall.h"
#include "hostapi/runtime.h"
#include "persistence/savebuffer.h"

using namespace ts;

namespace {

const uint8_t* WriteSave(World& world, uint32_t* outLength) {
    Runtime& rt = GetRuntime();
    const uint64_t n = world.cellCount();
    const uint64_t length = 24 * n + 21;
    if (length > UINT32_MAX) {
        TS_WARN("SIM_BeginSave refused: a save of %llu bytes does not fit its 32-bit length",
                static_cast<unsigned long long>(length));
        return nullptr;
    }
    rt.saveBuffer = std::make_unique<SaveBuffer>(length);
    SaveBuffer& buffer = *rt.saveBuffer;
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
    TS_CHECK_AS(buffer.GuardsIntact() && buffer.size() == length && writer.position() == length,
                "save buffer guards intact and size == length");
    *outLength = static_cast<uint32_t>(length);
    return buffer.data();
}

}  // namespace

TS_API const uint8_t* SIM_BeginSave(uint32_t* outLength) {
    uint32_t ignored = 0;
    if (outLength == nullptr) outLength = &ignored;
    *outLength = 0;
    return CatchAll("SIM_BeginSave", static_cast<const uint8_t*>(nullptr), [&]() -> const uint8_t* {
        Runtime& rt = GetRuntime();
        rt.saveBuffer.reset();
        if (rt.simData == nullptr) {
            TS_WARN("SIM_BeginSave refused: there is no world");
            return nullptr;
        }
        // Never read the world while a cycle writes it.
        std::lock_guard<std::mutex> cycle(rt.exchange.cycleLock);
        return WriteSave(*rt.simData, outLength);
    });
}

TS_API void SIM_EndSave(void) {
    CatchAll("SIM_EndSave", [] { GetRuntime().saveBuffer.reset(); });
}
