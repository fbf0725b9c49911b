// The OLE Automation value: VARIANT, BSTR and one-dimensional SAFEARRAY.
//
// Tag values are VARIANTs everywhere in Plexmar: in the tag table, in the OPC
// server items, in the project file (as the 16-byte record) and in logic
// assignments. This is a Linux stand-in with the same type codes, the same
// 16-byte value record and the conversion rules of OLE Automation that the
// system relies on.
//
// Conversions supported by VariantChangeType (anything else fails with
// DISP_E_TYPEMISMATCH, or DISP_E_BADVARTYPE for a type code we do not know):
//
//   from \ to            EMPTY  I1 UI1 I2 UI2 I4 UI4 INT UINT I8 UI8  R4 R8  BOOL BSTR
//   EMPTY                  x     0 .. (every number type gives 0)   0   0  F    ""
//   numbers, BOOL          -     x  x  x  x  x  x   x   x   x   x   x  x   x    x
//   BSTR                   -     x  x  x  x  x  x   x   x   x   x   x  x   x    x
//   DATE                   -     x  x  x  x  x  x   x   x   x   x   x  x   x    x
//   arrays (VT_ARRAY|t)    only to the identical array type (a copy)
//   to DATE                from EMPTY, numbers, BOOL and BSTR
//
// - Numbers to integer types round half to even (2.5 -> 2, 3.5 -> 4, -2.5 -> -2)
//   and fail with DISP_E_OVERFLOW when the rounded value does not fit, and for
//   NaN and infinities.
// - Double to VT_R4 fails with DISP_E_OVERFLOW when the value would round
//   beyond FLT_MAX (to infinity); NaN and infinities pass through.
// - BSTR to a number: leading and trailing blanks are allowed; the rest must be
//   a decimal number ("12", "-3.5", "1e3", "+.5"); otherwise DISP_E_TYPEMISMATCH
//   ("abc", "", "12abc", "0x10", "nan", "1,5"). A whole number without point or
//   exponent is read exactly (all 64-bit integers); any other is read as a
//   double (or straight as a float for VT_R4) and converts as one (rounding and
//   overflow as above; text beyond the double range is DISP_E_OVERFLOW).
// - BSTR to VT_BOOL: "True" or "False" in any letter case, or a number (0 is
//   false, anything else true); otherwise DISP_E_TYPEMISMATCH.
// - Any conversion from another type that makes a VT_BOOL makes VARIANT_TRUE
//   (-1) or VARIANT_FALSE (0); VT_BOOL to VT_BOOL is a copy. VT_BOOL to a
//   number gives the value it holds: VARIANT_TRUE gives -1, and a bit point's
//   true (stored as 1) gives 1; to an unsigned type VARIANT_TRUE is all bits
//   set (255, 65535, ...).
// - Numbers to BSTR use the shortest text that reads back to the same value of
//   the source type ("1", "-2.5", "0.1" for VT_R4 0.1f, "1E+20", "1.5E-07"):
//   plain digits unless the decimal exponent is below -4 or reaches 15 (7 for
//   VT_R4), then "d.dddE+XX" with at least two exponent digits; -0 gives "0",
//   NaN "NaN", infinities "Infinity" and "-Infinity" (none of which reads back
//   as a number). VT_BOOL gives "True" or "False"; VT_EMPTY gives "".
// - VT_EMPTY to a number gives 0, to VT_BOOL false, to VT_BSTR empty text.
// - Anything to VT_EMPTY clears the destination. Any type to itself is a copy.
// - VT_DATE counts days from 1899-12-30 00:00 as a double; every VT_DATE in
//   Plexmar is UTC. Before that day the whole days count backwards while the
//   fraction still counts forwards (-1.25 is 1899-12-29 06:00), as in OLE.
//   Valid dates run from 0100-01-01 to 9999-12-31. To numbers and VT_BOOL a
//   date converts as its double; a number converts to a date as the day count,
//   with DISP_E_OVERFLOW outside the valid range. To VT_BSTR a date gives ISO
//   8601 UTC text, to the millisecond: "2026-12-08T23:21:07Z",
//   "2026-12-08T23:21:07.250Z". From VT_BSTR: that form, "YYYY-MM-DD" alone,
//   'T' or a blank before the time, seconds and fraction optional, and a zone
//   "Z", "+01:00" or "-0130" (no zone means UTC); any other text is read as a
//   number of days.
//
// Texts are UTF-16 (char16_t) as in OLE; Utf8ToBstr and BstrToUtf8 cross to the
// UTF-8 std::string that the rest of the program uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using VARTYPE = uint16_t;
using HRESULT = int32_t;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using VARIANT_BOOL = int16_t;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_TYPEMASK = 0x0FFF,
};

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

struct SAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
};

// One-dimensional arrays only; the element type is kept beside the data so
// that SafeArrayGetVartype can answer.
struct SAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
  VARTYPE vt;
};

