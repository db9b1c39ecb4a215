#include "agent/settings_view.h"

#include "agent/labels_section.h"

SettingsView ReadSettingsViewFrom(const std::wstring& file) {
  return {ReadSettingsFrom(file), ReadLabelLinesFrom(file), ReadLimitsFrom(file)};
}

std::shared_ptr<const SettingsView> SettingsViewCache::Current(const std::wstring& file) {
  // The stamp is taken before the read: a change made in between gives the
  // next look a stamp of its own, so the newer text is never kept as older.
  const platform::FileStamp stamp = platform::StampOfFile(file, settled_ms_);
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (view_ != nullptr && file_ == file && stamp_ == stamp && stamp.settled) return view_;
  }
  auto view = std::make_shared<const SettingsView>(ReadSettingsViewFrom(file));
  std::lock_guard<std::mutex> hold(mutex_);
  file_ = file;
  stamp_ = stamp;
  view_ = stamp.settled ? view : nullptr;
  return view;
}
