// VARIANT, BSTR and SAFEARRAY for Plexmar on Linux.
//
// Everything here allocates with malloc/calloc and reports a failed allocation
// as a null result or E_OUTOFMEMORY: tag values are made on every poll and
// every OPC write, and a value that cannot be made must not take the server
// down with an exception.

#include "platform/variant.h"

#include <charconv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

namespace {

// --- BSTR storage ----------------------------------------------------------
// [uint32 length in units][text units][0 unit]; the BSTR points at the text.
constexpr size_t kBstrHeader = sizeof(uint32_t);
// Keeps the byte size of a text far from any size_t or int32 overflow.
constexpr uint32_t kMaxBstrUnits = 0x3FFFFFF0u;

void* BstrBlock(BSTR text) { return reinterpret_cast<char*>(text) - kBstrHeader; }

// --- UTF-8 / UTF-16 ---------------------------------------------------------
constexpr char32_t kReplacement = 0xFFFD;

// Decodes one code point at `pos`, advancing it. A malformed sequence yields
// U+FFFD and consumes only its longest valid-looking prefix (at least one
// byte), so the byte that broke it starts the next code point.
char32_t DecodeUtf8(std::string_view s, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  size_t need = 0;
  char32_t cp = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the first continuation
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    ++pos;
    return kReplacement;
  }
  ++pos;
  for (size_t k = 0; k < need; ++k) {
    if (pos >= s.size()) return kReplacement;
    const unsigned char c = byte(pos);
    const unsigned char min = k == 0 ? lo : 0x80;
    const unsigned char max = k == 0 ? hi : 0xBF;
    if (c < min || c > max) return kReplacement;
    cp = (cp << 6) | (c & 0x3F);
    ++pos;
  }
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

BSTR AllocFromAscii(std::string_view ascii) {
  BSTR text = SysAllocStringLen(nullptr, static_cast<uint32_t>(ascii.size()));
  if (text == nullptr) return nullptr;
  for (size_t i = 0; i < ascii.size(); ++i) text[i] = static_cast<OLECHAR>(static_cast<unsigned char>(ascii[i]));
  return text;
}

// --- type codes --------------------------------------------------------------
bool IsKnownBaseType(VARTYPE base) {
  switch (base) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8:
    case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH: case VT_ERROR:
    case VT_BOOL: case VT_VARIANT: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT:
    case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool IsKnownVarType(VARTYPE vt) {
  if ((vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) != 0) return false;
  const VARTYPE base = vt & VT_TYPEMASK;
  if (!IsKnownBaseType(base)) return false;
  if ((vt & VT_ARRAY) && (base == VT_EMPTY || base == VT_NULL)) return false;
  // A plain VARIANT only ever lives inside a by-reference value or an array.
  if (base == VT_VARIANT && !(vt & (VT_ARRAY | VT_BYREF))) return false;
  return true;
}

uint32_t ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: return 4;
    case VT_R8: case VT_I8: case VT_UI8: case VT_DATE: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
  }
}

// Array feature bits of OLE, kept so that a dump of the record reads familiar.
constexpr uint16_t kFeatureHaveVartype = 0x0080;
constexpr uint16_t kFeatureBstr = 0x0100;
constexpr uint16_t kFeatureVariant = 0x0800;

void* ElementAt(SAFEARRAY* array, uint32_t offset) {
  return static_cast<char*>(array->pvData) + static_cast<size_t>(offset) * array->cbElements;
}

// The element offset of `index`, or nothing when it is outside the bounds.
std::optional<uint32_t> ElementOffset(const SAFEARRAY* array, int32_t index) {
  const int64_t offset = static_cast<int64_t>(index) - array->rgsabound[0].lLbound;
  if (offset < 0 || offset >= static_cast<int64_t>(array->rgsabound[0].cElements)) return std::nullopt;
  return static_cast<uint32_t>(offset);
}

bool IsUsableArray(const SAFEARRAY* array) {
  return array != nullptr && array->cDims == 1 && ElementSize(array->vt) != 0 &&
         array->cbElements == ElementSize(array->vt) &&
         (array->pvData != nullptr || array->rgsabound[0].cElements == 0);
}

// --- numbers ----------------------------------------------------------------
// A number on its way between two VARIANT types. Integers stay integers so
// that 64-bit values are never squeezed through a double.
struct Number {
  enum class Kind { Signed, Unsigned, Real } kind = Kind::Signed;
  int64_t s = 0;
  uint64_t u = 0;
  double d = 0.0;
  bool fromBool = false;
  // A text whose value is beyond the double range: no number type holds it.
  bool tooLarge = false;
  // Text read straight as a float too, so that a float's shortest text
  // does not pass through a double and round twice.
  bool hasFloat = false;
  float f = 0.0f;

