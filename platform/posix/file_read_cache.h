#pragma once
// The Linux profile reader's file reads. A file read once is not read again
// while it has not changed: its stamp (platform/file_stamp.h) is the same as
// at that read, and was settled then.
#include <string>

#include "platform/file_stamp.h"

namespace platform {

// Like ReadWholeFile; the text may be the one of an earlier read of an
// unchanged file.
bool ReadUnchangedOrWholeFile(const std::wstring& path, std::string& content);

struct FileReadCacheSettings {
  int settled_ms = kSettledMs;
};
FileReadCacheSettings& TheFileReadCacheSettings();

}  // namespace platform
