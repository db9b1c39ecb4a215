#pragma once
// The Linux profile reader's file reads. A file read once is not read again
// while it has not changed: its stamp (device, inode, size, modification and
// change times, from one stat) is the same as at that read. A change always
// gives the file a new change time, except a second change within one tick
// of the file system's clock; so a text is reused only when the file's last
// change was already `settled_ms` old when it was read, and any later change
// then has a change time of its own.
#include <string>

namespace platform {

// Like ReadWholeFile; the text may be the one of an earlier read of an
// unchanged file.
bool ReadUnchangedOrWholeFile(const std::wstring& path, std::string& content);

struct FileReadCacheSettings {
  int settled_ms = 3000;  // covers file systems whose clock ticks every 2 s
};
FileReadCacheSettings& TheFileReadCacheSettings();

}  // namespace platform
