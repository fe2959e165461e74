// tesselsim-soak: a 256 x 384 world under random valid host traffic (cell
// messages, components added, changed and removed, conduit entries updated
// against their buildings) for a given time. After every frame the published
// cells must keep their invariants; a watchdog fails the run when no frame
// completes for a while (a deadlock); the resident memory at the end must be
// within a tolerance of what it was after the warm-up.
//
//   tesselsim-soak [--seconds S] [--warmup S] [--watchdog S] [--rss-tolerance MB] [--seed N]
//
// Exit status: 0 when the run held, 1 when an invariant, the memory or the
// report count failed, 3 when the watchdog fired.
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/harness.h"
#include "hostkit/payloads.h"

namespace {

using namespace tsfuzz;
using Clock = std::chrono::steady_clock;

constexpr int32_t kWidth = 256;
constexpr int32_t kHeight = 384;
constexpr int32_t kCells = kWidth * kHeight;
constexpr size_t kMaxPerKind = 48;
constexpr size_t kMaxConduits = 256;
constexpr size_t kBuildingSlots = 1024;

struct Options {
    double seconds = 20.0;
    double warmup = -1.0;  // default: a quarter of the run, at most 30 s
    double watchdog = 60.0;
    double rssToleranceMb = 8.0;
    uint32_t seed = 1;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        if (a == "--seconds") o.seconds = std::atof(v);
        else if (a == "--warmup") o.warmup = std::atof(v);
        else if (a == "--watchdog") o.watchdog = std::atof(v);
        else if (a == "--rss-tolerance") o.rssToleranceMb = std::atof(v);
        else if (a == "--seed") o.seed = uint32_t(std::strtoul(v, nullptr, 10));
        else return false;
    }
    if (o.warmup < 0.0) o.warmup = std::min(o.seconds / 4.0, 30.0);
    return o.seconds > 0.0 && o.warmup < o.seconds;
}

double ResidentMb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

enum Kind { kChunk, kBuilding, kConsumer, kEmitter, kDiseaseEmitter, kKinds };

class Traffic {
public:
    explicit Traffic(uint32_t seed) : rng_(seed) {
        const auto& e = SampleTables().sample.elements;
        for (const char* name : {"Water", "Sand", "Oxygen", "Carbon dioxide", "Granite", "Dirt", "Crude oil"})
            matter_.push_back(tshost::ElementIndex(e, name));
        granite_ = tshost::ElementIndex(e, "Granite");
        water_ = tshost::ElementIndex(e, "Water");
        oxygen_ = tshost::ElementIndex(e, "Oxygen");
        sand_ = tshost::ElementIndex(e, "Sand");
        waterId_ = e[water_].record.id;
        buildingTemperatures_.assign(kBuildingSlots, BuildingOutputEntry{SIM_NO_HANDLE, -1.0f});
    }

    // One frame's messages, closed by EndFrame.
    void SendFrame() {
        Post(SIM_MSG_SET_FRAME_PARAMETERS, tshost::SetFrameParameters(0.001f, 0.01f, 0.001f, 0.001f, 0));
        const int cellMessages = int(rng_() % 12);
        for (int i = 0; i < cellMessages; ++i) CellMessage();
        for (int i = 0; i < 2; ++i) ComponentMessage();
        Conduits();
        Post(SIM_MSG_END_FRAME, tshost::EndFrame(0.2f, 0, 0, kWidth, kHeight));
    }

    // Learns the handles the frame's adds were given and its building temperatures.
    void Read(const FrameResults* r) {
        for (int32_t i = 0; i < r->componentCallbacksCount; ++i) {
            const ComponentCallbackEntry& e = r->componentCallbacks[i];
            const auto it = pendingAdds_.find(e.callbackId);
            if (it == pendingAdds_.end()) continue;
            if (e.handle != SIM_NO_HANDLE) {
                live_[it->second].push_back(e.handle);
                if (it->second == kEmitter || it->second == kDiseaseEmitter) Configure(it->second, e.handle);
            }
            pendingAdds_.erase(it);
        }
        for (int32_t i = 0; i < r->buildingOutputsCount && size_t(i) < kBuildingSlots; ++i)
            buildingTemperatures_[size_t(i)] = r->buildingOutputs[i];
    }

