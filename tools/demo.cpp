// tesselsim-demo: the smallest complete host. Loads the library, sends the
// sample element and disease tables, creates a small world and describes it,
// then saves it, loads the save and runs it for ten seconds of game time,
// drawing the grid and what the frames reported.
//
//   tesselsim-demo [path/to/libtesselsim.so]
//
// Exit status: 0 on success, 1 when a step fails, 2 when the library reported
// an assertion or warning on the way.
#include <atomic>
#include <cstdio>
#include <exception>
#include <map>
#include <string>

#include "hostkit/frameresults.h"
#include "hostkit/library.h"
#include "hostkit/payloads.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"

namespace {

std::atomic<int> g_reports{0};

void PrintReport(int32_t code, void* record) {
    ++g_reports;
    if (code == SIM_CALLBACK_ASSERTION) {
        const auto* r = static_cast<const SimAssertionReport*>(record);
        std::printf("library report: %s (%s:%d)\n", r->message ? r->message : "", r->file ? r->file : "?", r->line);
    } else {
        const auto* r = static_cast<const SimCrashReport*>(record);
        std::printf("library crash report, dump %s\n", r->dumpPath ? r->dumpPath : "(none)");
    }
}

// 16 x 12 game cells: a granite floor with a basin of water, a heap of sand,
// oxygen above and a little carbon dioxide pooled at the bottom of the air.
tshost::WorldLayout BuildScene(const tshost::SampleTables& t) {
    auto idx = [&t](const char* name) { return tshost::ElementIndex(t.elements, name); };
    auto full = [&t](uint8_t e, float temperature) {
        return tshost::Matter(e, temperature, t.elements[e].record.defaultMass);
    };
    constexpr int32_t W = 16, H = 12;
    tshost::WorldLayout world(W, H, full(idx("Oxygen"), 293.15f));
    world.Fill(0, 0, W, 2, full(idx("Granite"), 290.0f));
    world.Fill(2, 2, 3, 5, full(idx("Granite"), 290.0f));   // basin walls
    world.Fill(9, 2, 10, 5, full(idx("Granite"), 290.0f));
    world.Fill(3, 2, 9, 4, full(idx("Water"), 285.0f));
    world.Fill(11, 2, 15, 3, full(idx("Sand"), 291.0f));
    world.Fill(12, 3, 14, 4, full(idx("Sand"), 291.0f));
    world.Fill(3, 4, 9, 5, full(idx("Carbon dioxide"), 288.0f));
    world.Fill(11, 8, 14, 9, full(idx("Sand"), 291.0f));     // unsupported: it falls
    world.Fill(0, 6, 2, 7, full(idx("Water"), 330.0f));      // a warm spill on the left
    // Some germs in the pool.
    const uint8_t vibrio = tshost::DiseaseIndex(t.diseases, "Vibrio bacteria");
    for (int32_t x = 3; x < 9; ++x) {
        tshost::WorldCell& c = world.at(x, 2);
        c.diseaseIdx = vibrio;
        c.diseaseCount = 5000;
    }
    return world;
}

// One character per cell: the element's initial, lower case for gases,
// '.' for vacuum; the top row of the world is printed first.
void Draw(const tshost::FrameResultsView& r, const tshost::SampleTables& t) {
    for (int32_t y = r.height() - 1; y >= 0; --y) {
        std::string line;
        for (int32_t x = 0; x < r.width(); ++x) {
            const uint8_t e = r.elementIdx()[size_t(r.GameCell(x, y))];
            const tshost::ElementDesc& d = t.elements[e];
            char c = d.state() == SIM_STATE_VACUUM ? '.' : d.name.empty() ? '?' : d.name[0];
            if (d.state() == SIM_STATE_GAS) c = char(c | 0x20);
            line += c;
        }
        std::printf("  %s\n", line.c_str());
    }
}

// Loads the world from a save and runs `frames` frames of 0.2 s, one exchange
// each, printing what came back. Returns false when the load was refused.
bool RunFrames(tshost::Library& lib, const tshost::SampleTables& t, int32_t width, int32_t height, int frames) {
    const std::string save = lib.SaveWorld();
    const auto* loaded = reinterpret_cast<const FrameResults*>(lib.SendBytes(SIM_MSG_LOAD_SAVE_GAME, save));
    if (loaded == nullptr) return false;
    std::printf("\nLoadSaveGame of a %zu-byte save: the simulation runs\n", save.size());
    Draw(tshost::FrameResultsView(loaded, width, height), t);
    const std::string permits(size_t(width) * size_t(height), '\0');
    size_t changed = 0, released = 0, fallen = 0;
    tshost::FrameResultsView last(nullptr, width, height);
    for (int frame = 0; frame <= frames; ++frame) {
        lib.Send(SIM_MSG_SET_FRAME_PARAMETERS, tshost::SetFrameParameters(0.001f, 0.01f, 0.001f, 0.001f, 0));
        lib.Send(SIM_MSG_END_FRAME, tshost::EndFrame(frame < frames ? 0.2f : 0.0f, 0, 0, width, height));
        last = tshost::FrameResultsView(lib.ExchangeFrame(permits), width, height);
        changed += last.changedCells().size();
        released += last.releasedContents().size();
        fallen += last.fallingSolids().size();
    }
    std::printf("\nafter %d frames of 0.2 s: %zu cell changes, %zu releases, %zu falling solids (items for the host)\n",
                frames, changed,
                released, fallen);
    Draw(last, t);
    return true;
}

int Run(const std::string& libraryPath) {
    tshost::Library lib(libraryPath);
    std::printf("library: %s\n", libraryPath.c_str());
    lib.SIM_Initialize(&PrintReport);

    const tshost::SampleTables tables = tshost::LoadSampleTables();
    const uint64_t elementCount =
        lib.SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(tables.elements));
    std::printf("LoadElementTable: %llu elements (sent %zu)\n", static_cast<unsigned long long>(elementCount),
                tables.elements.size());
    lib.SendBytes(SIM_MSG_LOAD_DISEASE_TABLE,
                  tshost::DiseaseTablePayload(tables.diseases, static_cast<int32_t>(tables.elements.size())));
    std::printf("LoadDiseaseTable: %zu diseases sent\n", tables.diseases.size());

