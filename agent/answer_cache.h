#pragma once
// The last answer of one format (the page, sensors, Prometheus), given again
// while nothing it is made of has changed: the same look at the block, the
// same settings view and names, the same extremes and form, and no reading's
// state changed since it was made.
// Between two refreshes of the monitor a request then renders nothing, and a
// change of any of these still shows at the next request.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/renderers.h"
#include "agent/settings_view.h"
#include "foundation/wstring.h"
#include "sensors/sensor_snapshot.h"

struct SensorNames;

struct AnswerInputs {
  // Compared by identity: a change of the file or the names makes new ones,
  // and the cache keeps these alive, so an address is never reused for them.
  std::shared_ptr<const SettingsView> settings;
  std::shared_ptr<const SensorNames> names;
  bool has_view = false;
  SensorSnapshot readings{};
  CWString error;
  std::optional<SlotExtremes> extremes;  // sensors, with the history on
  std::uint64_t state_changes = 0;       // sensors, Prometheus: StatusTracker::StateChanges()
  bool tested = false;                   // the page's form: the tested flag and the port
  std::uint16_t port = 0;

  bool SameAs(const AnswerInputs& other) const;
};

class AnswerCache {
 public:
  // The body made for the same inputs, or null.
  std::shared_ptr<const std::string> Find(const AnswerInputs& inputs);
  void Keep(AnswerInputs inputs, std::shared_ptr<const std::string> body);

 private:
  std::mutex mutex_;
  AnswerInputs inputs_;
  std::shared_ptr<const std::string> body_;  // null until the first Keep
};
