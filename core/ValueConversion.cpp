#include "core/ValueConversion.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/ExchangeTag.h"

namespace {

bool IsBitPoint(const CExchangeTag& tag) {
  return tag.m_nPointType == CExchangeTag::kCoilStatus ||
         tag.m_nPointType == CExchangeTag::kInputStatus;
}

bool IsRegisterPoint(const CExchangeTag& tag) {
  return tag.m_nPointType == CExchangeTag::kHoldingRegister ||
         tag.m_nPointType == CExchangeTag::kInputRegister;
}

// Full scale of a scaled data type, 0 for the others.
float FullScale(int32_t dataType) {
  switch (dataType) {
    case CExchangeTag::kScaled4095: return 4095.0f;
    case CExchangeTag::kScaled9999: return 9999.0f;
    case CExchangeTag::kScaled65535: return 65535.0f;
    default: return 0.0f;
  }
}

bool IsSwapped(int32_t dataType) {
  return dataType == CExchangeTag::kWsLong || dataType == CExchangeTag::kWsFloat;
}

// The 32-bit pattern of registers A (the tag's address) and B (address + 1).
uint32_t JoinWords(int32_t dataType, uint16_t a, uint16_t b) {
  return IsSwapped(dataType) ? (uint32_t{a} << 16) | b : (uint32_t{b} << 16) | a;
}

void SplitWords(int32_t dataType, uint32_t pattern, uint16_t& a, uint16_t& b) {
  const uint16_t low = static_cast<uint16_t>(pattern & 0xFFFF);
  const uint16_t high = static_cast<uint16_t>(pattern >> 16);
  a = IsSwapped(dataType) ? high : low;
  b = IsSwapped(dataType) ? low : high;
}

// The VARIANT type a write to the tag converts its value to; VT_EMPTY when
// the tag has no conversion.
VARTYPE WriteType(const CExchangeTag& tag) {
  if (IsBitPoint(tag)) return VT_BOOL;
  if (!IsRegisterPoint(tag)) return VT_EMPTY;
  switch (tag.m_nDataType) {
    case CExchangeTag::kInteger: return VT_I2;
    case CExchangeTag::kUnsigned: return VT_I4;
    case CExchangeTag::kScaled4095:
    case CExchangeTag::kScaled9999:
    case CExchangeTag::kScaled65535: return VT_R4;
    case CExchangeTag::kLong:
    case CExchangeTag::kWsLong: return VT_I4;
    case CExchangeTag::kFloat:
    case CExchangeTag::kWsFloat: return VT_R4;
    default: return VT_EMPTY;
  }
}

uint16_t ScaleToWord(float value, float low, float high, float fullScale) {
  if (std::isnan(value)) return 0;
  if (value > high) return static_cast<uint16_t>(fullScale);
  if (value <= low) return 0;
  // Here low < value <= high, so the quotient lies in (0, 1].
  const double word = (double{value} - low) / (double{high} - low) * fullScale;
  return static_cast<uint16_t>(word);
}

}  // namespace

