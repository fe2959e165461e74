// tesselsim-fuzz-seeds DIR: writes the seed corpora of the fuzz targets into
// DIR/<target>/, built with the host kit's payload writers (and the library's
// own saves), a few small inputs per target.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/harness.h"
#include "hostkit/bytes.h"
#include "hostkit/payloads.h"
#include "hostkit/savegame.h"

namespace {

using namespace tsfuzz;
using tshost::Append;

std::filesystem::path g_root;

void Write(const char* target, const std::string& name, const std::string& bytes) {
    const std::filesystem::path dir = g_root / target;
    std::filesystem::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

uint8_t Element(const char* name) { return tshost::ElementIndex(SampleTables().sample.elements, name); }

// Records of the messages target (see messages_fuzz.cpp).
struct Stream {
    std::string bytes;
    // A catalogue message by its entry, with its fixed size.
    template <class T>
    void Message(uint8_t entry, const T& payload, uint8_t mode = 0) {
        Append(bytes, uint8_t(0));
        Append(bytes, entry);
        Append(bytes, mode);
        Append(bytes, payload);
    }
    void EndFrame(uint8_t mode = 0) {
        Append(bytes, uint8_t(4));
        Append(bytes, mode);
    }
    void Exchange() {
        Append(bytes, uint8_t(5));
        Append(bytes, uint8_t(0));
    }
    void Special(uint8_t what) {
        Append(bytes, uint8_t(7));
        Append(bytes, what);
    }
    void Raw(uint32_t id, const std::string& payload) {
        Append(bytes, uint8_t(6));
        Append(bytes, id);
        Append(bytes, uint8_t(payload.size()));
        bytes += payload;
    }
};

// Entries of kShapes in messages_fuzz.cpp.
enum : uint8_t {
    kSetFrameParameters = 5, kSetCellInsulation, kSetStrengthModifier, kModifyCellEnergy, kSetCellFlags,
    kConsumeMass, kAddMass, kConsumeDisease, kModifyCellDisease, kDigCell, kModifyCell, kSetCellByteGrid,
    kAddMassConsumer, kModifyMassConsumer, kRemoveMassConsumer, kAddMassEmitter, kModifyMassEmitter,
    kRemoveMassEmitter, kAddElementChunk, kRemoveElementChunk, kMoveElementChunk, kSetElementChunkData,
    kModifyElementChunkEnergy, kModifyElementChunkData, kAddBuildingHeatExchange, kModifyBuildingHeatExchange,
    kModifyBuildingEnergy, kRemoveBuildingHeatExchange, kAddDiseaseEmitter, kModifyDiseaseEmitter,
    kRemoveDiseaseEmitter, kAddReservedComponent, kModifyReservedComponent, kRemoveReservedComponent,
};
constexpr uint8_t kWithHandle = 4;

void MessageSeeds() {
    using namespace tshost;
    const uint8_t water = Element("Water"), oxygen = Element("Oxygen"), sand = Element("Sand");
    {
        Stream s;  // every cell message once
        s.Message(kSetFrameParameters, SetFrameParameters(0.001f, 0.01f, 0.001f, 0.001f, 0));
        s.Message(kSetCellInsulation, SetCellInsulation(40, 0.5f));
        s.Message(kSetStrengthModifier, SetStrengthModifier(41, 2.0f));
        s.Message(kModifyCellEnergy, ModifyCellEnergy(42, 500.0f, 400.0f, 7));
        s.Message(kSetCellFlags, SetCellFlags(43, SIM_CELL_NO_GAS, 1));
        s.Message(kConsumeMass, ConsumeMass(35, 1, 5.0f, water, 3));
        s.Message(kAddMass, AddMass(100, 2, 1.5f, 320.0f, 50, oxygen, 0));
        s.Message(kConsumeDisease, ConsumeDisease(35, 3, 0.5f, 1000));
        s.Message(kModifyCellDisease, ModifyCellDisease(36, 1, 200));
        s.Message(kDigCell, DigCell(20, 4, 0));
        s.Message(kModifyCell, ModifyCell(150, 5, 300.0f, 20.0f, 0, sand, SIM_REPLACE_AND_DISPLACE, 255, 0));
        s.Message(kSetCellByteGrid, SetCellByteGrid(60, 3));
        s.EndFrame();
        s.Exchange();
        s.Exchange();
        Write("messages", "cells", s.bytes);
    }
    {
        // Every component added, then modified and removed by the handles it
        // was given (issued in application order: building, chunk, consumer,
        // emitter, disease emitter, reserved).
        Stream s;
        s.Message(kAddMassConsumer, AddMassConsumer(50, 10, 2, 0, water));
        s.Message(kAddMassEmitter, AddMassEmitter(5.0f, 11, 12, 13));
        s.Message(kAddElementChunk, AddElementChunk(120, 14, 10.0f, 350.0f, 1.0f, 1.0f, 1.0f, sand));
        s.Message(kAddBuildingHeatExchange,
                  AddBuildingHeatExchange(15, Element("Granite"), 400.0f, 330.0f, 1.0f, 1000.0f, 0.5f, 2, 5, 5, 7));
        s.Message(kAddDiseaseEmitter, AddDiseaseEmitter(16));
        s.Message(kAddReservedComponent, AddReservedComponent(17));
        s.EndFrame(1);
        s.Exchange();
        s.Exchange();
        s.Message(kModifyMassConsumer, ModifyMassConsumer(0, 51, 0.5f), kWithHandle);
        Append(s.bytes, uint8_t(2));
        s.Message(kModifyMassEmitter, ModifyMassEmitter(0, 130, 1.0f, 0.5f, 310.0f, 5.0f, 0, oxygen, 1, 255),
                  kWithHandle);
        Append(s.bytes, uint8_t(3));
        s.Message(kMoveElementChunk, MoveElementChunk(0, 121), kWithHandle);
        Append(s.bytes, uint8_t(1));
        s.Message(kSetElementChunkData, SetElementChunkData(0, 340.0f, 8.0f), kWithHandle);
        Append(s.bytes, uint8_t(1));
        s.Message(kModifyElementChunkEnergy, ModifyElementChunkEnergy(0, -20.0f), kWithHandle);
        Append(s.bytes, uint8_t(1));
        s.Message(kModifyElementChunkData, ModifyElementChunkData(0, 300.0f, 2.0f, 1.0f), kWithHandle);
        Append(s.bytes, uint8_t(1));
        s.Message(kModifyBuildingEnergy, ModifyBuildingEnergy(0, 100.0f, 200.0f, 500.0f), kWithHandle);
        Append(s.bytes, uint8_t(0));
        s.Message(kModifyDiseaseEmitter, ModifyDiseaseEmitter(0, 40, 0, 2, 1.0f, 500), kWithHandle);
        Append(s.bytes, uint8_t(4));
        for (int i = 0; i < 3; ++i) {
            s.EndFrame();
            s.Exchange();
        }
        s.Message(kRemoveMassConsumer, RemoveMassConsumer(0, 20), kWithHandle);
        Append(s.bytes, uint8_t(2));
        s.Message(kRemoveElementChunk, RemoveElementChunk(0, 21), kWithHandle);
        Append(s.bytes, uint8_t(1));
        s.Message(kRemoveBuildingHeatExchange, RemoveBuildingHeatExchange(0, 22), kWithHandle);
        Append(s.bytes, uint8_t(0));
        s.EndFrame();
        s.Exchange();
        Write("messages", "components", s.bytes);
    }
    {
        Stream s;  // frames, a save and reload, byte grids, settling, a raw short message
        s.Message(kModifyCell, ModifyCell(90, 1, 1500.0f, 50.0f, 0, Element("Magma"), SIM_REPLACE_REPLACE, 255, 0));
        Append(s.bytes, uint8_t(4));  // EndFrame of 0.5 s
        Append(s.bytes, uint8_t(3));
        Append(s.bytes, uint8_t(32));
        s.Exchange();
        s.Special(0);  // save and load the save
        s.Special(1);
        Append(s.bytes, uint8_t(5));
        s.Special(2);
        s.EndFrame(1);
        s.Special(3);
        s.Raw(SIM_MSG_ADD_MASS, std::string(10, '\x01'));  // shorter than its payload
        s.Raw(0x12345678u, "unknown");
        s.EndFrame();
        s.Exchange();
        Write("messages", "frames", s.bytes);
    }
}

// The library's own save of a small scene, in every version it loads.
void SaveSeeds() {
    const std::string save = SaveOf(Scene(6, 4));
    const tshost::SaveReadResult read = tshost::ReadSaveGame(save);
    if (!read) {
        std::fprintf(stderr, "the scene's save does not read back: %s\n", read.error.c_str());
        std::exit(1);
    }
    for (int32_t version = SIM_SAVE_MIN_VERSION; version <= SIM_SAVE_VERSION; ++version)
        Write("savegame", "v" + std::to_string(version), tshost::WriteSaveGame(*read.save, version));
    // The element ids a load replaces, and an id the table does not hold.
    tshost::SaveGame odd = *read.save;
    odd.cells[size_t(odd.width + 1)].elementId = 0x0280CF79u;
    odd.cells[size_t(odd.width + 2)].elementId = 0x2391C22Bu;
    odd.cells[size_t(odd.width + 3)].elementId = 0xDEADBEEFu;
    Write("savegame", "replaced-ids", tshost::WriteSaveGame(odd, SIM_SAVE_VERSION));
}

void CreateWorldSeeds() {
    Write("createworld", "scene", tshost::CreateWorldPayload(Scene(6, 4)));
    tshost::WorldLayout one(1, 1, tshost::Matter(Element("Water"), 300.0f, 100.0f));
    Write("createworld", "one-cell", tshost::CreateWorldPayload(one));
    tshost::WorldLayout hot(3, 2, tshost::Matter(Element("Magma"), 2000.0f, 500.0f));
    hot.at(1, 1) = tshost::Matter(Element("Ice"), 200.0f, 400.0f);
    Write("createworld", "hot-and-cold", tshost::CreateWorldPayload(hot));
}

void TableSeeds() {
    const Tables& t = SampleTables();
    auto seed = [](const std::string& elements, const std::string& diseases) {
        std::string out;
        Append(out, uint16_t(elements.size()));
        return out + elements + diseases;
    };
    Write("tables", "sample", seed(t.elementPayload, t.diseasePayload));
    // A small table: what a world needs, one of each state, water with its transitions.
    std::vector<tshost::ElementDesc> small;
    for (const char* name : {"Vacuum", "Bedrock", "Oxygen", "Water", "Ice", "Steam", "Granite"})
        small.push_back(t.sample.elements[Element(name)]);
    auto local = [&small](const char* name) { return uint8_t(tshost::FindElement(small, name)); };
    for (auto& e : small) {
        auto fix = [&](uint8_t& index) {
            index = index == SIM_NO_ELEMENT ? index : local(t.sample.elements[index].name.c_str());
        };
        fix(e.record.lowTempTransitionIndex);
        fix(e.record.highTempTransitionIndex);
        e.record.sublimateIndex = SIM_NO_ELEMENT;
    }
    std::vector<tshost::DiseaseDesc> diseases{t.sample.diseases[0]};
    std::vector<DiseaseElementGrowth> growth;
    for (const auto& e : small) growth.push_back(diseases[0].growth[Element(e.name.c_str())]);
    diseases[0].growth = growth;
    Write("tables", "small",
          seed(tshost::ElementTablePayload(small), tshost::DiseaseTablePayload(diseases, int32_t(small.size()))));
}

void CellByteGridSeeds() {
    std::string grid(1, '\x01');
    for (int i = 0; i < 16 * 12; ++i) grid += char(i % 5);
    Write("cellbytegrid", "raw-grid", grid);
    Write("cellbytegrid", "fill-and-settle", std::string("\x02\x07", 2));
    Write("cellbytegrid", "host-input", std::string("\x0c", 1) + std::string(16 * 12, '\x01'));
}

void ConduitSeeds() {
    std::string s;
    const uint8_t water = Element("Water"), steam = Element("Steam");
    auto add = [&](float t, float mass, uint8_t element, uint8_t building) {
        Append(s, uint8_t(0));
        Append(s, t);
        Append(s, mass);
        Append(s, element);
        Append(s, building);
        Append(s, 50.0f);  // building heat capacity
        Append(s, 1.0f);   // building conductivity
        Append(s, uint8_t(building == 1));
    };
    auto update = [&](float dt, bool withBuildings) {
        Append(s, uint8_t(4));
        Append(s, dt);
        Append(s, uint8_t(withBuildings));
    };
    add(280.0f, 10.0f, water, 0);
    add(380.0f, 5.0f, steam, 1);
    add(300.0f, 0.0f, water, 2);
    add(300.0f, 1.0f, water, 100);  // no building
    update(0.2f, true);
    Append(s, uint8_t(5));  // a frame
    update(0.2f, false);
    Append(s, uint8_t(1));  // Set entry 0 to freezing water
    Append(s, uint8_t(0));
    Append(s, 250.0f);
    Append(s, 10.0f);
    Append(s, water);
    Append(s, uint8_t(7));  // building 2 at 1000 K
    Append(s, uint8_t(2));
    Append(s, 1000.0f);
    update(1.0f, true);
    Append(s, uint8_t(2));  // Remove entry 1
    Append(s, uint8_t(1));
    Append(s, uint8_t(5));
    Append(s, uint8_t(5));
    update(0.2f, true);
    Append(s, uint8_t(3));  // Clear
    update(0.2f, true);
    Write("conduits", "entries", s);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tesselsim-fuzz-seeds DIR\n");
        return 2;
    }
    g_root = argv[1];
    StartLibrary();
    MessageSeeds();
    SaveSeeds();
    CreateWorldSeeds();
    TableSeeds();
    CellByteGridSeeds();
    ConduitSeeds();
    SIM_Shutdown();
    return 0;
}
