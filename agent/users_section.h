#pragma once
// The [Users] section of the settings file, read once at start: one
// "name=bcrypt hash" line per user. Without users, everyone may read, as
// ever.
#include <string>

#include "auth/basic_auth.h"

inline constexpr const wchar_t* kUsersSection = L"Users";

// The users, and an error text for each line that cannot be used.
UsersLoad ReadUsersSectionFrom(const std::wstring& settings_file);
