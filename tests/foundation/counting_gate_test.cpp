#include "foundation/counting_gate.h"

#include <gtest/gtest.h>

namespace {

TEST(CountingGateTest, OneHolderPerSlotAndTheRestWait) {
  CountingGate gate(2);
  EXPECT_TRUE(gate.Enter(0));
  EXPECT_TRUE(gate.Enter(0));
  EXPECT_FALSE(gate.Enter(0));
  gate.Leave();
  EXPECT_TRUE(gate.Enter(0));
}

}  // namespace
