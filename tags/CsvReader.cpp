#include "tags/CsvReader.h"

#include "platform/archive.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

bool CCsvLineReader::NextLine(std::string& line) {
  line.clear();
  using traits = std::streambuf::traits_type;
  for (;;) {
    const int c = m_in.sbumpc();
    if (c == traits::eof()) return false;
    if (c == '\r' || c == '\n') {
      const int next = m_in.sgetc();
      if (next == '\r' || next == '\n') m_in.sbumpc();
      return true;
    }
    if (line.size() < kMaxLineChars) line.push_back(static_cast<char>(c));
  }
}

std::vector<std::string_view> SplitCsvFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = line.find(',', start);
    if (comma == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, comma - start));
    start = comma + 1;
  }
}

namespace {

// Blanks as the C library's scanf skips them, then an optional sign; the
// sign is returned separately because from_chars takes only '-'.
std::string_view SkipToNumber(std::string_view field, bool& negative) {
  size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
  negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
    negative = field[i] == '-';
    ++i;
  }
  return field.substr(i);
}

}  // namespace

bool ParseCsvFloat(std::string_view field, float& value) {
  bool negative = false;
  const std::string_view digits = SkipToNumber(field, negative);
  // A second sign ("+-1") is no number.
  if (digits.empty() || digits[0] == '+' || digits[0] == '-') return false;
  // The C library's own conversion (hex, inf and nan included), in the "C"
  // locale so that the program's locale never changes the decimal point.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const std::string text(digits);
  char* end = nullptr;
  const double parsed = strtod_l(text.c_str(), &end, cLocale);
  if (end == text.c_str()) return false;
  value = static_cast<float>(negative ? -parsed : parsed);
  return true;
}

bool ParseCsvInt(std::string_view field, long long& value) {
  bool negative = false;
  const std::string_view digits = SkipToNumber(field, negative);
  if (digits.empty() || digits[0] < '0' || digits[0] > '9') return false;
  unsigned long long parsed = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
  if (end == digits.data()) return false;
  // Saturate rather than wrap; callers check the range they need.
  constexpr unsigned long long kBig = 1ull << 62;
  if (error == std::errc::result_out_of_range || parsed > kBig) parsed = kBig;
  value = negative ? -static_cast<long long>(parsed) : static_cast<long long>(parsed);
  return true;
}

std::string FormatCsvFixed(double value, int decimals) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char text[400];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return "0";
  return std::string(text, end);
}

bool SaveCsvFile(const std::string& path, const std::string& text) {
  CArchive ar;
  ar.WriteRaw(text.data(), text.size());
  return ar.SaveToFile(path);
}
