// inspect, render, diff, validate and convert: the subcommands on save files.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "hostkit/savegame.h"
#include "tessel/commands.h"
#include "tessel/image.h"

namespace tessel {

namespace {

tshost::SaveGame ReadSave(const std::string& path) {
    const std::string bytes = ReadFile(path);
    tshost::SaveReadResult r = tshost::ReadSaveGame(bytes);
    if (!r) throw UsageError(path + ": " + r.error);
    return std::move(*r.save);
}

// Names and heat capacities by element and disease id.
struct Names {
    const tshost::SampleTables& t;
    const tshost::ElementDesc* Element(uint32_t id) const {
        const int i = tshost::FindElementById(t.elements, id);
        return i < 0 ? nullptr : &t.elements[size_t(i)];
    }
    std::string ElementName(uint32_t id) const {
        const tshost::ElementDesc* e = Element(id);
        char buf[24];
        std::snprintf(buf, sizeof buf, "unknown 0x%08x", id);
        return e ? e->name : buf;
    }
    double Cp(uint32_t id) const {
        const tshost::ElementDesc* e = Element(id);
        return e ? e->record.specificHeatCapacity : 0.0;
    }
    const tshost::DiseaseDesc* Disease(uint32_t id) const {
        for (const tshost::DiseaseDesc& d : t.diseases)
            if (d.header.id == id) return &d;
        return nullptr;
    }
    std::string DiseaseName(uint32_t id) const {
        if (id == 0) return "none";
        const tshost::DiseaseDesc* d = Disease(id);
        char buf[24];
        std::snprintf(buf, sizeof buf, "unknown 0x%08x", id);
        return d ? d->name : buf;
    }
};

// Game cell (x, y) of a save over the padded grid.
size_t SaveCell(const tshost::SaveGame& s, int32_t x, int32_t y) { return size_t(y + 1) * size_t(s.width) + size_t(x + 1); }

template <class F>
void ForGameCells(const tshost::SaveGame& s, F&& f) {
    for (int32_t y = 0; y < s.height - 2; ++y)
        for (int32_t x = 0; x < s.width - 2; ++x) f(x, y, SaveCell(s, x, y));
}

}  // namespace

int Inspect(const Common& common, const std::string& path, const std::string& cellArg) {
    const tshost::SaveGame s = ReadSave(path);
    const tshost::SampleTables tables = LoadTables(common.tables);
    const Names names{tables};
    const int32_t gw = s.width - 2, gh = s.height - 2;
    std::optional<std::pair<int32_t, int32_t>> cell;
    if (!cellArg.empty()) {
        int x = 0, y = 0;
        char tail = 0;
        if (std::sscanf(cellArg.c_str(), "%d,%d%c", &x, &y, &tail) != 2 || x < 0 || y < 0 || x >= gw || y >= gh)
            throw UsageError("--cell must be X,Y inside the " + std::to_string(gw) + " x " + std::to_string(gh) +
                             " game grid");
        cell = {x, y};
    }
    std::printf("file:    %s (%llu bytes)\n", path.c_str(),
                static_cast<unsigned long long>(tshost::SaveLength(s.version, uint64_t(s.width) * uint64_t(s.height))));
    std::printf("format:  SIMSAVE version %d%s, world flags 0x%02x\n", s.version,
                s.version == SIM_SAVE_VERSION ? " (current)" : "", s.worldFlags);
    std::printf("size:    %d x %d game cells (%d x %d with the border)\n\n", gw, gh, s.width, s.height);

    struct Stats {
        int cells = 0;
        double mass = 0.0, heat = 0.0;
    };
    std::map<std::string, Stats> byElement;
    std::map<std::string, std::pair<int, double>> germs;
    double totalMass = 0.0, totalHeat = 0.0, minT = INFINITY, maxT = -INFINITY, minM = INFINITY, maxM = 0.0;
    double mT = 0.0, cT = 0.0, cap = 0.0;  // sums for the mass- and heat capacity-weighted means
    int withMass = 0;
    ForGameCells(s, [&](int32_t, int32_t, size_t c) {
        const SavedCell& sc = s.cells[c];
        Stats& st = byElement[names.ElementName(sc.elementId)];
        ++st.cells;
        if (sc.mass > 0.0f) {
            const double hc = double(sc.mass) * names.Cp(sc.elementId), heat = hc * double(sc.temperature);
            st.mass += sc.mass, st.heat += heat, totalMass += sc.mass, totalHeat += heat;
            mT += double(sc.mass) * sc.temperature, cT += heat, cap += hc;
            minT = std::min(minT, double(sc.temperature)), maxT = std::max(maxT, double(sc.temperature));
            minM = std::min(minM, double(sc.mass)), maxM = std::max(maxM, double(sc.mass));
            ++withMass;
        }
        const SavedDisease& d = s.diseases[c];
        if (d.diseaseId != 0 && d.diseaseCount > 0) {
            auto& g = germs[names.DiseaseName(d.diseaseId)];
            ++g.first;
            g.second += d.diseaseCount;
        }
    });
    std::vector<std::pair<std::string, Stats>> rows(byElement.begin(), byElement.end());
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second.cells > b.second.cells; });
    std::printf("%-18s %8s %7s %14s %14s\n", "element", "cells", "share", "mass kg", "heat MJ");
    for (const auto& [name, st] : rows)
        std::printf("%-18s %8d %6.2f%% %14.1f %14.3f\n", name.c_str(), st.cells, 100.0 * st.cells / (double(gw) * gh),
                    st.mass, st.heat / 1e3);
    std::printf("\nmass:        %.1f kg in %d cells with mass (per cell %.4g .. %.4g kg)\n", totalMass, withMass,
                withMass ? minM : 0.0, maxM);
    std::printf("heat:        %.3f MJ (mass x specific heat x temperature)\n", totalHeat / 1e3);
    std::printf("temperature: %.2f .. %.2f K, mass-weighted mean %.2f K, heat capacity-weighted mean %.2f K\n",
                withMass ? minT : 0.0, withMass ? maxT : 0.0, totalMass > 0 ? mT / totalMass : 0.0, cap > 0 ? cT / cap : 0.0);
    if (germs.empty()) std::printf("germs:       none\n");
    for (const auto& [name, g] : germs) std::printf("germs:       %s: %.0f in %d cells\n", name.c_str(), g.second, g.first);
    if (cell) {
        const size_t c = SaveCell(s, cell->first, cell->second);
        const SavedCell& sc = s.cells[c];
        const SavedDisease& d = s.diseases[c];
        std::printf("\ncell (%d, %d), game cell %d:\n", cell->first, cell->second, cell->second * gw + cell->first);
        std::printf("  element:     %s (id 0x%08x)\n", names.ElementName(sc.elementId).c_str(), sc.elementId);
        std::printf("  mass:        %.6g kg\n  temperature: %.6g K\n", double(sc.mass), double(sc.temperature));
        std::printf("  germs:       %s, %d (id 0x%08x)\n", names.DiseaseName(d.diseaseId).c_str(), d.diseaseCount, d.diseaseId);
        std::printf("  target temperature: %.6g K%s\n", double(s.targetTemperature[c]),
                    s.version < 8 ? " (not stored by this version)" : "");
    }
    return 0;
}

