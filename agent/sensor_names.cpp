#include "agent/sensor_names.h"

#include "agent/renderers.h"
#include "foundation/conversions.h"
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

NameText Text(std::wstring wide) {
  NameText text;
  text.wide = std::move(wide);
  if (text.wide.empty()) return text;
  const std::string utf8 = WideToUtf8(text.wide);
  text.json = EscapeJson(utf8);
  text.label_value = EscapeLabelValue(utf8);
  return text;
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
        n.chip = Text(CleanLabel(Wide(from.chip), kMaxSourceNamesBytes));
        n.chip_name = Text(CleanLabel(Wide(from.chip_name), kMaxSourceNamesBytes));
        n.input = Text(CleanLabel(Wide(from.input), kMaxSourceNamesBytes));
        n.label = Text(CleanLabel(Wide(from.label), kMaxSourceNamesBytes));
      }
      const std::wstring& user = labels.text[kind][static_cast<std::size_t>(i)];
      if (!user.empty()) {
        n.name = Text(user);
      } else if (!n.label.empty()) {
        n.name = Text(Joined(n.chip_name.wide, n.label.wide));
      } else if (!n.input.empty()) {
        n.name = Text(Joined(n.chip_name.wide, n.input.wide));
      }
      // The page's narrow text (a character its code page lacks becomes '?').
      if (!n.name.empty()) n.page = " (" + EscapeMarkup(WideToAnsi(n.name.wide)) + ")";
      names.any = names.any || !n.name.empty();
    }
  }
  return names;
}
