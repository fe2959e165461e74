// Publishing a cycle's results into the buffer the host will read next.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "simlib/gamedata.h"
#include "simlib/physicsstep.h"
#include "simlib/workerpool.h"
#include "simlib/world.h"

namespace ts {

// Copies a band of game rows of the world into a result buffer.
class RowCopyJob final : public Job {
public:
    void Set(const World* world, GameData* target, int32_t firstRow, int32_t rowCount) {
        world_ = world;
        target_ = target;
        firstRow_ = firstRow;
        rowCount_ = rowCount;
    }
    void Run() override;

private:
    const World* world_ = nullptr;
    GameData* target_ = nullptr;
    int32_t firstRow_ = 0;
    int32_t rowCount_ = 0;
};

// The steps of a publication in their order, for the time spent in each.
enum class PublishStage { RowCopies, ComponentOutputs, Lists, ChangedCells, Accumulator, FlowVectors, LiquidColours,
                          LightLevels, Count };
const char* PublishStageName(PublishStage stage);

struct PublishTimings {
    double seconds[size_t(PublishStage::Count)] = {};
    uint64_t publications = 0;
};

// Everything PublishResults keeps between calls: the row copy jobs and the
// scratch of the emittedMatter merge.
struct PublishContext {
    explicit PublishContext(int jobs);
    std::vector<std::unique_ptr<RowCopyJob>> cellJobs;
    std::vector<uint32_t> mergeOrder;
    std::vector<float> light;  // running light per column
    PublishTimings* timings = nullptr;  // benchmarks only
};

// Publishes the world's cells, lists and per-cell views into W (R is the
// buffer the host reads now), for a cycle that applied n frames.
void PublishResults(World& world, GameData& w, const GameData& r, uint32_t n, WorkerPool& pool,
                    PublishContext& context);

}  // namespace ts
