#pragma once
// Files named after the executable, in its folder: "KelvaneHTTPAgent.exe"
// gives "KelvaneHTTPAgent.ini" and "KelvaneHTTPAgent_Log.txt". Only the file
// name is looked at: a dot in a folder name is never cut, and a name without
// a dot (Linux executables) gets the suffix appended.
#include <string>

std::wstring SiblingFileName(const std::wstring& exe_path, const wchar_t* replacement);

// The settings file and the log file of the running executable.
std::wstring SettingsFilePath();
std::wstring LogFilePath();
