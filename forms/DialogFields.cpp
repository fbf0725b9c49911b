#include "forms/DialogFields.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "forms/MMI_TrendItem.h"

namespace {

size_t SkipBlanks(const std::string& text, size_t i) {
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i;
}

}  // namespace

bool ScanIntField(const std::string& full, size_t maxChars, int32_t& value) {
  const std::string text = full.substr(0, maxChars);
  size_t i = SkipBlanks(text, 0);
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t digits = i;
  int64_t number = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    number = number * 10 + (text[i++] - '0');
    if (number > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
  }
  if (i == digits) return false;
  if (negative) number = -number;
  if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max())
    return false;
  value = static_cast<int32_t>(number);
  return true;
}

bool ScanFloatField(const std::string& full, size_t maxChars, float& value) {
  const std::string text = full.substr(0, maxChars);
  size_t i = SkipBlanks(text, 0);
  if (i < text.size() && text[i] == '+') ++i;
  // from_chars reads the longest number at the start, in the C locale,
  // whatever the operator's locale says about decimal commas.
  float number = 0.0f;
  const char* first = text.data() + i;
  const auto [end, error] = std::from_chars(first, text.data() + text.size(), number,
                                            std::chars_format::general);
  if (error != std::errc() || end == first || !std::isfinite(number)) return false;
  // "+-1" is no number for "%f" either.
  if (i > 0 && text[i - 1] == '+' && *first == '-') return false;
  value = number;
  return true;
}

std::string FormatIntField(int32_t value) { return std::to_string(value); }

std::string FormatLimitField(float value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%3.2f", static_cast<double>(value));
  return buffer;
}

int32_t LimitTrendSpan(int32_t span, bool bSeconds) {
  const int32_t low = bSeconds ? 10 : 1;
  const int32_t high = bSeconds ? 86400 : 1440;
  return span < low ? low : span > high ? high : span;
}

int32_t LimitTrendPoints(int32_t points) {
  if (points < CMMI_TrendItem::kMinPoints) return CMMI_TrendItem::kMinPoints;
  if (points > CMMI_TrendItem::kMaxPoints) return CMMI_TrendItem::kMaxPoints;
  return points;
}
