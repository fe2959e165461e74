// LoadSaveGame: the input is the blob. A refused blob leaves the running
// world in place; an accepted one is run for two frames. The published cells
// are checked either way.
#include "fuzz/harness.h"

namespace {

using namespace tsfuzz;

constexpr int32_t kWidth = 8;
constexpr int32_t kHeight = 6;

const std::string& BaseSave() {
    static const std::string save = [] {
        std::string blob = StartWithSceneSave(kWidth, kHeight);
        if (LoadSave(blob) == nullptr) Fail("the scene's save does not load");
        return blob;
    }();
    return save;
}

void RunFrame(int32_t w, int32_t h, const char* where) {
    const EndFramePayload end{0.2f, 0, 0, w, h};
    SIM_HandleMessage(SIM_MSG_END_FRAME, sizeof end, &end);
    const std::string grid(size_t(w) * size_t(h), '\0');
    for (int i = 0; i < 2; ++i) {
        const auto* r = reinterpret_cast<const FrameResults*>(
            SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(grid.size()), grid.data()));
        if (r == nullptr) Fail("%s: no results with a world running", where);
        CheckFrame(r, w, h, where);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& base = BaseSave();
    const std::string blob(reinterpret_cast<const char*>(data), size);
    const FrameResults* r = LoadSave(blob);
    int32_t w = 0, h = 0;
    WorldSize(w, h);
    if (r != nullptr) {
        CheckFrame(r, w, h, "LoadSaveGame");
        RunFrame(w, h, "frame after LoadSaveGame");
        // The next input starts from the scene again.
        if (LoadSave(base) == nullptr) Fail("the scene's save was refused");
    } else {
        if (w != kWidth || h != kHeight) Fail("a refused save changed the world to %d x %d", w, h);
        RunFrame(w, h, "frame after a refused LoadSaveGame");
    }
    return 0;
}
