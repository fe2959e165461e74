#include <cstring>
#include <vector>

#include "common/report.h"
#include "persistence/worldbuild.h"

namespace ts {

void FillBorder(World& world) {
    const int32_t w = world.width;
    const int32_t h = world.height;
    auto fill = [&](int32_t c) {
        for (CellArrays* arrays : {&world.cells, &world.updatedCells}) {
            arrays->elementIdx[size_t(c)] = world.borderElementIdx;
            arrays->mass[size_t(c)] = 9999.0f;
            arrays->temperature[size_t(c)] = 0.0f;
            arrays->diseaseCount[size_t(c)] = 0;
            arrays->diseaseIdx[size_t(c)] = 255;
        }
        world.targetTemperature[size_t(c)] = 0.0f;
    };
    for (int32_t x = 0; x < w; ++x) {
        fill(x);
        fill((h - 1) * w + x);
    }
    for (int32_t y = 1; y < h - 1; ++y) {
        fill(y * w);
        fill(y * w + w - 1);
    }
}

bool TablesCanBuildWorld(const ElementTable& elements, std::string& error) {
    if (elements.FindElementIndex(SIM_VACUUM_ELEMENT_ID) == kNoElement) {
        error = "the element table holds no vacuum element (id 0x2D39BF75)";
        return false;
    }
    const uint8_t border = elements.FindElementIndex(SIM_BORDER_ELEMENT_ID);
    if (border == kNoElement) {
        error = "the element table holds no border element (id 0x6D95058C)";
        return false;
    }
    // The passes never look past the border because nothing moves into a
    // solid: a border of gas or liquid would let them step off the grid.
    if (elements.State(border) != SIM_STATE_SOLID) {
        error = "the border element (id 0x6D95058C) is not solid";
        return false;
    }
    // Border cells hold 9999 kg at 0 K: melted or sublimated, they would put
    // matter at 0 K into the world.
    const ElementRecord& record = elements.records[border];
    if (record.highTempTransitionIndex != kNoElement || record.sublimateIndex != kNoElement) {
        error = "the border element (id 0x6D95058C) melts or sublimates";
        return false;
    }
    return true;
}

std::unique_ptr<World> CreateWorldFromPayload(BinaryBufferReader& reader, const ElementTable& elements,
                                              const DiseaseTable& diseases, std::string& error) {
    CreateWorldHeader header;
    if (!reader.Read(header)) {
        error = "payload too short for its size";
        return nullptr;
    }
    const int64_t w = header.gameWidth;
    const int64_t h = header.gameHeight;
    // The padded grid must fit 32-bit cell numbers.
    if (w < 1 || h < 1 || (w + 2) * (h + 2) > INT32_MAX) {
        error = "game size " + std::to_string(w) + " x " + std::to_string(h) + " out of range";
        return nullptr;
    }
    const uint64_t n = uint64_t(w) * uint64_t(h);
    const uint64_t needed = n * (sizeof(CreateWorldCell) + sizeof(float) + sizeof(CreateWorldDisease));
    if (reader.remaining() < needed) {
        error = "payload of " + std::to_string(reader.size()) + " bytes, " + std::to_string(needed + 8) +
                " needed";
        return nullptr;
    }
    if (!TablesCanBuildWorld(elements, error)) return nullptr;
    const uint8_t* cellBlock = reader.current();
    const uint8_t* targetBlock = cellBlock + n * sizeof(CreateWorldCell);
    const uint8_t* diseaseBlock = targetBlock + n * sizeof(float);
    // Indexes are used to index tables on every step: validate them all first.
    for (uint64_t i = 0; i < n; ++i) {
        CreateWorldCell cell;
        CreateWorldDisease disease;
        std::memcpy(&cell, cellBlock + i * sizeof cell, sizeof cell);
        std::memcpy(&disease, diseaseBlock + i * sizeof disease, sizeof disease);
        if (!elements.Contains(cell.elementIdx)) {
            error = "game cell " + std::to_string(i) + " has element index " + std::to_string(cell.elementIdx) +
                    " beyond the table";
            return nullptr;
        }
        if (disease.diseaseIdx != kNoDisease && !diseases.Contains(disease.diseaseIdx)) {
            error = "game cell " + std::to_string(i) + " has disease index " +
                    std::to_string(disease.diseaseIdx) + " beyond the table";
            return nullptr;
        }
    }
    reader.Skip(needed);

    auto world = std::make_unique<World>(int32_t(w + 2), int32_t(h + 2), 0, elements, diseases);
    const int32_t width = world->width;
    CellArrays& u = world->updatedCells;
    for (int32_t y = 0; y < int32_t(h); ++y) {
        std::memcpy(&world->targetTemperature[size_t((y + 1) * width + 1)], targetBlock + size_t(y) * size_t(w) * 4,
                    size_t(w) * sizeof(float));
        for (int32_t x = 0; x < int32_t(w); ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            const size_t c = size_t((y + 1) * width + x + 1);
            CreateWorldCell cell;
            CreateWorldDisease disease;
            std::memcpy(&cell, cellBlock + i * sizeof cell, sizeof cell);
            std::memcpy(&disease, diseaseBlock + i * sizeof disease, sizeof disease);
            u.elementIdx[c] = cell.elementIdx;
            u.temperature[c] = cell.temperature;
            u.mass[c] = cell.mass;
            u.cellFlags[c] = cell.cellFlags;
            u.insulation[c] = cell.insulation;
            u.strengthModifier[c] = cell.strengthModifier;
            u.diseaseIdx[c] = disease.diseaseIdx;
            u.diseaseCount[c] = disease.diseaseCount;
            u.diseaseAge[c] = disease.diseaseAge;
            u.diseaseGrowthRemainder[c] = 0.0f;
            // The host's values are sanitised as a save's are: no cell starts
            // outside its invariant or with a negative germ count.
            SanitiseMatter(*world, c);
            SanitiseGermsAndTarget(*world, c);
        }
    }
    FillBorder(*world);
    return world;
}

}  // namespace ts
