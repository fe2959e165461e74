#include "simlib/cellarrays.h"

#include <cstring>

namespace ts {

namespace {
template <class T>
void CopyPart(std::vector<T>& to, const std::vector<T>& from, size_t src, size_t dst, size_t count) {
    std::memcpy(to.data() + dst, from.data() + src, count * sizeof(T));
}
}  // namespace

void CellArrays::CopyPassWrittenFrom(const CellArrays& o, size_t from, size_t to, size_t count) {
    CopyPart(elementIdx, o.elementIdx, from, to, count);
    CopyPart(temperature, o.temperature, from, to, count);
    CopyPart(mass, o.mass, from, to, count);
    CopyPart(diseaseIdx, o.diseaseIdx, from, to, count);
    CopyPart(diseaseCount, o.diseaseCount, from, to, count);
    CopyPart(diseaseAge, o.diseaseAge, from, to, count);
    CopyPart(diseaseGrowthRemainder, o.diseaseGrowthRemainder, from, to, count);
}

void CellArrays::CopyRange(const CellArrays& o, size_t from, size_t to, size_t count) {
    CopyPassWrittenFrom(o, from, to, count);
    CopyPart(cellFlags, o.cellFlags, from, to, count);
    CopyPart(insulation, o.insulation, from, to, count);
    CopyPart(strengthModifier, o.strengthModifier, from, to, count);
}

}  // namespace ts
