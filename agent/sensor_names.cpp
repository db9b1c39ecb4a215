#include "agent/sensor_names.h"

#include "platform/text.h"

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring out(platform::Utf8OrAnsiToWide(utf8, nullptr, 0), L'\0');
  platform::Utf8OrAnsiToWide(utf8, out.data(), out.size());
  return out;
}

std::wstring Joined(const std::wstring& a, const std::wstring& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + L" " + b;
}

int Entries(const SensorSnapshot& s, int kind) {
  return EntriesToRead(kind == 0 ? s.numTemps : kind == 1 ? s.numFans : s.numVolts);
}

}  // namespace

SensorNames NameSensors(const SensorSnapshot& snapshot, const ReadingLabels& labels,
                        const SourceNames& source) {
  SensorNames names;
  bool source_fits = true;
  for (int kind = 0; kind < 3; ++kind) {
    source_fits =
        source_fits && static_cast<int>(source.kinds[kind].size()) == Entries(snapshot, kind);
  }
  for (int kind = 0; kind < 3; ++kind) {
    const int count = Entries(snapshot, kind);
    names.kinds[kind].resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      SensorName& n = names.kinds[kind][static_cast<std::size_t>(i)];
      if (source_fits) {
        const SourceName& from = source.kinds[kind][static_cast<std::size_t>(i)];
        n.chip = CleanLabel(Wide(from.chip), kMaxSourceNamesBytes);
        n.chip_name = CleanLabel(Wide(from.chip_name), kMaxSourceNamesBytes);
        n.input = CleanLabel(Wide(from.input), kMaxSourceNamesBytes);
        n.label = CleanLabel(Wide(from.label), kMaxSourceNamesBytes);
      }
      const std::wstring& user = labels.text[kind][static_cast<std::size_t>(i)];
      if (!user.empty()) {
        n.name = user;
      } else if (!n.label.empty()) {
        n.name = Joined(n.chip_name, n.label);
      } else if (!n.input.empty()) {
        n.name = Joined(n.chip_name, n.input);
      }
      names.any = names.any || !n.name.empty();
    }
  }
  return names;
}
