// The Prometheus exposition: exact bytes for readings and for error texts.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "agent/renderers.h"
#include "tests/support/example_snapshot.h"

namespace {

SensorSnapshot Example() { return testing_support::ExampleSnapshot(); }

const char* kUpHead =
    "# HELP kelvane_up 1 when the monitor's readings were read, else 0.\n"
    "# TYPE kelvane_up gauge\n";
const char* kTemperatureHead =
    "# HELP kelvane_temperature_celsius Temperature, degrees Celsius.\n"
    "# TYPE kelvane_temperature_celsius gauge\n";
const char* kFanHead =
    "# HELP kelvane_fan_rpm Fan speed, revolutions per minute.\n"
    "# TYPE kelvane_fan_rpm gauge\n";
const char* kVoltageHead =
    "# HELP kelvane_voltage_volts Voltage, volts.\n"
    "# TYPE kelvane_voltage_volts gauge\n";
const char* kErrorHead =
    "# HELP kelvane_error_info Why there are no readings.\n"
    "# TYPE kelvane_error_info gauge\n";

std::string Exposition(const SensorSnapshot* s, const CWString& error = CWString()) {
  std::string body;
  RenderPrometheus(body, s, error);
  return body;
}

TEST(Prometheus, ExampleSnapshotAtFullPrecision) {
  SensorSnapshot s = Example();
  EXPECT_EQ(Exposition(&s), std::string(kUpHead) + "kelvane_up 1\n" + kTemperatureHead +
                                "kelvane_temperature_celsius{sensor=\"1\"} 45.62\n"
                                "kelvane_temperature_celsius{sensor=\"2\"} 38.1\n" +
                                kFanHead +
                                "kelvane_fan_rpm{sensor=\"1\"} 1234\n"
                                "kelvane_fan_rpm{sensor=\"2\"} 0\n" +
                                kVoltageHead +
                                "kelvane_voltage_volts{sensor=\"1\"} 1.2\n"
                                "kelvane_voltage_volts{sensor=\"2\"} 3.3\n");
}

TEST(Prometheus, DecimalPointWhateverTheLocale) {
  SensorSnapshot s = Example();
  const char* saved = std::setlocale(LC_ALL, nullptr);
  std::string saved_name = saved ? saved : "C";
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"};
  bool chosen = false;
  for (const char* name : names) chosen = chosen || std::setlocale(LC_ALL, name) != nullptr;
  if (!chosen) GTEST_SKIP() << "no comma-decimal locale";
  std::string body = Exposition(&s);
  std::setlocale(LC_ALL, saved_name.c_str());
  EXPECT_NE(body.find("{sensor=\"1\"} 45.62\n"), std::string::npos);
}

TEST(Prometheus, CountsOfZeroAndFortyAndNegativeValues) {
  SensorSnapshot s = Example();
  s.numTemps = 40;
  for (int i = 0; i < 32; ++i) s.temps[i] = -5 * i;
  s.numFans = 0;
  s.volts[0] = -250;
  std::string body = Exposition(&s);
  EXPECT_NE(body.find("kelvane_temperature_celsius{sensor=\"32\"} -1.55\n"), std::string::npos);
  EXPECT_EQ(body.find("{sensor=\"33\"}"), std::string::npos);
  EXPECT_NE(body.find("kelvane_temperature_celsius{sensor=\"1\"} 0\n"), std::string::npos);
  EXPECT_NE(body.find("kelvane_temperature_celsius{sensor=\"2\"} -0.05\n"), std::string::npos);
  EXPECT_EQ(body.find("kelvane_fan_rpm"), std::string::npos);  // no family without readings
  EXPECT_NE(body.find("kelvane_voltage_volts{sensor=\"1\"} -2.5\n"), std::string::npos);
}

TEST(Prometheus, ErrorTextsBecomeOneEscapedLabelValue) {
  struct Case {
    const wchar_t* error;
    const char* label;
  } cases[] = {
      {L"Indicate Kelvane has been tested on this server and then refresh the page",
       "Indicate Kelvane has been tested on this server and then refresh the page"},
      {L"ERROR: C:\\Tools\\kelvane.exe \"x\" not found.",
       "ERROR: C:\\\\Tools\\\\kelvane.exe \\\"x\\\" not found."},
      {L"ERROR: Failed to connect to Kelvane shared memory.  No such file.\r\n",
       "ERROR: Failed to connect to Kelvane shared memory.  No such file.\\n"},
      {L"a\rb\nc\r\n\r\nd", "a\\nb\\nc\\n\\nd"},
      {L"ERROR: /opt/Temp\u00e9rature/kelvane \u2013 not found.",
       "ERROR: /opt/Temp\xc3\xa9rature/kelvane \xe2\x80\x93 not found."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Exposition(nullptr, CWString(c.error)),
              std::string(kUpHead) + "kelvane_up 0\n" + kErrorHead + "kelvane_error_info{error=\"" +
                  c.label + "\"} 1\n");
  }
}

}  // namespace
