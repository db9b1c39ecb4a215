#include "foundation/format.h"

#include <cwchar>
#include <memory>
#include <new>

namespace {

constexpr std::int64_t kMaxIndex = 0x7FFFFFFF;

// Output of one FormatToBuffer call: counts in measuring mode, writes while
// there is room in writing mode.
class Output {
 public:
  Output(wchar_t* out, int capacity) : out_(out), capacity_(capacity) {}

  bool Measuring() const { return out_ == nullptr; }
  bool Full() const { return !Measuring() && count_ >= capacity_; }
  int Count() const { return count_; }

  void Put(wchar_t ch) {
    if (Measuring() || count_ < capacity_) {
      if (!Measuring()) out_[count_] = ch;
      ++count_;
    }
  }
  void PutIndex(std::int64_t index) {
    wchar_t digits[24];
    int n = 0;
    do digits[n++] = static_cast<wchar_t>(L'0' + index % 10);
    while ((index /= 10) != 0);
    while (n > 0) Put(digits[--n]);
  }
  // Renders one argument at the current position; false when it fails.
  bool PutArg(const FormatArg& arg, const wchar_t* spec) {
    int n = Measuring() ? RenderArg(arg, nullptr, 0, spec)
                        : RenderArg(arg, out_ + count_, capacity_ - count_, spec);
    if (n < 0) return false;
    count_ += n;
    return true;
  }
  // Ends the text with NUL; a full buffer loses its last character to it.
  int Terminate() {
    if (!Measuring() && capacity_ > 0) out_[count_ < capacity_ ? count_ : capacity_ - 1] = L'\0';
    return count_;
  }

 private:
  wchar_t* out_;
  int capacity_;
  int count_ = 0;
};

enum class State { Text, Open, Spec };

}  // namespace

int FormatToBuffer(const wchar_t* format, wchar_t* out, int capacity, const FormatArgList& args) {
  Output output(out, capacity);
  if (format == nullptr) return output.Terminate();
  State state = State::Text;
  std::int64_t index = -1;  // -1: no digits read
  int implicit = 0;
  wchar_t spec[kFormatMaxSpecChars + 2] = L"%";
  int spec_length = 0;

  for (const wchar_t* p = format; *p != 0; ++p) {
    if (output.Full()) return output.Terminate();
    const wchar_t ch = *p;
    if (state == State::Text) {
      if (ch == L'{') {
        state = State::Open, index = -1, spec_length = 0;
      } else {
        output.Put(ch);
      }
    } else if (state == State::Open && ch == L'{' && index < 0) {
      output.Put(L'{'), state = State::Text;  // "{{" is one "{"
    } else if (state == State::Open && ch >= L'0' && ch <= L'9') {
      index = (index < 0 ? 0 : index) * 10 + (ch - L'0');
      if (index > kMaxIndex) index = kMaxIndex;  // surely past the last argument
    } else if (state == State::Open && ch == L':') {
      state = State::Spec;
    } else if (state == State::Spec && ch != L'}') {
      if (spec_length == kFormatMaxSpecChars) return -1;  // no real conversion is this long
      spec[1 + spec_length++] = ch;
    } else if (ch == L'}') {
      std::int64_t chosen = index >= 0 ? index : implicit;
      if (chosen >= args.size()) {
        output.Put(L'@'), output.Put(L'@'), output.Put(L'@');
        return output.Terminate();
      }
      spec[1 + spec_length] = 0;
      if (!output.PutArg(args[static_cast<int>(chosen)], spec_length > 0 ? spec : nullptr)) {
        return -1;
      }
      ++implicit;
      state = State::Text;
    } else {
      // A malformed placeholder comes out as written. A "{" after digits opens
      // a new placeholder instead of being copied.
      output.Put(L'{');
      if (index >= 0) output.PutIndex(index);
      state = State::Text;
      if (ch == L'{') {
        state = State::Open, index = -1, spec_length = 0;
      } else {
        output.Put(ch);
      }
    }
  }
  // An unfinished placeholder at the end produces nothing.
  return output.Terminate();
}

int Format(CWString& target, const wchar_t* format, const FormatArgList& args) {
  if (format == nullptr) format = L"";
  std::size_t format_length = wcslen(format);
  std::size_t total = format_length;
  if (format_length < kFormatScratchChars) {
    for (int i = 0; i < args.size() && total <= kFormatScratchChars; ++i) {
      total += static_cast<std::size_t>(EstimateArgLength(args[i]));
    }
  }
  wchar_t scratch[kFormatScratchChars];
  if (total < kFormatScratchChars) {
    int n = FormatToBuffer(format, scratch, kFormatScratchChars, args);
    if (n != -1 && n + 10 < kFormatScratchChars) {
      target.SetString(scratch);
      return target.GetLength();
    }
  }
  int measured = FormatToBuffer(format, nullptr, -1, args);
  if (measured < 0) return -1;
  int needed = measured + 1;
  std::unique_ptr<wchar_t[]> heap;
  wchar_t* buffer = scratch;
  if (needed > kFormatScratchChars) {
    heap.reset(new (std::nothrow) wchar_t[static_cast<std::size_t>(needed)]);
    if (!heap) AtlThrow(kEOutOfMemory);
    buffer = heap.get();
  }
  if (FormatToBuffer(format, buffer, needed, args) < 0) return -1;
  target.SetString(buffer);
  return target.GetLength();
}
