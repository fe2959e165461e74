// One physics step: 0.2 s of game time, a fixed sequence of passes.
#pragma once

#include "simlib/world.h"

namespace ts {

class SimThread;

void Step(SimThread& simThread, World& world);

}  // namespace ts
