// The conduit exports beside a running 16 x 12 world with three buildings.
// Each input starts from the same save and a fresh manager, then is a list of
// records:
//   op % 8: 0 Add, 1 Set, 2 Remove, 3 Clear, 4 Update, 5 a frame (EndFrame and
//   an exchange, whose building temperatures feed the next updates),
//   6 Initialize or Shutdown, 7 one building's temperature for the updates
// Update results are checked against the manager's slots and the published
// cells after every frame.
#include <mutex>
#include <vector>

#include "fuzz/harness.h"
#include "hostapi/runtime.h"
#include "hostkit/payloads.h"

namespace {

using namespace tsfuzz;

constexpr int32_t kWidth = 16;
constexpr int32_t kHeight = 12;
constexpr size_t kCells = size_t(kWidth) * kHeight;
constexpr int kMaxRecords = 256;
constexpr int kMaxFrames = 32;

struct Session {
    std::string baseSave;
    uint32_t buildings[3] = {SIM_NO_HANDLE, SIM_NO_HANDLE, SIM_NO_HANDLE};
    std::vector<uint32_t> entries;  // handles Add returned
    // The building temperatures given to Update: one entry per slot a handle can name.
    std::vector<BuildingOutputEntry> temperatures =
        std::vector<BuildingOutputEntry>(ts::handle::kMaxSlots, BuildingOutputEntry{SIM_NO_HANDLE, 300.0f});
    int frames = 0;

    const FrameResults* Exchange(const char* where) {
        ++frames;
        const std::string grid(kCells, '\0');
        const auto* r = reinterpret_cast<const FrameResults*>(
            SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(grid.size()), grid.data()));
        if (r == nullptr) Fail("%s: no results with a world running", where);
        CheckFrame(r, kWidth, kHeight, where);
        for (int32_t i = 0; i < r->buildingOutputsCount && size_t(i) < temperatures.size(); ++i)
            temperatures[size_t(i)] = r->buildingOutputs[i];
        return r;
    }
    void Frame(const char* where) {
        const EndFramePayload end{0.2f, 0, 0, kWidth, kHeight};
        SIM_HandleMessage(SIM_MSG_END_FRAME, sizeof end, &end);
        Exchange(where);
    }
};

Session& TheSession() {
    static Session* session = [] {
        auto* s = new Session;
        s->baseSave = StartWithSceneSave(kWidth, kHeight);
        return s;
    }();
    return *session;
}

uint32_t ElementId(Bytes& in) {
    const auto& elements = SampleTables().sample.elements;
    const uint8_t sel = in.U8();
    return sel < elements.size() ? elements[sel].record.id : in.Get<uint32_t>();
}

uint32_t EntryHandle(Session& s, Bytes& in) {
    const uint8_t sel = in.U8();
    if (sel < 200 && !s.entries.empty()) return s.entries[sel % s.entries.size()];
    return in.Get<uint32_t>();
}

void CheckUpdate(const UpdateResult* r) {
    if (r == nullptr) return;
    if (r->temperatureCount < 0 || r->frozenCount < 0 || r->boiledCount < 0 ||
        (r->temperatureCount > 0 && r->temperatures == nullptr) || (r->frozenCount > 0 && r->frozenEntries == nullptr) ||
        (r->boiledCount > 0 && r->boiledEntries == nullptr))
        Fail("update result counts %d %d %d do not match their arrays", r->temperatureCount, r->frozenCount,
             r->boiledCount);
    for (int32_t i = 0; i < r->frozenCount; ++i)
        if (r->frozenEntries[i] >= uint32_t(r->temperatureCount))
            Fail("frozen entry %u beyond %d slots", r->frozenEntries[i], r->temperatureCount);
    for (int32_t i = 0; i < r->boiledCount; ++i)
        if (r->boiledEntries[i] >= uint32_t(r->temperatureCount))
            Fail("boiled entry %u beyond %d slots", r->boiledEntries[i], r->temperatureCount);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Session& s = TheSession();
    s.entries.clear();
    s.frames = 0;
    if (LoadSave(s.baseSave) == nullptr) Fail("the scene's save was refused");
    const uint8_t granite = tshost::ElementIndex(SampleTables().sample.elements, "Granite");
    for (uint32_t i = 0; i < 3; ++i) {
        const auto add = tshost::AddBuildingHeatExchange(100 + i, granite, 400.0f, 290.0f + 40.0f * float(i), 1.0f,
                                                         1000.0f, 0.0f, int32_t(2 + 4 * i), 5, int32_t(4 + 4 * i), 7);
        SIM_HandleMessage(SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE, sizeof add, &add);
    }
    s.Frame("frame adding the buildings");
    const FrameResults* r = s.Exchange("frame adding the buildings");
    for (int32_t i = 0; i < r->componentCallbacksCount; ++i) {
        const ComponentCallbackEntry& e = r->componentCallbacks[i];
        if (e.callbackId >= 100 && e.callbackId < 103) s.buildings[e.callbackId - 100] = e.handle;
    }
    ConduitTemperatureManager_Initialize();

    Bytes in(data, size);
    for (int records = 0; !in.empty() && records < kMaxRecords && s.frames < kMaxFrames; ++records) {
        switch (in.U8() % 8) {
            case 0: {
                const float t = in.Get<float>();
                const float mass = in.Get<float>();
                const uint32_t element = ElementId(in);
                const uint8_t sel = in.U8();
                const uint32_t building = sel < 3 ? s.buildings[sel] : sel < 128 ? SIM_NO_HANDLE : in.Get<uint32_t>();
                const float capacity = in.Get<float>();
                const float conductivity = in.Get<float>();
                const uint32_t h =
                    ConduitTemperatureManager_Add(t, mass, element, building, capacity, conductivity, in.U8());
                if (h != SIM_NO_HANDLE && s.entries.size() < 64) s.entries.push_back(h);
                break;
            }
            case 1: {
                const uint32_t h = EntryHandle(s, in);
                const float t = in.Get<float>();
                const float mass = in.Get<float>();
                const uint32_t element = ElementId(in);
                ConduitTemperatureManager_Set(h, t, mass, element);
                break;
            }
            case 2: {
                const uint32_t h = EntryHandle(s, in);
                ConduitTemperatureManager_Remove(h);
                break;
            }
            case 3: ConduitTemperatureManager_Clear(); break;
            case 4: {
                const float dt = in.Get<float>();
                const bool withBuildings = (in.U8() & 1) != 0;
                CheckUpdate(ConduitTemperatureManager_Update(dt, withBuildings ? s.temperatures.data() : nullptr));
                break;
            }
            case 5: s.Frame("frame after conduit updates"); break;
            case 6:
                if (in.U8() & 1) {
                    ConduitTemperatureManager_Initialize();
                } else {
                    ConduitTemperatureManager_Shutdown();
                }
                s.entries.clear();
                break;
            default: {
                const uint8_t sel = in.U8() % 3;
                const uint32_t slot = ts::handle::Index(s.buildings[sel]);
                if (slot < s.temperatures.size()) s.temperatures[slot].temperature = in.Get<float>();
            }
        }
    }
    s.Frame("final frame");
    s.Exchange("final frame");
    ParkSimThread("end of input");
    ConduitTemperatureManager_Shutdown();
    return 0;
}
