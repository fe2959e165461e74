#include "hostkit/world.h"

#include <algorithm>
#include <stdexcept>

#include "hostkit/bytes.h"

namespace tshost {

namespace {
constexpr size_t kPerCell = sizeof(CreateWorldCell) + sizeof(float) + sizeof(CreateWorldDisease);
}

WorldLayout::WorldLayout(int32_t gameWidth, int32_t gameHeight, const WorldCell& fill)
    : width(gameWidth), height(gameHeight) {
    if (gameWidth < 0 || gameHeight < 0) throw std::invalid_argument("negative world size");
    cells.assign(size_t(gameWidth) * size_t(gameHeight), fill);
}

void WorldLayout::Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1, const WorldCell& cell) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, width);
    y1 = std::min(y1, height);
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) at(x, y) = cell;
}

WorldCell Matter(uint8_t elementIdx, float temperature, float mass) {
    WorldCell c;
    c.elementIdx = elementIdx;
    c.temperature = temperature;
    c.mass = mass;
    return c;
}

std::string CreateWorldPayload(const WorldLayout& world) {
    const size_t n = size_t(world.width) * size_t(world.height);
    if (world.width < 0 || world.height < 0 || world.cells.size() != n)
        throw std::invalid_argument("world layout holds " + std::to_string(world.cells.size()) + " cells, not " +
                                    std::to_string(world.width) + " x " + std::to_string(world.height));
    std::string out;
    out.reserve(sizeof(CreateWorldHeader) + n * kPerCell);
    CreateWorldHeader header{};
    header.gameWidth = world.width;
    header.gameHeight = world.height;
    Append(out, header);
    for (const WorldCell& c : world.cells) {
        CreateWorldCell record{};
        record.elementIdx = c.elementIdx;
        record.cellFlags = c.cellFlags;
        record.insulation = c.insulation;
        record.strengthModifier = c.strengthModifier;
        record.temperature = c.temperature;
        record.mass = c.mass;
        Append(out, record);
    }
    for (const WorldCell& c : world.cells) Append(out, c.targetTemperature);
    for (const WorldCell& c : world.cells) {
        CreateWorldDisease record{};
        record.diseaseIdx = c.diseaseIdx;
        record.diseaseAge = c.diseaseAge;
        record.diseaseCount = c.diseaseCount;
        Append(out, record);
    }
    return out;
}

std::optional<WorldLayout> ParseCreateWorldPayload(std::string_view payload) {
    if (payload.size() < sizeof(CreateWorldHeader)) return std::nullopt;
    const auto header = Load<CreateWorldHeader>(payload.data(), 0);
    if (header.gameWidth <= 0 || header.gameHeight <= 0) return std::nullopt;
    const uint64_t n = uint64_t(header.gameWidth) * uint64_t(header.gameHeight);
    if (payload.size() != sizeof(CreateWorldHeader) + n * kPerCell) return std::nullopt;

    WorldLayout world(header.gameWidth, header.gameHeight);
    const size_t cellBlock = sizeof(CreateWorldHeader);
    const size_t targetBlock = cellBlock + n * sizeof(CreateWorldCell);
    const size_t diseaseBlock = targetBlock + n * sizeof(float);
    for (size_t i = 0; i < n; ++i) {
        const auto cell = Load<CreateWorldCell>(payload.data(), cellBlock + i * sizeof(CreateWorldCell));
        const auto disease = Load<CreateWorldDisease>(payload.data(), diseaseBlock + i * sizeof(CreateWorldDisease));
        WorldCell& c = world.cells[i];
        c.elementIdx = cell.elementIdx;
        c.cellFlags = cell.cellFlags;
        c.insulation = cell.insulation;
        c.strengthModifier = cell.strengthModifier;
        c.temperature = cell.temperature;
        c.mass = cell.mass;
        c.targetTemperature = Load<float>(payload.data(), targetBlock + i * sizeof(float));
        c.diseaseIdx = disease.diseaseIdx;
        c.diseaseAge = disease.diseaseAge;
        c.diseaseCount = disease.diseaseCount;
    }
    return world;
}

std::string CellByteGridPayload(int32_t gameWidth, int32_t gameHeight, std::span<const uint8_t> values) {
    if (gameWidth < 0 || gameHeight < 0 || values.size() != size_t(gameWidth) * size_t(gameHeight))
        throw std::invalid_argument("cell byte grid of " + std::to_string(values.size()) + " bytes for " +
                                    std::to_string(gameWidth) + " x " + std::to_string(gameHeight) + " cells");
    return std::string(reinterpret_cast<const char*>(values.data()), values.size());
}

std::string CellByteGridPayload(int32_t gameWidth, int32_t gameHeight, uint8_t value) {
    if (gameWidth < 0 || gameHeight < 0) throw std::invalid_argument("negative grid size");
    return std::string(size_t(gameWidth) * size_t(gameHeight), static_cast<char>(value));
}

std::string HostCellInput(int32_t gameWidth, int32_t gameHeight, uint8_t value) {
    return CellByteGridPayload(gameWidth, gameHeight, value);
}

}  // namespace tshost