    const tshost::WorldLayout scene = BuildScene(tables);
    const std::string payload = tshost::CreateWorldPayload(scene);
    const uint64_t created = lib.SendBytes(SIM_MSG_CREATE_WORLD, payload);
    const uint64_t expected = uint64_t(scene.width) * uint64_t(scene.height);
    std::printf("CreateWorld %d x %d (%zu bytes): %llu%s\n", scene.width, scene.height, payload.size(),
                static_cast<unsigned long long>(created),
                created == expected ? "" : created == 0 ? " (no world was built)" : " (unexpected)");
    const uint64_t grid = lib.SendBytes(SIM_MSG_LOAD_CELL_BYTE_GRID,
                                        tshost::CellByteGridPayload(scene.width, scene.height, uint8_t(0)));
    std::printf("LoadCellByteGrid: %llu\n", static_cast<unsigned long long>(grid));

    // Describe the world as the payload sent it, read back from the bytes.
    const auto sent = tshost::ParseCreateWorldPayload(payload);
    if (!sent) {
        std::printf("the CreateWorld payload does not read back\n");
        lib.SIM_Shutdown();
        return 1;
    }
    struct Tally {
        int cells = 0;
        double mass = 0.0;
        double heat = 0.0;  // kJ: mass x specific heat x temperature
        long long germs = 0;
    };
    std::map<uint8_t, Tally> byElement;
    Tally total;
    for (const tshost::WorldCell& c : sent->cells) {
        Tally& t = byElement[c.elementIdx];
        const double heat = double(c.mass) * tables.elements[c.elementIdx].record.specificHeatCapacity * c.temperature;
        const long long germs = c.diseaseIdx == SIM_NO_DISEASE ? 0 : c.diseaseCount;
        for (Tally* x : {&t, &total}) {
            ++x->cells;
            x->mass += c.mass;
            x->heat += heat;
            x->germs += germs;
        }
    }
    std::printf("\n%-16s %6s %14s %16s %10s\n", "element", "cells", "mass kg", "heat kJ", "germs");
    for (const auto& [e, t] : byElement)
        std::printf("%-16s %6d %14.1f %16.1f %10lld\n", tables.elements[e].name.c_str(), t.cells, t.mass, t.heat,
                    t.germs);
    std::printf("%-16s %6d %14.1f %16.1f %10lld\n", "total", total.cells, total.mass, total.heat, total.germs);

    if (created == expected && !RunFrames(lib, tables, scene.width, scene.height, 50)) {
        std::printf("LoadSaveGame refused the save\n");
        lib.SIM_Shutdown();
        return 1;
    }

    lib.SIM_Shutdown();
    std::printf("\nshut down; %d library report(s)\n", g_reports.load());
    if (created != expected && created != 0) return 1;
    if (elementCount != tables.elements.size()) return 1;
    return g_reports.load() == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc > 1 ? argv[1] : TS_LIBRARY_PATH);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tesselsim-demo: %s\n", e.what());
        return 1;
    }
}
