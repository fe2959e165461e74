#include "fuzz/harness.h"

#include <signal.h>

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "hostapi/runtime.h"

namespace tsfuzz {

namespace {

std::atomic<int> g_reports{0};
const bool g_printReports = [] {
    const char* v = std::getenv("TS_FUZZ_REPORTS");
    return v != nullptr && v[0] == '1';
}();

void Record(int32_t code, void* record) {
    g_reports.fetch_add(1, std::memory_order_relaxed);
    if (g_printReports && code == SIM_CALLBACK_ASSERTION) {
        const auto* r = static_cast<const SimAssertionReport*>(record);
        std::fprintf(stderr, "report: %s (%s:%d)\n", r->message ? r->message : "", r->file ? r->file : "?", r->line);
    }
}

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};

}  // namespace

int ReportCount() { return g_reports.load(std::memory_order_relaxed); }

void Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "INVARIANT BROKEN: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
    std::abort();
}

const Tables& SampleTables() {
    static const Tables tables = [] {
        Tables t;
        t.sample = tshost::LoadSampleTables();
        t.elementCount = int32_t(t.sample.elements.size());
        t.diseaseCount = int32_t(t.sample.diseases.size());
        t.elementPayload = tshost::ElementTablePayload(t.sample.elements);
        t.diseasePayload = tshost::DiseaseTablePayload(t.sample.diseases, t.elementCount);
        return t;
    }();
    return tables;
}

void StartLibrary(bool loadTables, bool listen) {
    const Tables& tables = SampleTables();
    struct sigaction saved[sizeof kCrashSignals / sizeof kCrashSignals[0]];
    for (size_t i = 0; i < std::size(kCrashSignals); ++i) sigaction(kCrashSignals[i], nullptr, &saved[i]);
    // Without a listener the library skips the stack walk of each report: the
    // fuzz targets run many times faster.
    SIM_Initialize(listen || g_printReports ? &Record : nullptr);
    for (size_t i = 0; i < std::size(kCrashSignals); ++i) sigaction(kCrashSignals[i], &saved[i], nullptr);
    if (!loadTables) return;
    if (SIM_HandleMessage(SIM_MSG_LOAD_ELEMENT_TABLE, int32_t(tables.elementPayload.size()),
                          tables.elementPayload.data()) != uint64_t(tables.elementCount))
        Fail("the sample element table was refused");
    SIM_HandleMessage(SIM_MSG_LOAD_DISEASE_TABLE, int32_t(tables.diseasePayload.size()),
                      tables.diseasePayload.data());
}

tshost::WorldLayout Scene(int32_t w, int32_t h) {
    const tshost::SampleTables& t = SampleTables().sample;
    auto idx = [&t](const char* name) { return tshost::ElementIndex(t.elements, name); };
    auto full = [&t](uint8_t e, float temperature) {
        return tshost::Matter(e, temperature, t.elements[e].record.defaultMass);
    };
    tshost::WorldLayout world(w, h, full(idx("Oxygen"), 293.15f));
    const int32_t mid = w / 2;
    world.Fill(0, 0, w, 2, full(idx("Granite"), 290.0f));
    world.Fill(1, 2, 2, 5, full(idx("Granite"), 290.0f));
    world.Fill(mid, 2, mid + 1, 5, full(idx("Granite"), 290.0f));
    world.Fill(2, 2, mid, 4, full(idx("Water"), 285.0f));
    world.Fill(mid + 2, 2, w - 1, 3, full(idx("Sand"), 291.0f));
    world.Fill(2, 4, mid, 5, full(idx("Carbon dioxide"), 288.0f));
    world.Fill(mid + 1, h - 4, w - 2, h - 3, full(idx("Sand"), 291.0f));
    world.Fill(0, 6, 2, 7, full(idx("Water"), 330.0f));
    world.Fill(mid + 1, h - 2, w, h, full(idx("Steam"), 400.0f));
    const uint8_t vibrio = tshost::DiseaseIndex(t.diseases, "Vibrio bacteria");
    for (int32_t x = 2; x < mid; ++x) {
        tshost::WorldCell& c = world.at(x, 2);
        c.diseaseIdx = vibrio;
        c.diseaseCount = 5000;
    }
    return world;
}

