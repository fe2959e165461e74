// LoadElementTable and LoadDiseaseTable: the input is u16 L, then L bytes of
// element table payload, then the disease table payload. Tables that load and
// can build a world run an 8 x 6 world holding every element (and a disease
// in some cells) for two frames; the published cells are checked.
#include <cfloat>
#include <cmath>

#include "fuzz/harness.h"
#include "hostapi/runtime.h"

namespace {

using namespace tsfuzz;

constexpr int32_t kWidth = 8;
constexpr int32_t kHeight = 6;

// The physics takes element properties as the host gives them: a table of
// non-finite or negative heat capacities, conductivities or masses describes
// no matter, and its worlds are not checked (they are still run). So does a
// heat capacity of zero, or a subnormal one: the simulation thread flushes
// subnormals to zero.
bool PlausibleMatter(const ElementRecord& r) {
    const float values[] = {r.specificHeatCapacity, r.thermalConductivity, r.defaultMass, r.maxMass,
                            r.defaultTemperature, r.lowTemp, r.highTemp, r.flow, r.maxFlow,
                            r.minHorizontalFlow, r.minVerticalFlow, r.weight, r.strength,
                            r.contactWithGasFactor, r.contactWithLiquidFactor, r.contactWithSolidFactor,
                            r.lightAbsorptionFactor, r.lowTempTransitionOreMassConversion,
                            r.highTempTransitionOreMassConversion};
    for (float v : values)
        if (!std::isfinite(v) || v < 0.0f) return false;
    return r.specificHeatCapacity >= FLT_MIN && r.defaultTemperature <= SIM_MAX_TEMPERATURE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    const size_t elementBytes = in.Get<uint16_t>();
    const std::string elementPayload = in.Take(elementBytes);
    const std::string diseasePayload = in.Rest();
    StartLibrary(false);
    SIM_HandleMessage(SIM_MSG_LOAD_ELEMENT_TABLE, int32_t(elementPayload.size()), elementPayload.data());
    SIM_HandleMessage(SIM_MSG_LOAD_DISEASE_TABLE, int32_t(diseasePayload.size()), diseasePayload.data());
    const ts::Runtime& rt = ts::GetRuntime();
    const int32_t elements = rt.elementTable.count();
    const int32_t diseases = int32_t(rt.diseaseTable.records.size());
    if (elements == 0) return 0;
    bool plausible = true;
    for (const ElementRecord& r : rt.elementTable.records) plausible = plausible && PlausibleMatter(r);
    const uint8_t border = rt.elementTable.FindElementIndex(SIM_BORDER_ELEMENT_ID);
    const bool solidBorder = border != ts::kNoElement && rt.elementTable.State(border) == SIM_STATE_SOLID;

    // Every element at its default temperature and mass (made safe for the
    // world's invariants), germs of each disease in turn.
    tshost::WorldLayout layout(kWidth, kHeight);
    for (int32_t i = 0; i < kWidth * kHeight; ++i) {
        tshost::WorldCell& c = layout.cells[size_t(i)];
        const ElementRecord& r = rt.elementTable.records[size_t(i % elements)];
        c.elementIdx = uint8_t(i % elements);
        c.temperature = std::isfinite(r.defaultTemperature) && r.defaultTemperature > 1.0f &&
                                r.defaultTemperature < SIM_MAX_TEMPERATURE
                            ? r.defaultTemperature
                            : 300.0f;
        c.mass = std::isfinite(r.defaultMass) && r.defaultMass >= 0.0f && r.defaultMass < 1e6f ? r.defaultMass : 1.0f;
        if (diseases > 0 && i % 3 == 0) {
            c.diseaseIdx = uint8_t((i / 3) % diseases);
            c.diseaseCount = 1000;
        }
    }
    const std::string save = SaveOf(layout);
    if (save.empty()) return 0;  // no vacuum or border element: no world
    const FrameResults* r = LoadSave(save);
    if (!solidBorder) {
        if (r != nullptr) Fail("a world was built around a border that is not solid");
        return 0;
    }
    if (r == nullptr) Fail("the save of a world over the loaded tables was refused");
    if (plausible) CheckFrame(r, kWidth, kHeight, "LoadSaveGame over fuzzed tables");
    const EndFramePayload end{0.2f, 0, 0, kWidth, kHeight};
    SIM_HandleMessage(SIM_MSG_END_FRAME, sizeof end, &end);
    const std::string grid(size_t(kWidth) * kHeight, '\0');
    for (int i = 0; i < 2; ++i) {
        const auto* frame = reinterpret_cast<const FrameResults*>(
            SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(grid.size()), grid.data()));
        if (frame == nullptr) Fail("no results with a world running");
        if (plausible) CheckFrame(frame, kWidth, kHeight, "frame over fuzzed tables");
    }
    return 0;
}
