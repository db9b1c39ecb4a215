#pragma once
// Pieces shared by the renderers.
#include <cstdint>
#include <string>

#include "agent/reading_status.h"
#include "agent/sensor_names.h"
#include "foundation/wstring.h"
#include "sensors/sensor_snapshot.h"

namespace render {

enum class Kind { Temperature, Fan, Voltage };

// A stored reading scaled for output: temperatures and voltages divided by
// 100; fan speeds too, but only in JSON.
double Scaled(const SensorSnapshot& s, Kind kind, int index, bool json);
int Count(const SensorSnapshot& s, Kind kind);

// One formatted piece: composite format with the value (and the 1-based entry
// number as the first argument when `number` > 0), every ',' turned into '.',
// converted to 8-bit text and appended.
void AppendPiece(std::string& body, const wchar_t* format, double value, int number = 0);
void AppendWide(std::string& body, const CWString& text);

// The names of reading `index` of a kind, or null when it has no name.
const SensorName* NameOf(const SensorNames* names, Kind kind, int index);
// The shortest text that reads back as the same double; always '.'.
void AppendShortestNumber(std::string& body, double value);
// "temperature", "fan", "voltage".
const char* KindWord(Kind kind);
// The unit of a kind's values in the JSON answers: "celsius", "rpm", "volts".
const char* UnitWord(Kind kind);
// A stored value (hundredths of a degree or volt; RPM) in natural units, as
// the shortest number that reads back the same.
void AppendStoredValue(std::string& body, Kind kind, std::int32_t stored);

// A reading's status in the JSON answers: ,"limits":{...},"state":"...",
// and ,"alarm":... where its driver has a flag.
void AppendStatus(std::string& body, const ReadingStatus& status);

}  // namespace render