std::string StartWithSceneSave(int32_t gameWidth, int32_t gameHeight) {
    StartLibrary();
    std::string save = SaveOf(Scene(gameWidth, gameHeight));
    if (save.empty()) Fail("the scene does not save");
    return save;
}

std::string SaveOf(const tshost::WorldLayout& layout) {
    const std::string payload = tshost::CreateWorldPayload(layout);
    if (SIM_HandleMessage(SIM_MSG_CREATE_WORLD, int32_t(payload.size()), payload.data()) == 0) return {};
    uint32_t length = 0;
    const uint8_t* data = SIM_BeginSave(&length);
    std::string blob = data ? std::string(reinterpret_cast<const char*>(data), length) : std::string();
    SIM_EndSave();
    return blob;
}

const FrameResults* LoadSave(const std::string& blob, uint32_t seed) {
    const auto* results = reinterpret_cast<const FrameResults*>(
        SIM_HandleMessage(SIM_MSG_LOAD_SAVE_GAME, int32_t(blob.size()), blob.data()));
    // The seed message waits for the load's first cycle (which runs no step),
    // then puts the process-wide pass state back to its start as well: every
    // input runs the same way whatever the inputs before it left behind.
    const SetRandomSeedPayload payload{seed};
    if (results != nullptr && SIM_HandleMessage(SIM_MSG_SET_RANDOM_SEED, int32_t(sizeof payload), &payload) != 1)
        Fail("SetRandomSeed refused after a load");
    return results;
}

void WorldSize(int32_t& gameWidth, int32_t& gameHeight) {
    const ts::World* world = ts::GetRuntime().simData.get();
    gameWidth = world ? world->gameWidth() : 0;
    gameHeight = world ? world->gameHeight() : 0;
}

void ParkSimThread(const char* where) {
    // HashWorld runs between cycles: it returns once the released cycle has published.
    if (SIM_HandleMessage(SIM_MSG_HASH_WORLD, 0, nullptr) == 0) Fail("%s: HashWorld answered 0 with a world", where);
}

