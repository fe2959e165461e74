// A typed view over the FrameResults that ExchangeFrame and LoadSaveGame return.
//
// The view holds the library's pointers: it is valid only until the next
// ExchangeFrame or world load, like the structure itself.
#pragma once

#include <cstdint>
#include <span>

#include "tesselsim/tesselsim.h"

namespace tshost {

// One game cell as the frame published it.
struct FrameCell {
    uint8_t elementIdx;
    float temperature;
    float mass;
    uint8_t cellFlags;
    uint8_t insulation;
    uint8_t strengthModifier;
    uint8_t diseaseIdx;
    int32_t diseaseCount;
};

class FrameResultsView {
public:
    // `results` may be null (no frame): every span is then empty.
    FrameResultsView(const FrameResults* results, int32_t gameWidth, int32_t gameHeight)
        : r_(results), width_(gameWidth), height_(gameHeight) {}

    bool valid() const { return r_ != nullptr; }
    const FrameResults* raw() const { return r_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    size_t cellCount() const {
        return width_ > 0 && height_ > 0 ? size_t(width_) * size_t(height_) : 0;
    }
    int32_t frameCount() const { return r_ ? r_->frameCount : 0; }
    int32_t GameCell(int32_t x, int32_t y) const { return y * width_ + x; }

    // Per-cell arrays, width * height entries each (empty when the library
    // published no array).
    std::span<const uint8_t> elementIdx() const { return Cells(r_ ? r_->elementIdx : nullptr); }
    std::span<const float> temperature() const { return Cells(r_ ? r_->temperature : nullptr); }
    std::span<const float> mass() const { return Cells(r_ ? r_->mass : nullptr); }
    std::span<const uint8_t> cellFlags() const { return Cells(r_ ? r_->cellFlags : nullptr); }
    std::span<const uint8_t> insulation() const { return Cells(r_ ? r_->insulation : nullptr); }
    std::span<const uint8_t> strengthModifier() const { return Cells(r_ ? r_->strengthModifier : nullptr); }
    std::span<const uint8_t> diseaseIdx() const { return Cells(r_ ? r_->diseaseIdx : nullptr); }
    std::span<const int32_t> diseaseCount() const { return Cells(r_ ? r_->diseaseCount : nullptr); }
    std::span<const float> accumulatorCopy() const { return Cells(r_ ? r_->accumulatorCopy : nullptr); }
    // Two floats per cell: horizontal, then vertical.
    std::span<const float> flowVectors() const { return Cells(r_ ? r_->flowVectors : nullptr, 2); }
    std::span<const uint32_t> liquidColours() const { return Cells(r_ ? r_->liquidColours : nullptr); }
    std::span<const uint8_t> lightLevels() const { return Cells(r_ ? r_->lightLevels : nullptr); }

    // Every cell array at once, for cells in [0, cellCount()). Arrays the frame
    // did not publish read as 0.
    FrameCell cell(int32_t gameCell) const;
    FrameCell cell(int32_t x, int32_t y) const { return cell(GameCell(x, y)); }

    // Result lists, counts taken from the structure.
#define TS_VIEW_LIST(type, name) \
    std::span<const type> name() const { return r_ ? List(r_->name##Count, r_->name) : std::span<const type>(); }
    TS_VIEW_LIST(SolidChangeEntry, solidChanges)
    TS_VIEW_LIST(int32_t, liquidChangedCells)
    TS_VIEW_LIST(int32_t, solidChangedCells)
    TS_VIEW_LIST(ChangedCellEntry, changedCells)
    TS_VIEW_LIST(uint32_t, cellCallbacks)
    TS_VIEW_LIST(MatterEntry, releasedContents)
    TS_VIEW_LIST(MatterEntry, dugMatter)
    TS_VIEW_LIST(MatterEntry, emittedMatter)
    TS_VIEW_LIST(SublimationEvent, sublimationEvents)
    TS_VIEW_LIST(FallingSolidEntry, fallingSolids)
    TS_VIEW_LIST(PressureDamageEntry, pressureDamage)
    TS_VIEW_LIST(BuildingOutputEntry, buildingOutputs)
    TS_VIEW_LIST(ConsumeMassResult, consumeMassResults)
    TS_VIEW_LIST(AddMassResult, addMassResults)
    TS_VIEW_LIST(ConsumeDiseaseResult, consumeDiseaseResults)
    TS_VIEW_LIST(ComponentCallbackEntry, componentCallbacks)
    TS_VIEW_LIST(MassConsumerOutput, massConsumerOutputs)
    TS_VIEW_LIST(MassEmitterOutput, massEmitterOutputs)
    TS_VIEW_LIST(ElementChunkOutput, elementChunkOutputs)
    TS_VIEW_LIST(uint32_t, elementChunkEvents)
    TS_VIEW_LIST(uint32_t, buildingsOverheated)
    TS_VIEW_LIST(uint32_t, buildingsCooled)
    TS_VIEW_LIST(uint32_t, buildingsAtHighTemp)
    TS_VIEW_LIST(int32_t, flaggedTransitions)
    TS_VIEW_LIST(DiseaseEmitterOutput, diseaseEmitterOutputs)
    TS_VIEW_LIST(ReservedComponentOutput, reservedComponentOutputs)
#undef TS_VIEW_LIST

private:
    template <class T>
    std::span<const T> Cells(const T* p, size_t perCell = 1) const {
        return p ? std::span<const T>(p, cellCount() * perCell) : std::span<const T>();
    }
    // A null pointer or a count below 1 is an empty list.
    template <class T>
    static std::span<const T> List(int32_t count, const T* p) {
        return p && count > 0 ? std::span<const T>(p, size_t(count)) : std::span<const T>();
    }

    const FrameResults* r_;
    int32_t width_;
    int32_t height_;
};

}  // namespace tshost
