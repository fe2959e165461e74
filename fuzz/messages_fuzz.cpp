// The message stream: one long session on a 16 x 12 world. Each input starts
// from the same save and is a list of records (messages of the catalogue with
// their fixed or a fuzzed size, raw ids, frames, exchanges, a save and reload);
// the published cells are checked after every exchange.
//
// Record: u8 op, then by op % 8
//   0-3  catalogue message: u8 entry, u8 mode, [u8 size], payload
//        (mode bits 0-1 == 3: the size byte follows, else the fixed size;
//        bit 2: an issued handle at the handle field, from u8; bit 3: a
//        valid game cell at the cell field, from u16; an EndFrame's dt is
//        cut to 4 s)
//   4    EndFrame: u8 mode, [f32 dt], [16 bytes of region] (a fuzzed dt
//        beyond 4 s is cut to 4 s unless mode bit 3 is set: most random
//        floats are huge, and a cycle of the step cap costs 200 steps)
//   5    ExchangeFrame: u8 mode, [u16 size] (mode & 7 == 7: a grid of that size)
//   6    raw message: u32 id, u8 size, payload
//   7    u8 what: 0 save and load the save, 1 LoadCellByteGrid, 2 SettleWorld,
//        3 three exchanges in a row
#include <cstdlib>
#include <mutex>
#include <vector>

#include "fuzz/harness.h"
#include "hostapi/runtime.h"
#include "hostkit/payloads.h"
#include "simlib/components/buildingheatexchange.h"
#include "simlib/components/diseaseemitter.h"
#include "simlib/components/elementchunk.h"
#include "simlib/components/massconsumer.h"
#include "simlib/components/massemitter.h"
#include "simlib/components/reservedcomponent.h"

namespace {

using namespace tsfuzz;

constexpr int32_t kWidth = 16;
constexpr int32_t kHeight = 12;
constexpr int32_t kCells = kWidth * kHeight;
constexpr int kMaxRecords = 256;
constexpr int kMaxExchanges = 16;
constexpr EndFramePayload kEndOfInput{0.2f, 0, 0, kWidth, kHeight};
constexpr float kLongestFrame = 4.0f;  // 20 steps

// Where a message carries a handle and a game cell (-1: none).
struct Shape {
    uint32_t id;
    int8_t handleAt;
    int8_t cellAt;
};

// The messages the catalogue records send: every queued and frame-direct one
// and the immediate ones that a running session may receive.
const Shape kShapes[] = {
    {SIM_MSG_STORE_RECORD_LIST, -1, -1},
    {SIM_MSG_SETTLE_WORLD, -1, -1},
    {SIM_MSG_NO_OP, -1, -1},
    {SIM_MSG_SET_WORLD_FLAGS, -1, -1},
    {SIM_MSG_END_FRAME, -1, -1},
    {SIM_MSG_SET_FRAME_PARAMETERS, -1, -1},
    {SIM_MSG_SET_CELL_INSULATION, -1, 0},
    {SIM_MSG_SET_STRENGTH_MODIFIER, -1, 0},
    {SIM_MSG_MODIFY_CELL_ENERGY, -1, 0},
    {SIM_MSG_SET_CELL_FLAGS, -1, 0},
    {SIM_MSG_CONSUME_MASS, -1, 0},
    {SIM_MSG_ADD_MASS, -1, 0},
    {SIM_MSG_CONSUME_DISEASE, -1, 0},
    {SIM_MSG_MODIFY_CELL_DISEASE, -1, 0},
    {SIM_MSG_DIG_CELL, -1, 0},
    {SIM_MSG_MODIFY_CELL, -1, 0},
    {SIM_MSG_SET_CELL_BYTE_GRID, -1, 0},
    {SIM_MSG_ADD_MASS_CONSUMER, -1, 0},
    {SIM_MSG_MODIFY_MASS_CONSUMER, 0, 4},
    {SIM_MSG_REMOVE_MASS_CONSUMER, 0, -1},
    {SIM_MSG_ADD_MASS_EMITTER, -1, -1},
    {SIM_MSG_MODIFY_MASS_EMITTER, 0, 4},
    {SIM_MSG_REMOVE_MASS_EMITTER, 0, -1},
    {SIM_MSG_ADD_ELEMENT_CHUNK, -1, 0},
    {SIM_MSG_REMOVE_ELEMENT_CHUNK, 0, -1},
    {SIM_MSG_MOVE_ELEMENT_CHUNK, 0, 4},
    {SIM_MSG_SET_ELEMENT_CHUNK_DATA, 0, -1},
    {SIM_MSG_MODIFY_ELEMENT_CHUNK_ENERGY, 0, -1},
    {SIM_MSG_MODIFY_ELEMENT_CHUNK_DATA, 0, -1},
    {SIM_MSG_ADD_BUILDING_HEAT_EXCHANGE, -1, -1},
    {SIM_MSG_MODIFY_BUILDING_HEAT_EXCHANGE, 0, -1},
    {SIM_MSG_MODIFY_BUILDING_ENERGY, 0, -1},
    {SIM_MSG_REMOVE_BUILDING_HEAT_EXCHANGE, 0, -1},
    {SIM_MSG_ADD_DISEASE_EMITTER, -1, -1},
    {SIM_MSG_MODIFY_DISEASE_EMITTER, 0, 4},
    {SIM_MSG_REMOVE_DISEASE_EMITTER, 0, -1},
    {SIM_MSG_ADD_RESERVED_COMPONENT, -1, -1},
    {SIM_MSG_MODIFY_RESERVED_COMPONENT, 0, -1},
    {SIM_MSG_REMOVE_RESERVED_COMPONENT, 0, -1},
};
constexpr size_t kShapeCount = sizeof kShapes / sizeof kShapes[0];

struct Session {
    std::string baseSave;
    std::vector<uint32_t> handles;            // issued by adds, as the frames reported them
    int exchanges = 0;

