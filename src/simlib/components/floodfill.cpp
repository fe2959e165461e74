#include "simlib/components/floodfill.h"

#include <cfloat>

#include "common/numeric.h"
#include "common/report.h"
#include "simlib/simutil.h"

namespace ts {

template <class Visit>
void FloodFill::Walk(const World& world, int32_t x0, int32_t y0, int32_t radius, Visit&& visit) {
    queue_.clear();
    if (visitMark_.size() != world.cellCount()) {
        visitMark_.assign(world.cellCount(), 0);
        generation_ = 0;
    }
    if (++generation_ == 0) {  // wrapped: forget every old mark
        std::fill(visitMark_.begin(), visitMark_.end(), 0);
        generation_ = 1;
    }
    queue_.push_back({x0, y0, 0});
    for (size_t head = 0; head < queue_.size(); ++head) {
        const Entry e = queue_[head];
        if (!(e.depth < radius && e.x > 0 && e.x < world.width && e.y > 0 && e.y < world.height)) continue;
        const int32_t c = e.y * world.width + e.x;
        if (world.elements.State(world.updatedCells.elementIdx[size_t(c)]) == SIM_STATE_SOLID) continue;
        if (visitMark_[size_t(c)] == generation_) continue;
        visitMark_[size_t(c)] = generation_;
        if (!visit(c)) return;
        queue_.push_back({e.x, e.y - 1, e.depth + 1});
        queue_.push_back({e.x - 1, e.y, e.depth + 1});
        queue_.push_back({e.x + 1, e.y, e.depth + 1});
        queue_.push_back({e.x, e.y + 1, e.depth + 1});
    }
}

const std::vector<int32_t>& FloodFill::Fill(const World& world, int32_t x, int32_t y, int32_t radius) {
    found_.clear();
    Walk(world, x, y, radius, [this](int32_t c) {
        found_.push_back(c);
        return true;
    });
    return found_;
}

int32_t FloodFill::ConsumeNearby(World& world, int32_t x, int32_t y, int32_t radius, uint8_t element,
                                 float amount, ConsumedMatter& result) {
    CellArrays& u = world.updatedCells;
    int32_t satisfiedAt = -1;
    // Callers never ask for less than nothing: a negative take would add matter.
    if (!TS_CHECK_AS(amount >= 0.0f, "amount >= 0.0f")) return satisfiedAt;
    float remaining = amount;
    Walk(world, x, y, radius, [&](int32_t cell) {
        const size_t c = size_t(cell);
        if (u.elementIdx[c] == element) {
            const float mass = u.mass[c];
            const float m = std::min(mass, remaining);
            // A cell without mass gives no germs (and no 0/0).
            const int32_t d = mass > 0.0f ? TruncToInt32(float(u.diseaseCount[c]) * m / mass) : 0;
            const uint8_t cellDisease = u.diseaseIdx[c];
            const float cellTemperature = u.temperature[c];
            u.mass[c] -= m;
            remaining -= m;
            u.diseaseCount[c] -= d;
            if (u.diseaseCount[c] < 1) u.ClearDisease(c);
            result.temperature = MixTemperature(result.mass, result.temperature, m, cellTemperature);
            result.mass += m;
            if (cellDisease != kNoDisease) {
                const DiseaseAmount merged =
                    MergeDisease(result.diseaseIdx, result.diseaseCount, cellDisease, d, world.diseases);
                result.diseaseIdx = merged.index;
                result.diseaseCount = merged.count;
            }
            if (u.mass[c] <= FLT_MIN) {
                EmptyCell(world, u, c);
                world.MarkCellChanged(cell);
            }
        }
        if (remaining <= 0.0f) {
            satisfiedAt = cell;
            return false;
        }
        return true;
    });
    return satisfiedAt;
}

}  // namespace ts
