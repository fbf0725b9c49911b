#include "demo/DemoForm.h"

#include <charconv>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"
#include "forms/PlexmarDoc.h"

namespace {

// A description line's settings, each taken once; what is left unused is a
// mistake in the description, not something to skip quietly.
class Settings {
 public:
  bool Parse(const std::string& text, std::string& error) {
    size_t i = 0;
    while (i < text.size()) {
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (i >= text.size()) break;
      const size_t eq = text.find('=', i);
      const size_t blank = text.find_first_of(" \t", i);
      if (eq == std::string::npos || (blank != std::string::npos && blank < eq)) {
        error = "\"" + text.substr(i, blank == std::string::npos ? std::string::npos : blank - i) +
                "\" is not name=value";
        return false;
      }
      const std::string name = text.substr(i, eq - i);
      std::string value;
      i = eq + 1;
      if (i < text.size() && text[i] == '"') {
        const size_t close = text.find('"', i + 1);
        if (close == std::string::npos) {
          error = name + ": the quote is not closed";
          return false;
        }
        value = text.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        const size_t end = text.find_first_of(" \t", i);
        value = text.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end == std::string::npos ? text.size() : end;
      }
      m_values.emplace(name, value);
    }
    return true;
  }

  bool Has(const std::string& name) const { return m_values.count(name) != 0; }
  // Every value of a name that may repeat (the trend's pens).
  std::vector<std::string> All(const std::string& name) {
    std::vector<std::string> values;
    auto [first, last] = m_values.equal_range(name);
    for (auto it = first; it != last; ++it) values.push_back(it->second);
    m_used.insert(name);
    return values;
  }
  std::string Text(const std::string& name, const std::string& fallback = std::string()) {
    m_used.insert(name);
    auto it = m_values.find(name);
    return it == m_values.end() ? fallback : it->second;
  }
  // A name that no reader asked for.
  std::string Unused() const {
    for (const auto& [name, value] : m_values)
      if (m_used.count(name) == 0) return name;
    return std::string();
  }

 private:
  std::multimap<std::string, std::string> m_values;
  std::set<std::string> m_used;
};

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) parts.push_back(part);
  return parts;
}