TagReadResult ReadTagValue(const CExchangeTag& tag, PointReader reader) {
  TagReadResult result;
  VariantInit(&result.value);
  const uint16_t address = tag.m_nAddress;
  if (IsBitPoint(tag)) {
    uint16_t word = 0;
    result.bValid = reader(address, word);
    result.value.vt = VT_BOOL;
    result.value.boolVal = word != 0 ? 1 : 0;
    result.bConverted = true;
    return result;
  }
  if (!IsRegisterPoint(tag)) return result;

  const int32_t type = tag.m_nDataType;
  switch (type) {
    case CExchangeTag::kInteger:
    case CExchangeTag::kUnsigned: {
      uint16_t word = 0;
      result.bValid = reader(address, word);
      result.value.vt = VT_I2;
      result.value.iVal = static_cast<int16_t>(word);
      break;
    }
    case CExchangeTag::kScaled4095:
    case CExchangeTag::kScaled9999:
    case CExchangeTag::kScaled65535: {
      uint16_t word = 0;
      result.bValid = reader(address, word);
      const float fraction = static_cast<float>(word) / FullScale(type);
      result.value.vt = VT_R4;
      result.value.fltVal =
          static_cast<float>((tag.m_fHighLimit - tag.m_fLowLimit) * fraction + tag.m_fLowLimit);
      break;
    }
    case CExchangeTag::kLong:
    case CExchangeTag::kWsLong:
    case CExchangeTag::kFloat:
    case CExchangeTag::kWsFloat: {
      uint16_t a = 0, b = 0;
      const bool validA = reader(address, a);
      // The second register of a pair past point 65535 does not exist.
      const bool validB = address < 0xFFFF && reader(static_cast<uint16_t>(address + 1), b);
      result.bValid = validA && validB;
      const uint32_t pattern = JoinWords(type, a, b);
      if (type == CExchangeTag::kLong || type == CExchangeTag::kWsLong) {
        result.value.vt = VT_I4;
        result.value.lVal = static_cast<int32_t>(pattern);
      } else {
        result.value.vt = VT_R4;
        std::memcpy(&result.value.fltVal, &pattern, sizeof(float));
      }
      break;
    }
    default:
      return result;
  }
  result.bConverted = true;
  return result;
}

bool WriteTagValue(const CExchangeTag& tag, const VARIANT& value, PointWriter writer) {
  const VARTYPE target = WriteType(tag);
  if (target == VT_EMPTY) return false;
  CVariant converted;
  if (FAILED(VariantChangeType(converted.get(), &value, 0, target))) return false;

  const uint16_t address = tag.m_nAddress;
  if (IsBitPoint(tag)) {
    const uint16_t word = converted->boolVal != 0 ? 1 : 0;
    return writer(address, &word, 1);
  }

  const int32_t type = tag.m_nDataType;
  switch (type) {
    case CExchangeTag::kInteger: {
      const uint16_t word = static_cast<uint16_t>(converted->iVal);
      return writer(address, &word, 1);
    }
    case CExchangeTag::kUnsigned: {
      const uint16_t word = static_cast<uint16_t>(converted->lVal & 0xFFFF);
      return writer(address, &word, 1);
    }
    case CExchangeTag::kScaled4095:
    case CExchangeTag::kScaled9999:
    case CExchangeTag::kScaled65535: {
      const uint16_t word =
          ScaleToWord(converted->fltVal, tag.m_fLowLimit, tag.m_fHighLimit, FullScale(type));
      return writer(address, &word, 1);
    }
    case CExchangeTag::kLong:
    case CExchangeTag::kWsLong:
    case CExchangeTag::kFloat:
    case CExchangeTag::kWsFloat: {
      if (address == 0xFFFF) return false;  // no room for the second register
      uint32_t pattern = 0;
      if (type == CExchangeTag::kLong || type == CExchangeTag::kWsLong)
        pattern = static_cast<uint32_t>(converted->lVal);
      else
        std::memcpy(&pattern, &converted->fltVal, sizeof(float));
      uint16_t a = 0, b = 0;
      SplitWords(type, pattern, a, b);
      if (!writer(address, &a, 1)) return false;
      return writer(static_cast<uint16_t>(address + 1), &b, 1);
    }
    default:
      return false;
  }
}

