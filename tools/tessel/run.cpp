// demo, run and bench: the subcommands that drive frames.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "hostkit/payloads.h"
#include "hostkit/savegame.h"
#include "tessel/commands.h"
#include "tessel/image.h"
#include "tessel/record.h"
#include "tessel/scenes.h"

namespace tessel {

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct RunReport {
    Frame start;
    Frame end;
    ListTotals lists;
    FallingItems items;
    std::vector<BuildingOutputEntry> buildingsStart, buildingsEnd;
    int frames = 0;
    float dt = 0.0f;
    double wallSeconds = 0.0;
    double exchangeSeconds = 0.0;  // the host waiting in ExchangeFrame
};

// Runs `frames` frames of `dt` from the loaded world's state `start`, calling
// `onFrame` with every published frame, index 0 (the start) to `frames`.
// Each exchange returns the frame closed before it, so one more exchange (a
// frame without physics) brings back the last.
RunReport RunFrames(Host& host, const tshost::FrameResultsView& start, int frames, float dt,
                    const std::function<void(int, const Frame&)>& onFrame) {
    RunReport report;
    report.frames = frames;
    report.dt = dt;
    report.start = Frame::From(start);
    Progress progress("frames", frames);
    const auto begin = Clock::now();
    for (int i = 0; i <= frames; ++i) {
        const auto before = Clock::now();
        const tshost::FrameResultsView view = host.Step(i < frames ? dt : 0.0f);
        report.exchangeSeconds += Seconds(before, Clock::now());
        if (!view.valid()) throw std::runtime_error("ExchangeFrame returned no frame");
        if (i > 0) report.lists.Add(view);
        report.items.Update(host, view);
        const auto buildings = view.buildingOutputs();
        if (i == 0) report.buildingsStart.assign(buildings.begin(), buildings.end());
        if (i == frames) report.buildingsEnd.assign(buildings.begin(), buildings.end());
        Frame frame = Frame::From(view);
        if (onFrame) {
            Frame shown = frame;
            report.items.Draw(shown);  // the host's falling items, as a game draws them
            onFrame(i, shown);
        }
        if (i == frames) report.end = std::move(frame);
        progress.Update(i);
    }
    report.wallSeconds = Seconds(begin, Clock::now());
    return report;
}

struct Tally {
    int cells = 0;
    double mass = 0.0;
    double heat = 0.0;  // kJ: mass x specific heat x temperature
};

std::map<uint8_t, Tally> TallyByElement(const Frame& f, const tshost::SampleTables& t) {
    std::map<uint8_t, Tally> out;
    for (size_t c = 0; c < f.size(); ++c) {
        Tally& x = out[f.element[c]];
        ++x.cells;
        if (!(f.mass[c] > 0.0f)) continue;
        x.mass += f.mass[c];
        const double cp = f.element[c] < t.elements.size() ? t.elements[f.element[c]].record.specificHeatCapacity : 0.0;
        x.heat += double(f.mass[c]) * cp * double(f.temperature[c]);
    }
    return out;
}

std::string ElementName(const tshost::SampleTables& t, uint8_t e) {
    return e < t.elements.size() ? t.elements[e].name : "#" + std::to_string(e);
}

// The summary, from the frames the library returned.
void PrintSummary(const RunReport& r, const tshost::SampleTables& t, Host& host) {
    std::printf("%d frames of %.3g s (%.1f s of game time) on %d x %d cells\n\n", r.frames, double(r.dt),
                double(r.frames) * double(r.dt), r.start.width, r.start.height);
    const auto a = TallyByElement(r.start, t), b = TallyByElement(r.end, t);
    std::map<uint8_t, std::pair<Tally, Tally>> both;
    for (const auto& [e, x] : a) both[e].first = x;
    for (const auto& [e, x] : b) both[e].second = x;
    std::printf("%-16s %15s %25s %25s\n", "element", "cells", "mass kg", "heat MJ");
    std::printf("%-16s %7s %7s %12s %12s %12s %12s\n", "", "start", "end", "start", "end", "start", "end");
    Tally ta, tb;
    for (const auto& [e, p] : both) {
        std::printf("%-16s %7d %7d %12.1f %12.1f %12.3f %12.3f\n", ElementName(t, e).c_str(), p.first.cells,
                    p.second.cells, p.first.mass, p.second.mass, p.first.heat / 1e3, p.second.heat / 1e3);
        ta.mass += p.first.mass, tb.mass += p.second.mass, ta.heat += p.first.heat, tb.heat += p.second.heat;
    }
    std::printf("%-16s %7zu %7zu %12.1f %12.1f %12.3f %12.3f\n\n", "total", r.start.size(), r.end.size(), ta.mass,
                tb.mass, ta.heat / 1e3, tb.heat / 1e3);
    std::printf("lists over the run:\n");
    for (const ListTotals::Entry& e : r.lists.lists) {
        if (e.carriesMass)
            std::printf("  %-22s %8llu entries %14.3f kg\n", e.list.c_str(), static_cast<unsigned long long>(e.entries), e.mass);
        else
            std::printf("  %-22s %8llu entries\n", e.list.c_str(), static_cast<unsigned long long>(e.entries));
    }
    std::printf("  %-22s %8llu items   %14.3f kg put back where they landed\n", "(falling items)",
                static_cast<unsigned long long>(r.items.landed()), r.items.landedMass());
    for (size_t i = 0; i < r.buildingsEnd.size(); ++i) {
        const BuildingOutputEntry end = r.buildingsEnd[i];
        if (end.handle == SIM_NO_HANDLE || !(end.temperature >= 0.0f)) continue;
        const float start = i < r.buildingsStart.size() ? r.buildingsStart[i].temperature : NAN;
        std::printf("  building 0x%08x: %.1f K -> %.1f K\n", end.handle, double(start), double(end.temperature));
    }
    const int n = std::max(r.frames + 1, 1);
    std::printf("\ntime: %.2f ms per frame (wall, the tool's own work included), %.2f ms of it waiting in ExchangeFrame\n",
                1e3 * r.wallSeconds / n, 1e3 * r.exchangeSeconds / n);
    if (const uint64_t hash = host.Hash()) std::printf("world hash: 0x%016llx\n", static_cast<unsigned long long>(hash));
    std::printf("library reports: %d\n", Host::Reports());
}

}  // namespace

