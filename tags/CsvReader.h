// The line reader and field splitter of the tag and logic block CSV files.
//
// The files have no quoting and no escaping: a line is split at every comma,
// and field k is the text after the k-th comma up to the next one (or the end
// of the line); a field beyond the last comma is empty.
//
// Lines end at a CR or an LF, and one more CR or LF directly after it belongs
// to the same line end (so CR LF, LF CR, CR CR and LF LF each end one line).
// At most kMaxLineChars characters of a line are kept; the rest of it, up to
// its end, is skipped. Text after the last line end is not a line.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

class CCsvLineReader {
 public:
  static constexpr size_t kMaxLineChars = 499;

  explicit CCsvLineReader(std::istream& in) : m_in(*in.rdbuf()) {}

  // The next complete line, without its line end; false at the end of the
  // data (a last line without a line end included).
  bool NextLine(std::string& line);

 private:
  std::streambuf& m_in;
};

// The fields of one line, as views into it; always at least one field.
std::vector<std::string_view> SplitCsvFields(std::string_view line);
// Field `k` of a split line; empty beyond the last one.
inline std::string_view CsvField(const std::vector<std::string_view>& fields, size_t k) {
  return k < fields.size() ? fields[k] : std::string_view();
}

// A number as the files' readers take it ("%f" and "%d" of the C library,
// always with '.' as the decimal point whatever the locale): blanks, an
// optional sign, then the longest number. False when the field does not
// start with one; `value` is then left as it was.
bool ParseCsvFloat(std::string_view field, float& value);
bool ParseCsvInt(std::string_view field, long long& value);

// "%.Nf" with '.' as the decimal point whatever the locale.
std::string FormatCsvFixed(double value, int decimals);

// Writes a whole exported file; false when it cannot be created. The text
// goes to a temporary file that then replaces `path`, so a failed export
// leaves an older file whole.
bool SaveCsvFile(const std::string& path, const std::string& text);
