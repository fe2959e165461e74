#include "simlib/worldhash.h"

#include <cstring>
#include <vector>

#include "simlib/world.h"

namespace ts {
namespace {

// FNV-1a over raw bytes: floats are hashed by their bits, so -0 and +0 and
// every NaN payload count as different, which is what a bit-identity check wants.
class Fnv1a {
public:
    void Bytes(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            h_ ^= p[i];
            h_ *= 0x100000001b3ull;
        }
    }
    template <class T>
    void Value(const T& v) {
        Bytes(&v, sizeof v);
    }
    template <class T>
    void Array(const std::vector<T>& v) {
        Value(static_cast<uint64_t>(v.size()));
        if (!v.empty()) Bytes(v.data(), v.size() * sizeof(T));
    }
    uint64_t value() const { return h_; }

private:
    uint64_t h_ = 0xcbf29ce484222325ull;
};

}  // namespace

uint64_t HashWorldState(const World& world) {
    Fnv1a h;
    h.Value(world.width);
    h.Value(world.height);
    h.Value(world.randomSeed);
    const CellArrays& c = world.updatedCells;
    h.Array(c.elementIdx);
    h.Array(c.temperature);
    h.Array(c.mass);
    h.Array(c.cellFlags);
    h.Array(c.insulation);
    h.Array(c.strengthModifier);
    h.Array(c.diseaseIdx);
    h.Array(c.diseaseCount);
    h.Array(c.diseaseAge);
    h.Array(c.diseaseGrowthRemainder);
    h.Array(world.cellAccumulator);
    h.Array(world.cellFlow);
    h.Array(world.targetTemperature);
    return h.value();
}

uint64_t HashOutputs(const OutputCollector& outputs) {
    Fnv1a h;
    outputs.ForEachList([&h](const auto& list) { h.Array(list); });
    return h.value();
}

}  // namespace ts
