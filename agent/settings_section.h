#pragma once
// The agent's two settings in the INI file beside the executable, section
// "Settings": "Port" (default 8167; only the low 16 bits count, 0 means the
// default) and "CanLaunch" (true only for 1). Every call reads the current
// file, so a change made by anyone is seen by the next call.
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr std::uint16_t kDefaultPort = 8167;
inline constexpr const wchar_t* kSettingsSection = L"Settings";

std::uint16_t ReadPort();
bool ReadCanLaunch();

// What a request needs, with one read of the file: both settings, and the
// optional access keys (empty when missing): "SettingsFrom" (who may change
// the settings), "AllowOrigin" (the Access-Control-Allow-Origin value) and
// "AllowedHosts" (more names by which the agent's own page is reached).
struct StoredSettings {
  std::uint16_t port;
  bool can_launch;
  std::wstring settings_from;
  std::wstring allow_origin;
  std::wstring allowed_hosts;
};
StoredSettings ReadSettingsFrom(const std::wstring& file);

// The optional "Bind" key: the address to listen on, empty when missing.
std::wstring ReadBindFrom(const std::wstring& file);
std::wstring ReadBind();

// The same reads from a given settings file.
std::uint16_t ReadPortFrom(const std::wstring& file);
bool ReadCanLaunchFrom(const std::wstring& file);

// The optional "History" key: how many seconds of readings the agent keeps
// for its dashboard, one sample a second. Missing, empty or not a whole
// number: the default; above the maximum: the maximum; 0: none kept (and no
// sampling at all).
inline constexpr std::int32_t kDefaultHistorySeconds = 3600;
inline constexpr std::int32_t kMaxHistorySeconds = 86400;
std::int32_t HistorySecondsFromText(const std::wstring& text);
std::int32_t ReadHistorySecondsFrom(const std::wstring& file);

// The optional "MaxConnections" key: the cap on open connections, read at
// start. Missing, 0 or not a whole number: 0, which leaves the server's
// default (the open-file limit less a reserve).
std::size_t ReadMaxConnectionsFrom(const std::wstring& file);
