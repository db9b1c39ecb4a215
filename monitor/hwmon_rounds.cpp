#include "monitor/hwmon_rounds.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace {

namespace fs = std::filesystem;

// Attribute files are at most a page; a value is a few bytes.
constexpr std::size_t kMaxAttributeBytes = 4096;

AttributeReader::Job KeptOpen(const fs::path& file) {
  auto kept = std::make_shared<platform::AttributeFile>();
  if (!kept->Open(file.string())) kept.reset();
  return {file.string(), [kept]() -> std::optional<std::string> {
            if (kept == nullptr) return std::nullopt;
            return kept->ReadFromStart(kMaxAttributeBytes);
          }};
}

}  // namespace

HwmonRounds::HwmonRounds(std::filesystem::path root, std::shared_ptr<AttributeReader> reader)
    : root_(std::move(root)), reader_(std::move(reader)) {}

HwmonRounds::Watched HwmonRounds::Look() const {
  Watched watched;
  std::error_code error;
  for (fs::directory_iterator it(root_, error), end; !error && it != end; it.increment(error)) {
    watched.entries.push_back(it->path().filename().string());
  }
  std::sort(watched.entries.begin(), watched.entries.end());
  for (const std::string& entry : watched.entries) {
    for (const fs::path& folder : {root_ / entry, root_ / entry / "device"}) {
      watched.folders.emplace_back(folder.string(), platform::StampOfFolder(folder.string()));
    }
  }
  return watched;
}

const HwmonReadings& HwmonRounds::ReadWhole() {
  ++generation_;
  watched_ = Look();
  AttributeRead read;
  if (reader_ != nullptr) read = [this](const fs::path& file) { return reader_->Read(file); };
  last_ = ReadHwmon(root_, read);
  inputs_.clear();
  auto values = std::make_shared<std::vector<AttributeReader::Job>>();
  auto both = std::make_shared<std::vector<AttributeReader::Job>>();
  for (std::vector<HwmonInput>* list : {&last_.temps, &last_.fans, &last_.volts}) {
    for (HwmonInput& input : *list) {
      inputs_.push_back(&input);
      values->push_back(KeptOpen(input.folder / (input.input + "_input")));
    }
  }
  *both = *values;
  for (const HwmonInput* input : inputs_) {
    for (const auto& [attribute, value] : input->limits) {
      both->push_back(KeptOpen(input->folder / (input->input + "_" + attribute)));
    }
  }
  values_ = std::move(values);
  values_and_limits_ = std::move(both);
  read_whole_ = false;
  return last_;
}

const HwmonReadings& HwmonRounds::FromRound(const std::vector<std::optional<std::string>>& texts,
                                            bool with_limits) {
  if (with_limits) ++generation_;
  std::size_t next_limit = inputs_.size();
  std::vector<bool> readable(inputs_.size());
  bool left_out = false;
  for (std::size_t i = 0; i < inputs_.size(); ++i) {
    HwmonInput& input = *inputs_[i];
    std::optional<std::int32_t> value;
    if (texts[i]) value = ValueFromText(input.kind, *texts[i]);
    readable[i] = value.has_value();
    if (value) {
      input.value = *value;
    } else if (reader_ == nullptr || !reader_->Stalled((*values_)[i].name)) {
      read_whole_ = true;  // gone or changed: the next refresh looks again
    } else {
      left_out = true;  // stuck: skipped until its read ends, nothing to look at again
    }
    if (!with_limits) continue;
    for (auto& [attribute, limit] : input.limits) {
      const std::optional<std::string>& text = texts[next_limit++];
      if (auto read = text ? LimitFromText(input.kind, attribute, *text) : std::nullopt) {
        limit = *read;
      }
    }
  }
  if (!read_whole_ && !left_out) return last_;
  // An input whose value could not be read is left out of this refresh.
  ++generation_;
  partial_ = {};
  std::size_t i = 0;
  for (auto [from, to] :
       {std::pair{&last_.temps, &partial_.temps}, std::pair{&last_.fans, &partial_.fans},
        std::pair{&last_.volts, &partial_.volts}}) {
    for (const HwmonInput& input : *from) {
      if (readable[i++]) to->push_back(input);
    }
  }
  return partial_;
}

const HwmonReadings& HwmonRounds::Next() {
  const bool with_limits = ++round_ % kLimitsEveryRounds == 0;
  if (read_whole_ || !(Look() == watched_)) return ReadWhole();
  const AttributeReader::Jobs& jobs = with_limits ? values_and_limits_ : values_;
  std::vector<std::optional<std::string>> texts;
  if (reader_ != nullptr) {
    texts = reader_->ReadAll(jobs);
  } else {
    for (const AttributeReader::Job& job : *jobs) texts.push_back(job.read());
  }
  return FromRound(texts, with_limits);
}
