#include "simlib/messagechecks.h"

#include "common/numeric.h"
#include "common/report.h"

namespace ts {

bool ValidGameCell(const World& world, int32_t gameCell, const char* message) {
    if (world.IsValidGameCell(gameCell)) return true;
    TS_WARN("%s skipped: game cell %d outside the host grid of %d cells", message, gameCell, world.numGameCells);
    return false;
}

bool ValidElement(const World& world, uint8_t element, const char* message) {
    if (world.elements.Contains(element)) return true;
    TS_WARN("%s skipped: element index %u beyond the table of %d", message, unsigned(element),
            world.elements.count());
    return false;
}

bool ValidDisease(const World& world, uint8_t disease, const char* message) {
    if (disease == kNoDisease || world.diseases.Contains(disease)) return true;
    TS_WARN("%s skipped: disease index %u beyond the table of %d", message, unsigned(disease),
            world.diseases.count());
    return false;
}

float CappedMass(float mass, const char* message) {
    if (!(IsFinite(mass) && mass > kMassCap)) return mass;
    TS_WARN("%s: mass %g kg capped at %g kg", message, double(mass), double(kMassCap));
    return kMassCap;
}

}  // namespace ts
