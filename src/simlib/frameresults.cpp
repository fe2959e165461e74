#include "simlib/frameresults.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "common/numeric.h"
#include "simlib/components/buildingheatexchange.h"
#include "simlib/components/diseaseemitter.h"
#include "simlib/components/elementchunk.h"
#include "simlib/components/massconsumer.h"
#include "simlib/components/massemitter.h"
#include "simlib/components/reservedcomponent.h"
#include "simlib/passstate.h"
#include "simlib/simutil.h"

namespace ts {

void RowCopyJob::Run() {
    const World& world = *world_;
    const size_t gw = target_->gameWidth;
    for (int32_t r = firstRow_; r < firstRow_ + rowCount_; ++r) {
        const size_t from = size_t(r + 1) * size_t(world.width) + 1;
        target_->cells.CopyRange(world.updatedCells, from, size_t(r) * gw, gw);
    }
}

PublishContext::PublishContext(int jobs) {
    for (int i = 0; i < jobs; ++i) cellJobs.push_back(std::make_unique<RowCopyJob>());
}

namespace {

// Rows 0..gh-1 divided among k jobs in row order, the first (gh mod k) jobs
// taking one row more.
void PostRowCopies(std::vector<std::unique_ptr<RowCopyJob>>& jobs, const World& world, GameData& w,
                   WorkerPool& pool) {
    const int32_t gh = int32_t(w.gameHeight);
    const int32_t k = int32_t(jobs.size());
    int32_t row = 0;
    for (int32_t i = 0; i < k; ++i) {
        const int32_t rows = gh / k + (i < gh % k ? 1 : 0);
        jobs[size_t(i)]->Set(&world, &w, row, rows);
        row += rows;
        pool.Post(jobs[size_t(i)].get());
    }
}

// W gets a copy of the slot-indexed output arrays, which then start the next
// frame without its energy, emitted mass and temperatures; the per-frame lists
// change owners.
template <class T>
void CopyOutputs(const std::vector<T>& outputs, size_t slots, std::vector<T>& into) {
    into.resize(slots, T{});
    std::copy_n(outputs.begin(), std::min(slots, outputs.size()), into.begin());
}

void PublishComponentOutputs(World& world, GameData& w) {
    auto& chunks = ComponentOf<ElementChunk>(world.components);
    auto& emitters = ComponentOf<MassEmitter>(world.components);
    auto& buildings = ComponentOf<BuildingHeatExchange>(world.components);
    CopyOutputs(chunks.outputs, chunks.slotCount(), w.elementChunkOutputs);
    CopyOutputs(emitters.outputs, emitters.slotCount(), w.massEmitterOutputs);
    CopyOutputs(buildings.outputs, buildings.slotCount(), w.buildingOutputs);
    for (ElementChunkOutput& out : chunks.outputs) out.energy = 0.0f;
    for (MassEmitterOutput& out : emitters.outputs) {
        out.mass = 0.0f;
        out.temperature = 0.0f;
    }
    for (BuildingOutputEntry& out : buildings.outputs) out.temperature = 0.0f;
    auto& consumers = ComponentOf<MassConsumer>(world.components);
    w.massConsumerOutputs.swap(consumers.outputs);
    consumers.outputs.clear();
    w.diseaseEmitterOutputs.swap(ComponentOf<DiseaseEmitter>(world.components).outputs);
    w.reservedComponentOutputs.swap(ComponentOf<ReservedComponent>(world.components).outputs);
}

void ExchangeLists(OutputCollector& c, GameData& w) {
    c.changedCells.swap(w.changedCells);
    c.cellCallbacks.swap(w.cellCallbacks);
    c.releasedContents.swap(w.releasedContents);
    c.fallingSolids.swap(w.fallingSolids);
    c.elementChunkEvents.swap(w.elementChunkEvents);
    c.buildingsAtHighTemp.swap(w.buildingsAtHighTemp);
    c.buildingsOverheated.swap(w.buildingsOverheated);
    c.buildingsCooled.swap(w.buildingsCooled);
    c.flaggedTransitions.swap(w.flaggedTransitions);
    c.pressureDamage.swap(w.pressureDamage);
    c.consumeMassResults.swap(w.consumeMassResults);
    c.addMassResults.swap(w.addMassResults);
    c.consumeDiseaseResults.swap(w.consumeDiseaseResults);
    c.sublimationEvents.swap(w.sublimationEvents);
    c.componentCallbacks.swap(w.componentCallbacks);
    c.dugMatter.swap(w.dugMatter);
}

// Entries of one element at one game cell become one entry of their total
// mass at the mixed temperature; disease fields stay those of the first.
void MergeEmittedMatter(const std::vector<MatterEntry>& emitted, std::vector<MatterEntry>& out,
                        std::vector<uint32_t>& order) {
    out.clear();
    order.resize(emitted.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    // Ties keep arrival order, so "first entry" is well defined.
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const MatterEntry& x = emitted[a];
        const MatterEntry& y = emitted[b];
        if (x.gameCell != y.gameCell) return x.gameCell < y.gameCell;
        if (x.elementIdx != y.elementIdx) return x.elementIdx < y.elementIdx;
        return a < b;
    });
    for (uint32_t i : order) {
        const MatterEntry& e = emitted[i];
        if (!out.empty() && out.back().gameCell == e.gameCell && out.back().elementIdx == e.elementIdx) {
            MatterEntry& first = out.back();
            first.temperature = MixTemperature(first.mass, first.temperature, e.mass, e.temperature);
            first.mass += e.mass;
        } else {
            out.push_back(e);
        }
    }
}

void DescribeChangedCells(const World& world, GameData& w, const GameData& r) {
    auto& changed = w.changedCells;
    std::sort(changed.begin(), changed.end(),
              [](const ChangedCellEntry& a, const ChangedCellEntry& b) { return a.gameCell < b.gameCell; });
    changed.erase(std::unique(changed.begin(), changed.end(),
                              [](const ChangedCellEntry& a, const ChangedCellEntry& b) {
                                  return a.gameCell == b.gameCell;
                              }),
                  changed.end());
    const ElementTable& elements = world.elements;
    for (ChangedCellEntry& entry : changed) {
        const size_t g = size_t(entry.gameCell);
        const uint8_t oldElement = r.cells.elementIdx[g];
        const uint8_t newElement = w.cells.elementIdx[g];
        entry.oldElementIdx = oldElement;
        entry.newElementIdx = newElement;
        if (oldElement == newElement) continue;
        // An index outside the table (255 in a fresh buffer) has no state.
        auto state = [&](uint8_t e) { return elements.Contains(e) ? elements.State(e) : uint8_t(0xFF); };
        const bool oldSolid = state(oldElement) == SIM_STATE_SOLID;
        const bool newSolid = state(newElement) == SIM_STATE_SOLID;
        const bool oldLiquid = state(oldElement) == SIM_STATE_LIQUID;
        const bool newLiquid = state(newElement) == SIM_STATE_LIQUID;
        if (oldSolid != newSolid) w.solidChanges.push_back(SolidChangeEntry{entry.gameCell, newSolid ? -1 : 0});
        if (oldSolid || newSolid) w.solidChangedCells.push_back(entry.gameCell);
        if (oldLiquid || newLiquid) w.liquidChangedCells.push_back(entry.gameCell);
    }
}

void CopyAccumulator(World& world, GameData& w) {
    const size_t gw = w.gameWidth;
    for (uint32_t r = 0; r < w.gameHeight; ++r)
        std::memcpy(&w.accumulatorCopy[r * gw], &world.cellAccumulator[(r + 1) * size_t(world.width) + 1],
                    gw * sizeof(float));
    PassState& state = ProcessPassState();
    if (++state.publicationCounter == 15) {
        std::fill(world.cellAccumulator.begin(), world.cellAccumulator.end(), 0.0f);
        state.publicationCounter = 0;
    }
}

// All four records +0 (bit for bit): most cells of a world at rest.
bool NoFlow(const CellFlow& f) {
    uint32_t bits[4];
    std::memcpy(bits, f.f, sizeof bits);
    return (bits[0] | bits[1] | bits[2] | bits[3]) == 0;
}

void FillFlowVectors(const World& world, GameData& w) {
    const int32_t gw = int32_t(w.gameWidth);
    for (int32_t r = 0; r < int32_t(w.gameHeight); ++r) {
        for (int32_t x = 0; x < gw; ++x) {
            const size_t c = size_t(r + 1) * size_t(world.width) + size_t(x) + 1;
            const size_t g = size_t(r) * size_t(gw) + size_t(x);
            const CellFlow& f = world.cellFlow[c];
            if (NoFlow(f)) {
                // (+0 - +0) times any k is +0, or NaN, which is written as 0.
                w.flowVectors[2 * g] = 0.0f;
                w.flowVectors[2 * g + 1] = 0.0f;
                continue;
            }
            float k = 0.0f;
            if (world.updatedCells.elementIdx[c] == world.cells.elementIdx[c])
                k = 1.0f / std::max(world.updatedCells.mass[c], 1.0f);
            float vx = (f.f[0] - f.f[1]) * k;
            float vy = (f.f[3] - f.f[2]) * k;
            // A corrupt flow record never reaches the host as NaN.
            w.flowVectors[2 * g] = std::isnan(vx) ? 0.0f : vx;
            w.flowVectors[2 * g + 1] = std::isnan(vy) ? 0.0f : vy;
        }
    }
}

void FillLiquidColours(const World& world, GameData& w) {
    if (world.updatedCells.elementIdx.empty() || world.updatedCells.mass.empty()) return;
    const ElementTable& elements = world.elements;
    const int32_t gw = int32_t(w.gameWidth);
    const int32_t gh = int32_t(w.gameHeight);
    for (int32_t r = 0; r + 1 < gh; ++r) {
        for (int32_t x = 0; x < gw; ++x) {
            const size_t c = size_t(r + 1) * size_t(world.width) + size_t(x) + 1;
            const uint8_t e = world.updatedCells.elementIdx[c];
            const uint8_t above = world.updatedCells.elementIdx[c + size_t(world.width)];
            uint32_t value = 0;
            if (elements.Contains(e) && elements.State(e) == SIM_STATE_LIQUID) {
                const uint8_t aboveState = elements.Contains(above) ? elements.State(above) : SIM_STATE_VACUUM;
                float alpha = 255.0f;
                if (aboveState == SIM_STATE_VACUUM || aboveState == SIM_STATE_GAS) {
                    const float fill = std::min(world.updatedCells.mass[c] * 0.001f, 1.0f);
                    alpha = 255.0f * std::pow(fill > 0.0f ? fill : 0.0f, 0.45f);
                }
                value = (uint32_t(TruncToInt32(alpha) & 0xFF) << 24) | (elements.colourInfo[e].colour & 0xFFFFFFu);
            }
            w.liquidColours[size_t(r) * size_t(gw) + size_t(x)] = value;
        }
    }
}

void FillLightLevels(const World& world, GameData& w, std::vector<float>& light) {
    const ElementTable& elements = world.elements;
    const int32_t gw = int32_t(w.gameWidth);
    const int32_t gh = int32_t(w.gameHeight);
    if (gh == 0) return;
    std::fill(w.lightLevels.begin() + ptrdiff_t(size_t(gh - 1) * size_t(gw)), w.lightLevels.end(), uint8_t(255));
    light.assign(size_t(gw), 1.0f);
    for (int32_t r = gh - 2; r >= 0; --r) {
        bool lit = false;
        for (int32_t x = 0; x < gw; ++x) {
            const size_t c = size_t(r + 1) * size_t(world.width) + size_t(x) + 1;
            const size_t above = c + size_t(world.width);
            const uint8_t e = world.updatedCells.elementIdx[above];
            const float m = world.updatedCells.mass[above];
            float absorbed = 0.0f;
            // An empty cell absorbs nothing, even where 1/defaultMass is infinite.
            if (m > 0.0f && elements.Contains(e)) {
                const ElementLightInfo& info = elements.lightInfo[e];
                absorbed = std::min(info.inverseDefaultMass * m, 1.0f) * info.lightAbsorptionFactor;
            }
            float& l = light[size_t(x)];
            l = std::max(l - absorbed, 0.0f);
            w.lightLevels[size_t(r) * size_t(gw) + size_t(x)] = uint8_t(TruncToInt32(l * 255.0f) & 0xFF);
            if (world.updatedCells.cellFlags[c] & SIM_CELL_SHADES_BELOW) l = 0.0f;
            lit |= l > 0.0f;
        }
        if (!lit && elements.darknessIsFinal) {
            // No column carries light below this row, and none can gain any.
            std::memset(w.lightLevels.data(), 0, size_t(r) * size_t(gw));
            return;
        }
    }
}

}  // namespace

