#include "tessel/scenes.h"

#include "hostkit/payloads.h"

namespace tessel {

namespace {

struct Palette {
    const tshost::SampleTables& t;
    uint8_t operator()(const char* name) const { return tshost::ElementIndex(t.elements, name); }
    // A cell full of the element at `temperature`.
    tshost::WorldCell Full(const char* name, float temperature) const {
        const uint8_t e = (*this)(name);
        return tshost::Matter(e, temperature, t.elements[e].record.defaultMass);
    }
};

// Callback ids of the demo's objects.
constexpr uint32_t kBuildingCallback = 1, kVentCallback = 2, kGermCallback = 3;

uint32_t HandleOf(const tshost::FrameResultsView& r, uint32_t callbackId) {
    for (const ComponentCallbackEntry& e : r.componentCallbacks())
        if (e.callbackId == callbackId) return e.handle;
    return SIM_NO_HANDLE;
}

}  // namespace

tshost::WorldLayout DemoWorld(const tshost::SampleTables& tables) {
    const Palette p{tables};
    tshost::WorldLayout w(kDemoWidth, kDemoHeight, p.Full("Oxygen", 293.15f));
    const auto granite = p.Full("Granite", 290.0f);
    w.Fill(0, 0, kDemoWidth, 7, granite);  // the ground

    // A pool of cool water over ice, in a basin.
    w.Fill(0, 7, 2, 48, granite);
    w.Fill(58, 7, 60, 48, granite);
    w.Fill(2, 7, 58, 18, p.Full("Ice", 250.0f));
    w.Fill(2, 18, 58, 40, p.Full("Water", 285.0f));

    // Open ground: a block of water and a heap of sand in the air fall onto it.
    w.Fill(64, 150, 92, 180, p.Full("Water", 300.0f));
    w.Fill(98, 125, 116, 145, p.Full("Sand", 300.0f));

    // Magma beside water in one open container.
    w.Fill(120, 7, 122, 44, granite);
    w.Fill(174, 7, 176, 44, granite);
    w.Fill(122, 7, 146, 32, p.Full("Magma", 1600.0f));
    w.Fill(146, 7, 174, 32, p.Full("Water", 290.0f));

    // A closed room of air that the building heats, and above it a closed
    // chamber of hydrogen under carbon dioxide, the vent at its bottom.
    w.Fill(180, 7, 252, 150, granite);
    w.Fill(182, 9, 250, 38, p.Full("Oxygen", 293.15f));
    w.Fill(182, 44, 250, 96, p.Full("Hydrogen", 293.15f));
    w.Fill(182, 96, 250, 148, p.Full("Carbon dioxide", 293.15f));
    return w;
}

void AddDemoObjects(Host& host) {
    const Palette p{host.tables()};
    tshost::Library& lib = host.lib();
    const int32_t width = host.width();
    lib.Send(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
             tshost::AddBuildingHeatExchange(kBuildingCallback, p("Iron"), 2000.0f, 293.15f, 1.0f, 5000.0f,
                                             20000.0f, 200, 9, 232, 30));
    lib.Send(SIM_MSG_ADD_MASS_EMITTER, tshost::AddMassEmitter(2.0f, kVentCallback, SIM_NO_CALLBACK, SIM_NO_CALLBACK));
    lib.Send(SIM_MSG_ADD_DISEASE_EMITTER, tshost::AddDiseaseEmitter(kGermCallback));
    const tshost::FrameResultsView r = host.Settle();
    const uint32_t vent = HandleOf(r, kVentCallback), germs = HandleOf(r, kGermCallback);
    if (HandleOf(r, kBuildingCallback) == SIM_NO_HANDLE || vent == SIM_NO_HANDLE || germs == SIM_NO_HANDLE)
        throw std::runtime_error("the library refused one of the demo's objects");
    lib.Send(SIM_MSG_MODIFY_MASS_EMITTER, tshost::ModifyMassEmitter(vent, 45 * width + 216, 0.2f, 0.5f, 380.0f, 2.0f,
                                                                    0, p("Methane"), 1, SIM_NO_DISEASE));
    lib.Send(SIM_MSG_MODIFY_DISEASE_EMITTER,
             tshost::ModifyDiseaseEmitter(germs, 30 * width + 30, tshost::DiseaseIndex(host.tables().diseases,
                                                                                        "Vibrio bacteria"),
                                          3, 1.0f, 200000));
}

tshost::WorldLayout BenchWorld(const std::string& scene, const tshost::SampleTables& tables, int32_t gw,
                               int32_t gh) {
    const Palette p{tables};
    if (scene == "settled") {
        tshost::WorldLayout w(gw, gh, p.Full("Oxygen", 290.0f));
        w.Fill(0, 0, gw, gh / 4, p.Full("Granite", 290.0f));
        w.Fill(0, gh / 4, gw, gh / 3, p.Full("Water", 290.0f));
        return w;
    }
    if (scene != "mixed") throw UsageError("unknown scene '" + scene + "' (mixed or settled)");
    // Periodic patterns: the work per cell does not depend on the world's size.
    tshost::WorldLayout w(gw, gh);
    for (int32_t y = 0; y < gh; ++y)
        for (int32_t x = 0; x < gw; ++x) {
            const int32_t sx = x + 1, sy = y + 1;
            const float gradient = 260.0f + 80.0f * float(sx % 128) / 128.0f;
            tshost::WorldCell& c = w.at(x, y);
            if (sy <= gh / 4)
                c = tshost::Matter(p((sx / 16) % 5 == 4 ? "Sand" : "Granite"), gradient + float(sy % 7), 1800.0f);
            else if (sy <= gh / 3 && sx % 64 < 32)
                c = tshost::Matter(p("Water"), 290.0f + float(sx % 11), 950.0f);
            else if (sy <= gh / 3 && sx % 23 == 0)
                c = tshost::Matter(p("Ice"), 255.0f, 900.0f);
            else if (sy <= gh / 2)
                c = tshost::Matter(p("Carbon dioxide"), gradient, 1.9f);
            else
                c = tshost::Matter(p("Oxygen"), gradient + 10.0f * float((sy / 8) % 2), 1.2f);
        }
    return w;
}

std::string SaveOf(Host& host, const tshost::WorldLayout& world) {
    const uint64_t created = host.lib().SendBytes(SIM_MSG_CREATE_WORLD, tshost::CreateWorldPayload(world));
    if (created != uint64_t(world.width) * uint64_t(world.height))
        throw UsageError("the library refused the world of " + std::to_string(world.width) + " x " +
                         std::to_string(world.height));
    const std::string save = host.lib().SaveWorld();
    if (save.empty()) throw UsageError("the library gave no save of the world");
    return save;
}

}  // namespace tessel