    size_t LiveComponents() const {
        size_t n = 0;
        for (const auto& l : live_) n += l.size();
        return n;
    }
    size_t LiveConduits() const { return conduits_.size(); }

private:
    template <class T>
    static void Post(uint32_t id, const T& payload) {
        SIM_HandleMessage(id, int32_t(sizeof(T)), &payload);
    }
    int32_t Cell() { return int32_t(rng_() % uint32_t(kCells)); }
    float Uniform(float lo, float hi) { return lo + (hi - lo) * float(rng_() % 10000) / 10000.0f; }
    uint8_t Matter() { return matter_[rng_() % matter_.size()]; }

    void CellMessage() {
        using namespace tshost;
        switch (rng_() % 10) {
            case 0:
                Post(SIM_MSG_MODIFY_CELL, ModifyCell(Cell(), SIM_NO_CALLBACK, Uniform(250.0f, 400.0f),
                                                     Uniform(0.5f, 200.0f), 0, Matter(), uint8_t(rng_() % 3), 255, 0));
                break;
            case 1:
                Post(SIM_MSG_ADD_MASS,
                     AddMass(Cell(), uint32_t(rng_() % 1000), Uniform(0.1f, 20.0f), Uniform(260.0f, 380.0f), 0,
                             Matter(), 255));
                break;
            case 2: Post(SIM_MSG_CONSUME_MASS, ConsumeMass(Cell(), 7, Uniform(0.1f, 10.0f), water_, 3)); break;
            case 3: Post(SIM_MSG_DIG_CELL, DigCell(Cell(), 8, uint8_t(rng_() % 2))); break;
            case 4:
                Post(SIM_MSG_MODIFY_CELL_ENERGY, ModifyCellEnergy(Cell(), Uniform(-200.0f, 200.0f), 1000.0f, 0));
                break;
            case 5: Post(SIM_MSG_SET_CELL_FLAGS, SetCellFlags(Cell(), uint8_t(1u << (rng_() % 7)), uint8_t(rng_() % 2))); break;
            case 6: Post(SIM_MSG_SET_CELL_INSULATION, SetCellInsulation(Cell(), Uniform(0.0f, 1.0f))); break;
            case 7: Post(SIM_MSG_MODIFY_CELL_DISEASE, ModifyCellDisease(Cell(), 0, int32_t(rng_() % 500) + 1)); break;
            case 8: Post(SIM_MSG_CONSUME_DISEASE, ConsumeDisease(Cell(), 9, Uniform(0.0f, 1.0f), 1000)); break;
            default: Post(SIM_MSG_SET_STRENGTH_MODIFIER, SetStrengthModifier(Cell(), Uniform(0.5f, 2.0f)));
        }
    }

    void Add(Kind kind) {
        using namespace tshost;
        const uint32_t cb = nextCallback_++;
        pendingAdds_[cb] = kind;
        switch (kind) {
            case kChunk:
                Post(SIM_MSG_ADD_ELEMENT_CHUNK,
                     AddElementChunk(Cell(), cb, Uniform(1.0f, 50.0f), Uniform(270.0f, 400.0f), 1.0f, 1.0f, 1.0f, sand_));
                break;
            case kBuilding: {
                const int32_t x = int32_t(rng_() % (kWidth - 4)), y = int32_t(rng_() % (kHeight - 4));
                Post(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE,
                     AddBuildingHeatExchange(cb, granite_, 400.0f, Uniform(280.0f, 350.0f), 1.0f, 1000.0f,
                                             Uniform(0.0f, 1.0f), x, y, x + 1 + int32_t(rng_() % 3),
                                             y + 1 + int32_t(rng_() % 3)));
                break;
            }
            case kConsumer: Post(SIM_MSG_ADD_MASS_CONSUMER, AddMassConsumer(Cell(), cb, 1, 0, water_)); break;
            case kEmitter: Post(SIM_MSG_ADD_MASS_EMITTER, AddMassEmitter(5.0f, cb, SIM_NO_CALLBACK, SIM_NO_CALLBACK)); break;
            default: Post(SIM_MSG_ADD_DISEASE_EMITTER, AddDiseaseEmitter(cb));
        }
    }

    void Configure(Kind kind, uint32_t h) {
        using namespace tshost;
        if (kind == kEmitter)
            Post(SIM_MSG_MODIFY_MASS_EMITTER,
                 ModifyMassEmitter(h, Cell(), 1.0f, 0.2f, 300.0f, 5.0f, 0, oxygen_, 1, 255));
        else
            Post(SIM_MSG_MODIFY_DISEASE_EMITTER, ModifyDiseaseEmitter(h, Cell(), 0, 1, 1.0f, 100));
    }

