// What every fuzz target and the soak program share: the library started
// in-process with the sample tables, a small scene, the world's seed pinned,
// the published cells checked against the cell invariants, and a reader that
// turns fuzz bytes into values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hostkit/tables.h"
#include "hostkit/world.h"
#include "tesselsim/tesselsim.h"

namespace tsfuzz {

// Reports of the library so far (warnings and failed checks), counted when
// StartLibrary listens. Set TS_FUZZ_REPORTS=1 to listen and print them.
int ReportCount();

// The sample tables and their payloads, built once.
struct Tables {
    tshost::SampleTables sample;
    std::string elementPayload;
    std::string diseasePayload;
    int32_t elementCount = 0;
    int32_t diseaseCount = 0;
};
const Tables& SampleTables();

// SIM_Initialize (tearing down any earlier world), with the recording
// callback when `listen`; the signal handlers in place before it (the
// sanitizer's) are put back, so a crash is reported by the fuzzer and not
// turned into a dump file. With `loadTables` the sample tables are sent.
void StartLibrary(bool loadTables = true, bool listen = false);

// A small scene of gameWidth x gameHeight cells over the sample tables: a
// granite floor, a water basin, sand that falls, oxygen, carbon dioxide, a
// warm spill and germs in the pool.
tshost::WorldLayout Scene(int32_t gameWidth, int32_t gameHeight);

// The save the library writes for `layout` (CreateWorld, then SIM_BeginSave);
// empty when CreateWorld refused it. Needs a stopped simulation.
std::string SaveOf(const tshost::WorldLayout& layout);

// Starts the library with the sample tables and returns the save of
// Scene(gameWidth, gameHeight): where every session of a target begins.
std::string StartWithSceneSave(int32_t gameWidth, int32_t gameHeight);

// LoadSaveGame of `blob`; on success SetRandomSeed pins the world's seed to
// `seed` and resets the pass state, so that a run repeats exactly.
const FrameResults* LoadSave(const std::string& blob, uint32_t seed = 12345);

// Checks every published cell: element inside the table; mass finite and
// >= 0; temperature finite within [0, 10000] and > 0 when the cell has mass;
// no disease means count 0, a disease means a known index and count > 0; the
// list counts are >= 0 and their entries name game cells. Aborts with the
// first violation (a fuzzer finding). Returns the number of cells checked.
size_t CheckFrame(const FrameResults* results, int32_t gameWidth, int32_t gameHeight, const char* where);

// The game size of the world the library holds (0 x 0 without one).
void WorldSize(int32_t& gameWidth, int32_t& gameHeight);

// Waits until the cycle in flight has published; the sim thread then stays
// parked until the next exchange. The targets end each input here, so that
// the leak check between inputs never scans a cycle half done (and a report
// from it is never a pointer in flight). Aborts when no world answers.
void ParkSimThread(const char* where);

// Fuzz bytes as a stream of values; past the end every read gives zeros.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    size_t remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
    template <class T>
    T Get() {
        T value{};
        const size_t n = sizeof(T) < remaining() ? sizeof(T) : remaining();
        std::memcpy(&value, data_ + pos_, n);
        pos_ += sizeof(T);
        return value;
    }
    uint8_t U8() { return Get<uint8_t>(); }
    // Up to n bytes (fewer at the end).
    std::string Take(size_t n) {
        const size_t k = n < remaining() ? n : remaining();
        std::string out(reinterpret_cast<const char*>(data_ + pos_), k);
        pos_ += n;
        return out;
    }
    std::string Rest() { return Take(remaining()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Fails the run with a message (the fuzzer records the input).
[[noreturn]] void Fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tsfuzz
