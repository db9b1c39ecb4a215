#include "foundation/cmdline.h"

#include <cwchar>

#include "platform/text.h"

namespace {

constexpr const wchar_t* kKeyStarters = L"-/";
constexpr const wchar_t* kKeyEnders = L" :=";
constexpr wchar_t kQuote = L'"';

bool IsKeyStarter(wchar_t ch) { return ch != 0 && wcschr(kKeyStarters, ch) != nullptr; }

}  // namespace

bool CCmdLineParser::Less::operator()(const CWString& a, const CWString& b) const {
  return wcscmp(a.GetString(), b.GetString()) < 0;
}

CCmdLineParser::CCmdLineParser(const wchar_t* command_line, bool case_sensitive)
    : case_sensitive_(case_sensitive) {
  Parse(command_line);
}

CWString CCmdLineParser::Normalised(const wchar_t* key, int length) const {
  CWString result(key, length);
  if (!case_sensitive_ && length > 0) {
    platform::LowerCase(result.GetBuffer(length), static_cast<std::size_t>(length));
    result.ReleaseBuffer(length);
  }
  return result;
}

void CCmdLineParser::Insert(const wchar_t* key, int key_length, const wchar_t* value,
                            int value_length) {
  if (key_length == 0) return;
  keys_.emplace(Normalised(key, key_length), CWString(value, value_length));
}

void CCmdLineParser::Parse(const wchar_t* command_line) {
  if (command_line == nullptr) return;
  command_line_ = command_line;
  keys_.clear();
  const wchar_t* text = command_line_.GetString();
  const wchar_t* p = text;
  while (*p != 0) {
    const wchar_t* starter = wcspbrk(p, kKeyStarters);
    if (starter == nullptr) return;
    const wchar_t* key = starter + 1;
    if (*key == 0) return;
    const wchar_t* ender = wcspbrk(key, kKeyEnders);
    if (ender == nullptr) {
      Insert(key, static_cast<int>(wcslen(key)), L"", 0);
      return;
    }
    int key_length = static_cast<int>(ender - key);
    if (*ender == L' ') {
      const wchar_t* next = ender + 1;
      while (*next != 0 && platform::IsSpace(*next)) ++next;
      if (*next == 0 || IsKeyStarter(*next)) {
        Insert(key, key_length, L"", 0);
        p = ender + 1;
        continue;
      }
    }
    const wchar_t* value = ender + 1;
    const wchar_t* end;
    if (*value == kQuote) {
      ++value;
      end = wcschr(value, kQuote);
    } else {
      end = wcschr(value, L' ');
    }
    if (end == nullptr) {
      Insert(key, key_length, value, static_cast<int>(wcslen(value)));
      return;
    }
    Insert(key, key_length, value, static_cast<int>(end - value));
    p = end + 1;
  }
}

bool CCmdLineParser::HasKey(const wchar_t* key) const {
  return key != nullptr && keys_.count(Normalised(key, static_cast<int>(wcslen(key)))) > 0;
}

bool CCmdLineParser::HasValue(const wchar_t* key) const {
  const wchar_t* value = GetValue(key);
  return value != nullptr && *value != 0;
}

const wchar_t* CCmdLineParser::GetValue(const wchar_t* key) const {
  if (key == nullptr) return nullptr;
  auto it = keys_.find(Normalised(key, static_cast<int>(wcslen(key))));
  return it == keys_.end() ? nullptr : it->second.GetString();
}
