#pragma once
// The composite formatter: wide format strings with numbered placeholders
// "{index:spec}", where spec is a printf conversion without its "%" ("02d",
// "04X", "0.2f"). "{{" yields "{"; a placeholder whose index has no argument
// renders "@@@" and ends the text. Re-entrant; keeps no state between calls.
#include "foundation/format_arg.h"
#include "foundation/wstring.h"

inline constexpr int kFormatScratchChars = 4096;
inline constexpr int kFormatMaxSpecChars = 62;

// Length estimate of one argument for the single-pass decision.
int EstimateArgLength(const FormatArg& arg) noexcept;

// Renders one argument with `spec` ("%" + placeholder spec) or, when null, the
// override or the kind's default. With `out` null returns the length needed;
// otherwise writes at most `capacity` characters (no terminator) and returns
// the count, or -1 when it does not fit or the conversion fails.
int RenderArg(const FormatArg& arg, wchar_t* out, int capacity, const wchar_t* spec);

// The engine. With `out` null measures (terminator not counted). Otherwise
// writes at most `capacity` characters including the terminating NUL and
// returns the number produced. Returns -1 when a conversion fails.
int FormatToBuffer(const wchar_t* format, wchar_t* out, int capacity, const FormatArgList& args);

// Replaces `target` with the formatted text. Returns its length, or -1 (target
// unchanged) when a conversion fails. Raises CAtlException(E_OUTOFMEMORY) when
// memory runs out; the target then keeps its old content.
int Format(CWString& target, const wchar_t* format, const FormatArgList& args);

template <class... Args>
int Format(CWString& target, const wchar_t* format, const Args&... args) {
  FormatArgList list;
  (list.push_back(FormatArg(args)), ...);
  return Format(target, format, list);
}