  static Number Signed(int64_t v) { Number n; n.kind = Kind::Signed; n.s = v; return n; }
  static Number Unsigned(uint64_t v) { Number n; n.kind = Kind::Unsigned; n.u = v; return n; }
  static Number Real(double v) { Number n; n.kind = Kind::Real; n.d = v; return n; }

  bool IsZero() const {
    switch (kind) {
      case Kind::Signed: return s == 0;
      case Kind::Unsigned: return u == 0;
      case Kind::Real: return d == 0.0;
    }
    return false;
  }
  double AsDouble() const {
    switch (kind) {
      case Kind::Signed: return static_cast<double>(s);
      case Kind::Unsigned: return static_cast<double>(u);
      case Kind::Real: return d;
    }
    return 0.0;
  }
};

bool IsNumericType(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8: case VT_R4: case VT_R8:
      return true;
    default:
      return false;
  }
}

std::optional<Number> NumberOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY: return Number::Signed(0);
    case VT_I1: return Number::Signed(v.cVal);
    case VT_UI1: return Number::Signed(v.bVal);
    case VT_I2: return Number::Signed(v.iVal);
    case VT_UI2: return Number::Signed(v.uiVal);
    case VT_I4: return Number::Signed(v.lVal);
    case VT_UI4: return Number::Signed(v.ulVal);
    case VT_INT: return Number::Signed(v.intVal);
    case VT_UINT: return Number::Signed(v.uintVal);
    case VT_I8: return Number::Signed(v.llVal);
    case VT_UI8: return Number::Unsigned(v.ullVal);
    case VT_R4: return Number::Real(v.fltVal);
    case VT_R8: return Number::Real(v.dblVal);
    case VT_DATE: return Number::Real(v.date);
    case VT_BOOL: {
      // The stored value, as OLE takes it: a bit point's 1 stays 1.
      Number n = Number::Signed(v.boolVal);
      n.fromBool = true;
      return n;
    }
    default: return std::nullopt;
  }
}

// Rounds half to even without depending on the floating-point environment.
double RoundHalfEven(double x) {
  const double f = std::floor(x);
  const double diff = x - f;  // exact for every finite double
  if (diff > 0.5) return f + 1.0;
  if (diff < 0.5) return f;
  return std::fmod(f, 2.0) == 0.0 ? f : f + 1.0;
}

// Converts `n` to an integer of `bits` width; the result is the value's
// two's-complement pattern in 64 bits.
HRESULT ToInteger(const Number& n, int bits, bool isSigned, uint64_t* out) {
  const int64_t smin = bits == 64 ? INT64_MIN : -(int64_t{1} << (bits - 1));
  const int64_t smax = bits == 64 ? INT64_MAX : (int64_t{1} << (bits - 1)) - 1;
  const uint64_t umax = bits == 64 ? UINT64_MAX : (uint64_t{1} << bits) - 1;
  switch (n.kind) {
    case Number::Kind::Signed:
      if (isSigned) {
        if (n.s < smin || n.s > smax) return DISP_E_OVERFLOW;
        *out = static_cast<uint64_t>(n.s);
        return S_OK;
      }
      if (n.s < 0) {
        // VARIANT_TRUE is all bits set, as OLE gives it (255 for VT_UI1).
        if (n.fromBool) {
          *out = static_cast<uint64_t>(n.s) & umax;
          return S_OK;
        }
        return DISP_E_OVERFLOW;
      }
      if (static_cast<uint64_t>(n.s) > umax) return DISP_E_OVERFLOW;
      *out = static_cast<uint64_t>(n.s);
      return S_OK;
    case Number::Kind::Unsigned:
      if (isSigned ? n.u > static_cast<uint64_t>(smax) : n.u > umax) return DISP_E_OVERFLOW;
      *out = n.u;
      return S_OK;
    case Number::Kind::Real: {
      if (!std::isfinite(n.d)) return DISP_E_OVERFLOW;
      const double r = RoundHalfEven(n.d);
      // The limits as doubles: -2^(bits-1) and 2^(bits-1) (signed) or 0 and
      // 2^bits (unsigned) are exact, so the range test has no rounding.
      const double lo = isSigned ? -std::ldexp(1.0, bits - 1) : 0.0;
      const double hiExclusive = isSigned ? std::ldexp(1.0, bits - 1) : std::ldexp(1.0, bits);
      if (!(r >= lo && r < hiExclusive)) return DISP_E_OVERFLOW;
      *out = isSigned ? static_cast<uint64_t>(static_cast<int64_t>(r)) : static_cast<uint64_t>(r);
      return S_OK;
    }
  }
  return DISP_E_OVERFLOW;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// --- dates ------------------------------------------------------------------
// A VT_DATE counts days from 1899-12-30 00:00. Before that day the whole days
// count backwards while the fraction of a day still counts forwards, so
// -1.25 is 1899-12-29 06:00: "linear" days below are the plain count.
constexpr double kFirstDate = -657434.0;  // 0100-01-01
constexpr double kEndDate = 2958466.0;    // 10000-01-01, not itself valid
constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kUnixEpochDate = 25569;  // 1970-01-01 as a date

bool IsValidDate(double date) { return date >= kFirstDate && date < kEndDate; }

double LinearFromDate(double date) {
  if (date >= 0) return date;
  const double whole = std::trunc(date);
  return whole + (whole - date);
}

double DateFromLinear(double linear) {
  if (linear >= 0) return linear;
  const double whole = std::floor(linear);
  const double fraction = linear - whole;
  // A whole negative day keeps no fraction: -1.0 stays -1.0.
  return fraction == 0 ? whole : whole - fraction;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the usual
// shift of the year to start in March, so that the leap day comes last).
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// "2026-12-08T23:21:07Z", with ".250" before the Z when there are
// milliseconds. Nothing for a date outside the valid range.
std::optional<std::string> FormatDate(double date) {
  if (!IsValidDate(date)) return std::nullopt;
  int64_t ms = std::llround(LinearFromDate(date) * static_cast<double>(kMsPerDay));
  int64_t days = ms / kMsPerDay;
  ms -= days * kMsPerDay;
  if (ms < 0) ms += kMsPerDay, --days;
  int64_t year = 0;
  int month = 0, day = 0;
  CivilFromDays(days - kUnixEpochDate, year, month, day);
  char text[40];
  const int hour = static_cast<int>(ms / 3600000), minute = static_cast<int>(ms / 60000 % 60),
            second = static_cast<int>(ms / 1000 % 60), milli = static_cast<int>(ms % 1000);
  if (milli != 0)
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<long long>(year),
                  month, day, hour, minute, second, milli);
  else
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02dZ", static_cast<long long>(year), month,
                  day, hour, minute, second);
  return std::string(text);
}

