// Reads with a deadline: a stalled file is left out once and skipped until
// its read ends; a FIFO is never opened.
#include "monitor/attribute_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/hwmon_reader.h"
#include "tests/monitor/hwmon_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

using std::chrono::milliseconds;

// A read function whose "slow" file blocks until opened. Shared, since a
// helper still blocked may outlive the reader.
struct SlowFiles {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int slow_reads = 0;
};

AttributeReader::ReadFunction Reads(const std::shared_ptr<SlowFiles>& files) {
  return [files](const std::filesystem::path& file) -> std::optional<std::string> {
    if (file != "slow") return file.string() + "-text";
    std::unique_lock<std::mutex> hold(files->mutex);
    ++files->slow_reads;
    files->changed.wait(hold, [&] { return files->open; });
    return std::string("slow-text");
  };
}

TEST(AttributeReader, AStalledFileIsLeftOutUntilItsReadEnds) {
  auto files = std::make_shared<SlowFiles>();
  std::vector<std::string> reports;
  AttributeReader reader(milliseconds(100), Reads(files),
                         [&](const std::string& line) { reports.push_back(line); });
  EXPECT_EQ(reader.Read("a"), "a-text");
  EXPECT_EQ(reader.Read("slow"), std::nullopt);
  EXPECT_EQ(reader.Read("b"), "b-text");  // a new helper takes the next reads
  for (int round = 0; round < 5; ++round) {
    EXPECT_EQ(reader.Read("slow"), std::nullopt);
    EXPECT_EQ(reader.Read("a"), "a-text");
  }
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0], "slow did not answer within 100 ms; left out until it does");
  {
    std::lock_guard<std::mutex> hold(files->mutex);
    EXPECT_EQ(files->slow_reads, 1);  // skipped, never read again while stuck
    files->open = true;
    files->changed.notify_all();
  }
  std::optional<std::string> again;
  for (int i = 0; i < 6000 && !(again = reader.Read("slow")); ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_EQ(again, "slow-text");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1], "slow answers again");
}

TEST(AttributeReader, ARoundGoesOnPastAStalledReadAndSkipsItNextTime) {
  auto files = std::make_shared<SlowFiles>();
  std::vector<std::string> reports;
  AttributeReader reader(milliseconds(100), Reads(files),
                         [&](const std::string& line) { reports.push_back(line); });
  auto round = std::make_shared<std::vector<AttributeReader::Job>>();
  const AttributeReader::ReadFunction read = Reads(files);
  for (const char* name : {"a", "slow", "b"}) {
    round->push_back({name, [read, name] { return read(name); }});
  }
  using Texts = std::vector<std::optional<std::string>>;
  EXPECT_EQ(reader.ReadAll(round), (Texts{"a-text", std::nullopt, "b-text"}));
  EXPECT_EQ(reader.ReadAll(round), (Texts{"a-text", std::nullopt, "b-text"}));
  EXPECT_EQ(reports.size(), 1u);
  std::lock_guard<std::mutex> hold(files->mutex);
  EXPECT_EQ(files->slow_reads, 1);
  files->open = true;
  files->changed.notify_all();
}

#ifndef _WIN32
TEST(AttributeReader, AFifoInputIsLeftOutAndTheOthersAreRead) {
  testing_support::HwmonTree tree;
  const std::filesystem::path chip = tree.AddChip(0, "coretemp");
  tree.Set(chip, "temp1_input", "40000\n");
  tree.Set(chip, "temp3_input", "42000\n");
  ASSERT_EQ(mkfifo((chip / "temp2_input").c_str(), 0644), 0);
  EXPECT_EQ(ReadAttributeFile(chip / "temp2_input"), std::nullopt);  // returns: never opened
  std::vector<std::string> reports;
  AttributeReader reader(milliseconds(100), ReadAttributeFile,
                         [&](const std::string& line) { reports.push_back(line); });
  HwmonReadings readings =
      ReadHwmon(tree.root(), [&](const std::filesystem::path& file) { return reader.Read(file); });
  ASSERT_EQ(readings.temps.size(), 2u);
  EXPECT_EQ(readings.temps[0].value, 4000);
  EXPECT_EQ(readings.temps[1].input, "temp3");
}
#endif

}  // namespace