int Render(const Common& common, const std::string& path, const std::string& viewName, const std::string& out,
           int scale) {
    const std::optional<View> view = ParseView(viewName);
    if (!view) throw UsageError("unknown view '" + viewName + "' (element, temperature, mass, germs or light)");
    if (scale < 1 || scale > 32) throw UsageError("--scale must be 1 to 32");
    const std::string save = ReadFile(path);
    // The library loads the save, so that the picture shows what a host would
    // see, light included.
    Host host(LocateLibrary(common.library), LoadTables(common.tables));
    host.Load(save);
    const Frame frame = Frame::From(host.Settle());  // a frame without physics publishes every array
    const Image img = RenderWithLegend(frame, *view, host.tables(), HeatScaleOf(frame), scale);
    WritePng(out, img);
    std::printf("%s: %s view, %d x %d pixels\n", out.c_str(), ViewName(*view), img.width, img.height);
    return 0;
}

int Diff(const Common& common, const std::string& pathA, const std::string& pathB) {
    const tshost::SaveGame a = ReadSave(pathA), b = ReadSave(pathB);
    if (a.width != b.width || a.height != b.height) {
        std::printf("differ: sizes %d x %d and %d x %d\n", a.width - 2, a.height - 2, b.width - 2, b.height - 2);
        return 1;
    }
    const tshost::SampleTables tables = LoadTables(common.tables);
    const Names names{tables};
    int differing = 0, elementChanges = 0;
    int32_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = -1, y1 = -1;
    double maxDT = 0.0, maxDM = 0.0, massA = 0.0, massB = 0.0, heatA = 0.0, heatB = 0.0;
    std::pair<int32_t, int32_t> atDT{-1, -1}, atDM{-1, -1}, first{-1, -1};
    ForGameCells(a, [&](int32_t x, int32_t y, size_t c) {
        const SavedCell &ca = a.cells[c], &cb = b.cells[c];
        const SavedDisease &da = a.diseases[c], &db = b.diseases[c];
        massA += ca.mass, massB += cb.mass;
        heatA += double(ca.mass) * names.Cp(ca.elementId) * ca.temperature;
        heatB += double(cb.mass) * names.Cp(cb.elementId) * cb.temperature;
        // Bit patterns, so that NaNs and signed zeros count as they are stored.
        const bool same = std::memcmp(&ca, &cb, sizeof ca) == 0 && std::memcmp(&da, &db, sizeof da) == 0 &&
                          std::memcmp(&a.targetTemperature[c], &b.targetTemperature[c], sizeof(float)) == 0;
        if (same) return;
        if (differing++ == 0) first = {x, y};
        elementChanges += ca.elementId != cb.elementId;
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
        const double dT = std::fabs(double(ca.temperature) - double(cb.temperature));
        const double dM = std::fabs(double(ca.mass) - double(cb.mass));
        if (dT > maxDT || (std::isnan(dT) && !std::isnan(maxDT))) maxDT = dT, atDT = {x, y};
        if (dM > maxDM || (std::isnan(dM) && !std::isnan(maxDM))) maxDM = dM, atDM = {x, y};
    });
    const bool header = a.version != b.version || a.worldFlags != b.worldFlags;
    if (differing == 0 && !header) {
        std::printf("identical: %d x %d game cells\n", a.width - 2, a.height - 2);
        return 0;
    }
    std::printf("differ: %d of %d game cells", differing, (a.width - 2) * (a.height - 2));
    if (header) std::printf(" (and the header: version %d / %d, world flags 0x%02x / 0x%02x)", a.version, b.version,
                            a.worldFlags, b.worldFlags);
    std::printf("\n");
    if (differing > 0) {
        std::printf("  first at (%d, %d); all within x %d..%d, y %d..%d; %d change element\n", first.first,
                    first.second, x0, x1, y0, y1, elementChanges);
        std::printf("  largest |dT|: %.6g K at (%d, %d)\n", maxDT, atDT.first, atDT.second);
        std::printf("  largest |dm|: %.6g kg at (%d, %d)\n", maxDM, atDM.first, atDM.second);
    }
    std::printf("  total mass: %.6g -> %.6g kg (%+.6g kg)\n", massA, massB, massB - massA);
    std::printf("  total heat: %.6g -> %.6g MJ (%+.6g MJ)\n", heatA / 1e3, heatB / 1e3, (heatB - heatA) / 1e3);
    return 1;
}

