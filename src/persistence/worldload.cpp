#include <cmath>
#include <cstring>

#include "common/numeric.h"
#include "common/report.h"
#include "persistence/worldbuild.h"
#include "simlib/simutil.h"

namespace ts {

namespace {

constexpr uint32_t kReplacedIds[2][2] = {{0x0280CF79u, 0x987DAC06u}, {0x2391C22Bu, 0x4C76AE31u}};
constexpr uint32_t kAveragedElementId = 0x3FE0146Eu;

template <class T>
T ReadAt(const uint8_t* data, uint64_t offset) {
    T value;
    std::memcpy(&value, data + offset, sizeof(T));
    return value;
}

void ReadSavedCell(World& world, size_t c, const SavedCell& saved) {
    CellArrays& u = world.updatedCells;
    uint32_t id = saved.elementId;
    for (const auto& pair : kReplacedIds)
        if (id == pair[0]) id = pair[1];
    u.elementIdx[c] = world.elements.FindElementIndex(id);
    u.temperature[c] = saved.temperature;
    u.mass[c] = saved.mass;
    if (u.elementIdx[c] == kNoElement) {
        u.elementIdx[c] = world.vacuumElementIdx;
        u.mass[c] = 0.0f;
        u.temperature[c] = 0.0f;
    }
}

void CorrectPhaseOnLoad(World& world, size_t c) {
    CellArrays& u = world.updatedCells;
    const ElementInfo& info = world.elements.info[u.elementIdx[c]];
    const float t = u.temperature[c];
    if (t < info.lowTemp - 3.0f && info.lowTempTransitionIndex != kNoElement) {
        u.temperature[c] = t + 1.5f;
        u.elementIdx[c] = info.lowTempTransitionIndex;
    } else if (t > info.highTemp + 3.0f && info.highTempTransitionIndex != kNoElement) {
        u.temperature[c] = t - 1.5f;
        u.elementIdx[c] = info.highTempTransitionIndex;
    }
}

}  // namespace

void SanitiseMatter(World& world, size_t c) {
    CellArrays& u = world.updatedCells;
    float& t = u.temperature[c];
    float& m = u.mass[c];
    if (!std::isfinite(t)) t = 293.0f;
    if (!std::isfinite(m)) {
        m = 100.0f;
    } else if (m > kMassCap) {
        m = kMassCap;
    } else if (BelowSmallestNormal(m)) {
        // Masses clamp at 0 from below, and a subnormal mass is no mass: the
        // simulation thread flushes it to zero and would take the cell for
        // empty (and set it to 0 K) while its mass still reads above 0.
        m = 0.0f;
    }
    // A temperature that counts as 0 would hold a cell with mass at 0 K.
    if (BelowSmallestNormal(t)) t = 293.0f;
    // A cell with mass is never hotter than the maximum.
    if (t > SIM_MAX_TEMPERATURE) t = SIM_MAX_TEMPERATURE;
    if (u.elementIdx[c] == world.sinkElementIdx || u.elementIdx[c] == world.vacuumElementIdx) {
        t = 0.0f;
        m = 0.0f;
    }
}

void SanitiseGermsAndTarget(World& world, size_t c) {
    CellArrays& u = world.updatedCells;
    // A relaxation target above the maximum would heat the cell past it (NaN means none).
    float& target = world.targetTemperature[c];
    if (target > SIM_MAX_TEMPERATURE) target = SIM_MAX_TEMPERATURE;
    // A count at or below 0 clears the disease: no cell holds negative germs.
    if (u.diseaseIdx[c] == kNoDisease || u.diseaseCount[c] <= 0) u.ClearDisease(c);
}

bool ValidateSave(const uint8_t* data, uint64_t size, SaveLayout& layout, std::string& error) {
    if (data == nullptr || size < 20 || std::memcmp(data, "SIMSAVE\0", 8) != 0) {
        error = "it does not begin with \"SIMSAVE\" and a zero byte";
        return false;
    }
    layout.version = ReadAt<int32_t>(data, 8);
    if (layout.version > SIM_SAVE_VERSION) {
        error = "version " + std::to_string(layout.version) + " is newer than 13";
        return false;
    }
    layout.width = ReadAt<int32_t>(data, 12);
    layout.height = ReadAt<int32_t>(data, 16);
    if (layout.width <= 2 || layout.height <= 2 || int64_t(layout.width) * layout.height > INT32_MAX) {
        error = "grid " + std::to_string(layout.width) + " x " + std::to_string(layout.height) + " out of range";
        return false;
    }
    const bool hasFlags = layout.version >= 13;
    layout.cellsOffset = hasFlags ? 21 : 20;
    layout.worldFlags = hasFlags && size > 20 ? data[20] : 0;
    const uint64_t n = uint64_t(layout.width) * uint64_t(layout.height);
    uint64_t expected = layout.cellsOffset + 12 * n;
    if (layout.version >= 9) expected += 8 * n;
    if (layout.version >= 8) expected += 4 * n;
    if (size != expected) {
        error = "length " + std::to_string(size) + " where version " + std::to_string(layout.version) + " needs " +
                std::to_string(expected);
        return false;
    }
    return true;
}

std::unique_ptr<World> ReadSaveIntoWorld(const uint8_t* data, const SaveLayout& layout, const ElementTable& elements,
                                         const DiseaseTable& diseases) {
    auto world = std::make_unique<World>(layout.width, layout.height, layout.worldFlags, elements, diseases);
    World& w = *world;
    CellArrays& u = w.updatedCells;
    const size_t n = w.cellCount();
    uint64_t offset = layout.cellsOffset;
    for (size_t c = 0; c < n; ++c, offset += sizeof(SavedCell)) {
        ReadSavedCell(w, c, ReadAt<SavedCell>(data, offset));
        SanitiseMatter(w, c);
        CorrectPhaseOnLoad(w, c);
    }
    if (layout.version >= 9) {
        for (size_t c = 0; c < n; ++c, offset += sizeof(SavedDisease)) {
            const SavedDisease saved = ReadAt<SavedDisease>(data, offset);
            u.diseaseCount[c] = saved.diseaseCount;
            u.diseaseIdx[c] = saved.diseaseId == 0 ? kNoDisease : diseases.FindDiseaseIndex(saved.diseaseId);
            if (u.diseaseIdx[c] == kNoDisease) u.diseaseCount[c] = 0;
        }
    }
    if (layout.version >= 8) std::memcpy(w.targetTemperature.data(), data + offset, 4 * n);
    for (size_t c = 0; c < n; ++c) SanitiseGermsAndTarget(w, c);
    if (layout.version < 11) {
        w.Snapshot();
        AverageTemperatureFix(w);
    }
    return world;
}

void AverageTemperatureFix(World& world) {
    const uint8_t averaged = world.elements.FindElementIndex(kAveragedElementId);
    if (averaged == kNoElement) return;
    const uint8_t border = world.elements.FindElementIndex(SIM_BORDER_ELEMENT_ID);
    const int32_t w = world.width;
    const int32_t offsets[8] = {-w - 1, -w, -w + 1, -1, 1, w - 1, w, w + 1};
    const CellArrays& cells = world.cells;
    for (int32_t y = 1; y < world.height - 1; ++y) {
        for (int32_t x = 1; x < w - 1; ++x) {
            const int32_t c = y * w + x;
            if (cells.elementIdx[size_t(c)] != averaged) continue;
            float sum = 0.0f;
            int32_t count = 0;
            for (int32_t offset : offsets) {
                const size_t n = size_t(c + offset);
                const uint8_t e = cells.elementIdx[n];
                if (e != averaged && e != border && cells.mass[n] > 0.0f) {
                    sum += cells.temperature[n];
                    ++count;
                }
            }
            if (count > 0) world.updatedCells.temperature[size_t(c)] = sum / float(count);
        }
    }
}

void SettleWorld(World& world) {
    CellArrays& u = world.updatedCells;
    const int32_t w = world.width;
    if (world.height >= 2) {
        for (int32_t y = 1; y < world.height; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const int32_t c = y * w + x;
                if (world.elements.solidInfo[u.elementIdx[size_t(c)]].stateFlags & SIM_ELEMENT_UNSTABLE) {
                    int32_t b = c - w;
                    while (b >= 0 && world.elements.State(u.elementIdx[size_t(b)]) != SIM_STATE_SOLID) b -= w;
                    if (b >= 0 && b + w != c) SwapCells(u, size_t(c), size_t(b + w));
                }
                if (u.mass[size_t(c)] <= 0.0f) u.ClearDisease(size_t(c));
            }
        }
    }
    world.Snapshot();
    AverageTemperatureFix(world);
}

std::unique_ptr<World> WorldFromSave(const uint8_t* data, const SaveLayout& layout, const ElementTable& elements,
                                     const DiseaseTable& diseases) {
    std::unique_ptr<World> world = ReadSaveIntoWorld(data, layout, elements, diseases);
    world->outputCollector.Clear();
    FillBorder(*world);
    world->Snapshot();
    return world;
}

bool ReadCellByteGrid(BinaryBufferReader& reader, const World& world, std::vector<uint8_t>& grid,
                      std::string& error) {
    const uint64_t rowLength = uint64_t(world.width - 2);
    const uint64_t expected = rowLength * uint64_t(world.height - 2);
    if (reader.remaining() != expected) {
        error = std::to_string(reader.remaining()) + " bytes where the world needs " + std::to_string(expected);
        return false;
    }
    grid.assign(world.cellCount(), 0);
    for (int32_t y = 1; y < world.height - 1; ++y) reader.ReadBytes(&grid[size_t(y * world.width + 1)], rowLength);
    return true;
}

}  // namespace ts
