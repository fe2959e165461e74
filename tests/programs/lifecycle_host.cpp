// A host that ends in the ways games end, for the lifecycle tests.
//
//   lifecycle_host return   a world runs a cycle when main returns (no SIM_Shutdown)
//   lifecycle_host exit     the same, ending with exit()
//
// It prints "ok" once the world has run, so a test tells a clean exit from one
// that never got that far.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/hosting.h"

namespace {

// Loads the sample tables and a world of `w` x `h` cells of oxygen over water.
bool StartWorld(tshost::Library& lib, int32_t w, int32_t h) {
    const tshost::SampleTables tables = tshost::LoadSampleTables();
    tstest::LoadTables(lib, tables);
    const uint8_t oxygen = tshost::ElementIndex(tables.elements, "Oxygen");
    const uint8_t water = tshost::ElementIndex(tables.elements, "Water");
    tshost::WorldLayout layout(w, h, tshost::Matter(oxygen, 300.0f, 1.0f));
    layout.Fill(0, 0, w, h / 3, tshost::Matter(water, 290.0f, 500.0f));
    return tstest::StartWorld(lib, layout) != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "return" && mode != "exit") {
        std::fprintf(stderr, "usage: lifecycle_host return|exit\n");
        return 2;
    }
    tshost::Library lib(TS_LIBRARY_PATH);
    lib.SIM_Initialize([](int32_t, void*) {});
    const int32_t w = 96, h = 96;
    if (!StartWorld(lib, w, h)) return 3;
    for (int frame = 0; frame < 3; ++frame)
        if (tstest::NextFrame(lib, w, h, 1.0f) == nullptr) return 4;
    // The last exchange released a cycle of five steps: it is running now.
    std::printf("ok\n");
    std::fflush(stdout);
    if (mode == "exit") std::exit(0);
    return 0;
}
