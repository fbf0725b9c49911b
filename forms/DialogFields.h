// How the item property dialogs read their number fields, and the limits
// they hold the values to.
//
// The number edits read the way "%d" and "%f" of the C library read: leading
// blanks, a sign and as many digits as follow; "12px" gives 12. Text that does
// not begin with a number (or a number beyond the field's range) gives
// nothing, and the field then keeps the value it had: an operator's slip in
// an edit never turns into a zero width or a zero span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// At most `maxChars` characters of `text` read as "%d"; false, and `value`
// untouched, when they do not begin with a whole number of 32 bits.
bool ScanIntField(const std::string& text, size_t maxChars, int32_t& value);
// The same as "%f" into a float; false, and `value` untouched, when the text
// does not begin with a finite number.
bool ScanFloatField(const std::string& text, size_t maxChars, float& value);

// "%d" and "%3.2f".
std::string FormatIntField(int32_t value);
std::string FormatLimitField(float value);

// The trend chart's span: 1..1440 minutes or 10..86400 seconds.
int32_t LimitTrendSpan(int32_t span, bool bSeconds);
// The trend chart's points: 1..200.
int32_t LimitTrendPoints(int32_t points);

// The number edits' lengths: Width and Height 40, the bar graph's limits 20.
inline constexpr size_t kDimensionChars = 40;
inline constexpr size_t kLimitChars = 20;
// The refresh rate Form Properties accepts.
inline constexpr int32_t kMinRefreshRate = 100;
inline constexpr int32_t kMaxRefreshRate = 10000;
