// Applying one frame's queued messages to the world, in the fixed order of
// message kinds, then installing the frame's parameters and region.
#include <algorithm>
#include <cfloat>
#include <cmath>

#include "common/numeric.h"
#include "common/report.h"
#include "simlib/cellenergy.h"
#include "simlib/components/floodfill.h"
#include "simlib/messagechecks.h"
#include "simlib/simframemanager.h"
#include "simlib/simutil.h"
#include "simlib/updatetemperature.h"

namespace ts {

namespace {

// Non-finite energies, masses and temperatures never reach a cell.
bool Finite(float value, const char* what, const char* message) {
    if (IsFinite(value)) return true;
    TS_WARN("%s skipped: %s is not finite", message, what);
    return false;
}

// A rate or fraction the host sends is kept inside the range where it means
// something: a relaxation rate above 1 overshoots the target (to negative
// temperatures), an off-gassing fraction above 1 makes gas out of nothing. A
// value out of range is clamped, one that is not finite keeps the previous.
float InRange(float value, float lo, float hi, float previous, const char* name) {
    const float sane = IsFinite(value) ? std::clamp(value, lo, hi) : previous;
    if (!(sane == value)) TS_WARN("SetFrameParameters: %s of %g taken as %g", name, double(value), double(sane));
    return sane;
}

FrameParameters SaneParameters(const SetFrameParametersPayload& p, const FrameParameters& before) {
    return FrameParameters{
        InRange(p.buildingExchangeRate, 0.0f, FLT_MAX, before.buildingExchangeRate, "buildingExchangeRate"),
        p.offGasChance,  // a probability compared with a draw: any value has a meaning
        InRange(p.offGasFraction, 0.0f, 1.0f, before.offGasFraction, "offGasFraction"),
        InRange(p.temperatureRelaxRate, 0.0f, 1.0f, before.temperatureRelaxRate, "temperatureRelaxRate"),
        p.forceEmission};
}

template <class T, class F>
void ForEach(PendingFrame& frame, QueueSlot slot, F&& apply) {
    MessageQueue& queue = frame.queue(slot);
    for (size_t i = 0; i < queue.count(); ++i) apply(queue.Get<T>(i));
    queue.Clear();
}

void SetCellInsulation(World& world, const SetCellInsulationPayload& m) {
    if (!ValidGameCell(world, m.gameCell, "SetCellInsulation")) return;
    world.updatedCells.insulation[size_t(world.GameToSim(m.gameCell))] =
        static_cast<uint8_t>(TruncToInt32(m.value * 255.0f) & 0xFF);
}

void SetStrengthModifier(World& world, const SetStrengthModifierPayload& m) {
    if (!ValidGameCell(world, m.gameCell, "SetStrengthModifier")) return;
    world.updatedCells.strengthModifier[size_t(world.GameToSim(m.gameCell))] =
        static_cast<uint8_t>(TruncToInt32(m.value) & 0xFF);
}

void ModifyCellEnergy(World& world, const ModifyCellEnergyPayload& m) {
    // An infinite energy takes the cell to a bound; not a number is refused.
    if (!ValidGameCell(world, m.gameCell, "ModifyCellEnergy")) return;
    if (std::isnan(m.kilojoules)) {
        TS_WARN("ModifyCellEnergy skipped: the energy is not a number");
        return;
    }
    ApplyCellEnergy(world, m);
}

void SetCellFlags(World& world, const SetCellFlagsPayload& m) {
    if (!ValidGameCell(world, m.gameCell, "SetCellFlags")) return;
    const int32_t c = world.GameToSim(m.gameCell);
    CellArrays& u = world.updatedCells;
    uint8_t& flags = u.cellFlags[size_t(c)];
    flags = m.set != 0 ? uint8_t(flags | m.mask) : uint8_t(flags & ~m.mask);
    if (flags != 0 && u.mass[size_t(c)] > 0.0f) {
        // A cell closed to its own matter pushes that matter out.
        if (flags & SIM_CELL_NO_GAS) {
            DisplaceGas(world, u, c, u.elementIdx[size_t(c)]);
        } else if (flags & SIM_CELL_NO_LIQUID) {
            DisplaceLiquid(world, u, c, u.elementIdx[size_t(c)]);
        }
    }
}

void ConsumeMass(World& world, FloodFill& fill, const ConsumeMassPayload& m) {
    ConsumedMatter taken;
    taken.elementIdx = m.elementIdx;
    // A refused message answers as a take of nothing.
    if (ValidGameCell(world, m.gameCell, "ConsumeMass") && ValidElement(world, m.elementIdx, "ConsumeMass") &&
        Finite(m.mass, "the mass", "ConsumeMass")) {
        if (m.mass < 0.0f) {
            // A take below zero would put matter into the cells it reaches.
            TS_WARN("ConsumeMass skipped: a mass of %f", double(m.mass));
        } else {
            const int32_t c = world.GameToSim(m.gameCell);
            fill.ConsumeNearby(world, c % world.width, c / world.width, m.maxDepth, m.elementIdx, m.mass, taken);
        }
    }
    if (m.callbackId != SIM_NO_CALLBACK)
        world.outputCollector.consumeMassResults.push_back(ConsumeMassResult{
            m.callbackId, taken.elementIdx, taken.diseaseIdx, {0, 0}, taken.mass, taken.temperature,
            taken.diseaseCount});
}

// Matter with a temperature outside (0, 10000] or a negative mass would leave
// the cell outside its invariant; so would no mass outside [0, 10000] (an
// empty cell takes the temperature of what it is given). A temperature below
// the smallest normal float counts as 0 K.
bool AcceptableAddMass(const World& world, const AddMassPayload& m) {
    if (!ValidGameCell(world, m.gameCell, "AddMass") || !ValidElement(world, m.elementIdx, "AddMass") ||
        !ValidDisease(world, m.diseaseIdx, "AddMass") || !Finite(m.mass, "the mass", "AddMass") ||
        !Finite(m.temperature, "the temperature", "AddMass"))
        return false;
    if (m.mass < 0.0f || !(m.temperature >= 0.0f && m.temperature <= SIM_MAX_TEMPERATURE) ||
        (m.mass > 0.0f && BelowSmallestNormal(m.temperature))) {
        TS_WARN("AddMass skipped: mass %f at temperature %f", double(m.mass), double(m.temperature));
        return false;
    }
    return true;
}

void AddMass(World& world, const AddMassPayload& m) {
    auto notAccepted = [&] {
        if (m.callbackId != SIM_NO_CALLBACK)
            world.outputCollector.addMassResults.push_back(
                AddMassResult{m.callbackId, 0, 255, 255, 0, 0.0f, 0.0f, 0});
    };
    if (!AcceptableAddMass(world, m)) {
        notAccepted();
        return;
    }
    const int32_t c = world.GameToSim(m.gameCell);
    CellArrays& u = world.updatedCells;
    const uint8_t e = m.elementIdx;
    const uint8_t f = u.elementIdx[size_t(c)];
    bool accepted = f == e || f == world.vacuumElementIdx;
    if (!accepted) {
        const uint8_t state = world.elements.State(e);
        if (state == SIM_STATE_GAS) {
            accepted = DisplaceGas(world, u, c, f);
        } else if (state == SIM_STATE_LIQUID) {
            accepted = DisplaceLiquid(world, u, c, f);
        }
    }
    if (!accepted) {
        notAccepted();
        return;
    }
    const size_t i = size_t(c);
    u.temperature[i] = MixTemperature(u.mass[i], u.temperature[i], m.mass, m.temperature);
    u.mass[i] += m.mass;
    if (m.diseaseIdx < kNoDisease) AddDisease(u, i, m.diseaseIdx, m.diseaseCount, world.diseases);
    if (f != e) {
        u.elementIdx[i] = e;
        world.MarkCellChanged(c);
    }
    if (m.callbackId != SIM_NO_CALLBACK)
        world.outputCollector.addMassResults.push_back(AddMassResult{
            m.callbackId, 1, e, m.diseaseIdx, 0, m.mass, m.temperature, m.diseaseCount});
}

void ConsumeDisease(World& world, const ConsumeDiseasePayload& m) {
    if (!ValidGameCell(world, m.gameCell, "ConsumeDisease")) {
        if (m.callbackId != SIM_NO_CALLBACK)
            world.outputCollector.consumeDiseaseResults.push_back(
                ConsumeDiseaseResult{m.callbackId, kNoDisease, {0, 0, 0}, 0});
        return;
    }
    const size_t c = size_t(world.GameToSim(m.gameCell));
    CellArrays& u = world.updatedCells;
    int32_t removed = 0;
    if (u.diseaseIdx[c] < kNoDisease) {
        removed = std::min(TruncToInt32(float(u.diseaseCount[c]) * m.fraction + 0.5f), m.maxCount);
        if (removed < 0) {
            // A take below zero would add germs (with a NaN fraction, two billion of them).
            TS_WARN("ConsumeDisease skipped: a fraction of %f, at most %d", double(m.fraction), m.maxCount);
            removed = 0;
        }
        u.diseaseCount[c] = SaturateToInt32(int64_t(u.diseaseCount[c]) - removed);
        if (u.diseaseCount[c] < 1) u.ClearDisease(c);
    }
    if (m.callbackId != SIM_NO_CALLBACK)
        world.outputCollector.consumeDiseaseResults.push_back(
            ConsumeDiseaseResult{m.callbackId, u.diseaseIdx[c], {0, 0, 0}, removed});
}

void ModifyCellDisease(World& world, const ModifyCellDiseasePayload& m) {
    if (!ValidGameCell(world, m.gameCell, "ModifyCellDisease") ||
        !ValidDisease(world, m.diseaseIdx, "ModifyCellDisease"))
        return;
    const size_t c = size_t(world.GameToSim(m.gameCell));
    CellArrays& u = world.updatedCells;
    if (m.diseaseIdx == kNoDisease) {
        // Germs without a disease would be a corrupt cell: one that holds none has no count to change.
        if (u.diseaseIdx[c] == kNoDisease) return;
        u.diseaseCount[c] = SaturateToInt32(int64_t(u.diseaseCount[c]) + m.count);
        if (u.diseaseCount[c] <= 0) u.ClearDisease(c);
    } else {
        AddDisease(u, c, m.diseaseIdx, m.count, world.diseases);
    }
}

void DigCell(World& world, const DigCellPayload& m) {
    if (m.callbackId != SIM_NO_CALLBACK) world.outputCollector.cellCallbacks.push_back(m.callbackId);
    if (!ValidGameCell(world, m.gameCell, "DigCell")) return;
    const int32_t c = world.GameToSim(m.gameCell);
    CellArrays& u = world.updatedCells;
    const size_t i = size_t(c);
    if (world.elements.State(u.elementIdx[i]) != SIM_STATE_SOLID) return;
    if (m.skipDrop == 0 && u.mass[i] > 0.0f) {
        if (TS_CHECK_AS(u.temperature[i] > 0.0f, "cell.temperature() > 0.0f"))
            world.outputCollector.dugMatter.push_back(MatterEntry{m.gameCell, u.elementIdx[i], u.diseaseIdx[i],
                                                                   {0, 0}, u.mass[i], u.temperature[i],
                                                                   u.diseaseCount[i]});
    }
    EmptyCell(world, u, i);
    world.MarkCellChanged(c);
}

void SetCellByteGrid(World& world, const SetCellByteGridPayload& m) {
    if (!ValidGameCell(world, m.gameCell, "SetCellByteGrid")) return;
    if (world.cellByteGrid.empty()) {
        TS_WARN("SetCellByteGrid skipped: the world has no cell byte grid");
        return;
    }
    world.cellByteGrid[size_t(world.GameToSim(m.gameCell))] = m.value;
}

// The host's region in sim coordinates, kept inside the grid's interior.
Region ClampToInterior(const World& world, Region r) {
    auto clamp = [](int32_t v, int32_t lo, int32_t hi) { return std::min(std::max(v, lo), hi); };
    r.minX = clamp(r.minX, 1, world.width - 1);
    r.maxX = clamp(r.maxX, r.minX, world.width - 1);
    r.minY = clamp(r.minY, 1, world.height - 1);
    r.maxY = clamp(r.maxY, r.minY, world.height - 1);
    return r;
}

}  // namespace

float ApplyPendingFrame(World& world, PendingFrame& frame, FloodFill& fill) {
    ForEach<SetCellInsulationPayload>(frame, kSetCellInsulation, [&](const auto& m) { SetCellInsulation(world, m); });
    ForEach<SetStrengthModifierPayload>(frame, kSetStrengthModifier,
                                        [&](const auto& m) { SetStrengthModifier(world, m); });
    ForEach<ModifyCellEnergyPayload>(frame, kModifyCellEnergy, [&](const auto& m) { ModifyCellEnergy(world, m); });
    ForEach<SetCellFlagsPayload>(frame, kSetCellFlags, [&](const auto& m) { SetCellFlags(world, m); });
    ForEach<ConsumeMassPayload>(frame, kConsumeMass, [&](const auto& m) { ConsumeMass(world, fill, m); });
    ForEach<AddMassPayload>(frame, kAddMass, [&](const auto& m) { AddMass(world, WithCappedMass(m, "AddMass")); });
    ForEach<ConsumeDiseasePayload>(frame, kConsumeDisease, [&](const auto& m) { ConsumeDisease(world, m); });
    ForEach<ModifyCellDiseasePayload>(frame, kModifyCellDisease,
                                      [&](const auto& m) { ModifyCellDisease(world, m); });
    ForEach<DigCellPayload>(frame, kDigCell, [&](const auto& m) { DigCell(world, m); });
    ApplyCellModifications(world, frame.queue(kModifyCell));
    ForEach<SetCellByteGridPayload>(frame, kSetCellByteGrid, [&](const auto& m) { SetCellByteGrid(world, m); });
    ApplyComponentMessages(world, frame);

    if (frame.hasFrameParameters) {
        world.frameParameters = SaneParameters(frame.frameParameters, world.frameParameters);
        // A reused frame starts without parameters of its own.
        frame.hasFrameParameters = false;
    }
    world.activeRegion = ClampToInterior(world, frame.region);
    return frame.dt;
}

}  // namespace ts