int Validate(const Common& common, const std::string& path) {
    const std::string bytes = ReadFile(path);
    const tshost::SaveReadResult r = tshost::ReadSaveGame(bytes);
    if (!r) {
        std::printf("invalid: %s\n", r.error.c_str());
        return 1;
    }
    const tshost::SaveGame& s = *r.save;
    const tshost::SampleTables tables = LoadTables(common.tables);
    const Names names{tables};
    struct Problem {
        int count = 0;
        int32_t x = 0, y = 0;
    };
    std::map<std::string, Problem> problems;
    auto note = [&](const char* what, int32_t x, int32_t y) {
        Problem& p = problems[what];
        if (p.count++ == 0) p.x = x, p.y = y;
    };
    ForGameCells(s, [&](int32_t x, int32_t y, size_t c) {
        const SavedCell& sc = s.cells[c];
        const SavedDisease& d = s.diseases[c];
        if (names.Element(sc.elementId) == nullptr) note("element id not in the table", x, y);
        if (!std::isfinite(sc.mass) || sc.mass < 0.0f) note("mass not finite or negative", x, y);
        else if (sc.mass > 1e9f) note("mass above 1e9 kg", x, y);
        if (!std::isfinite(sc.temperature) || sc.temperature < 0.0f || sc.temperature > SIM_MAX_TEMPERATURE)
            note("temperature outside 0..10000 K", x, y);
        else if (sc.mass > 0.0f && sc.temperature == 0.0f)
            note("cell with mass at 0 K", x, y);
        if (d.diseaseId != 0 && names.Disease(d.diseaseId) == nullptr) note("disease id not in the table", x, y);
        if (d.diseaseId != 0 && d.diseaseCount < 0) note("negative germ count", x, y);
        if (!std::isfinite(s.targetTemperature[c])) note("target temperature not finite", x, y);
    });
    for (const auto& [what, p] : problems)
        std::printf("problem: %s: %d cells, first at (%d, %d)\n", what.c_str(), p.count, p.x, p.y);
    // Last, the library itself: it must accept the blob.
    Host host(LocateLibrary(common.library), tables);
    try {
        host.Load(bytes);
    } catch (const UsageError& e) {
        std::printf("invalid: %s\n", e.what());
        return 1;
    }
    if (!problems.empty()) {
        std::printf("invalid: %zu kinds of problem (the library loads it, replacing what it cannot use)\n",
                    problems.size());
        return 1;
    }
    std::printf("valid: SIMSAVE version %d, %d x %d game cells; the library loads it\n", s.version, s.width - 2,
                s.height - 2);
    return 0;
}

int Convert(const std::string& path, const std::string& out) {
    const tshost::SaveGame s = ReadSave(path);
    WriteFile(out, tshost::WriteSaveGame(s, SIM_SAVE_VERSION));
    std::printf("%s: version %d -> %s: version %d\n", path.c_str(), s.version, out.c_str(), SIM_SAVE_VERSION);
    return 0;
}

}  // namespace tessel