// The 16-byte value record: type, three reserved words, eight data bytes.
struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int64_t llVal;
    uint64_t ullVal;
    int32_t lVal;
    uint32_t ulVal;
    int32_t intVal;
    uint32_t uintVal;
    int16_t iVal;
    uint16_t uiVal;
    int8_t cVal;
    uint8_t bVal;
    float fltVal;
    double dblVal;
    double date;
    int64_t cyVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    BSTR bstrVal;
    SAFEARRAY* parray;
  };
};
static_assert(sizeof(VARIANT) == 16, "the VARIANT record is 16 bytes");

// --- BSTR -----------------------------------------------------------------
// A BSTR points at UTF-16 text that ends in a 0 unit, with its length in units
// stored just before it. A null BSTR is the empty text. Allocation returns null
// when memory runs out. Utf8ToBstr turns each malformed UTF-8 sequence into
// U+FFFD; BstrToUtf8 does the same for an unpaired surrogate.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, uint32_t length);
void SysFreeString(BSTR text);
uint32_t SysStringLen(BSTR text);

BSTR Utf8ToBstr(std::string_view utf8);
std::string BstrToUtf8(BSTR text);
std::u16string BstrToU16(BSTR text);

// --- SAFEARRAY ------------------------------------------------------------
// Element types supported: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT,
// VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8, VT_DATE, VT_BOOL, VT_BSTR, VT_VARIANT. A VT_BSTR array owns its
// texts and a VT_VARIANT array its values.
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, int32_t lowerBound, uint32_t count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy);
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
uint32_t SafeArrayGetElemsize(SAFEARRAY* array);
HRESULT SafeArrayGetLBound(SAFEARRAY* array, uint32_t dimension, int32_t* bound);
HRESULT SafeArrayGetUBound(SAFEARRAY* array, uint32_t dimension, int32_t* bound);
// Copies one element out (a BSTR or VARIANT element is copied, so the caller
// owns the copy); DISP_E_BADINDEX outside the bounds. `element` is an output:
// whatever it held before is overwritten, not freed.
HRESULT SafeArrayGetElement(SAFEARRAY* array, const int32_t* index, void* element);
// Copies one element in (a BSTR or VARIANT is copied, the array owns the copy,
// and the element's previous text or value is freed). As in OLE, for a VT_BSTR
// array `element` is the BSTR itself; for every other type it points at the
// value (a VARIANT* for VT_VARIANT).
HRESULT SafeArrayPutElement(SAFEARRAY* array, const int32_t* index, const void* element);

// --- VARIANT --------------------------------------------------------------
// Zeroes all 16 bytes (VT_EMPTY).
void VariantInit(VARIANT* value);
// Frees what the value owns (text, array) and leaves it VT_EMPTY; a type code
// we do not know is left alone with DISP_E_BADVARTYPE. By-reference values and
// interface pointers are not owned and not freed.
HRESULT VariantClear(VARIANT* value);
// Deep copy; the destination is cleared first. Copying a value onto itself is
// harmless. On failure (DISP_E_BADVARTYPE, E_OUTOFMEMORY) the destination is
// left as it was.
HRESULT VariantCopy(VARIANT* destination, const VARIANT* source);
// Converts `source` to type `vt` into `destination` (which may be `source`
// itself). On failure the destination is left as it was. `flags` is accepted
// for the familiar signature and ignored.
HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, uint16_t flags, VARTYPE vt);

// Builders that start from a fresh value.
VARIANT MakeVariantI2(int16_t value);
VARIANT MakeVariantI4(int32_t value);
VARIANT MakeVariantR4(float value);
VARIANT MakeVariantR8(double value);
VARIANT MakeVariantBool(bool value);
VARIANT MakeVariantText(std::string_view utf8);
VARIANT MakeVariantDate(double date);

// Dates and 100 ns ticks since 1601-01-01 UTC (the count of FILETIME and of
// OPC UA's DateTime). A tick count maps onto the nearest date the double can
// hold (about a microsecond apart today); a date outside the valid range
// gives false.
double VariantDateFromTicks(int64_t ticks);
bool TicksFromVariantDate(double date, int64_t* ticks);

// Owns one VARIANT for its lifetime: copying copies the value deeply.
class CVariant {
 public:
  CVariant() { VariantInit(&m_value); }
  explicit CVariant(const VARIANT& value) {
    VariantInit(&m_value);
    VariantCopy(&m_value, &value);
  }
  CVariant(const CVariant& other) : CVariant(other.m_value) {}
  CVariant& operator=(const CVariant& other) {
    if (this != &other) VariantCopy(&m_value, &other.m_value);
    return *this;
  }
  CVariant& operator=(const VARIANT& value) {
    VariantCopy(&m_value, &value);
    return *this;
  }
  ~CVariant() { VariantClear(&m_value); }

  // Takes over `value` without copying; `value` is left VT_EMPTY.
  static CVariant Adopt(VARIANT& value) {
    CVariant v;
    v.m_value = value;
    VariantInit(&value);
    return v;
  }

  VARIANT* get() { return &m_value; }
  const VARIANT* get() const { return &m_value; }
  VARIANT& operator*() { return m_value; }
  const VARIANT& operator*() const { return m_value; }
  VARIANT* operator->() { return &m_value; }
  const VARIANT* operator->() const { return &m_value; }

 private:
  VARIANT m_value;
};