int Demo(const Common& common, const DemoOptions& o) {
    if (o.frames < 1) throw UsageError("--frames must be at least 1");
    if (o.every < 1) throw UsageError("--every must be at least 1");
    namespace fs = std::filesystem;
    const auto startTime = Clock::now();
    tshost::SampleTables tables = EmbeddedTables();
    Host host(LocateLibrary(common.library), tables);
    const std::string save = SaveOf(host, DemoWorld(host.tables()));
    host.Load(save);
    host.SetSeed(1);  // reproducible where the library has the extension
    // Buildings exchange heat with their cells at the full rate.
    host.SetFrameParameters(tshost::SetFrameParameters(1.0f, 0.01f, 0.001f, 0.001f, 0));
    AddDemoObjects(host);
    const tshost::FrameResultsView start = host.Settle();
    const Frame first = Frame::From(start);
    const HeatScale heat = HeatScaleOf(first);
    Recorder recorder(host.tables(), heat);

    const fs::path dir(o.outDir);
    std::error_code ec;
    fs::remove_all(dir / "frames", ec);
    fs::create_directories(dir / "frames", ec);
    if (ec) throw UsageError("cannot create " + (dir / "frames").string() + ": " + ec.message());

    // The contact sheet: one row per view, columns at evenly spaced frames.
    constexpr int kColumns = 6, kLabel = 112, kHeader = 28, kGap = 8;
    const int tileW = first.width, tileH = first.height;
    const Image legend = HeatLegend(heat, tileH);
    Image sheet(kLabel + kColumns * (tileW + kGap) + legend.width, kHeader + 5 * (tileH + kGap), {16, 16, 20});
    int column = 0;
    int pngs = 0;
    RunReport report = RunFrames(host, start, o.frames, 0.2f, [&](int i, const Frame& f) {
        recorder.Add(f, 0.2 * i);
        const bool sample = i % o.every == 0 || i == o.frames;
        const bool sheetColumn = column < kColumns && i >= (o.frames * column) / (kColumns - 1);
        if (!sample && !sheetColumn) return;
        char name[32];
        for (size_t v = 0; v < std::size(kViews); ++v) {
            if (sample) {
                std::snprintf(name, sizeof name, "%s_%04d.png", ViewName(kViews[v]), i);
                WritePng((dir / "frames" / name).string(), RenderWithLegend(f, kViews[v], host.tables(), heat, 2));
                ++pngs;
            }
            if (sheetColumn)
                sheet.Blit(Render(f, kViews[v], host.tables(), heat, 1), kLabel + column * (tileW + kGap),
                           kHeader + int(v) * (tileH + kGap));
        }
        if (sheetColumn) {
            std::snprintf(name, sizeof name, "FRAME %d  %.0fS", i, 0.2 * i);
            DrawText(sheet, kLabel + column * (tileW + kGap), 8, name, {230, 230, 230}, 2);
            ++column;
        }
    });
    for (size_t v = 0; v < std::size(kViews); ++v)
        DrawText(sheet, 8, kHeader + int(v) * (tileH + kGap) + tileH / 2 - 5, ViewName(kViews[v]), {230, 230, 230}, 2);
    sheet.Blit(legend, kLabel + kColumns * (tileW + kGap), kHeader + 1 * (tileH + kGap));
    const fs::path sheetPath = dir / "contact-sheet.png", pagePath = dir / "demo.html", savePath = dir / "demo.simsave";
    WritePng(sheetPath.string(), sheet);
    WriteFile(pagePath.string(), recorder.Page("tessel demo"));
    WriteFile(savePath.string(), host.lib().SaveWorld());

    PrintSummary(report, host.tables(), host);
    std::printf("\npictures: %s (contact sheet), %s/ (%d PNG frames)\npage:     %s (%.1f MB, %zu frames)\nsave:     %s\n",
                sheetPath.string().c_str(), (dir / "frames").string().c_str(), pngs, pagePath.string().c_str(),
                double(fs::file_size(pagePath)) / 1e6, recorder.frames(), savePath.string().c_str());
    std::printf("demo took %.1f s\n", Seconds(startTime, Clock::now()));
    return 0;
}

