// LoadCellByteGrid and the host input grid of ExchangeFrame on a running
// 16 x 12 world: the first byte picks a fill or the raw rest of the input for
// each; the world runs a frame and the published cells are checked.
#include "fuzz/harness.h"

namespace {

using namespace tsfuzz;

constexpr int32_t kWidth = 16;
constexpr int32_t kHeight = 12;
constexpr size_t kCells = size_t(kWidth) * kHeight;

const std::string& BaseSave() {
    static const std::string save = [] {
        StartLibrary();
        std::string blob = SaveOf(Scene(kWidth, kHeight));
        if (blob.empty()) Fail("the scene does not save");
        return blob;
    }();
    return save;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& base = BaseSave();
    if (LoadSave(base) == nullptr) Fail("the scene's save was refused");
    Bytes in(data, size);
    const uint8_t mode = in.U8();
    // Bit 0: the byte grid is the rest of the input, else a fill of the next byte.
    const std::string rest = in.Rest();
    const std::string grid = (mode & 1) ? rest : std::string(kCells, rest.empty() ? '\0' : rest[0]);
    SIM_HandleMessage(SIM_MSG_LOAD_CELL_BYTE_GRID, int32_t(grid.size()), grid.data());
    if (mode & 2) SIM_HandleMessage(SIM_MSG_SETTLE_WORLD, 0, nullptr);
    const EndFramePayload end{0.2f, 0, 0, kWidth, kHeight};
    SIM_HandleMessage(SIM_MSG_END_FRAME, sizeof end, &end);
    // Bit 2: the host input grid is the rest of the input too (of any size).
    const std::string input = (mode & 4) ? rest : std::string(kCells, char(mode >> 3));
    for (int i = 0; i < 2; ++i) {
        const auto* r = reinterpret_cast<const FrameResults*>(
            SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(input.size()), input.data()));
        if (r == nullptr) Fail("no results with a world running");
        CheckFrame(r, kWidth, kHeight, "frame after LoadCellByteGrid");
    }
    return 0;
}
