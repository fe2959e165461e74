// The subcommands of tessel. Each returns the process's exit status; bad input
// throws UsageError.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tessel/host.h"

namespace tessel {

struct Common {
    std::string library;  // empty: found beside the tool
    TableOptions tables;
};

struct DemoOptions {
    std::string outDir = "out/demo";
    int frames = 300;
    int every = 30;  // PNG frames every so many frames
};
int Demo(const Common& common, const DemoOptions& options);

struct RunOptions {
    std::string save;
    int frames = 0;
    float dt = 0.2f;
    std::optional<uint32_t> seed;
    std::string out;
    std::string record;
};
int Run(const Common& common, const RunOptions& options);

struct BenchOptions {
    std::string scene = "mixed";
    std::string size = "256x384";
    int frames = 40;
};
int Bench(const Common& common, const BenchOptions& options);

int Inspect(const Common& common, const std::string& save, const std::string& cell);
int Render(const Common& common, const std::string& save, const std::string& view, const std::string& out,
           int scale);
int Diff(const Common& common, const std::string& a, const std::string& b);
int Validate(const Common& common, const std::string& save);
int Convert(const std::string& save, const std::string& out);

}  // namespace tessel
