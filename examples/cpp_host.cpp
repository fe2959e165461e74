// A C++ host on the host kit: loads the library at run time, sends the sample
// tables, creates a world (water over granite beside warm air), runs 100
// frames and reports what the frame results say, then draws the grid.
//
//   cpp_host [LIBRARY]   (default: the library this example was built against)
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>

#include "hostkit/frameresults.h"
#include "hostkit/library.h"
#include "hostkit/payloads.h"
#include "hostkit/tables.h"
#include "hostkit/world.h"

#ifndef TESSELSIM_LIBRARY
#define TESSELSIM_LIBRARY "libtesselsim.so.0"
#endif

namespace {

int reports = 0;
void OnReport(int32_t code, void* record) {
    if (code == SIM_CALLBACK_ASSERTION)
        std::fprintf(stderr, "library report: %s\n", static_cast<SimAssertionReport*>(record)->message);
    ++reports;
}

// Mass per element name over the whole grid.
std::map<std::string, double> MassByElement(const tshost::FrameResultsView& view, const tshost::SampleTables& t) {
    std::map<std::string, double> mass;
    for (size_t c = 0; c < view.cellCount(); ++c) mass[t.elements[view.elementIdx()[c]].name] += view.mass()[c];
    return mass;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        tshost::Library lib(argc > 1 ? argv[1] : TESSELSIM_LIBRARY);
        const tshost::SampleTables t = tshost::LoadSampleTables();
        std::printf("tesselsim %s, tables from %s\n", TESSELSIM_VERSION_STRING, tshost::DataDir().c_str());
        lib.SIM_Initialize(&OnReport);
        std::printf("elements loaded: %llu\n", static_cast<unsigned long long>(lib.SendBytes(
                                                   SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(t.elements))));
        lib.SendBytes(SIM_MSG_LOAD_DISEASE_TABLE, tshost::DiseaseTablePayload(t.diseases, int32_t(t.elements.size())));

        auto e = [&](const char* name) { return tshost::ElementIndex(t.elements, name); };
        tshost::WorldLayout world(32, 16, tshost::Matter(e("Oxygen"), 293.0f, 1.0f));
        world.Fill(0, 0, 32, 3, tshost::Matter(e("Granite"), 293.0f, 1800.0f));
        world.Fill(2, 8, 14, 13, tshost::Matter(e("Water"), 300.0f, 900.0f));
        world.Fill(22, 3, 26, 12, tshost::Matter(e("Oxygen"), 500.0f, 1.0f));
        lib.SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world));
        const auto* first = reinterpret_cast<const FrameResults*>(lib.SendBytes(SIM_MSG_LOAD_SAVE_GAME, lib.SaveWorld()));
        if (first == nullptr) throw std::runtime_error("the save was refused");
        lib.Send(SIM_MSG_SET_RANDOM_SEED, SetRandomSeedPayload{42});
        const auto before = MassByElement(tshost::FrameResultsView(first, world.width, world.height), t);

        const std::string input = tshost::HostCellInput(world.width, world.height, 0);
        tshost::FrameResultsView view(nullptr, world.width, world.height);
        int changed = 0;
        for (int f = 0; f < 100; ++f) {
            lib.Send(SIM_MSG_SET_FRAME_PARAMETERS, tshost::SetFrameParameters(0.001f, 0.01f, 0.001f, 0.001f, 0));
            lib.Send(SIM_MSG_END_FRAME, tshost::EndFrame(0.2f, 0, 0, world.width, world.height));
            view = tshost::FrameResultsView(lib.ExchangeFrame(input), world.width, world.height);
            changed += int(view.changedCells().size());
        }
        std::printf("frames: 100, element changes reported: %d\n", changed);
        for (const auto& [name, mass] : MassByElement(view, t))
            std::printf("%-16s %10.1f kg (start %10.1f kg)\n", name.c_str(), mass, before.count(name) ? before.at(name) : 0.0);
        float hottest = 0.0f;
        for (size_t c = 0; c < view.cellCount(); ++c)
            if (view.mass()[c] > 0.0f && view.temperature()[c] > hottest) hottest = view.temperature()[c];
        std::printf("hottest cell: %.1f K\n", hottest);
        // Top row first: ~ water, # granite, + warm gas above 320 K.
        for (int32_t y = world.height - 1; y >= 0; --y) {
            std::string row;
            for (int32_t x = 0; x < world.width; ++x) {
                const tshost::FrameCell cell = view.cell(x, y);
                const uint8_t state = t.elements[cell.elementIdx].state();
                row += state == SIM_STATE_LIQUID ? '~' : state == SIM_STATE_SOLID ? '#' : cell.temperature > 320.0f ? '+' : '.';
            }
            std::printf("%s\n", row.c_str());
        }
        lib.SIM_Shutdown();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "cpp_host: %s\n", error.what());
        return 1;
    }
    std::printf("reports: %d\n", reports);
    return reports == 0 ? 0 : 1;
}