    void Modify(Kind kind, uint32_t h) {
        using namespace tshost;
        switch (kind) {
            case kChunk:
                if (rng_() % 2) Post(SIM_MSG_MOVE_ELEMENT_CHUNK, MoveElementChunk(h, Cell()));
                else Post(SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, ModifyElementChunkEnergy(h, Uniform(-50.0f, 50.0f)));
                break;
            case kBuilding:
                Post(SIM_MSG_MODIFY_BUILDING_ENERGY, ModifyBuildingEnergy(h, Uniform(-100.0f, 100.0f), 200.0f, 600.0f));
                break;
            case kConsumer: Post(SIM_MSG_MODIFY_MASS_CONSUMER, ModifyMassConsumer(h, Cell(), Uniform(0.0f, 2.0f))); break;
            default: Configure(kind, h);
        }
    }

    void Remove(Kind kind, size_t at) {
        using namespace tshost;
        std::vector<uint32_t>& l = live_[kind];
        const uint32_t h = l[at];
        l[at] = l.back();
        l.pop_back();
        static constexpr uint32_t kRemoveIds[kKinds] = {SIM_MSG_REMOVE_ELEMENT_CHUNK,
                                                        SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE,
                                                        SIM_MSG_REMOVE_MASS_CONSUMER, SIM_MSG_REMOVE_MASS_EMITTER,
                                                        SIM_MSG_REMOVE_DISEASE_EMITTER};
        Post(kRemoveIds[kind], RemoveComponent(h, SIM_NO_CALLBACK));
        if (kind == kBuilding)  // its conduit entries go with it
            for (size_t i = conduits_.size(); i-- > 0;)
                if (conduits_[i].building == h) RemoveConduit(i);
    }

    void ComponentMessage() {
        const Kind kind = Kind(rng_() % kKinds);
        std::vector<uint32_t>& l = live_[kind];
        const uint32_t roll = rng_() % 10;
        if (l.empty() || (roll < 4 && l.size() < kMaxPerKind)) Add(kind);
        else if (roll < 8) Modify(kind, l[rng_() % l.size()]);
        else Remove(kind, rng_() % l.size());
    }

    struct Conduit {
        uint32_t handle;
        uint32_t building;
    };
    void RemoveConduit(size_t i) {
        ConduitTemperatureManager_Remove(conduits_[i].handle);
        conduits_[i] = conduits_.back();
        conduits_.pop_back();
    }

    void Conduits() {
        const std::vector<uint32_t>& buildings = live_[kBuilding];
        const uint32_t roll = rng_() % 10;
        if (!buildings.empty() && roll < 5 && conduits_.size() < kMaxConduits) {
            const uint32_t b = buildings[rng_() % buildings.size()];
            const uint32_t h = ConduitTemperatureManager_Add(Uniform(280.0f, 360.0f), Uniform(0.0f, 10.0f), waterId_, b,
                                                             50.0f, 1.0f, uint8_t(rng_() % 2));
            if (h != SIM_NO_HANDLE) conduits_.push_back(Conduit{h, b});
        } else if (!conduits_.empty() && roll < 7) {
            ConduitTemperatureManager_Set(conduits_[rng_() % conduits_.size()].handle, Uniform(280.0f, 360.0f),
                                          Uniform(0.0f, 10.0f), waterId_);
        } else if (!conduits_.empty() && roll < 8) {
            RemoveConduit(rng_() % conduits_.size());
        }
        const UpdateResult* r = ConduitTemperatureManager_Update(0.2f, buildingTemperatures_.data());
        if (r == nullptr) Fail("ConduitTemperatureManager_Update answered null with a manager");
        for (int32_t i = 0; i < r->temperatureCount; ++i)
            if (!(r->temperatures[i] >= 0.0f && r->temperatures[i] <= SIM_MAX_TEMPERATURE))
                Fail("conduit slot %d at %g K", i, r->temperatures[i]);
    }

    std::mt19937 rng_;
    std::vector<uint8_t> matter_;
    uint8_t granite_, water_, oxygen_, sand_;
    uint32_t waterId_;
    uint32_t nextCallback_ = 1;
    std::map<uint32_t, Kind> pendingAdds_;
    std::array<std::vector<uint32_t>, kKinds> live_;
    std::vector<Conduit> conduits_;
    std::vector<BuildingOutputEntry> buildingTemperatures_;
};