// Reads `count` digits at `i` into `value`.
bool ReadDigits(const std::string& s, size_t& i, size_t count, int& value) {
  if (i + count > s.size()) return false;
  value = 0;
  for (size_t k = 0; k < count; ++k) {
    if (!IsDigit(s[i + k])) return false;
    value = value * 10 + (s[i + k] - '0');
  }
  i += count;
  return true;
}

// ISO 8601 as clients write it: "YYYY-MM-DD", optionally followed by 'T' (or
// a blank) and "hh:mm", ":ss" and a fraction, and a zone "Z", "+hh:mm",
// "-hhmm". A time without a zone is taken as UTC, as every VT_DATE here is.
std::optional<double> ParseDate(const std::string& s) {
  size_t i = 0;
  int year = 0, month = 0, day = 0;
  if (!ReadDigits(s, i, 4, year) || i >= s.size() || s[i++] != '-' || !ReadDigits(s, i, 2, month) ||
      i >= s.size() || s[i++] != '-' || !ReadDigits(s, i, 2, day))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return std::nullopt;
  double msOfDay = 0;
  int zoneMinutes = 0;
  if (i < s.size()) {
    if (s[i] != 'T' && s[i] != 't' && s[i] != ' ') return std::nullopt;
    ++i;
    int hour = 0, minute = 0, second = 0;
    if (!ReadDigits(s, i, 2, hour) || i >= s.size() || s[i++] != ':' || !ReadDigits(s, i, 2, minute))
      return std::nullopt;
    double fraction = 0;
    if (i < s.size() && s[i] == ':') {
      ++i;
      if (!ReadDigits(s, i, 2, second)) return std::nullopt;
      if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
        ++i;
        double scale = 0.1;
        const size_t first = i;
        while (i < s.size() && IsDigit(s[i])) fraction += (s[i++] - '0') * scale, scale /= 10;
        if (i == first) return std::nullopt;
      }
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    msOfDay = ((hour * 60.0 + minute) * 60.0 + second + fraction) * 1000.0;
    if (i < s.size()) {
      if (s[i] == 'Z' || s[i] == 'z') {
        ++i;
      } else if (s[i] == '+' || s[i] == '-') {
        const int sign = s[i++] == '-' ? -1 : 1;
        int zoneHour = 0, zoneMinute = 0;
        if (!ReadDigits(s, i, 2, zoneHour)) return std::nullopt;
        if (i < s.size() && s[i] == ':') ++i;
        if (!ReadDigits(s, i, 2, zoneMinute) || zoneHour > 23 || zoneMinute > 59) return std::nullopt;
        zoneMinutes = sign * (zoneHour * 60 + zoneMinute);
      }
    }
    if (i != s.size()) return std::nullopt;
  }
  const double days = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDate);
  const double linear = days + (msOfDay - zoneMinutes * 60000.0) / static_cast<double>(kMsPerDay);
  const double date = DateFromLinear(linear);
  if (!IsValidDate(date)) return std::nullopt;
  return date;
}

