// Runs one fixed session twice and prints the world hash after each, for the
// reproducibility tests: a host that loads the same save, sets the same seed
// and sends the same messages must see the same hash, in any process and with
// any worker count.
//
//   repro_host LIBRARY SEED FRAMES    prints "hash=<16 hex digits>" per run
//
// The second run follows, in the same process, a short run of one frame: the
// process-wide pass state it leaves behind must not reach the second run.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hostkit/library.h"
#include "hostkit/payloads.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"

namespace {

void PrintReport(int32_t code, void* record) {
    if (code == SIM_CALLBACK_ASSERTION) std::fprintf(stderr, "report: %s\n", static_cast<SimAssertionReport*>(record)->message);
}

// Water over a granite floor, sand, a hot and a cold column in a gas mixture.
tshost::WorldLayout Scene(const tshost::SampleTables& t) {
    auto e = [&](const char* name) { return tshost::ElementIndex(t.elements, name); };
    tshost::WorldLayout w(48, 32, tshost::Matter(e("Oxygen"), 295.0f, 1.2f));
    w.Fill(0, 0, 48, 4, tshost::Matter(e("Granite"), 290.0f, 1800.0f));
    w.Fill(4, 4, 20, 10, tshost::Matter(e("Water"), 300.0f, 950.0f));
    w.Fill(26, 12, 32, 16, tshost::Matter(e("Sand"), 295.0f, 1500.0f));
    w.Fill(0, 16, 48, 22, tshost::Matter(e("Carbon dioxide"), 280.0f, 1.9f));
    w.Fill(36, 4, 38, 30, tshost::Matter(e("Hydrogen"), 420.0f, 0.3f));
    w.Fill(42, 4, 44, 30, tshost::Matter(e("Methane"), 200.0f, 0.8f));
    tshost::WorldCell germs = tshost::Matter(e("Water"), 300.0f, 950.0f);
    germs.diseaseIdx = tshost::DiseaseIndex(t.diseases, "Vibrio bacteria");
    germs.diseaseCount = 50000;
    w.Fill(8, 6, 10, 8, germs);
    return w;
}

uint64_t Run(tshost::Library& lib, const tshost::SampleTables& t, uint32_t seed, int frames) {
    lib.SIM_Initialize(&PrintReport);
    lib.SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(t.elements));
    lib.SendBytes(SIM_MSG_LOAD_DISEASE_TABLE, tshost::DiseaseTablePayload(t.diseases, int32_t(t.elements.size())));
    const tshost::WorldLayout w = Scene(t);
    lib.SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(w));
    const std::string save = lib.SaveWorld();
    if (lib.SendBytes(SIM_MSG_LOAD_SAVE_GAME, save) == 0) return 0;
    const SetRandomSeedPayload seedPayload{seed};
    if (lib.Send(SIM_MSG_SET_RANDOM_SEED, seedPayload) != 1) return 0;
    const std::string input = tshost::HostCellInput(w.width, w.height, 0);
    const uint8_t water = tshost::ElementIndex(t.elements, "Water");
    for (int f = 0; f < frames; ++f) {
        // A steady trickle of host messages, like a game's.
        if (f % 10 == 0)
            lib.Send(SIM_MSG_MODIFY_CELL, tshost::ModifyCell(w.GameCell(12 + f % 7, 28), SIM_NO_CALLBACK, 310.0f,
                                                             40.0f, 0, water, SIM_REPLACE_REPLACE, SIM_NO_DISEASE, 0));
        if (f % 25 == 0)
            lib.Send(SIM_MSG_MODIFY_CELL_ENERGY, tshost::ModifyCellEnergy(w.GameCell(30, 2), 500.0f, 600.0f, 0));
        lib.Send(SIM_MSG_SET_FRAME_PARAMETERS, tshost::SetFrameParameters(0.001f, 0.01f, 0.001f, 0.001f, 0));
        lib.Send(SIM_MSG_END_FRAME, tshost::EndFrame(0.2f, 0, 0, w.width, w.height));
        lib.ExchangeFrame(input);
    }
    const uint64_t hash = lib.SendEmpty(SIM_MSG_HASH_WORLD);
    lib.SIM_Shutdown();
    return hash;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: repro_host LIBRARY SEED FRAMES\n");
        return 2;
    }
    try {
        tshost::Library lib(argv[1]);
        const tshost::SampleTables tables = tshost::LoadSampleTables();
        const auto seed = uint32_t(std::strtoul(argv[2], nullptr, 0));
        const int frames = std::atoi(argv[3]);
        std::printf("hash=%016" PRIx64 "\n", Run(lib, tables, seed, frames));
        Run(lib, tables, seed + 1, 1);
        std::printf("hash=%016" PRIx64 "\n", Run(lib, tables, seed, frames));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "repro_host: %s\n", e.what());
        return 1;
    }
    return 0;
}