tshost::WorldLayout SoakWorld() {
    tshost::WorldLayout world = Scene(kWidth, kHeight);
    const auto& e = SampleTables().sample.elements;
    auto full = [&e](const char* name, float t) {
        const uint8_t i = tshost::ElementIndex(e, name);
        return tshost::Matter(i, t, e[i].record.defaultMass);
    };
    // Layers of rock and soil, a magma pocket, an oil lake and a cold cave.
    world.Fill(0, 2, kWidth, 60, full("Sandstone", 300.0f));
    world.Fill(20, 10, 60, 25, full("Magma", 1800.0f));
    world.Fill(100, 20, 180, 40, full("Crude oil", 320.0f));
    world.Fill(200, 30, 240, 55, full("Ice", 250.0f));
    world.Fill(0, 60, kWidth, 120, full("Dirt", 295.0f));
    world.Fill(30, 80, 120, 110, full("Water", 290.0f));
    world.Fill(140, 120, 220, 125, full("Sand", 293.0f));
    world.Fill(0, 200, kWidth, 210, full("Granite", 280.0f));
    world.Fill(50, 300, 100, 320, full("Carbon dioxide", 300.0f));
    world.Fill(150, 330, 200, 360, full("Hydrogen", 290.0f));
    return world;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: tesselsim-soak [--seconds S] [--warmup S] [--watchdog S] [--rss-tolerance MB] "
                     "[--seed N]\n");
        return 2;
    }
    StartLibrary(true, true);
    const std::string save = SaveOf(SoakWorld());
    if (save.empty() || LoadSave(save, options.seed) == nullptr) Fail("the soak world does not save and load");
    ConduitTemperatureManager_Initialize();

    std::atomic<uint64_t> frames{0};
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        uint64_t seen = 0;
        auto last = Clock::now();
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const uint64_t now = frames.load();
            if (now != seen) {
                seen = now;
                last = Clock::now();
            } else if (std::chrono::duration<double>(Clock::now() - last).count() > options.watchdog) {
                std::fprintf(stderr, "tesselsim-soak: no frame completed for %.0f s after frame %llu (deadlock?)\n",
                             options.watchdog, static_cast<unsigned long long>(now));
                std::_Exit(3);
            }
        }
    });

    Traffic traffic(options.seed);
    const std::string grid(size_t(kCells), '\0');
    const auto start = Clock::now();
    double warmRss = -1.0, peakAfterWarmup = 0.0;
    uint64_t warmFrames = 0;
    for (;;) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        if (elapsed >= options.seconds) break;
        traffic.SendFrame();
        const auto* r = reinterpret_cast<const FrameResults*>(
            SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(grid.size()), grid.data()));
        if (r == nullptr) Fail("ExchangeFrame answered no results with a world running");
        CheckFrame(r, kWidth, kHeight, "soak frame");
        traffic.Read(r);
        frames.fetch_add(1);
        if (warmRss < 0.0 && elapsed >= options.warmup) {
            warmRss = ResidentMb();
            warmFrames = frames.load();
        }
        // Every frame: a slow build runs only a few dozen after the warm-up.
        if (warmRss >= 0.0) peakAfterWarmup = std::max(peakAfterWarmup, ResidentMb());
    }
    const double endRss = ResidentMb();
    peakAfterWarmup = std::max(peakAfterWarmup, endRss);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const uint64_t total = frames.load();
    const int reports = ReportCount();
    done.store(true);
    watchdog.join();
    ConduitTemperatureManager_Shutdown();
    SIM_Shutdown();

    std::printf("tesselsim-soak: %llu frames in %.1f s (%.1f frames/s), %zu components and %zu conduit entries live "
                "at the end, %d library reports\n",
                static_cast<unsigned long long>(total), seconds, double(total) / seconds, traffic.LiveComponents(),
                traffic.LiveConduits(), reports);
    std::printf("tesselsim-soak: resident memory %.1f MB after the warm-up (frame %llu), %.1f MB at the end, "
                "%.1f MB at most in between (tolerance %.1f MB)\n",
                warmRss, static_cast<unsigned long long>(warmFrames), endRss, peakAfterWarmup,
                options.rssToleranceMb);
    bool ok = true;
    if (warmRss < 0.0) {
        std::printf("tesselsim-soak: FAILED: the run ended before the warm-up did\n");
        ok = false;
    } else if (peakAfterWarmup - warmRss > options.rssToleranceMb) {
        // A growth freed again before the end is caught too.
        std::printf("tesselsim-soak: FAILED: memory grew by %.1f MB after the warm-up\n", peakAfterWarmup - warmRss);
        ok = false;
    }
    if (reports != 0) {
        std::printf("tesselsim-soak: FAILED: valid traffic raised %d library reports (TS_FUZZ_REPORTS=1 shows them)\n",
                    reports);
        ok = false;
    }
    return ok ? 0 : 1;
}
