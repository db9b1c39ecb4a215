#include "agent/users_section.h"

#include "foundation/conversions.h"
#include "platform/profile.h"

UsersLoad ReadUsersSectionFrom(const std::wstring& settings_file) {
  // The file's bytes are in the ANSI code page (UTF-8 on Linux); names and
  // passwords arrive as UTF-8.
  std::vector<std::string> lines = platform::ReadIniSectionLines(settings_file, kUsersSection);
  for (std::string& line : lines) line = WideToUtf8(AnsiToWide(line).View());
  return ParseUserLines(lines);
}
