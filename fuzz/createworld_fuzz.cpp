// CreateWorld: the input is the payload (i32 w, i32 h, cell, target
// temperature and disease blocks). A world it builds is saved, loaded and run
// for two frames, and the published cells are checked.
#include <cmath>

#include "fuzz/harness.h"

namespace {

using namespace tsfuzz;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StartLibrary();
    const uint64_t created = SIM_HandleMessage(SIM_MSG_CREATE_WORLD, int32_t(size), data);
    int32_t w = 0, h = 0;
    WorldSize(w, h);
    if (created == 0) {
        if (w != 0 || h != 0) Fail("a refused CreateWorld left a %d x %d world", w, h);
        return 0;
    }
    if (created != uint64_t(w) * uint64_t(h)) Fail("CreateWorld answered %llu for %d x %d", (unsigned long long)created, w, h);
    uint32_t length = 0;
    const uint8_t* save = SIM_BeginSave(&length);
    if (save == nullptr) Fail("a created %d x %d world does not save", w, h);
    const std::string blob(reinterpret_cast<const char*>(save), length);
    SIM_EndSave();
    const FrameResults* r = LoadSave(blob);
    if (r == nullptr) Fail("the save of a created %d x %d world was refused", w, h);
    CheckFrame(r, w, h, "LoadSaveGame of a created world");
    const EndFramePayload end{0.2f, 0, 0, w, h};
    SIM_HandleMessage(SIM_MSG_END_FRAME, sizeof end, &end);
    const std::string grid(size_t(w) * size_t(h), '\0');
    for (int i = 0; i < 2; ++i)
        CheckFrame(reinterpret_cast<const FrameResults*>(
                       SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(grid.size()), grid.data())),
                   w, h, "frame of a created world");
    return 0;
}