bool ToInt(const std::string& text, int32_t& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

bool ToFloat(const std::string& text, float& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

// "#rrggbb" as a COLORREF (0x00BBGGRR).
bool ToColor(const std::string& text, COLORREF& color) {
  if (text.size() != 7 || text[0] != '#') return false;
  uint32_t rgb = 0;
  auto [ptr, ec] = std::from_chars(text.data() + 1, text.data() + 7, rgb, 16);
  if (ec != std::errc() || ptr != text.data() + 7) return false;
  color = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
  return true;
}

// Reads the items of one line; every failure names the setting.
class ItemReader {
 public:
  ItemReader(Settings& settings, std::string& error) : m_settings(settings), m_error(error) {}

  bool Fail(const std::string& text) {
    m_error = text;
    return false;
  }
  bool Ints(const std::string& name, size_t count, std::vector<int32_t>& values, bool required = true) {
    if (Absent(name)) return required ? Fail(name + "= is missing") : true;
    const std::vector<std::string> parts = SplitCommas(m_settings.Text(name));
    values.assign(count, 0);
    if (parts.size() != count) return Fail(name + "= needs " + std::to_string(count) + " numbers");
    for (size_t i = 0; i < count; ++i)
      if (!ToInt(parts[i], values[i])) return Fail(name + "=: \"" + parts[i] + "\" is not a whole number");
    return true;
  }
  // box=x,y,w,h
  bool Box(CRect& rect) {
    std::vector<int32_t> v;
    if (!Ints("box", 4, v)) return false;
    rect = {v[0], v[1], v[0] + v[2], v[1] + v[3]};
    return true;
  }
  // at=x,y with an optional size=w,h (else one pixel: the item grows to its text)
  bool At(CRect& rect) {
    std::vector<int32_t> at, size{1, 1};
    if (!Ints("at", 2, at) || !Ints("size", 2, size, false)) return false;
    rect = {at[0], at[1], at[0] + size[0], at[1] + size[1]};
    return true;
  }
  // An optional setting that is not there: marked as asked for, no change.
  bool Absent(const std::string& name) {
    if (m_settings.Has(name)) return false;
    m_settings.Text(name);
    return true;
  }
  bool Color(const std::string& name, COLORREF& color) {
    if (Absent(name)) return true;
    const std::string text = m_settings.Text(name);
    return ToColor(text, color) || Fail(name + "=: \"" + text + "\" is not a colour #rrggbb");
  }
  bool Int(const std::string& name, int32_t& value) {
    if (Absent(name)) return true;
    const std::string text = m_settings.Text(name);
    return ToInt(text, value) || Fail(name + "=: \"" + text + "\" is not a whole number");
  }
  bool Float(const std::string& name, float& value) {
    if (!m_settings.Has(name)) return Fail(name + "= is missing");
    const std::string text = m_settings.Text(name);
    return ToFloat(text, value) || Fail(name + "=: \"" + text + "\" is not a number");
  }
  bool Required(const std::string& name, std::string& value) {
    if (!m_settings.Has(name)) return Fail(name + "= is missing");
    value = m_settings.Text(name);
    return true;
  }
  // font=face/height[/bold]: the item's own font instead of the system one.
  bool Font(CMMI_FontFields& item) {
    if (Absent("font")) return true;
    const std::string text = m_settings.Text("font");
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, '/');) parts.push_back(part);
    int32_t height = 0;
    if (parts.size() < 2 || parts.size() > 3 || parts[0].empty() || parts[0].size() >= LF_FACESIZE ||
        !ToInt(parts[1], height) || height <= 0 || (parts.size() == 3 && parts[2] != "bold"))
      return Fail("font=: \"" + text + "\" is not face/height or face/height/bold");
    LOGFONT& font = item.m_logFont;
    std::memset(font.lfFaceName, 0, sizeof font.lfFaceName);
    std::memcpy(font.lfFaceName, parts[0].data(), parts[0].size());
    font.lfHeight = -height;  // the character height in pixels
    font.lfWeight = parts.size() == 3 ? 700 : 400;
    // Variable pitch, swiss, unless the face is a typewriter one.
    const bool mono = parts[0].find("Mono") != std::string::npos || parts[0].rfind("Courier", 0) == 0;
    font.lfPitchAndFamily = mono ? 0x31 : 0x22;
    item.m_bDefaultFont = 0;
    return true;
  }
  // back=<colour> makes a text or value opaque on that colour.
  bool Background(int32_t& bTransparent, COLORREF& back) {
    if (Absent("back")) return true;
    bTransparent = 0;
    return Color("back", back);
  }

  bool Pen(const std::string& text, TrendPen& pen) {
    const std::vector<std::string> parts = SplitCommas(text);
    if (parts.size() != 5 || parts[0].empty() || !ToColor(parts[1], pen.m_crPen) || !ToInt(parts[2], pen.m_nWidth) ||
        !ToFloat(parts[3], pen.m_fLow) || !ToFloat(parts[4], pen.m_fHigh) || pen.m_fHigh <= pen.m_fLow)
      return Fail("pen=: \"" + text + "\" is not tag,#rrggbb,width,low,high");
    pen.m_bEnabled = 1;
    pen.m_strTag = parts[0];
    return true;
  }

 private:
  Settings& m_settings;
  std::string& m_error;
};

bool ReadForm(ItemReader& r, CPlexmarDoc& doc) {
  std::vector<int32_t> frame;
  if (!r.Int("rate", doc.m_nRefreshRate) || !r.Ints("frame", 4, frame)) return false;
  if (doc.m_nRefreshRate < 100 || doc.m_nRefreshRate > 10000) return r.Fail("rate= is 100 to 10000 ms");
  // The placement is only kept through a file read, as the program does.
  CPlexmarDoc scratch;
  scratch.m_nRefreshRate = doc.m_nRefreshRate;
  std::vector<uint8_t> bytes = scratch.SaveToBytes();
  const int32_t rect[4] = {frame[0], frame[1], frame[0] + frame[2], frame[1] + frame[3]};
  std::memcpy(bytes.data() + 16, rect, sizeof rect);  // after version, rate and the two flags
  std::string error;
  if (!doc.LoadFromBytes(bytes, error)) return r.Fail(error);
  COLORREF background = doc.m_crBackground;
  if (!r.Color("background", background)) return false;
  doc.m_crBackground = background;
  return true;
}