constexpr double kFloatOverflow = 340282356779733661637539395458142568448.0;  // 2^128 - 2^103
static_assert(kFloatOverflow > FLT_MAX);

HRESULT StoreNumber(const Number& n, VARTYPE vt, VARIANT* out) {
  if (n.tooLarge && vt != VT_BOOL) return DISP_E_OVERFLOW;
  uint64_t bits = 0;
  HRESULT hr = S_OK;
  switch (vt) {
    case VT_I1: hr = ToInteger(n, 8, true, &bits); out->cVal = static_cast<int8_t>(bits); break;
    case VT_UI1: hr = ToInteger(n, 8, false, &bits); out->bVal = static_cast<uint8_t>(bits); break;
    case VT_I2: hr = ToInteger(n, 16, true, &bits); out->iVal = static_cast<int16_t>(bits); break;
    case VT_UI2: hr = ToInteger(n, 16, false, &bits); out->uiVal = static_cast<uint16_t>(bits); break;
    case VT_I4: hr = ToInteger(n, 32, true, &bits); out->lVal = static_cast<int32_t>(bits); break;
    case VT_UI4: hr = ToInteger(n, 32, false, &bits); out->ulVal = static_cast<uint32_t>(bits); break;
    case VT_INT: hr = ToInteger(n, 32, true, &bits); out->intVal = static_cast<int32_t>(bits); break;
    case VT_UINT: hr = ToInteger(n, 32, false, &bits); out->uintVal = static_cast<uint32_t>(bits); break;
    case VT_I8: hr = ToInteger(n, 64, true, &bits); out->llVal = static_cast<int64_t>(bits); break;
    case VT_UI8: hr = ToInteger(n, 64, false, &bits); out->ullVal = bits; break;
    case VT_R4: {
      // Overflow only when the value would round to infinity as a float:
      // FLT_MAX plus half a unit in its last place.
      const double d = n.AsDouble();
      if (std::isfinite(d) && std::fabs(d) >= kFloatOverflow) return DISP_E_OVERFLOW;
      out->fltVal = n.hasFloat ? n.f : static_cast<float>(d);
      break;
    }
    case VT_R8: out->dblVal = n.AsDouble(); break;
    case VT_DATE: {
      const double d = n.AsDouble();
      if (!IsValidDate(d)) return DISP_E_OVERFLOW;
      out->date = d;
      break;
    }
    case VT_BOOL:
      // NaN is not zero, so it is true.
      out->boolVal = n.IsZero() ? VARIANT_FALSE : VARIANT_TRUE;
      break;
    default: return DISP_E_TYPEMISMATCH;
  }
  if (FAILED(hr)) return hr;
  out->vt = vt;
  return S_OK;
}

