// Any bytes as a tag CSV file: every complete line gives one tag, none is
// longer than the reader keeps, and every tag exports and reads back.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "core/ExchangeTag.h"
#include "tags/CsvReader.h"
#include "tags/TagCsv.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t lineEnds = 0;
  for (char c : text) lineEnds += (c == '\r' || c == '\n') ? 1 : 0;

  std::istringstream in(text);
  const auto tags = ParseTagCsv(in);
  Require(tags.size() <= lineEnds);
  for (const auto& tag : tags) {
    Require(tag->m_strName.size() <= CCsvLineReader::kMaxLineChars);
    const std::string line = TagCsvLine(*tag);
    Require(line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0);
    // A name or field holding a comma cannot come back whole; the reader
    // must still take the line without harm.
    ParseTagCsvLine(line.substr(0, line.size() - 2));
  }
  return 0;
}
