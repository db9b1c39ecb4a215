#pragma once
// KelvaneHTTPAgentHTTPServer: the agent's HTTP server. Every request, GET or
// POST, whatever its path, is answered "200 OK" with the current readings in
// the format asked for ("format": simple, xml, json; the HTML page
// otherwise), or with an error text in that format. A non-empty "port"
// parameter (with "canlaunch") is a settings action, stored before the answer
// is built. Requests look at the snapshot side by side, each on its own
// handles; the page and the sensors and Prometheus answers are made again
// only when what they show has changed.
//
// Optional keys of the settings file, read per request: "SettingsFrom"
// limits who may carry out a settings action (refused ones get 403 and change
// nothing); "AllowOrigin" adds an Access-Control-Allow-Origin line to every
// answer. Without them every answer is as before, byte for byte.
#include <memory>
#include <mutex>
#include <string>

#include "agent/answer_cache.h"
#include "agent/reading_status.h"
#include "agent/settings_view.h"
#include "auth/basic_auth.h"
#include "foundation/counting_gate.h"
#include "history/history_sampler.h"
#include "http/http_server.h"

struct SensorNames;

class KelvaneHTTPAgentHTTPServer : public HTTPServer {
 public:
  bool HandleRequest(Request& request, const std::wstring& path) override;
  // The AllowOrigin line of the agent's settings file, for the server's own
  // answers (400, 404, 500, ...) too.
  std::string OwnAnswerHeaderLines() override;

  // The monitor's executable beside the agent, worked out once.
  const std::wstring& MonitorPath();

  // Starts sampling the readings once a second, keeping `seconds` of them
  // for ?format=history and the dashboard; 0 keeps none and starts no
  // thread. Call once, before Start (requests read the sampler unlocked).
  // `fill_for_tests`: the first valid sample fills the whole ring.
  void StartHistory(std::size_t seconds, bool fill_for_tests = false);
  void StopHistory();
  // Every request must then carry "Authorization: Basic" with one of these
  // users and their password, or it is answered 401. Call before Start.
  void RequireUsers(std::shared_ptr<BasicAuthenticator> users) { users_ = std::move(users); }

  // The sampler, or null while the history is off.
  const HistorySampler* History() const { return history_.get(); }

 protected:
  // Where the agent's executable and its settings file are; tests override.
  virtual std::wstring AgentExecutablePath() const;
  virtual std::wstring SettingsFile() const;

 private:
  // Paths that never change while the agent runs, worked out once.
  void ComputePaths();
  // Answers a request that [Users] does not let through (401, or 429 / 503
  // with Retry-After); false when it may go on.
  bool RefusedAccess(Request& request, const std::string& allow_origin);
  // The sampler's look at the block: never starts the monitor.
  void ReadForHistory(SampleRead& read);
  void AnswerHistory(Request& request, bool tested);
  // The page: made again only when `inputs` differ from the last page's.
  void AnswerPage(Request& request, AnswerInputs inputs);
  // ?format=sensors and Prometheus, whose readings carry their states: made
  // again only when `inputs` differ from the last answer's of its format.
  void AnswerWithStatuses(Request& request, OutputFormat format, AnswerInputs inputs,
                          const std::string& names_text);
  // The limits and states of `readings`, from [Limits] over the driver's
  // (published with the names); what is new to
  // report about them goes to the event log and the trace, once.
  ReadingStatuses StatusesOf(const SensorSnapshot& readings, const std::string& names_text,
                             const LimitsSection& yours);
  // The driver's limits in the monitor's names text, parsed again only
  // when the text changes.
  std::shared_ptr<const DriverLimits> DriverLimitsOf(const std::string& names_text);
  std::unique_ptr<HistorySampler> history_;
  StatusTracker status_tracker_;
  AnswerCache page_answer_, sensors_answer_, prometheus_answer_;
  SettingsViewCache settings_view_;
  std::mutex driver_limits_mutex_;
  std::string driver_limits_text_;
  std::shared_ptr<const DriverLimits> driver_limits_;
  static constexpr unsigned kHistoryAnswersAtOnce = 4;
  CountingGate history_gate_{kHistoryAnswersAtOnce};
  std::shared_ptr<BasicAuthenticator> users_;
  // The names of the last valid sample's readings, made by the sampler, so
  // that a history answer reads no file.
  std::mutex history_names_mutex_;
  std::shared_ptr<const SensorNames> history_names_;
  std::shared_ptr<const ReadingStatuses> history_statuses_;  // null without limits
  std::once_flag paths_once_;
  std::wstring monitor_path_, exe_path_, settings_path_;
};

// "Access-Control-Allow-Origin: VALUE\r\n" for a non-empty value (line
// breaks and other control characters dropped), else empty text.
std::string AllowOriginLines(const std::wstring& value);

// The new port of a settings action: the decimal value (clamped to 32 bits),
// its low 16 bits, 0 made 8167.
std::uint16_t PortFromText(const std::string& text);
// Whether a settings action's port text is one to apply: its decimal value
// (as PortFromText reads it) between 0 (the default) and 65535. Any other
// would be stored as a different number, so the action changes nothing.
bool PortTextInRange(const std::string& text);