namespace {

// Compares two arrays of one element type element by element, within their
// own bounds only.
bool IsSameArray(SAFEARRAY* current, SAFEARRAY* candidate) {
  if (current == nullptr || candidate == nullptr) return current == candidate;
  VARTYPE vtCurrent = VT_EMPTY, vtCandidate = VT_EMPTY;
  if (FAILED(SafeArrayGetVartype(current, &vtCurrent)) ||
      FAILED(SafeArrayGetVartype(candidate, &vtCandidate)) || vtCurrent != vtCandidate)
    return false;
  int32_t lowCurrent = 0, highCurrent = 0, lowCandidate = 0, highCandidate = 0;
  if (FAILED(SafeArrayGetLBound(current, 1, &lowCurrent)) ||
      FAILED(SafeArrayGetUBound(current, 1, &highCurrent)) ||
      FAILED(SafeArrayGetLBound(candidate, 1, &lowCandidate)) ||
      FAILED(SafeArrayGetUBound(candidate, 1, &highCandidate)))
    return false;
  if (lowCurrent != lowCandidate || highCurrent != highCandidate) return false;

  for (int32_t i = lowCurrent; i <= highCurrent; ++i) {
    if (vtCurrent == VT_BSTR) {
      // Elements come out as copies: compare the texts, not the pointers.
      BSTR a = nullptr, b = nullptr;
      const bool read = SUCCEEDED(SafeArrayGetElement(current, &i, &a)) &&
                        SUCCEEDED(SafeArrayGetElement(candidate, &i, &b));
      const bool same = read && BstrToU16(a) == BstrToU16(b);
      SysFreeString(a);
      SysFreeString(b);
      if (!same) return false;
    } else if (vtCurrent == VT_VARIANT) {
      CVariant a, b;
      if (FAILED(SafeArrayGetElement(current, &i, a.get())) ||
          FAILED(SafeArrayGetElement(candidate, &i, b.get())) || a->vt != b->vt ||
          !IsSameValue(*a, *b))
        return false;
    } else {
      // Plain numbers: compare the element bytes in a zeroed buffer.
      alignas(8) unsigned char a[20] = {}, b[20] = {};
      if (SafeArrayGetElemsize(current) > sizeof(a)) return false;
      if (FAILED(SafeArrayGetElement(current, &i, a)) ||
          FAILED(SafeArrayGetElement(candidate, &i, b)) || std::memcmp(a, b, sizeof(a)) != 0)
        return false;
    }
  }
  return true;
}

}  // namespace

bool IsSameValue(const VARIANT& current, const VARIANT& candidate) {
  const VARTYPE type = current.vt;
  // Converting anything to VT_EMPTY would make it equal to an empty value, so
  // a tag that once held nothing would never take a value again.
  if (type == VT_EMPTY || type == VT_NULL) return candidate.vt == type;

  // The tick compares every tag with a value of its own type: answer those
  // directly, as the conversions below would.
  if (candidate.vt == type) {
    switch (type) {
      case VT_I2: return current.iVal == candidate.iVal;
      case VT_I4: return current.lVal == candidate.lVal;
      // As doubles, bit for bit: a true read from a coil (1) and a client's
      // VARIANT_TRUE (-1) differ.
      case VT_BOOL: return current.boolVal == candidate.boolVal;
      case VT_R4: return std::memcmp(&current.fltVal, &candidate.fltVal, sizeof(float)) == 0;
      case VT_R8: return std::memcmp(&current.dblVal, &candidate.dblVal, sizeof(double)) == 0;
      default: break;
    }
  }

  CVariant left(current);
  CVariant right;
  if (FAILED(VariantChangeType(right.get(), &candidate, 0, type))) return false;

  if (type == VT_BSTR) return BstrToU16(left->bstrVal) == BstrToU16(right->bstrVal);
  if ((type & VT_ARRAY) != 0) return IsSameArray(left->parray, right->parray);

  if (FAILED(VariantChangeType(left.get(), left.get(), 0, VT_R8)) ||
      FAILED(VariantChangeType(right.get(), right.get(), 0, VT_R8)))
    return false;
  return std::memcmp(&left->dblVal, &right->dblVal, sizeof(double)) == 0;
}

