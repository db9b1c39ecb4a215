// The last answer is given again only for the very same inputs, and the
// state count it is keyed on moves exactly when a reading's state does.
#include "agent/answer_cache.h"

#include <gtest/gtest.h>

#include "agent/reading_status.h"
#include "tests/support/example_snapshot.h"

namespace {

AnswerInputs ExampleInputs() {
  AnswerInputs inputs;
  inputs.settings = std::make_shared<const SettingsView>();
  inputs.has_view = true;
  inputs.readings = testing_support::ExampleSnapshot();
  return inputs;
}

TEST(AnswerCache, GivenAgainOnlyForTheSameInputs) {
  AnswerCache cache;
  EXPECT_EQ(cache.Find(ExampleInputs()), nullptr);
  const AnswerInputs kept = ExampleInputs();
  cache.Keep(kept, std::make_shared<const std::string>("body"));
  AnswerInputs same = kept;
  ASSERT_NE(cache.Find(same), nullptr);
  EXPECT_EQ(*cache.Find(same), "body");

  const std::pair<const char*, void (*)(AnswerInputs&)> changes[] = {
      {"a reading", [](AnswerInputs& in) { in.readings.temps[1] += 1; }},
      {"the settings view",
       [](AnswerInputs& in) { in.settings = std::make_shared<const SettingsView>(); }},
      {"the error", [](AnswerInputs& in) { in.error = L"gone"; }},
      {"a state", [](AnswerInputs& in) { ++in.state_changes; }},
      {"the tested flag", [](AnswerInputs& in) { in.tested = !in.tested; }},
      {"the port", [](AnswerInputs& in) { in.port = 8168; }},
      {"the extremes",
       [](AnswerInputs& in) {
         in.extremes.emplace();
         (*in.extremes)[0].Add(4562);
       }},
  };
  for (const auto& [what, change] : changes) {
    AnswerInputs changed = kept;
    change(changed);
    EXPECT_EQ(cache.Find(changed), nullptr) << what;
  }
}

TEST(StatusTracker, CountsEachStateChangeOnce) {
  StatusTracker tracker;
  LimitsSection yours = ParseLimits({"Temperature1=warning 50, critical 60"});
  SensorSnapshot s = testing_support::ExampleSnapshot();  // 45.62 °C
  std::vector<std::wstring> notes;
  const auto state_after = [&](std::int32_t hundredths) {
    s.temps[0] = hundredths;
    return tracker.Update(s, yours, nullptr, notes);
  };
  EXPECT_EQ(state_after(4562).state_changes, 0u);
  EXPECT_EQ(state_after(6100).state_changes, 1u);  // critical
  EXPECT_EQ(state_after(6100).state_changes, 1u);  // the same readings: the same state
  EXPECT_EQ(state_after(4000).state_changes, 2u);  // ok again, past the hysteresis
  EXPECT_EQ(tracker.StateChanges(), 2u);
}

}  // namespace
