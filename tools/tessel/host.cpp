#include "tessel/host.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "hostkit/payloads.h"
#include "hostkit/savegame.h"
#include "tessel/embedded.h"

namespace tessel {

namespace fs = std::filesystem;

namespace {

std::atomic<int> g_reports{0};

// Library reports go to stderr; after the first few only the count is kept.
void OnReport(int32_t code, void* record) {
    const int n = ++g_reports;
    if (n > 5) return;
    if (code == SIM_CALLBACK_ASSERTION) {
        const auto* r = static_cast<const SimAssertionReport*>(record);
        std::fprintf(stderr, "tessel: library report: %s (%s:%d)\n", r->message ? r->message : "",
                     r->file ? r->file : "?", r->line);
    } else {
        const auto* r = static_cast<const SimCrashReport*>(record);
        std::fprintf(stderr, "tessel: library crash report, dump %s\n", r->dumpPath ? r->dumpPath : "(none)");
    }
    if (n == 5) std::fprintf(stderr, "tessel: further library reports are counted only\n");
}

fs::path ToolDirectory() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

}  // namespace

std::string LocateLibrary(const std::string& explicitPath) {
    if (!explicitPath.empty()) {
        if (!fs::exists(explicitPath)) throw UsageError("no library at " + explicitPath);
        return fs::absolute(explicitPath).string();
    }
    const fs::path dir = ToolDirectory();
    const fs::path candidates[] = {
        dir / TS_TESSEL_INSTALL_LIBDIR / "libtesselsim.so.0", dir / TS_TESSEL_INSTALL_LIBDIR / "libtesselsim.so",
        dir / "../lib/libtesselsim.so.0",                    dir / "../lib/libtesselsim.so",
        dir / TS_TESSEL_BUILD_LIBRARY,
    };
    for (const fs::path& p : candidates)
        if (fs::exists(p)) return fs::weakly_canonical(p).string();
    throw UsageError("cannot find libtesselsim.so beside " + dir.string() + " (give --library PATH)");
}

tshost::SampleTables LoadTables(const TableOptions& options) {
    // The sample tables are built into the tool, so that it needs no data
    // files wherever it is installed.
    tshost::SampleTables t = EmbeddedTables();
    try {
        if (!options.elements.empty()) {
            t.elements = tshost::LoadElementsJson(options.elements);
            if (options.diseases.empty()) t.diseases = tshost::ParseDiseasesJson(embedded::kDiseasesJson, t.elements);
        }
        if (!options.diseases.empty()) t.diseases = tshost::LoadDiseasesJson(options.diseases, t.elements);
    } catch (const std::exception& e) {
        throw UsageError(e.what());
    }
    return t;
}

tshost::SampleTables EmbeddedTables() {
    tshost::SampleTables t;
    t.elements = tshost::ParseElementsJson(embedded::kElementsJson);
    t.diseases = tshost::ParseDiseasesJson(embedded::kDiseasesJson, t.elements);
    return t;
}

Frame Frame::From(const tshost::FrameResultsView& v) {
    Frame f;
    f.width = v.width();
    f.height = v.height();
    const size_t n = v.cellCount();
    auto copy = [n](auto span, auto& out) {
        using T = typename std::decay_t<decltype(out)>::value_type;
        if (span.size() >= n) out.assign(span.begin(), span.begin() + ptrdiff_t(n));
        else out.assign(n, T{});
    };
    copy(v.elementIdx(), f.element);
    copy(v.temperature(), f.temperature);
    copy(v.mass(), f.mass);
    copy(v.diseaseIdx(), f.diseaseIdx);
    copy(v.diseaseCount(), f.diseaseCount);
    copy(v.lightLevels(), f.light);
    return f;
}

void ListTotals::Add(const tshost::FrameResultsView& r) {
    auto entry = [this](const char* name, bool carriesMass) -> Entry& {
        for (Entry& e : lists)
            if (e.list == name) return e;
        lists.push_back(Entry{name, 0, 0.0, carriesMass});
        return lists.back();
    };
    auto matter = [&](const char* name, auto span) {
        Entry& e = entry(name, true);
        e.entries += span.size();
        for (const auto& m : span) e.mass += double(m.mass);
    };
    auto count = [&](const char* name, auto span) { entry(name, false).entries += span.size(); };
    matter("releasedContents", r.releasedContents());
    matter("dugMatter", r.dugMatter());
    matter("emittedMatter", r.emittedMatter());
    matter("fallingSolids", r.fallingSolids());
    matter("consumeMassResults", r.consumeMassResults());
    matter("massConsumerOutputs", r.massConsumerOutputs());
    matter("massEmitterOutputs", r.massEmitterOutputs());
    count("changedCells", r.changedCells());
    count("solidChanges", r.solidChanges());
    count("sublimationEvents", r.sublimationEvents());
    count("pressureDamage", r.pressureDamage());
    count("flaggedTransitions", r.flaggedTransitions());
    count("buildingsOverheated", r.buildingsOverheated());
}

Host::Host(const std::string& libraryPath, tshost::SampleTables tables) : tables_(std::move(tables)) {
    try {
        lib_ = std::make_unique<tshost::Library>(libraryPath);
    } catch (const std::exception& e) {
        throw UsageError(e.what());
    }
    lib_->SIM_Initialize(&OnReport);
    const uint64_t count = lib_->SendBytes(SIM_MSG_LOAD_ELEMENT_TABLE, tshost::ElementTablePayload(tables_.elements));
    if (count != tables_.elements.size()) throw UsageError("the library refused the element table");
    lib_->SendBytes(SIM_MSG_LOAD_DISEASE_TABLE,
                    tshost::DiseaseTablePayload(tables_.diseases, int32_t(tables_.elements.size())));
}

Host::~Host() { lib_->SIM_Shutdown(); }

tshost::FrameResultsView Host::Load(const std::string& save) {
    const tshost::SaveReadResult read = tshost::ReadSaveGame(save);
    if (!read) throw UsageError("not a loadable save: " + read.error);
    width_ = read.save->width - 2;
    height_ = read.save->height - 2;
    const auto* first = reinterpret_cast<const FrameResults*>(
        static_cast<uintptr_t>(lib_->SendBytes(SIM_MSG_LOAD_SAVE_GAME, save)));
    if (first == nullptr) throw UsageError("the library refused the save");
    input_.assign(size_t(width_) * size_t(height_), '\0');
    return tshost::FrameResultsView(first, width_, height_);
}

bool Host::SetSeed(uint32_t seed) { return lib_->Send(SIM_MSG_SET_RANDOM_SEED, seed) == 1; }

uint64_t Host::Hash() { return lib_->SendEmpty(SIM_MSG_HASH_WORLD); }

tshost::FrameResultsView Host::Step(float dt) {
    if (parameters_) lib_->Send(SIM_MSG_SET_FRAME_PARAMETERS, *parameters_);
    lib_->Send(SIM_MSG_END_FRAME, tshost::EndFrame(dt, 0, 0, width_, height_));
    return tshost::FrameResultsView(lib_->ExchangeFrame(input_), width_, height_);
}

tshost::FrameResultsView Host::Settle() {
    Step(0.0f);
    return tshost::FrameResultsView(lib_->ExchangeFrame(input_), width_, height_);
}

void FallingItems::Update(Host& host, const tshost::FrameResultsView& f) {
    const int32_t w = f.width();
    for (const FallingSolidEntry& s : f.fallingSolids())
        items_.push_back(Item{s.gameCell % w, float(s.gameCell / w), 0.0f, s});
    const auto elements = f.elementIdx();
    const auto& table = host.tables().elements;
    auto solidAt = [&](int32_t x, int32_t y) {
        const uint8_t e = elements[size_t(y) * size_t(w) + size_t(x)];
        return e < table.size() && table[e].state() == SIM_STATE_SOLID;
    };
    for (size_t i = 0; i < items_.size();) {
        Item& item = items_[i];
        // The item rests on the first solid cell below it (or the bottom row).
        int32_t rest = int32_t(item.y);
        while (rest > 0 && !solidAt(item.x, rest - 1)) --rest;
        item.speed = std::min(item.speed + 0.5f, 4.0f);
        item.y -= item.speed;
        if (item.y > float(rest)) {
            ++i;
            continue;
        }
        const FallingSolidEntry s = item.solid;
        host.lib().Send(SIM_MSG_MODIFY_CELL,
                        tshost::ModifyCell(rest * w + item.x, SIM_NO_CALLBACK, s.temperature, s.mass, s.diseaseCount,
                                           s.elementIdx, SIM_REPLACE_ADD, s.diseaseIdx, 0));
        ++landed_;
        landedMass_ += double(s.mass);
        items_[i] = items_.back();
        items_.pop_back();
    }
}

void FallingItems::Draw(Frame& f) const {
    for (const Item& item : items_) {
        const int32_t y = int32_t(item.y);
        if (y < 0 || y >= f.height) continue;
        const size_t c = f.Cell(item.x, y);
        f.element[c] = item.solid.elementIdx;
        f.mass[c] = item.solid.mass;
        f.temperature[c] = item.solid.temperature;
        f.diseaseIdx[c] = item.solid.diseaseIdx;
        f.diseaseCount[c] = item.solid.diseaseCount;
    }
}

int Host::Reports() { return g_reports.load(); }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw UsageError("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    const fs::path p(path);
    std::error_code ec;
    if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw UsageError("cannot write " + path);
}

Progress::Progress(std::string label, int total)
    : label_(std::move(label)), total_(total), enabled_(isatty(STDERR_FILENO) == 1 && total > 1) {}

Progress::~Progress() {
    if (enabled_ && lastPercent_ >= 0) std::fprintf(stderr, "\r\033[K");
}

void Progress::Update(int done) {
    if (!enabled_) return;
    const int percent = int(100LL * done / total_);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    constexpr int kWidth = 40;
    const int filled = kWidth * percent / 100;
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%% (%d/%d)", label_.c_str(), filled,
                 "########################################", kWidth - filled, "", percent, done, total_);
    std::fflush(stderr);
}

}  // namespace tessel