namespace {

// Appends printf-formatted text, cut so that `out` never exceeds `limit`.
template <class... Args>
void AppendFormat(std::string& out, size_t limit, const char* format, Args... args) {
  if (out.size() >= limit) return;
  // A double can print as over 300 digits: measure before formatting.
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return;
  std::string piece(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(piece.data(), piece.size(), format, args...);
  out.append(piece.data(), std::min(static_cast<size_t>(n), limit - out.size()));
}

// Cuts text to at most `limit` bytes without splitting a UTF-8 sequence.
void CutUtf8(std::string& text, size_t limit) {
  if (text.size() <= limit) return;
  size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
}

std::string FormatArray(SAFEARRAY* array, size_t bufferSize) {
  std::string out;
  VARTYPE vt = VT_EMPTY;
  int32_t low = 0, high = -1;
  if (array == nullptr || FAILED(SafeArrayGetVartype(array, &vt)) ||
      FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high)))
    return out;
  if (vt != VT_I2 && vt != VT_R4 && vt != VT_BOOL) return out;
  const size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;

  for (int32_t i = low; i <= high; ++i) {
    char element[64] = {};
    if (vt == VT_I2) {
      int16_t v = 0;
      if (FAILED(SafeArrayGetElement(array, &i, &v))) break;
      std::snprintf(element, sizeof(element), "%d,", v);
    } else if (vt == VT_R4) {
      float v = 0;
      if (FAILED(SafeArrayGetElement(array, &i, &v))) break;
      std::snprintf(element, sizeof(element), "%5.2f,", static_cast<double>(v));
    } else {
      VARIANT_BOOL v = 0;
      if (FAILED(SafeArrayGetElement(array, &i, &v))) break;
      std::snprintf(element, sizeof(element), "%s,", v != 0 ? "true" : "false");
    }
    const size_t length = std::strlen(element);
    // Room for the element and a closing ".etc" within the buffer.
    if (out.size() + 4 + length >= bufferSize) {
      out += ".etc";
      break;
    }
    out += element;
  }
  if (out.size() > limit) out.resize(limit);
  return out;
}

}  // namespace

std::string FormatValue(const VARIANT& value, size_t bufferSize) {
  const size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
  std::string out;
  if ((value.vt & VT_ARRAY) != 0) {
    if ((value.vt & VT_BYREF) != 0) return out;
    return FormatArray(value.parray, bufferSize);
  }
  switch (value.vt) {
    case VT_I2: AppendFormat(out, limit, "%d ", value.iVal); break;
    case VT_I4: AppendFormat(out, limit, "%ld ", static_cast<long>(value.lVal)); break;
    case VT_R4: AppendFormat(out, limit, "%5.2f ", static_cast<double>(value.fltVal)); break;
    case VT_R8: AppendFormat(out, limit, "%9.4f ", value.dblVal); break;
    case VT_BSTR:
      out = BstrToUtf8(value.bstrVal);
      out += ' ';
      CutUtf8(out, limit);
      break;
    case VT_BOOL: AppendFormat(out, limit, "%s", value.boolVal != 0 ? "TRUE" : "FALSE"); break;
    // A byte prints as 0..255 whether it is signed or not.
    case VT_I1: AppendFormat(out, limit, "%d ", static_cast<int>(static_cast<uint8_t>(value.cVal))); break;
    case VT_UI1: AppendFormat(out, limit, "%d ", static_cast<int>(value.bVal)); break;
    case VT_UI2: AppendFormat(out, limit, "%d ", static_cast<int>(value.uiVal)); break;
    case VT_INT: AppendFormat(out, limit, "%ld ", static_cast<long>(value.intVal)); break;
    case VT_UI4: AppendFormat(out, limit, "%lu ", static_cast<unsigned long>(value.ulVal)); break;
    case VT_UINT: AppendFormat(out, limit, "%lu ", static_cast<unsigned long>(value.uintVal)); break;
    default: break;
  }
  return out;
}

std::string GetValueString(const CExchangeTag& tag, VARTYPE vt) {
  CVariant copy(*tag.m_value);
  if (vt != VT_EMPTY && FAILED(VariantChangeType(copy.get(), copy.get(), 0, vt)))
    return "Invalid VariantType";
  return FormatValue(*copy, 200);
}