    void Reset() {
        handles.clear();
        exchanges = 0;
    }

    void Send(uint32_t id, const std::string& payload) {
        SIM_HandleMessage(id, int32_t(payload.size()), payload.data());
    }

    void Exchange(const std::string& grid, const char* where) {
        ++exchanges;
        const auto* r = reinterpret_cast<const FrameResults*>(
            SIM_HandleMessage(SIM_MSG_EXCHANGE_FRAME, int32_t(grid.size()), grid.data()));
        if (r == nullptr) Fail("%s: ExchangeFrame answered no results with a world running", where);
        CheckFrame(r, kWidth, kHeight, where);
        for (int32_t i = 0; i < r->componentCallbacksCount; ++i) {
            const uint32_t h = r->componentCallbacks[i].handle;
            if (h != SIM_NO_HANDLE && handles.size() < 64) handles.push_back(h);
        }
    }
};

Session& TheSession() {
    static Session* session = [] {
        auto* s = new Session;
        s->baseSave = StartWithSceneSave(kWidth, kHeight);
        return s;
    }();
    return *session;
}

// A fuzzed dt is mostly huge: a catalogue EndFrame is cut to the longest
// frame like the EndFrame record's (both of its other ways keep the raw dt).
void CutLongFrame(std::string& payload) {
    float dt = 0.0f;
    std::memcpy(&dt, payload.data(), 4);
    if (dt > kLongestFrame) std::memcpy(payload.data(), &kLongestFrame, 4);
}

void CatalogueMessage(Session& s, Bytes& in) {
    const Shape& shape = kShapes[in.U8() % kShapeCount];
    const uint8_t mode = in.U8();
    const tshost::MessageInfo* info = tshost::FindMessage(shape.id);
    const size_t fixed = info && info->size > 0 ? size_t(info->size) : 0;
    const size_t size = (mode & 3) == 3 ? in.U8() : fixed;
    std::string payload = in.Take(size);
    payload.resize(size, '\0');
    if ((mode & 4) && shape.handleAt >= 0 && !s.handles.empty() && payload.size() >= size_t(shape.handleAt) + 4) {
        const uint32_t h = s.handles[in.U8() % s.handles.size()];
        std::memcpy(&payload[size_t(shape.handleAt)], &h, 4);
    }
    if ((mode & 8) && shape.cellAt >= 0 && payload.size() >= size_t(shape.cellAt) + 4) {
        const int32_t cell = int32_t(in.Get<uint16_t>() % kCells);
        std::memcpy(&payload[size_t(shape.cellAt)], &cell, 4);
    }
    if (shape.id == SIM_MSG_END_FRAME && payload.size() >= 4) CutLongFrame(payload);
    s.Send(shape.id, payload);
}

void EndFrame(Session& s, Bytes& in) {
    const uint8_t mode = in.U8();
    EndFramePayload p{0.2f, 0, 0, kWidth, kHeight};
    switch (mode & 3) {
        case 0: break;
        case 1: p.dt = 0.0f; break;
        case 2:
            p.dt = in.Get<float>();
            if ((mode & 8) == 0 && p.dt > kLongestFrame) p.dt = kLongestFrame;
            break;
        default: p.dt = float(in.U8()) / 64.0f;
    }
    if (mode & 4) {
        p.minX = in.Get<int32_t>();
        p.minY = in.Get<int32_t>();
        p.maxX = in.Get<int32_t>();
        p.maxY = in.Get<int32_t>();
    }
    s.Send(SIM_MSG_END_FRAME, std::string(reinterpret_cast<const char*>(&p), sizeof p));
}

void Exchange(Session& s, Bytes& in) {
    const uint8_t mode = in.U8();
    const size_t size = (mode & 7) == 7 ? in.Get<uint16_t>() : size_t(kCells);
    s.Exchange(std::string(size, char(mode >> 3)), "ExchangeFrame");
}

void Special(Session& s, Bytes& in) {
    switch (in.U8() % 4) {
        case 0: {
            uint32_t length = 0;
            const uint8_t* data = SIM_BeginSave(&length);
            if (data == nullptr) Fail("SIM_BeginSave answered null with a world");
            const std::string blob(reinterpret_cast<const char*>(data), length);
            SIM_EndSave();
            const FrameResults* r = LoadSave(blob);
            if (r == nullptr) Fail("the library refused its own save (%u bytes)", length);
            CheckFrame(r, kWidth, kHeight, "LoadSaveGame of the world's own save");
            s.handles.clear();  // a load starts without components
            break;
        }
        case 1: {
            const std::string grid(size_t(kCells), char(in.U8()));
            s.Send(SIM_MSG_LOAD_CELL_BYTE_GRID, grid);
            break;
        }
        case 2: s.Send(SIM_MSG_SETTLE_WORLD, std::string()); break;
        default:
            for (int i = 0; i < 3; ++i) s.Exchange(std::string(size_t(kCells), '\0'), "ExchangeFrame");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Session& s = TheSession();
    s.Reset();
    const FrameResults* loaded = LoadSave(s.baseSave);
    if (loaded == nullptr) Fail("the scene's save was refused");
    CheckFrame(loaded, kWidth, kHeight, "LoadSaveGame");
    Bytes in(data, size);
    for (int records = 0; !in.empty() && records < kMaxRecords && s.exchanges < kMaxExchanges; ++records) {
        const uint8_t op = in.U8();
        switch (op % 8) {
            case 4: EndFrame(s, in); break;
            case 5: Exchange(s, in); break;
            case 6: {
                const uint32_t id = in.Get<uint32_t>();
                std::string payload = in.Take(in.U8());
                if (id == SIM_MSG_EXCHANGE_FRAME) {
                    s.Exchange(payload, "ExchangeFrame (raw)");
                } else if (id == SIM_MSG_LOAD_SAVE_GAME) {
                    // A refused blob leaves the world running; an accepted one replaces it.
                    if (const FrameResults* r = LoadSave(payload)) {
                        int32_t w = 0, h = 0;
                        WorldSize(w, h);
                        CheckFrame(r, w, h, "LoadSaveGame (raw)");
                        LoadSave(s.baseSave);
                        s.Reset();
                    }
                } else {
                    s.Send(id, payload);
                }
                break;
            }
            case 7: Special(s, in); break;
            default: CatalogueMessage(s, in);
        }
    }
    // Every closed frame's results come back within two exchanges.
    s.Send(SIM_MSG_END_FRAME, std::string(reinterpret_cast<const char*>(&kEndOfInput), sizeof kEndOfInput));
    s.Exchange(std::string(size_t(kCells), '\0'), "final exchange");
    s.Exchange(std::string(size_t(kCells), '\0'), "final exchange");
    ParkSimThread("end of input");
    return 0;
}