size_t CheckFrame(const FrameResults* r, int32_t w, int32_t h, const char* where) {
    if (r == nullptr) return 0;
    const ts::Runtime& rt = ts::GetRuntime();
    const int32_t elements = rt.elementTable.count();
    const int32_t diseases = int32_t(rt.diseaseTable.records.size());
    const int32_t n = w * h;
    for (int32_t g = 0; g < n; ++g) {
        const uint8_t e = r->elementIdx[g];
        const float m = r->mass[g];
        const float t = r->temperature[g];
        const uint8_t d = r->diseaseIdx[g];
        const int32_t count = r->diseaseCount[g];
        if (e >= elements) Fail("%s: cell %d has element %u of %d", where, g, e, elements);
        if (!std::isfinite(m) || m < 0.0f) Fail("%s: cell %d (element %u) has mass %g", where, g, e, m);
        if (!std::isfinite(t) || t < 0.0f || t > SIM_MAX_TEMPERATURE)
            Fail("%s: cell %d (element %u, %g kg) has temperature %g", where, g, e, m, t);
        if (m > 0.0f && !(t > 0.0f))
            Fail("%s: cell %d (element %u) holds %g kg at %g K", where, g, e, m, t);
        if (d == SIM_NO_DISEASE ? count != 0 : (d >= diseases || count <= 0))
            Fail("%s: cell %d has disease %u with count %d (%d diseases)", where, g, d, count, diseases);
    }
    auto list = [&](int32_t count, const void* p, const char* name) {
        if (count < 0 || (count > 0 && p == nullptr)) Fail("%s: list %s has count %d at %p", where, name, count, p);
    };
#define TS_CHECK_LIST(name) list(r->name##Count, r->name, #name)
    TS_CHECK_LIST(solidChanges);
    TS_CHECK_LIST(liquidChangedCells);
    TS_CHECK_LIST(solidChangedCells);
    TS_CHECK_LIST(changedCells);
    TS_CHECK_LIST(cellCallbacks);
    TS_CHECK_LIST(releasedContents);
    TS_CHECK_LIST(dugMatter);
    TS_CHECK_LIST(emittedMatter);
    TS_CHECK_LIST(sublimationEvents);
    TS_CHECK_LIST(fallingSolids);
    TS_CHECK_LIST(pressureDamage);
    TS_CHECK_LIST(buildingOutputs);
    TS_CHECK_LIST(consumeMassResults);
    TS_CHECK_LIST(addMassResults);
    TS_CHECK_LIST(consumeDiseaseResults);
    TS_CHECK_LIST(componentCallbacks);
    TS_CHECK_LIST(massConsumerOutputs);
    TS_CHECK_LIST(massEmitterOutputs);
    TS_CHECK_LIST(elementChunkOutputs);
    TS_CHECK_LIST(elementChunkEvents);
    TS_CHECK_LIST(buildingsOverheated);
    TS_CHECK_LIST(buildingsCooled);
    TS_CHECK_LIST(buildingsAtHighTemp);
    TS_CHECK_LIST(flaggedTransitions);
    TS_CHECK_LIST(diseaseEmitterOutputs);
    TS_CHECK_LIST(reservedComponentOutputs);
#undef TS_CHECK_LIST
    for (int32_t i = 0; i < r->changedCellsCount; ++i)
        if (r->changedCells[i].gameCell < 0 || r->changedCells[i].gameCell >= n)
            Fail("%s: changed cell %d of %d names game cell %d", where, i, r->changedCellsCount,
                 r->changedCells[i].gameCell);
    for (int32_t i = 0; i < r->liquidChangedCellsCount; ++i)
        if (r->liquidChangedCells[i] < 0 || r->liquidChangedCells[i] >= n)
            Fail("%s: liquid change %d names game cell %d", where, i, r->liquidChangedCells[i]);
    for (int32_t i = 0; i < r->solidChangedCellsCount; ++i)
        if (r->solidChangedCells[i] < 0 || r->solidChangedCells[i] >= n)
            Fail("%s: solid change %d names game cell %d", where, i, r->solidChangedCells[i]);
    // Matter the host is handed (and puts back into its world as items) is
    // matter too: no negative or non-finite mass, and with mass a temperature
    // in (0, 10000] and germs of no negative count.
    auto matter = [&](const char* name, int32_t i, float m, float t, int32_t germs) {
        if (!std::isfinite(m) || m < 0.0f) Fail("%s: %s entry %d has mass %g", where, name, i, m);
        if (m > 0.0f && (!(t > 0.0f) || !(t <= SIM_MAX_TEMPERATURE) || germs < 0))
            Fail("%s: %s entry %d holds %g kg at %g K with %d germs", where, name, i, m, t, germs);
    };
#define TS_CHECK_MATTER(name)                                                        \
    for (int32_t i = 0; i < r->name##Count; ++i)                                     \
        matter(#name, i, r->name[i].mass, r->name[i].temperature, r->name[i].diseaseCount);
    TS_CHECK_MATTER(releasedContents);
    TS_CHECK_MATTER(emittedMatter);
    TS_CHECK_MATTER(dugMatter);
    TS_CHECK_MATTER(fallingSolids);
    TS_CHECK_MATTER(consumeMassResults);
    TS_CHECK_MATTER(massConsumerOutputs);
#undef TS_CHECK_MATTER
    for (int32_t i = 0; i < r->consumeDiseaseResultsCount; ++i)
        if (r->consumeDiseaseResults[i].countRemoved < 0)
            Fail("%s: ConsumeDisease result %d removed %d germs", where, i, r->consumeDiseaseResults[i].countRemoved);
    return size_t(n);
}

}  // namespace tsfuzz
