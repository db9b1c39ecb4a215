#pragma once
// The example block the renderer tests share: two readings of each kind.
// Test support only.
#include <cstring>

#include "sensors/sensor_snapshot.h"

namespace testing_support {

inline SensorSnapshot ExampleSnapshot() {
  SensorSnapshot s;
  std::memset(&s, 0, sizeof s);
  s.version = 1;
  s.memSize = 402;
  s.numTemps = 2, s.temps[0] = 4562, s.temps[1] = 3810;
  s.numFans = 2, s.fans[0] = 1234, s.fans[1] = 0;
  s.numVolts = 2, s.volts[0] = 120, s.volts[1] = 330;
  return s;
}

}  // namespace testing_support
