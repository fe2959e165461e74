// tessel: a command-line host of libtesselsim. It runs, inspects, renders,
// compares, validates and converts saves, plays the built-in demo scene,
// measures the step, and records runs as self-contained HTML pages.
//
// Exit status: 0 on success; 1 when diff finds differences, validate finds
// problems, or a run fails; 2 on bad input (with a one-line reason).
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>

#include "tessel/commands.h"

namespace {

using namespace tessel;

void AddTableOptions(CLI::App* sub, Common& common) {
    sub->add_option("--elements", common.tables.elements, "Element table (JSON; default: the sample table of data/, built in)")
        ->check(CLI::ExistingFile);
    sub->add_option("--diseases", common.tables.diseases, "Disease table (JSON; default: the sample table of data/, built in)")
        ->check(CLI::ExistingFile);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"tessel: run, inspect, render and compare tesselsim worlds", "tessel"};
    app.require_subcommand(1);
    app.failure_message([](const CLI::App*, const CLI::Error& e) { return "tessel: " + std::string(e.what()) + "\n"; });
    Common common;
    app.add_option("--library", common.library, "The library to load (default: found beside the tool)");
    app.fallthrough();  // --library may also follow the subcommand

    std::function<int()> action;

    DemoOptions demo;
    CLI::App* cDemo = app.add_subcommand("demo", "Run the built-in scene; write PNG frames, a contact sheet and a page");
    cDemo->add_option("-o,--out", demo.outDir, "Output directory")->capture_default_str();
    cDemo->add_option("--frames", demo.frames, "Frames of 0.2 s to run")->capture_default_str()->check(CLI::Range(1, 100000));
    cDemo->add_option("--every", demo.every, "Write PNG frames every N frames")->capture_default_str()->check(CLI::PositiveNumber);
    cDemo->callback([&] { action = [&] { return Demo(common, demo); }; });

    RunOptions run;
    CLI::App* cRun = app.add_subcommand("run", "Load a save and run frames");
    cRun->add_option("save", run.save, "Save file (SIMSAVE)")->required()->check(CLI::ExistingFile);
    cRun->add_option("--frames", run.frames, "Frames to run")->required()->check(CLI::Range(0, 10000000));
    cRun->add_option("--dt", run.dt, "Seconds of game time per frame")->capture_default_str()->check(CLI::Range(0.0f, 1000.0f));
    uint32_t seed = 0;
    CLI::Option* seedOption = cRun->add_option("--seed", seed, "Random seed of the world (the library's seed extension)");
    cRun->add_option("-o,--out", run.out, "Write the world after the run to this save");
    cRun->add_option("--record", run.record, "Record every frame into this self-contained HTML page");
    AddTableOptions(cRun, common);
    cRun->callback([&] {
        if (seedOption->count() > 0) run.seed = seed;
        action = [&] { return Run(common, run); };
    });

    std::string save, cell, view = "element", out, other;
    int scale = 1;
    CLI::App* cInspect = app.add_subcommand("inspect", "Describe a save: header, size, elements, statistics, a cell");
    cInspect->add_option("save", save, "Save file")->required()->check(CLI::ExistingFile);
    cInspect->add_option("--cell", cell, "Also print one cell's full state: X,Y in game cells, y = 0 at the bottom");
    AddTableOptions(cInspect, common);
    cInspect->callback([&] { action = [&] { return Inspect(common, save, cell); }; });

    CLI::App* cRender = app.add_subcommand("render", "Draw a save in one view as a PNG");
    cRender->add_option("save", save, "Save file")->required()->check(CLI::ExistingFile);
    cRender->add_option("--view", view, "element, temperature, mass, germs or light")->capture_default_str()
        ->check(CLI::IsMember({"element", "temperature", "mass", "germs", "light"}));
    cRender->add_option("-o,--out", out, "PNG file to write")->required();
    cRender->add_option("--scale", scale, "Pixels per cell")->capture_default_str()->check(CLI::Range(1, 32));
    AddTableOptions(cRender, common);
    cRender->callback([&] { action = [&] { return Render(common, save, view, out, scale); }; });

    CLI::App* cDiff = app.add_subcommand("diff", "Compare two saves; exit 1 when they differ");
    cDiff->add_option("a", save, "First save")->required()->check(CLI::ExistingFile);
    cDiff->add_option("b", other, "Second save")->required()->check(CLI::ExistingFile);
    AddTableOptions(cDiff, common);
    cDiff->callback([&] { action = [&] { return Diff(common, save, other); }; });

    CLI::App* cValidate = app.add_subcommand("validate", "Check a save's structure and values; exit 1 when invalid");
    cValidate->add_option("save", save, "Save file")->required()->check(CLI::ExistingFile);
    AddTableOptions(cValidate, common);
    cValidate->callback([&] { action = [&] { return Validate(common, save); }; });

    CLI::App* cConvert = app.add_subcommand("convert", "Rewrite a save of any readable version (7..13) as version 13");
    cConvert->add_option("save", save, "Save file")->required()->check(CLI::ExistingFile);
    cConvert->add_option("-o,--out", out, "Save file to write")->required();
    cConvert->callback([&] { action = [&] { return Convert(save, out); }; });

    BenchOptions bench;
    CLI::App* cBench = app.add_subcommand("bench", "Time a frame through the C ABI against a copy of the cell arrays");
    cBench->add_option("--scene", bench.scene, "mixed or settled")->capture_default_str()
        ->check(CLI::IsMember({"mixed", "settled"}));
    cBench->add_option("--size", bench.size, "WIDTHxHEIGHT in game cells")->capture_default_str();
    cBench->add_option("--frames", bench.frames, "Frames to time")->capture_default_str()->check(CLI::Range(1, 100000));
    AddTableOptions(cBench, common);
    cBench->callback([&] { action = [&] { return Bench(common, bench); }; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    try {
        return action ? action() : 2;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tessel: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tessel: %s\n", e.what());
        return 1;
    }
}