// --- text to number -----------------------------------------------------------
bool IsBlank(OLECHAR c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

// The text without its surrounding blanks, as ASCII; nothing if it holds any
// other character, since no number or boolean word needs one.
std::optional<std::string> TrimmedAscii(BSTR text) {
  const uint32_t length = SysStringLen(text);
  uint32_t begin = 0, end = length;
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  std::string ascii;
  ascii.reserve(end - begin);
  for (uint32_t i = begin; i < end; ++i) {
    if (text[i] == 0 || text[i] > 0x7F) return std::nullopt;
    ascii += static_cast<char>(text[i]);
  }
  return ascii;
}

// A decimal number: [sign] digits [. digits] [e [sign] digits], with at least
// one mantissa digit. Text that is not one gives nothing.
std::optional<Number> ParseNumber(const std::string& s) {
  size_t i = 0;
  const bool negative = i < s.size() && s[i] == '-';
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const size_t mantissaBegin = i;
  size_t intDigits = 0, fracDigits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++intDigits;
  bool hasPoint = false;
  if (i < s.size() && s[i] == '.') {
    hasPoint = true;
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++fracDigits;
  }
  if (intDigits + fracDigits == 0) return std::nullopt;
  const size_t mantissaEnd = i;
  bool hasExponent = false;
  int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    hasExponent = true;
    ++i;
    bool expNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) expNegative = s[i++] == '-';
    size_t expDigits = 0;
    while (i < s.size() && IsDigit(s[i])) {
      // Saturate: anything this large is out of every range anyway.
      if (exponent < 100000) exponent = exponent * 10 + (s[i] - '0');
      ++i, ++expDigits;
    }
    if (expDigits == 0) return std::nullopt;
    if (expNegative) exponent = -exponent;
  }
  if (i != s.size()) return std::nullopt;

  // from_chars takes no '+' and ignores the locale, unlike strtod.
  const char* first = s.data() + (s[0] == '+' ? 1 : 0);
  const char* last = s.data() + s.size();
  if (!hasPoint && !hasExponent) {
    int64_t sv = 0;
    if (auto r = std::from_chars(first, last, sv); r.ec == std::errc() && r.ptr == last) return Number::Signed(sv);
    uint64_t uv = 0;
    if (!negative) {
      if (auto r = std::from_chars(first, last, uv); r.ec == std::errc() && r.ptr == last) return Number::Unsigned(uv);
    }
  }
  double d = 0.0;
  const auto r = std::from_chars(first, last, d, std::chars_format::general);
  if (r.ec == std::errc() && r.ptr == last) {
    Number n = Number::Real(d);
    if (std::fabs(d) < kFloatOverflow) {
      const auto rf = std::from_chars(first, last, n.f, std::chars_format::general);
      n.hasFloat = rf.ec == std::errc() && rf.ptr == last;
      if (!n.hasFloat && rf.ec == std::errc::result_out_of_range) {
        n.f = static_cast<float>(d);  // below the float range: the double's own rounding to 0 or a denormal
        n.hasFloat = true;
      }
    }
    return n;
  }
  if (r.ec != std::errc::result_out_of_range) return std::nullopt;

  // Out of the double range: decide between too large and too small from
  // the decimal position of the first significant digit.
  std::optional<int64_t> position;  // power of ten of the first non-zero digit
  int64_t digitIndex = 0;
  for (size_t k = mantissaBegin; k < mantissaEnd; ++k) {
    if (s[k] == '.') continue;
    if (s[k] != '0') {
      position = static_cast<int64_t>(intDigits) - digitIndex - 1;
      break;
    }
    ++digitIndex;
  }
  if (position && *position + exponent >= 0) {
    Number huge = Number::Real(negative ? -HUGE_VAL : HUGE_VAL);
    huge.tooLarge = true;
    return huge;
  }
  return Number::Real(negative ? -0.0 : 0.0);
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

// --- number to text -----------------------------------------------------------
// The shortest digits that read back to the same float or double, laid out as
// OLE lays numbers out: plain for moderate magnitudes, otherwise "d.dddE+XX".
// `plainDigits` is how many integer digits stay plain (7 for float, 15 for
// double), as in OLE's general format.
template <typename Real>
std::string FormatReal(Real value, int plainDigits) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0) return "0";  // also for -0: an operator has no use for "-0"

  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<size_t>(r.ptr - buf));
  size_t i = 0;
  std::string sign;
  if (sci[i] == '-') {
    sign = "-";
    ++i;
  }
  const size_t ePos = sci.find('e');
  std::string digits;
  for (size_t k = i; k < ePos; ++k)
    if (sci[k] != '.') digits += sci[k];
  int exponent = 0;
  std::from_chars(sci.data() + ePos + 1 + (sci[ePos + 1] == '+' ? 1 : 0), sci.data() + sci.size(), exponent);

  std::string out = sign;
  if (exponent < -4 || exponent >= plainDigits) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += exponent < 0 ? "E-" : "E+";
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) out += '0';
    out += std::to_string(magnitude);
  } else if (exponent >= 0) {
    const size_t intLen = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= intLen) {
      out += digits;
      out.append(intLen - digits.size(), '0');
    } else {
      out.append(digits, 0, intLen);
      out += '.';
      out.append(digits, intLen);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-exponent - 1), '0');
    out += digits;
  }
  return out;
}

std::optional<std::string> TextOf(const VARIANT& v) {
  char buf[32];
  auto integer = [&](auto x) {
    const auto r = std::to_chars(buf, buf + sizeof buf, x);
    return std::string(buf, r.ptr);
  };
  switch (v.vt) {
    case VT_EMPTY: return std::string();
    case VT_I1: return integer(static_cast<int>(v.cVal));
    case VT_UI1: return integer(static_cast<unsigned>(v.bVal));
    case VT_I2: return integer(v.iVal);
    case VT_UI2: return integer(v.uiVal);
    case VT_I4: return integer(v.lVal);
    case VT_UI4: return integer(v.ulVal);
    case VT_INT: return integer(v.intVal);
    case VT_UINT: return integer(v.uintVal);
    case VT_I8: return integer(v.llVal);
    case VT_UI8: return integer(v.ullVal);
    case VT_R4: return FormatReal(v.fltVal, 7);
    case VT_R8: return FormatReal(v.dblVal, 15);
    case VT_BOOL: return std::string(v.boolVal != 0 ? "True" : "False");
    default: return std::nullopt;
  }
}

