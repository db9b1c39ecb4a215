#pragma once
// What the answers take from the settings file: the [Settings] keys a
// request needs, the [Labels] lines and the [Limits]. Read again only when
// the file's stamp changes, so that a request costs one look at the file,
// and a change, by anyone, shows at the next request all the same.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "agent/limits_section.h"
#include "agent/settings_section.h"
#include "platform/file_stamp.h"

struct SettingsView {
  StoredSettings stored;
  std::vector<std::string> label_lines;
  LimitsSection limits;
};

SettingsView ReadSettingsViewFrom(const std::wstring& file);

class SettingsViewCache {
 public:
  // `settled_ms`: how old a file's last change must be for its view to be
  // kept (platform/file_stamp.h); tests make it 0.
  explicit SettingsViewCache(int settled_ms = platform::kSettledMs) : settled_ms_(settled_ms) {}
  // The file's current view; thread-safe.
  std::shared_ptr<const SettingsView> Current(const std::wstring& file);

 private:
  const int settled_ms_;
  std::mutex mutex_;
  std::wstring file_;
  platform::FileStamp stamp_;
  std::shared_ptr<const SettingsView> view_;  // null until a settled stamp
};
