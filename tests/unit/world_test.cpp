#include <gtest/gtest.h>

#include "simlib/world.h"

namespace ts {
namespace {

TEST(World, Placeholder) { SUCCEED(); }

}  // namespace
}  // namespace ts