// Builds the converted value in `out` (a fresh VARIANT); nothing else changes.
HRESULT Convert(const VARIANT& source, VARTYPE vt, VARIANT* out) {
  if (!IsKnownVarType(source.vt) || !IsKnownVarType(vt)) return DISP_E_BADVARTYPE;
  if (vt == VT_EMPTY) return S_OK;

  // The same type is a copy; for arrays it is the only conversion there is.
  if (source.vt == vt) return VariantCopy(out, &source);
  if ((source.vt | vt) & (VT_ARRAY | VT_BYREF)) return DISP_E_TYPEMISMATCH;

  const bool sourceIsValue = source.vt == VT_EMPTY || source.vt == VT_BOOL || source.vt == VT_DATE ||
                             IsNumericType(source.vt);
  if (vt == VT_BSTR) {
    if (!sourceIsValue) return DISP_E_TYPEMISMATCH;
    const std::optional<std::string> text = source.vt == VT_DATE ? FormatDate(source.date) : TextOf(source);
    if (!text) return DISP_E_OVERFLOW;
    BSTR bstr = AllocFromAscii(*text);
    if (bstr == nullptr) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = bstr;
    return S_OK;
  }
  if (vt != VT_BOOL && vt != VT_DATE && !IsNumericType(vt)) return DISP_E_TYPEMISMATCH;

  std::optional<Number> number;
  if (source.vt == VT_BSTR) {
    const std::optional<std::string> text = TrimmedAscii(source.bstrVal);
    if (!text) return DISP_E_TYPEMISMATCH;
    if (vt == VT_DATE) {
      if (const std::optional<double> date = ParseDate(*text)) {
        out->vt = VT_DATE;
        out->date = *date;
        return S_OK;
      }
    }
    if (vt == VT_BOOL) {
      if (EqualsIgnoringCase(*text, "true")) return StoreNumber(Number::Signed(1), vt, out);
      if (EqualsIgnoringCase(*text, "false")) return StoreNumber(Number::Signed(0), vt, out);
    }
    number = ParseNumber(*text);
  } else if (sourceIsValue) {
    number = NumberOf(source);
  }
  if (!number) return DISP_E_TYPEMISMATCH;
  return StoreNumber(*number, vt, out);
}

}  // namespace

// --- BSTR ---------------------------------------------------------------------

BSTR SysAllocString(const OLECHAR* text) {
  if (text == nullptr) return nullptr;
  size_t length = 0;
  while (text[length] != 0) {
    if (++length > kMaxBstrUnits) return nullptr;
  }
  return SysAllocStringLen(text, static_cast<uint32_t>(length));
}

BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length) {
  if (length > kMaxBstrUnits) return nullptr;
  const size_t bytes = kBstrHeader + (static_cast<size_t>(length) + 1) * sizeof(OLECHAR);
  char* block = static_cast<char*>(std::malloc(bytes));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &length, sizeof length);
  BSTR result = reinterpret_cast<BSTR>(block + kBstrHeader);
  if (text != nullptr)
    std::memcpy(result, text, static_cast<size_t>(length) * sizeof(OLECHAR));
  else
    std::memset(result, 0, static_cast<size_t>(length) * sizeof(OLECHAR));
  result[length] = 0;
  return result;
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(BstrBlock(text));
}

uint32_t SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  uint32_t length = 0;
  std::memcpy(&length, BstrBlock(text), sizeof length);
  return length;
}

BSTR Utf8ToBstr(std::string_view utf8) {
  std::u16string units;
  units.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    const char32_t cp = DecodeUtf8(utf8, pos);
    if (cp >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(cp);
    }
  }
  if (units.size() > kMaxBstrUnits) return nullptr;
  return SysAllocStringLen(units.data(), static_cast<uint32_t>(units.size()));
}

