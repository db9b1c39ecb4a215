#pragma once
// One refresh of the kernel's sensors after another, at the cost of one read
// per input. What a refresh reads is worked out by a full read of the tree
// (ReadHwmon: the chips, inputs, names, labels and limits), with each
// input's value file and limit files then kept open. A refresh reads only
// the values, and every tenth the limits too, all in one round of the
// attribute reader. The tree is read whole again when it changes: a chip
// comes or goes (the root's entries), files are added, removed or replaced
// in a chip's folders (their stamps), or a value cannot be read.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "monitor/attribute_reader.h"
#include "monitor/hwmon_reader.h"
#include "platform/attribute_file.h"

class HwmonRounds {
 public:
  // `reader` gives every read its deadline; null reads directly (tests).
  HwmonRounds(std::filesystem::path root, std::shared_ptr<AttributeReader> reader);

  // The readings of one refresh, valid until the next call.
  const HwmonReadings& Next();
  // Changes whenever the inputs or anything but their values may have
  // changed (a full read, a read of the limits, an input left out): what is
  // made from the names and limits alone is made again only then.
  unsigned Generation() const { return generation_; }

  // Refreshes between two reads of the drivers' limits: they change only when
  // someone sets them.
  static constexpr int kLimitsEveryRounds = 10;

 private:
  struct Watched {
    std::vector<std::string> entries;  // the root's, in order
    std::vector<std::pair<std::string, platform::FolderStamp>> folders;
    bool operator==(const Watched&) const = default;
  };
  Watched Look() const;
  const HwmonReadings& ReadWhole();
  const HwmonReadings& FromRound(const std::vector<std::optional<std::string>>& texts,
                                 bool with_limits);

  std::filesystem::path root_;
  std::shared_ptr<AttributeReader> reader_;
  Watched watched_;
  HwmonReadings last_;               // the full read's inputs, with the latest values and limits
  HwmonReadings partial_;            // a refresh that left some of them out
  std::vector<HwmonInput*> inputs_;  // into last_, in job order
  AttributeReader::Jobs values_, values_and_limits_;
  bool read_whole_ = true;  // at the next refresh
  int round_ = 0;
  unsigned generation_ = 0;
};
