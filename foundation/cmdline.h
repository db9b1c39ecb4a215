#pragma once
// CCmdLineParser: the command line as a map of switches ("-key", "/key") to
// optional values ("-key value", "-key:value", "-key=value", quoted values).
// Keys are stored and looked up in lower case (the system's own mapping, so
// letters beyond ASCII too) unless the parser is case-sensitive. A repeated
// key keeps its first value. Used by one thread at a time.
#include <map>

#include "foundation/wstring.h"

class CCmdLineParser {
 public:
  explicit CCmdLineParser(const wchar_t* command_line = nullptr, bool case_sensitive = false);
  virtual ~CCmdLineParser() = default;

  // Replaces the stored text and the map; a null text does nothing.
  void Parse(const wchar_t* command_line);

  bool HasKey(const wchar_t* key) const;
  // True when the key is present with a non-empty value.
  bool HasValue(const wchar_t* key) const;
  // The key's value, or null when the key is absent.
  const wchar_t* GetValue(const wchar_t* key) const;

 private:
  struct Less {
    bool operator()(const CWString& a, const CWString& b) const;
  };
  CWString Normalised(const wchar_t* key, int length) const;
  void Insert(const wchar_t* key, int key_length, const wchar_t* value, int value_length);

  CWString command_line_;
  std::map<CWString, CWString, Less> keys_;
  bool case_sensitive_;
};