std::string BstrToUtf8(BSTR text) {
  const uint32_t length = SysStringLen(text);
  std::string out;
  out.reserve(length);
  for (uint32_t i = 0; i < length; ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, kReplacement);  // a surrogate without its partner
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::u16string BstrToU16(BSTR text) { return std::u16string(text == nullptr ? u"" : text, SysStringLen(text)); }

// --- SAFEARRAY ----------------------------------------------------------------

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, int32_t lowerBound, uint32_t count) {
  const uint32_t size = ElementSize(vt);
  if (size == 0) return nullptr;
  // The upper bound must be an int32 too.
  const int64_t upper = static_cast<int64_t>(lowerBound) + count - 1;
  if (upper > INT32_MAX || upper < INT32_MIN) return nullptr;
  auto* array = new (std::nothrow) SAFEARRAY{};
  if (array == nullptr) return nullptr;
  array->cDims = 1;
  array->fFeatures = kFeatureHaveVartype;
  if (vt == VT_BSTR) array->fFeatures |= kFeatureBstr;
  if (vt == VT_VARIANT) array->fFeatures |= kFeatureVariant;
  array->cbElements = size;
  array->rgsabound[0].cElements = count;
  array->rgsabound[0].lLbound = lowerBound;
  array->vt = vt;
  if (count > 0) {
    // Zeroed: null texts and VT_EMPTY values are valid elements.
    array->pvData = std::calloc(count, size);
    if (array->pvData == nullptr) {
      delete array;
      return nullptr;
    }
  }
  return array;
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
  if (array == nullptr) return S_OK;
  if (array->pvData != nullptr) {
    const uint32_t count = array->rgsabound[0].cElements;
    if (array->vt == VT_BSTR) {
      for (uint32_t i = 0; i < count; ++i) SysFreeString(*static_cast<BSTR*>(ElementAt(array, i)));
    } else if (array->vt == VT_VARIANT) {
      for (uint32_t i = 0; i < count; ++i) VariantClear(static_cast<VARIANT*>(ElementAt(array, i)));
    }
    std::free(array->pvData);
  }
  delete array;
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy) {
  if (copy == nullptr) return E_INVALIDARG;
  if (source == nullptr) {
    *copy = nullptr;
    return S_OK;
  }
  if (!IsUsableArray(source)) return E_INVALIDARG;
  const uint32_t count = source->rgsabound[0].cElements;
  SAFEARRAY* result = SafeArrayCreateVector(source->vt, source->rgsabound[0].lLbound, count);
  if (result == nullptr) return E_OUTOFMEMORY;
  for (uint32_t i = 0; i < count; ++i) {
    void* to = ElementAt(result, i);
    void* from = ElementAt(source, i);
    if (source->vt == VT_BSTR) {
      BSTR text = *static_cast<BSTR*>(from);
      if (text != nullptr) {
        BSTR dup = SysAllocStringLen(text, SysStringLen(text));
        if (dup == nullptr) {
          SafeArrayDestroy(result);
          return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(to) = dup;
      }
    } else if (source->vt == VT_VARIANT) {
      const HRESULT hr = VariantCopy(static_cast<VARIANT*>(to), static_cast<VARIANT*>(from));
      if (FAILED(hr)) {
        SafeArrayDestroy(result);
        return hr;
      }
    } else {
      std::memcpy(to, from, source->cbElements);
    }
  }
  *copy = result;
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (array == nullptr || vt == nullptr) return E_INVALIDARG;
  *vt = array->vt;
  return S_OK;
}

uint32_t SafeArrayGetElemsize(SAFEARRAY* array) { return array == nullptr ? 0 : array->cbElements; }

HRESULT SafeArrayGetLBound(SAFEARRAY* array, uint32_t dimension, int32_t* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dimension != 1) return DISP_E_BADINDEX;
  *bound = array->rgsabound[0].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, uint32_t dimension, int32_t* bound) {
  if (array == nullptr || bound == nullptr) return E_INVALIDARG;
  if (dimension != 1) return DISP_E_BADINDEX;
  *bound = static_cast<int32_t>(static_cast<int64_t>(array->rgsabound[0].lLbound) + array->rgsabound[0].cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const int32_t* index, void* element) {
  if (index == nullptr || element == nullptr || !IsUsableArray(array)) return E_INVALIDARG;
  const std::optional<uint32_t> offset = ElementOffset(array, *index);
  if (!offset) return DISP_E_BADINDEX;
  void* from = ElementAt(array, *offset);
  if (array->vt == VT_BSTR) {
    BSTR text = *static_cast<BSTR*>(from);
    BSTR dup = nullptr;
    if (text != nullptr && (dup = SysAllocStringLen(text, SysStringLen(text))) == nullptr) return E_OUTOFMEMORY;
    std::memcpy(element, &dup, sizeof dup);
    return S_OK;
  }
  if (array->vt == VT_VARIANT) {
    // The caller's memory is an output, not a value to free first.
    VARIANT copy;
    VariantInit(&copy);
    const HRESULT hr = VariantCopy(&copy, static_cast<VARIANT*>(from));
    if (FAILED(hr)) return hr;
    std::memcpy(element, &copy, sizeof copy);
    return S_OK;
  }
  std::memcpy(element, from, array->cbElements);
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const int32_t* index, const void* element) {
  if (index == nullptr || !IsUsableArray(array)) return E_INVALIDARG;
  if (element == nullptr && array->vt != VT_BSTR) return E_INVALIDARG;
  const std::optional<uint32_t> offset = ElementOffset(array, *index);
  if (!offset) return DISP_E_BADINDEX;
  void* to = ElementAt(array, *offset);
  if (array->vt == VT_BSTR) {
    // As in OLE, a text element is passed as the BSTR itself.
    BSTR text = static_cast<BSTR>(const_cast<void*>(element));
    BSTR dup = nullptr;
    if (text != nullptr && (dup = SysAllocStringLen(text, SysStringLen(text))) == nullptr) return E_OUTOFMEMORY;
    SysFreeString(*static_cast<BSTR*>(to));
    *static_cast<BSTR*>(to) = dup;
    return S_OK;
  }
  if (array->vt == VT_VARIANT) return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(element));
  std::memcpy(to, element, array->cbElements);
  return S_OK;
}

