#pragma once
// The name of each reading, for the answers that show names (the page, the
// Prometheus info series, ?format=sensors):
//   the user's label ([Labels]);
//   else the chip's name and the driver's label ("coretemp Package id 0");
//   else the chip's name and the input ("nvme temp1");
//   else none.
// The source's fields (chip, chip_name, input, label) come from our monitor
// (Linux) and are used only when they name exactly the block's entries:
// as many of each kind as the block holds.
#include <array>
#include <string>
#include <vector>

#include "agent/labels_section.h"
#include "sensors/sensor_snapshot.h"
#include "sensors/source_names.h"

// One text, and its forms in the answers, made once per set of names so
// that an answer only appends them.
struct NameText {
  std::wstring wide;        // empty: unknown (or no name)
  std::string json;         // UTF-8, escaped for a JSON string
  std::string label_value;  // UTF-8, escaped for a Prometheus label value
  bool empty() const { return wide.empty(); }
};

struct SensorName {
  NameText name;  // empty: none
  NameText chip, chip_name, input, label;
  std::string page;  // " (name)": the page's narrow text, escaped; empty without a name
};

struct SensorNames {
  std::array<std::vector<SensorName>, 3> kinds;  // temperature, fan, voltage; by position
  bool any = false;                              // some reading has a name
};

SensorNames NameSensors(const SensorSnapshot& snapshot, const ReadingLabels& labels,
                        const SourceNames& source);
