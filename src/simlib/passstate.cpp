#include "simlib/passstate.h"

namespace ts {

PassState& ProcessPassState() {
    static PassState state;
    return state;
}

}  // namespace ts