const char* PublishStageName(PublishStage stage) {
    static const char* const names[] = {"row_copies",   "component_outputs", "lists",          "changed_cells",
                                        "accumulator",  "flow_vectors",      "liquid_colours", "light_levels"};
    static_assert(std::size(names) == size_t(PublishStage::Count));
    return names[size_t(stage)];
}

void PublishResults(World& world, GameData& w, const GameData& r, uint32_t n, WorkerPool& pool,
                    PublishContext& context) {
    StageClock clock(context.timings ? context.timings->seconds : nullptr);
    auto lap = [&clock](PublishStage stage) { clock.Lap(size_t(stage)); };
    // 1. Cell rows, copied in parallel. (The flow records reach the host only
    // as flow vectors, made from the world's own below: they are not copied.)
    PostRowCopies(context.cellJobs, world, w, pool);
    pool.WaitAll();
    lap(PublishStage::RowCopies);
    // 2.
    PublishComponentOutputs(world, w);
    lap(PublishStage::ComponentOutputs);
    // 3. Lists change owners without copying.
    OutputCollector& collector = world.outputCollector;
    ExchangeLists(collector, w);
    // 4.
    MergeEmittedMatter(collector.emittedMatter, w.emittedMatter, context.mergeOrder);
    // 5.
    collector.Clear();
    w.solidChanges.clear();
    w.liquidChangedCells.clear();
    w.solidChangedCells.clear();
    lap(PublishStage::Lists);
    // 6.
    DescribeChangedCells(world, w, r);
    lap(PublishStage::ChangedCells);
    // 7.
    CopyAccumulator(world, w);
    lap(PublishStage::Accumulator);
    // 8.
    FillFlowVectors(world, w);
    lap(PublishStage::FlowVectors);
    FillLiquidColours(world, w);
    lap(PublishStage::LiquidColours);
    FillLightLevels(world, w, context.light);
    lap(PublishStage::LightLevels);
    // 9. The host's grid of two exchanges ago becomes the release permits.
    w.hostCellInput.swap(world.releasePermit);
    // 10.
    w.frameCount = n;
    if (context.timings) ++context.timings->publications;
}

}  // namespace ts
