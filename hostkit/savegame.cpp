#include "hostkit/savegame.h"

#include <cstring>
#include <stdexcept>

#include "hostkit/bytes.h"

namespace tshost {

namespace {

constexpr size_t kMagicSize = 8;  // "SIMSAVE" and a zero byte
constexpr size_t kHeaderSize = kMagicSize + 3 * sizeof(int32_t);

bool StoresFlags(int32_t version) { return version >= 13; }
bool StoresDiseases(int32_t version) { return version >= 9; }
bool StoresTargets(int32_t version) { return version >= 8; }

}  // namespace

SaveGame SaveGame::Empty(int32_t width, int32_t height) {
    SaveGame s;
    s.width = width;
    s.height = height;
    const size_t n = size_t(std::max(width, 0)) * size_t(std::max(height, 0));
    s.cells.assign(n, SavedCell{SIM_VACUUM_ELEMENT_ID, 0.0f, 0.0f});
    s.diseases.assign(n, SavedDisease{0, 0});
    s.targetTemperature.assign(n, 0.0f);
    return s;
}

uint64_t SaveLength(int32_t version, uint64_t cellCount) {
    uint64_t length = kHeaderSize + cellCount * sizeof(SavedCell);
    if (StoresFlags(version)) length += 1;
    if (StoresDiseases(version)) length += cellCount * sizeof(SavedDisease);
    if (StoresTargets(version)) length += cellCount * sizeof(float);
    return length;
}

std::string WriteSaveGame(const SaveGame& save, int32_t version) {
    if (version < SIM_SAVE_MIN_VERSION || version > SIM_SAVE_VERSION)
        throw std::invalid_argument("save version " + std::to_string(version) + " is not written");
    if (save.width < 0 || save.height < 0) throw std::invalid_argument("negative save dimensions");
    const size_t n = size_t(save.width) * size_t(save.height);
    auto check = [n](size_t size, const char* what) {
        if (size != n)
            throw std::invalid_argument(std::string(what) + " holds " + std::to_string(size) + " entries, " +
                                        std::to_string(n) + " cells");
    };
    check(save.cells.size(), "cells");
    if (StoresDiseases(version)) check(save.diseases.size(), "diseases");
    if (StoresTargets(version)) check(save.targetTemperature.size(), "targetTemperature");

    std::string out;
    out.reserve(SaveLength(version, n));
    out.append(SIM_SAVE_MAGIC, kMagicSize);  // the literal's terminator is the eighth byte
    Append(out, version);
    Append(out, save.width);
    Append(out, save.height);
    if (StoresFlags(version)) Append(out, save.worldFlags);
    for (const SavedCell& c : save.cells) Append(out, c);
    if (StoresDiseases(version))
        for (const SavedDisease& d : save.diseases) Append(out, d);
    if (StoresTargets(version))
        for (float t : save.targetTemperature) Append(out, t);
    return out;
}

SaveReadResult ReadSaveGame(std::span<const uint8_t> blob) {
    SaveReadResult result;
    auto fail = [&result](std::string why) {
        result.error = std::move(why);
        return result;
    };
    if (blob.size() < kMagicSize || std::memcmp(blob.data(), SIM_SAVE_MAGIC, kMagicSize) != 0)
        return fail("not a save: the magic \"SIMSAVE\" and a zero byte are missing");
    if (blob.size() < kHeaderSize) return fail("save header cut short");
    const uint8_t* data = blob.data();
    const int32_t version = Load<int32_t>(data, 8);
    const int32_t width = Load<int32_t>(data, 12);
    const int32_t height = Load<int32_t>(data, 16);
    if (version < SIM_SAVE_MIN_VERSION || version > SIM_SAVE_VERSION)
        return fail("save version " + std::to_string(version) + " is not supported (7..13)");
    if (width <= 2 || height <= 2)
        return fail("save dimensions " + std::to_string(width) + " x " + std::to_string(height) +
                    " leave no interior");
    // Cell numbers are 32-bit in the library.
    const uint64_t n = uint64_t(width) * uint64_t(height);
    if (n > uint64_t(INT32_MAX)) return fail("save dimensions overflow the cell count");
    const uint64_t expected = SaveLength(version, n);
    if (blob.size() != expected)
        return fail("save of version " + std::to_string(version) + " and " + std::to_string(width) + " x " +
                    std::to_string(height) + " cells must be " + std::to_string(expected) + " bytes, not " +
                    std::to_string(blob.size()));

    SaveGame save = SaveGame::Empty(width, height);
    save.version = version;
    size_t at = kHeaderSize;
    if (StoresFlags(version)) save.worldFlags = data[at++];
    std::memcpy(save.cells.data(), data + at, n * sizeof(SavedCell));
    at += n * sizeof(SavedCell);
    if (StoresDiseases(version)) {
        std::memcpy(save.diseases.data(), data + at, n * sizeof(SavedDisease));
        at += n * sizeof(SavedDisease);
    }
    if (StoresTargets(version)) {
        std::memcpy(save.targetTemperature.data(), data + at, n * sizeof(float));
        at += n * sizeof(float);
    }
    result.save = std::move(save);
    return result;
}

SaveReadResult ReadSaveGame(std::string_view blob) {
    return ReadSaveGame(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(blob.data()), blob.size()));
}

}  // namespace tshost
