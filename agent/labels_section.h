#pragma once
// The [Labels] section of the settings file: names the user gives readings,
// keyed like the page's rows without the space ("Temperature1=CPU package",
// "Fan2=Rear fan", "Voltage3=+12V"; letter case ignored, 1 to 32). Read again
// whenever the file changes (agent/settings_view.h), so a change shows at
// the next request.
//
// A label is at most 64 characters (longer ones are cut); control characters
// are dropped; an unknown key, an empty value and a comment line are
// ignored; of two lines for one key the first counts. The bytes are UTF-8
// where they are valid UTF-8, else the ANSI code page (Windows).
#include <array>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kMaxLabelChars = 64;
inline constexpr int kLabelKinds = 3;      // temperature, fan, voltage
inline constexpr int kLabelsPerKind = 32;  // as many as the block holds
inline constexpr const wchar_t* kLabelsSection = L"Labels";

struct ReadingLabels {
  // By kind (0 temperature, 1 fan, 2 voltage), then position from 0; empty
  // text for a reading without a label.
  std::array<std::array<std::wstring, kLabelsPerKind>, kLabelKinds> text;
  bool empty = true;
};

// "Temperature12" and the like, in any letter case, as [Labels] and
// [Limits] key their lines: the kind (0 temperature, 1 fan, 2 voltage) and
// the position from 0, or false.
bool ParseReadingKey(std::string_view key, int& kind, int& index);

// The section's key lines, as the file's bytes.
std::vector<std::string> ReadLabelLinesFrom(const std::wstring& settings_file);
ReadingLabels ParseLabels(const std::vector<std::string>& lines);
ReadingLabels ReadLabelsFrom(const std::wstring& settings_file);

// Drops control characters and cuts to `max_chars` characters (a UTF-16
// surrogate pair counts as one and is never split).
std::wstring CleanLabel(std::wstring_view text, std::size_t max_chars = kMaxLabelChars);