int Run(const Common& common, const RunOptions& o) {
    if (o.frames < 0) throw UsageError("--frames must not be negative");
    if (!(o.dt >= 0.0f) || !std::isfinite(o.dt)) throw UsageError("--dt must be a finite number >= 0");
    const std::string save = ReadFile(o.save);
    Host host(LocateLibrary(common.library), LoadTables(common.tables));
    host.Load(save);
    if (o.seed && !host.SetSeed(*o.seed))
        throw UsageError("the library refused the seed (it lacks the seed extension)");
    const tshost::FrameResultsView start = host.Settle();  // every array published, nothing simulated
    std::optional<Recorder> recorder;
    if (!o.record.empty()) recorder.emplace(host.tables(), HeatScaleOf(Frame::From(start)));
    const RunReport report = RunFrames(host, start, o.frames, o.dt, [&](int i, const Frame& f) {
        if (recorder) recorder->Add(f, double(o.dt) * i);
    });
    if (!o.out.empty()) WriteFile(o.out, host.lib().SaveWorld());
    if (recorder) WriteFile(o.record, recorder->Page("tessel run " + std::filesystem::path(o.save).filename().string()));
    PrintSummary(report, host.tables(), host);
    if (!o.out.empty()) std::printf("saved: %s\n", o.out.c_str());
    if (recorder) std::printf("page: %s (%zu frames)\n", o.record.c_str(), recorder->frames());
    return 0;
}

int Bench(const Common& common, const BenchOptions& o) {
    int w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(o.size.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w < 3 || h < 3 || int64_t(w) * h > (1 << 26))
        throw UsageError("--size must be WIDTHxHEIGHT, each at least 3 (e.g. 256x384)");
    if (o.frames < 1) throw UsageError("--frames must be at least 1");
    Host host(LocateLibrary(common.library), LoadTables(common.tables));
    const tshost::WorldLayout world = BenchWorld(o.scene, host.tables(), w, h);
    host.Load(SaveOf(host, world));
    host.SetSeed(1);
    for (int i = 0; i < 10; ++i) host.Step(0.2f);  // past the first frames' rush

    // The yardstick: one copy of the ten cell arrays of the padded grid
    // (1+4+4+1+1+1+1+4+1+4 bytes a cell), measured around the frames.
    const size_t cells = size_t(w + 2) * size_t(h + 2), bytes = 22 * cells;
    std::vector<uint8_t> from(bytes, 1), to(bytes, 0);
    // As the benchmarks measure it: one copy to warm up, then the mean of eight.
    auto copySeconds = [&] {
        std::memcpy(to.data(), from.data(), bytes);
        const auto a = Clock::now();
        for (int k = 0; k < 8; ++k) {
            std::memcpy(to.data(), from.data(), bytes);
            asm volatile("" : : "r"(to.data()) : "memory");
        }
        return Seconds(a, Clock::now()) / 8.0;
    };
    const double copyBefore = copySeconds();
    Progress progress("bench", o.frames);
    std::vector<double> frameSeconds;
    for (int i = 0; i < o.frames; ++i) {
        const auto a = Clock::now();
        host.Step(0.2f);
        frameSeconds.push_back(Seconds(a, Clock::now()));
        progress.Update(i + 1);
    }
    const double copy = (copyBefore + copySeconds()) / 2.0;  // before and after the frames
    std::sort(frameSeconds.begin(), frameSeconds.end());
    const double median = frameSeconds[frameSeconds.size() / 2];
    const double gameCells = double(w) * double(h);
    std::printf("scene %s, %d x %d game cells, %d frames of one step (0.2 s) each\n", o.scene.c_str(), w, h, o.frames);
    std::printf("frame through the C ABI (step, publication, exchange): median %.3f ms, %.2f ns per cell\n",
                median * 1e3, median * 1e9 / gameCells);
    std::printf("copy of the ten cell arrays (%.1f MB):             %.3f ms, %.2f ns per cell\n", double(bytes) / 1e6,
                copy * 1e3, copy * 1e9 / gameCells);
    std::printf("ratio: one frame costs %.1f copies of the cell arrays\n", median / copy);
    return 0;
}

}  // namespace tessel
