#include "hostkit/frameresults.h"

#include <stdexcept>
#include <string>

namespace tshost {

FrameCell FrameResultsView::cell(int32_t gameCell) const {
    if (gameCell < 0 || size_t(gameCell) >= cellCount())
        throw std::out_of_range("game cell " + std::to_string(gameCell) + " outside the " + std::to_string(width_) +
                                " x " + std::to_string(height_) + " grid");
    const size_t i = size_t(gameCell);
    auto at = [i](auto span) { return span.empty() ? typename decltype(span)::value_type{} : span[i]; };
    FrameCell c{};
    c.elementIdx = at(elementIdx());
    c.temperature = at(temperature());
    c.mass = at(mass());
    c.cellFlags = at(cellFlags());
    c.insulation = at(insulation());
    c.strengthModifier = at(strengthModifier());
    c.diseaseIdx = at(diseaseIdx());
    c.diseaseCount = at(diseaseCount());
    return c;
}

}  // namespace tshost
