#pragma once
// Turns readings into the 402-byte block the agent reads, and names what each
// numbered reading is (the block itself carries no names).
#include <string>
#include <vector>

#include "monitor/hwmon_reader.h"
#include "sensors/sensor_snapshot.h"

// A valid block (version 1, size 402) with min(count, 32) readings of each
// kind; the counts say at most 32; unused slots are 0.
SensorSnapshot BuildHwmonSnapshot(const HwmonReadings& readings);

// Where each published reading came from (sensors/source_names.h), in the
// block's order: published beside the block for the agent's names.
std::string BuildHwmonNames(const HwmonReadings& readings);

// One line per published reading, numbered as the agent shows them:
//   Temperature 1 = coretemp temp1 "Package id 0"
//   Fan 2 = nct6775 fan2
std::vector<std::string> DescribeReadings(const HwmonReadings& readings);

// Simulated readings at time `t` seconds, drifting slowly, in every slot.
void SimulateReadings(SensorSnapshot& snapshot, double t);