// --- VARIANT ------------------------------------------------------------------

void VariantInit(VARIANT* value) {
  // Every byte, not just the type: a record written to a file stays repeatable.
  if (value != nullptr) std::memset(value, 0, sizeof *value);
}

HRESULT VariantClear(VARIANT* value) {
  if (value == nullptr) return E_INVALIDARG;
  if (!IsKnownVarType(value->vt)) return DISP_E_BADVARTYPE;
  if (value->vt & VT_ARRAY) {
    if (!(value->vt & VT_BYREF)) SafeArrayDestroy(value->parray);
  } else if (value->vt == VT_BSTR) {
    SysFreeString(value->bstrVal);
  }
  // By-reference values and interface pointers are borrowed, never owned here.
  VariantInit(value);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
  if (destination == source) return S_OK;
  if (!IsKnownVarType(source->vt)) return DISP_E_BADVARTYPE;
  // Build the copy aside first: the source may live inside what the
  // destination owns (an element of its array), and a failure must leave the
  // destination as it was.
  VARIANT copy;
  std::memcpy(&copy, source, sizeof copy);
  if ((source->vt & VT_ARRAY) && !(source->vt & VT_BYREF)) {
    const HRESULT hr = SafeArrayCopy(source->parray, &copy.parray);
    if (FAILED(hr)) return hr;
  } else if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
    copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
    if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
  }
  VariantClear(destination);
  std::memcpy(destination, &copy, sizeof copy);
  return S_OK;
}

HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, uint16_t /*flags*/, VARTYPE vt) {
  if (destination == nullptr || source == nullptr) return E_INVALIDARG;
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = Convert(*source, vt, &result);
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  // Only now may the destination go: it may be the source itself.
  VariantClear(destination);
  std::memcpy(destination, &result, sizeof result);
  return S_OK;
}

VARIANT MakeVariantI2(int16_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I2;
  v.iVal = value;
  return v;
}

VARIANT MakeVariantI4(int32_t value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

VARIANT MakeVariantR4(float value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R4;
  v.fltVal = value;
  return v;
}

VARIANT MakeVariantR8(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

VARIANT MakeVariantBool(bool value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BOOL;
  v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

VARIANT MakeVariantText(std::string_view utf8) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = Utf8ToBstr(utf8);  // null on exhaustion, which reads as empty text
  return v;
}

// --- dates --------------------------------------------------------------------

namespace {
constexpr int64_t kTicksPerDay = 864000000000;
constexpr int64_t kTicksAtDateZero = 109205 * kTicksPerDay;  // 1899-12-30 counted from 1601-01-01
}  // namespace

double VariantDateFromTicks(int64_t ticks) {
  // Whole days and the rest apart, so the day count stays exact; the days
  // are counted before moving to the date's zero, so that no tick count a
  // peer sends (down to INT64_MIN) overflows.
  int64_t days = ticks / kTicksPerDay - kTicksAtDateZero / kTicksPerDay;
  int64_t rest = ticks % kTicksPerDay;
  if (rest < 0) rest += kTicksPerDay, --days;
  return DateFromLinear(static_cast<double>(days) + static_cast<double>(rest) / static_cast<double>(kTicksPerDay));
}

bool TicksFromVariantDate(double date, int64_t* ticks) {
  if (ticks == nullptr || !IsValidDate(date)) return false;
  const double linear = LinearFromDate(date);
  const double days = std::floor(linear);
  const int64_t rest = std::llround((linear - days) * static_cast<double>(kTicksPerDay));
  *ticks = kTicksAtDateZero + static_cast<int64_t>(days) * kTicksPerDay + rest;
  return true;
}

VARIANT MakeVariantDate(double date) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_DATE;
  v.date = date;
  return v;
}