std::unique_ptr<CMMI_Item> ReadItem(const std::string& kind, ItemReader& r) {
  if (kind == "text") {
    auto item = std::make_unique<CMMI_TxtItem>();
    item->m_nType = kItemText;
    if (r.At(item->m_rect) && r.Required("text", item->m_strText) && r.Font(*item) &&
        r.Color("colour", item->m_crText) && r.Background(item->m_bTransparent, item->m_crBack))
      return item;
  } else if (kind == "rect") {
    auto item = std::make_unique<CMMI_RectItem>();
    item->m_nType = kItemRect;
    if (r.Box(item->m_rect) && r.Color("line", item->m_crLine) && r.Int("width", item->m_nLineWidth) &&
        r.Background(item->m_bTransparent, item->m_crFill))
      return item;
  } else if (kind == "value") {
    auto item = std::make_unique<CMMI_TagItem>();
    item->m_nType = kItemTag;
    if (r.At(item->m_rect) && r.Required("tag", item->m_strTag) && r.Font(*item) &&
        r.Color("colour", item->m_crText) && r.Background(item->m_bTransparent, item->m_crBack) &&
        r.Int("write", item->m_bWriteEnabled))
      return item;
  } else if (kind == "bar") {
    auto item = std::make_unique<CMMI_BarItem>();
    item->m_nType = kItemBar;
    int32_t horizontal = 0;
    if (r.Box(item->m_rect) && r.Required("tag", item->m_strTag) && r.Float("low", item->m_fLow) &&
        r.Float("high", item->m_fHigh) && r.Color("fill", item->m_crText) && r.Color("back", item->m_crBack) &&
        r.Color("border", item->m_crBorder) && r.Int("borderwidth", item->m_nBorderWidth) &&
        r.Int("scale", item->m_bShowScale) && r.Int("horizontal", horizontal)) {
      if (item->m_fHigh <= item->m_fLow) {
        r.Fail("high= must be above low=");
        return nullptr;
      }
      item->m_bVertical = horizontal ? 0 : 1;
      item->m_bShowBorder = item->m_nBorderWidth > 0 ? 1 : 0;
      return item;
    }
  } else if (kind == "hottext") {
    auto item = std::make_unique<CMMI_HotTxtItem>();
    item->m_nType = kItemHotText;
    if (r.Box(item->m_rect) && r.Required("text", item->m_strText) && r.Required("logic", item->m_strLogicBlock) &&
        r.Font(*item) && r.Color("colour", item->m_crText) && r.Color("back", item->m_crBack) &&
        r.Color("border", item->m_crBorder) && r.Int("borderwidth", item->m_nBorderWidth))
      return item;
  } else if (kind == "trend") {
    auto item = std::make_unique<CMMI_TrendItem>();
    item->m_nType = kItemTrend;
    if (r.Box(item->m_rect) && r.Int("minutes", item->m_nSpan) && r.Int("points", item->m_nMaxPoints) &&
        r.Color("back", item->m_crBack) && r.Color("border", item->m_crBorder) &&
        r.Int("borderwidth", item->m_nBorderWidth) && r.Int("grid", item->m_bShowGrid) &&
        r.Int("scale", item->m_bShowScale)) {
      if (item->m_nSpan < 1 || item->m_nMaxPoints < 1 || item->m_nMaxPoints > CMMI_TrendItem::kMaxPoints) {
        r.Fail("minutes= must be 1 or more and points= 1 to 200");
        return nullptr;
      }
      item->m_bShowBorder = 1;
      return item;
    }
  } else {
    r.Fail("unknown kind \"" + kind + "\"");
  }
  return nullptr;
}

}  // namespace

bool ReadDemoForm(const std::string& path, CPlexmarDoc& doc, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  int number = 0;
  bool sawForm = false;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string kind;
    if (!(words >> kind) || kind[0] == '#') continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    std::string rest;
    std::getline(words, rest);
    Settings settings;
    std::string what;
    ItemReader reader(settings, what);
    if (!settings.Parse(rest, what)) {
      error = where + what;
      return false;
    }
    if (kind == "form") {
      if (sawForm || !doc.m_items.empty()) {
        error = where + "the form line comes once, before the items";
        return false;
      }
      sawForm = true;
      if (!ReadForm(reader, doc)) {
        error = where + what;
        return false;
      }
    } else {
      std::unique_ptr<CMMI_Item> item = ReadItem(kind, reader);
      if (item && kind == "trend") {
        auto& trend = static_cast<CMMI_TrendItem&>(*item);
        const std::vector<std::string> pens = settings.All("pen");
        if (pens.empty() || pens.size() > CMMI_TrendItem::kPens) {
          what = "a trend has one to five pen=";
          item.reset();
        }
        for (size_t i = 0; item && i < pens.size(); ++i)
          if (!reader.Pen(pens[i], trend.m_pens[i])) item.reset();
      }
      if (!item) {
        error = where + what;
        return false;
      }
      doc.m_items.push_back(std::move(item));
    }
    const std::string unused = settings.Unused();
    if (!unused.empty()) {
      error = where + "\"" + unused + "=\" means nothing to a " + kind;
      return false;
    }
  }
  if (!sawForm) {
    error = path + ": no form line";
    return false;
  }
  return true;
}
