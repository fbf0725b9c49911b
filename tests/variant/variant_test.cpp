// VARIANT, BSTR and SAFEARRAY behaviour that tag values, the project file and
// the OPC exposure depend on.

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <string>

#include "platform/variant.h"
#include "platform/wintypes.h"

namespace {

// Converts a copy of `value` and reports the result code; `out` holds the result.
HRESULT Change(const VARIANT& value, VARTYPE vt, CVariant& out) {
  CVariant source(value);
  return VariantChangeType(out.get(), source.get(), 0, vt);
}

CVariant Own(VARIANT v) { return CVariant::Adopt(v); }

CVariant Text(std::string_view utf8) { return Own(MakeVariantText(utf8)); }

VARIANT I2Array(std::initializer_list<int16_t> values) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I2;
  v.parray = SafeArrayCreateVector(VT_I2, 0, static_cast<uint32_t>(values.size()));
  int32_t i = 0;
  for (int16_t x : values) SafeArrayPutElement(v.parray, &i, &x), ++i;
  return v;
}

std::string AsText(const VARIANT& value) {
  CVariant out;
  EXPECT_EQ(Change(value, VT_BSTR, out), S_OK);
  return BstrToUtf8(out->bstrVal);
}

// --- BSTR ----------------------------------------------------------------------

TEST(Bstr, NullIsEmptyAndLengthIsStored) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(BstrToUtf8(nullptr), "");
  EXPECT_EQ(BstrToU16(nullptr), u"");
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);

  // Embedded zero units are part of the text: the length decides, not a 0.
  const char16_t raw[] = {u'a', 0, u'b'};
  BSTR text = SysAllocStringLen(raw, 3);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 3u);
  EXPECT_EQ(text[3], 0);
  EXPECT_EQ(BstrToU16(text), std::u16string(raw, 3));
  EXPECT_EQ(BstrToUtf8(text), std::string("a\0b", 3));
  SysFreeString(text);

  BSTR blank = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(blank, nullptr);
  for (int i = 0; i <= 4; ++i) EXPECT_EQ(blank[i], 0);
  SysFreeString(blank);

  BSTR hello = SysAllocString(u"hello");
  EXPECT_EQ(SysStringLen(hello), 5u);
  SysFreeString(hello);
}

TEST(Bstr, NonAsciiRoundTrip) {
  const std::string samples[] = {"Temperatur Kessel 3 \xC2\xB0" "C", "\xC3\xA9t\xC3\xA9",
                                 "\xE6\xB8\xA9\xE5\xBA\xA6", "pump \xF0\x9F\x9A\x80 on", ""};
  for (const std::string& s : samples) {
    BSTR text = Utf8ToBstr(s);
    ASSERT_NE(text, nullptr) << s;
    EXPECT_EQ(BstrToUtf8(text), s);
    SysFreeString(text);
  }
  BSTR degree = Utf8ToBstr("\xC2\xB0" "C");
  EXPECT_EQ(BstrToU16(degree), u"\u00B0C");
  SysFreeString(degree);
  // A character beyond the basic plane takes a surrogate pair.
  BSTR rocket = Utf8ToBstr("\xF0\x9F\x9A\x80");
  EXPECT_EQ(BstrToU16(rocket), u"\U0001F680");
  EXPECT_EQ(SysStringLen(rocket), 2u);
  SysFreeString(rocket);
}

TEST(Bstr, MalformedUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string bytes;
    std::u16string expected;
  } cases[] = {
      {"a\xFF" "b", u"a\uFFFDb"},
      {"\xC3", u"\uFFFD"},                   // cut short at the end
      {"\xC3(", u"\uFFFD("},                 // the bad byte starts the next character
      {"\xC0\xAF", u"\uFFFD\uFFFD"},         // overlong '/'
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
      {"\xE2\x82" "x", u"\uFFFDx"},
  };
  for (const Case& c : cases) {
    BSTR text = Utf8ToBstr(c.bytes);
    EXPECT_EQ(BstrToU16(text), c.expected);
    SysFreeString(text);
  }
  // Lone surrogates in UTF-16 come out as U+FFFD rather than invalid UTF-8.
  const char16_t lone[] = {u'x', 0xD800, u'y', 0xDC00};
  BSTR text = SysAllocStringLen(lone, 4);
  EXPECT_EQ(BstrToUtf8(text), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
  SysFreeString(text);
}

// --- SAFEARRAY -------------------------------------------------------------------

TEST(SafeArray, BoundsAndElementSizes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I2, 1, 3);
  ASSERT_NE(array, nullptr);
  int32_t lower = 0, upper = 0;
  EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 3);
  EXPECT_EQ(SafeArrayGetUBound(array, 2, &upper), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetElemsize(array), 2u);
  VARTYPE vt = VT_EMPTY;
  EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
  EXPECT_EQ(vt, VT_I2);

  int16_t value = 7;
  for (int32_t index : {0, 4, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(SafeArrayPutElement(array, &index, &value), DISP_E_BADINDEX) << index;
    EXPECT_EQ(SafeArrayGetElement(array, &index, &value), DISP_E_BADINDEX) << index;
  }
  for (int32_t index = 1; index <= 3; ++index) {
    const int16_t in = static_cast<int16_t>(-100 * index);
    EXPECT_EQ(SafeArrayPutElement(array, &index, &in), S_OK);
  }
  for (int32_t index = 1; index <= 3; ++index) {
    int16_t out = 0;
    EXPECT_EQ(SafeArrayGetElement(array, &index, &out), S_OK);
    EXPECT_EQ(out, -100 * index);
  }
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);

  struct Size {
    VARTYPE vt;
    uint32_t bytes;
  } sizes[] = {{VT_I1, 1}, {VT_UI1, 1}, {VT_UI2, 2}, {VT_BOOL, 2}, {VT_I4, 4}, {VT_UI4, 4}, {VT_INT, 4},
               {VT_UINT, 4}, {VT_R4, 4}, {VT_R8, 8}, {VT_BSTR, sizeof(BSTR)}, {VT_VARIANT, 16}};
  for (const Size& s : sizes) {
    SAFEARRAY* a = SafeArrayCreateVector(s.vt, 0, 2);
    ASSERT_NE(a, nullptr) << s.vt;
    EXPECT_EQ(SafeArrayGetElemsize(a), s.bytes) << s.vt;
    SafeArrayDestroy(a);
  }
  EXPECT_EQ(SafeArrayCreateVector(VT_DISPATCH, 0, 2), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 2), nullptr);
  // An upper bound beyond int32 cannot be reported, so such an array is refused.
  EXPECT_EQ(SafeArrayCreateVector(VT_I2, INT32_MAX, 2), nullptr);

  SAFEARRAY* empty = SafeArrayCreateVector(VT_R4, 0, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SafeArrayGetUBound(empty, 1, &upper), S_OK);
  EXPECT_EQ(upper, -1);
  int32_t zero = 0;
  float f = 0;
  EXPECT_EQ(SafeArrayGetElement(empty, &zero, &f), DISP_E_BADINDEX);
  SafeArrayDestroy(empty);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArray, TextAndValueElementsAreOwnedCopies) {
  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
  BSTR mine = Utf8ToBstr("Kessel");
  int32_t index = 0;
  ASSERT_EQ(SafeArrayPutElement(texts, &index, mine), S_OK);
  mine[0] = u'X';  // the array kept its own copy
  SysFreeString(mine);
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(texts, &index, &got), S_OK);
  EXPECT_EQ(BstrToUtf8(got), "Kessel");
  got[0] = u'Y';  // and handed out another one
  SysFreeString(got);
  BSTR again = nullptr;
  SafeArrayGetElement(texts, &index, &again);
  EXPECT_EQ(BstrToUtf8(again), "Kessel");
  SysFreeString(again);
  // Replacing an element frees the old text (ASan would report a leak).
  BSTR other = Utf8ToBstr("Pumpe");
  EXPECT_EQ(SafeArrayPutElement(texts, &index, other), S_OK);
  SysFreeString(other);
  index = 1;
  OLECHAR notAllocated[] = u"x";
  BSTR unset = notAllocated;
  SafeArrayGetElement(texts, &index, &unset);  // an output: the old pointer is not freed
  EXPECT_EQ(unset, nullptr);
  SafeArrayDestroy(texts);

  SAFEARRAY* values = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  CVariant text = Text("Ventil");
  index = 0;
  ASSERT_EQ(SafeArrayPutElement(values, &index, text.get()), S_OK);
  VARIANT out;
  std::memset(&out, 0xAB, sizeof out);  // garbage: GetElement must not free it
  ASSERT_EQ(SafeArrayGetElement(values, &index, &out), S_OK);
  CVariant owned = CVariant::Adopt(out);
  EXPECT_EQ(owned->vt, VT_BSTR);
  EXPECT_NE(owned->bstrVal, text->bstrVal);
  EXPECT_EQ(BstrToUtf8(owned->bstrVal), "Ventil");
  SafeArrayDestroy(values);
}

// --- VariantCopy / VariantClear --------------------------------------------------------

TEST(VariantCopy, DeepForTextAndNestedArrays) {
  CVariant text = Text("eins");
  CVariant textCopy(*text);
  EXPECT_NE(textCopy->bstrVal, text->bstrVal);
  text->bstrVal[0] = u'X';
  EXPECT_EQ(BstrToUtf8(textCopy->bstrVal), "eins");

  // An array of values: a text, a float and an array of its own.
  VARIANT inner = I2Array({4, 5});
  VARIANT outer;
  VariantInit(&outer);
  outer.vt = VT_ARRAY | VT_VARIANT;
  outer.parray = SafeArrayCreateVector(VT_VARIANT, 5, 3);
  VARIANT r4 = MakeVariantR4(2.5f);
  const VARIANT* elements[] = {text.get(), &r4, &inner};
  for (int32_t i = 5; i <= 7; ++i) ASSERT_EQ(SafeArrayPutElement(outer.parray, &i, elements[i - 5]), S_OK);
  VariantClear(&inner);

  CVariant copy(outer);
  // Destroy the original first: the copy must share nothing with it.
  VariantClear(&outer);
  EXPECT_EQ(outer.vt, VT_EMPTY);
  ASSERT_EQ(copy->vt, VT_ARRAY | VT_VARIANT);
  int32_t lower = 0, upper = 0;
  SafeArrayGetLBound(copy->parray, 1, &lower);
  SafeArrayGetUBound(copy->parray, 1, &upper);
  EXPECT_EQ(lower, 5);
  EXPECT_EQ(upper, 7);
  VARIANT e;
  int32_t i = 5;
  SafeArrayGetElement(copy->parray, &i, &e);
  EXPECT_EQ(BstrToUtf8(e.bstrVal), "Xins");
  VariantClear(&e);
  i = 6;
  SafeArrayGetElement(copy->parray, &i, &e);
  EXPECT_EQ(e.fltVal, 2.5f);
  i = 7;
  SafeArrayGetElement(copy->parray, &i, &e);
  ASSERT_EQ(e.vt, VT_ARRAY | VT_I2);
  int32_t one = 1;
  int16_t five = 0;
  EXPECT_EQ(SafeArrayGetElement(e.parray, &one, &five), S_OK);
  EXPECT_EQ(five, 5);
  VariantClear(&e);

  SAFEARRAY* none = nullptr;
  EXPECT_EQ(SafeArrayCopy(nullptr, &none), S_OK);
  EXPECT_EQ(none, nullptr);
}

TEST(VariantCopy, OntoItselfAndOverOwnedValues) {
  CVariant text = Text("selbst");
  EXPECT_EQ(VariantCopy(text.get(), text.get()), S_OK);
  EXPECT_EQ(BstrToUtf8(text->bstrVal), "selbst");
  CVariant alias = text;
  alias = alias;  // the class's own guard, then the function's
  alias = *alias;
  EXPECT_EQ(BstrToUtf8(alias->bstrVal), "selbst");

  // Copying over a text frees it (ASan reports a leak otherwise).
  CVariant target = Text("alt");
  VARIANT number = MakeVariantI4(42);
  EXPECT_EQ(VariantCopy(target.get(), &number), S_OK);
  EXPECT_EQ(target->vt, VT_I4);
  EXPECT_EQ(target->lVal, 42);

  // The source may be an element of the destination's own array.
  VARIANT holder;
  VariantInit(&holder);
  holder.vt = VT_ARRAY | VT_VARIANT;
  holder.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  int32_t zero = 0;
  SafeArrayPutElement(holder.parray, &zero, text.get());
  const VARIANT* inside = static_cast<VARIANT*>(holder.parray->pvData);
  EXPECT_EQ(VariantCopy(&holder, inside), S_OK);
  EXPECT_EQ(holder.vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(holder.bstrVal), "selbst");
  VariantClear(&holder);
}

TEST(VariantCopy, UnknownTypesAreRefusedAndLeaveTheDestination) {
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 99;
  CVariant target = Text("bleibt");
  EXPECT_EQ(VariantCopy(target.get(), &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(BstrToUtf8(target->bstrVal), "bleibt");
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantCopy(nullptr, &bad), E_INVALIDARG);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);

  VARIANT fresh;
  std::memset(&fresh, 0x5A, sizeof fresh);
  VariantInit(&fresh);
  const unsigned char zeros[16] = {};
  EXPECT_EQ(std::memcmp(&fresh, zeros, 16), 0);
}

// --- VariantChangeType: numbers ------------------------------------------------------

TEST(ChangeType, RoundsHalfToEven) {
  struct Case {
    double in;
    int32_t out;
  } cases[] = {{2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {0.5, 0}, {1.5, 2}, {-0.5, 0},
               {2.4999999, 2}, {2.5000001, 3}, {-1.4, -1}, {-1.6, -2}, {1e9 + 0.5, 1000000000}};
  for (const Case& c : cases) {
    CVariant out;
    ASSERT_EQ(Change(MakeVariantR8(c.in), VT_I4, out), S_OK) << c.in;
    EXPECT_EQ(out->vt, VT_I4);
    EXPECT_EQ(out->lVal, c.out) << c.in;
  }
  CVariant i2;
  ASSERT_EQ(Change(MakeVariantR4(32766.5f), VT_I2, i2), S_OK);
  EXPECT_EQ(i2->iVal, 32766);
  ASSERT_EQ(Change(MakeVariantR8(-32768.4), VT_I2, i2), S_OK);
  EXPECT_EQ(i2->iVal, -32768);
  // Half way below the smallest I2 rounds to the even -32768, which fits.
  ASSERT_EQ(Change(MakeVariantR8(-32768.5), VT_I2, i2), S_OK);
  EXPECT_EQ(i2->iVal, -32768);
  CVariant i8;
  ASSERT_EQ(Change(MakeVariantR8(4503599627370497.0), VT_I8, i8), S_OK);
  EXPECT_EQ(i8->llVal, 4503599627370497LL);
}

TEST(ChangeType, OverflowFailsAndKeepsTheDestination) {
  struct Case {
    double in;
    VARTYPE vt;
  } cases[] = {{32767.5, VT_I2}, {-32768.6, VT_I2}, {-32769.5, VT_I2}, {32768, VT_I2}, {-1, VT_UI2},  {65535.5, VT_UI2},
               {128, VT_I1},     {-0.5 - 1, VT_UI1}, {256, VT_UI1}, {2147483648.0, VT_I4},
               {4294967296.0, VT_UI4}, {9223372036854775808.0, VT_I8}, {18446744073709551616.0, VT_UI8},
               {-1, VT_UI8},     {std::nan(""), VT_I4}, {INFINITY, VT_I2}, {-INFINITY, VT_UI1}, {1e300, VT_R4},
               {-1e39, VT_R4}};
  for (const Case& c : cases) {
    CVariant out = Text("vorher");
    EXPECT_EQ(Change(MakeVariantR8(c.in), c.vt, out), DISP_E_OVERFLOW) << c.in << " to " << c.vt;
    ASSERT_EQ(out->vt, VT_BSTR);
    EXPECT_EQ(BstrToUtf8(out->bstrVal), "vorher");
  }
  // Integer sources are range checked too, without going through a double.
  CVariant out;
  VARIANT big;
  VariantInit(&big);
  big.vt = VT_UI8;
  big.ullVal = UINT64_MAX;
  EXPECT_EQ(Change(big, VT_I8, out), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(big, VT_UI8, out), S_OK);
  big.vt = VT_I8;
  big.llVal = INT64_MIN;
  ASSERT_EQ(Change(big, VT_I8, out), S_OK);
  EXPECT_EQ(Change(big, VT_UI4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeVariantI4(70000), VT_I2, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeVariantI4(-1), VT_UI4, out), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(MakeVariantI4(-32768), VT_I2, out), S_OK);
  EXPECT_EQ(out->iVal, -32768);
  // Within float range, and the non-finite values, pass to VT_R4.
  ASSERT_EQ(Change(MakeVariantR8(FLT_MAX), VT_R4, out), S_OK);
  EXPECT_EQ(out->fltVal, FLT_MAX);
  // Just above FLT_MAX still rounds to it; half an ulp above rounds to infinity.
  ASSERT_EQ(Change(MakeVariantR8(3.40282356e38), VT_R4, out), S_OK);
  EXPECT_EQ(out->fltVal, FLT_MAX);
  EXPECT_EQ(Change(MakeVariantR8(std::ldexp(1.0, 128) - std::ldexp(1.0, 103)), VT_R4, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(*Text("3.5e38"), VT_R4, out), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(*Text("1e-50"), VT_R4, out), S_OK);
  EXPECT_EQ(out->fltVal, 0.0f);
  ASSERT_EQ(Change(MakeVariantR8(-INFINITY), VT_R4, out), S_OK);
  EXPECT_TRUE(std::isinf(out->fltVal));
  ASSERT_EQ(Change(MakeVariantR8(std::nan("")), VT_R4, out), S_OK);
  EXPECT_TRUE(std::isnan(out->fltVal));
}

TEST(ChangeType, BooleansAndEmpty) {
  CVariant out;
  for (double v : {1.0, -3.0, 0.25, std::nan("")}) {
    ASSERT_EQ(Change(MakeVariantR8(v), VT_BOOL, out), S_OK);
    EXPECT_EQ(out->boolVal, VARIANT_TRUE) << v;
  }
  ASSERT_EQ(Change(MakeVariantI2(0), VT_BOOL, out), S_OK);
  EXPECT_EQ(out->boolVal, VARIANT_FALSE);

  // A bit point stores true as 1, and converts as the 1 it holds: a logic
  // block's "Register = Coil" must send 1, not 0xFFFF.
  VARIANT bit = MakeVariantBool(true);
  bit.boolVal = 1;
  ASSERT_EQ(Change(bit, VT_R8, out), S_OK);
  EXPECT_EQ(out->dblVal, 1.0);
  ASSERT_EQ(Change(bit, VT_BOOL, out), S_OK);
  EXPECT_EQ(out->boolVal, 1) << "the same type is a copy";
  ASSERT_EQ(Change(bit, VT_I2, out), S_OK);
  EXPECT_EQ(out->iVal, 1);
  ASSERT_EQ(Change(bit, VT_UI2, out), S_OK);
  EXPECT_EQ(out->uiVal, 1);
  ASSERT_EQ(Change(MakeVariantBool(true), VT_R8, out), S_OK);
  EXPECT_EQ(out->dblVal, -1.0);
  ASSERT_EQ(Change(MakeVariantBool(true), VT_UI2, out), S_OK);
  EXPECT_EQ(out->uiVal, 0xFFFF);
  ASSERT_EQ(Change(MakeVariantBool(false), VT_UI1, out), S_OK);
  EXPECT_EQ(out->bVal, 0);
  EXPECT_EQ(AsText(bit), "True");
  EXPECT_EQ(AsText(MakeVariantBool(false)), "False");

  VARIANT empty;
  VariantInit(&empty);
  for (VARTYPE vt : {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_INT, VT_UINT, VT_I8, VT_UI8, VT_R4, VT_R8}) {
    CVariant n = Text("x");
    ASSERT_EQ(Change(empty, vt, n), S_OK) << vt;
    EXPECT_EQ(n->vt, vt);
    EXPECT_EQ(n->ullVal, 0u) << vt;
  }
  ASSERT_EQ(Change(empty, VT_BOOL, out), S_OK);
  EXPECT_EQ(out->boolVal, VARIANT_FALSE);
  ASSERT_EQ(Change(empty, VT_BSTR, out), S_OK);
  EXPECT_EQ(out->vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(out->bstrVal), 0u);

  CVariant cleared = Text("weg");
  ASSERT_EQ(Change(*cleared, VT_EMPTY, cleared), S_OK);
  EXPECT_EQ(cleared->vt, VT_EMPTY);
}

// --- VariantChangeType: text -------------------------------------------------------------

TEST(ChangeType, TextToNumbers) {
  struct Case {
    const char* text;
    VARTYPE vt;
    HRESULT hr;
    double value;
  } cases[] = {
      {"12", VT_I2, S_OK, 12},       {"  12 ", VT_I2, S_OK, 12},        {"\t-3\r\n", VT_I4, S_OK, -3},
      {"1e3", VT_I2, S_OK, 1000},    {"+.5", VT_R8, S_OK, 0.5},         {"-3.5", VT_R8, S_OK, -3.5},
      {"2.5", VT_I2, S_OK, 2},       {"3.5", VT_I2, S_OK, 4},           {"5.", VT_I4, S_OK, 5},
      {"1E-2", VT_R8, S_OK, 0.01},   {"007", VT_UI1, S_OK, 7},          {"-0", VT_UI2, S_OK, 0},
      {"abc", VT_I2, DISP_E_TYPEMISMATCH, 0},   {"", VT_I2, DISP_E_TYPEMISMATCH, 0},
      {"   ", VT_R8, DISP_E_TYPEMISMATCH, 0},   {"12abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
      {"1 2", VT_I4, DISP_E_TYPEMISMATCH, 0},   {".", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"1e", VT_R8, DISP_E_TYPEMISMATCH, 0},    {"--1", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"0x10", VT_I4, DISP_E_TYPEMISMATCH, 0},  {"nan", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"inf", VT_R8, DISP_E_TYPEMISMATCH, 0},   {"1,5", VT_R8, DISP_E_TYPEMISMATCH, 0},
      {"32767.5", VT_I2, DISP_E_OVERFLOW, 0},   {"40000", VT_I2, DISP_E_OVERFLOW, 0},
      {"-1", VT_UI4, DISP_E_OVERFLOW, 0},       {"1e39", VT_R4, DISP_E_OVERFLOW, 0},
      {"1e400", VT_R8, DISP_E_OVERFLOW, 0},     {"-1e400", VT_R8, DISP_E_OVERFLOW, 0},
      {"1e-400", VT_R8, S_OK, 0},               {"0e999999", VT_R8, S_OK, 0},
      {"0.000e500", VT_I4, S_OK, 0},
  };
  for (const Case& c : cases) {
    CVariant out = Own(MakeVariantI4(-77)), source = Text(c.text);
    EXPECT_EQ(VariantChangeType(out.get(), source.get(), 0, c.vt), c.hr) << '"' << c.text << '"';
    if (c.hr == S_OK) {
      EXPECT_EQ(out->vt, c.vt) << c.text;
      CVariant asDouble;
      ASSERT_EQ(Change(*out, VT_R8, asDouble), S_OK);
      EXPECT_EQ(asDouble->dblVal, c.value) << c.text;
    } else {
      EXPECT_EQ(out->vt, VT_I4) << c.text;
      EXPECT_EQ(out->lVal, -77) << c.text;
    }
  }
  // Whole numbers in text are read exactly, all the way to the 64-bit limits.
  CVariant out;
  ASSERT_EQ(Change(*Text("9223372036854775807"), VT_I8, out), S_OK);
  EXPECT_EQ(out->llVal, INT64_MAX);
  ASSERT_EQ(Change(*Text("-9223372036854775808"), VT_I8, out), S_OK);
  EXPECT_EQ(out->llVal, INT64_MIN);
  ASSERT_EQ(Change(*Text("18446744073709551615"), VT_UI8, out), S_OK);
  EXPECT_EQ(out->ullVal, UINT64_MAX);
  EXPECT_EQ(Change(*Text("18446744073709551616"), VT_UI8, out), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(*Text("9007199254740993"), VT_I8, out), S_OK);
  EXPECT_EQ(out->llVal, 9007199254740993LL);
  // Characters outside ASCII are never part of a number.
  EXPECT_EQ(Change(*Text("1\xC2\xB2"), VT_I4, out), DISP_E_TYPEMISMATCH);
  const char16_t withZero[] = {u'1', 0, u'2'};
  VARIANT zeroInside;
  VariantInit(&zeroInside);
  zeroInside.vt = VT_BSTR;
  zeroInside.bstrVal = SysAllocStringLen(withZero, 3);
  CVariant owner = CVariant::Adopt(zeroInside);
  EXPECT_EQ(Change(*owner, VT_I4, out), DISP_E_TYPEMISMATCH);
  // A null text is empty text, which is not a number.
  VARIANT nullText;
  VariantInit(&nullText);
  nullText.vt = VT_BSTR;
  EXPECT_EQ(Change(nullText, VT_R8, out), DISP_E_TYPEMISMATCH);
}

TEST(ChangeType, TextToBool) {
  struct Case {
    const char* text;
    HRESULT hr;
    VARIANT_BOOL value;
  } cases[] = {{"True", S_OK, VARIANT_TRUE},  {"true", S_OK, VARIANT_TRUE},   {"TRUE", S_OK, VARIANT_TRUE},
               {"tRuE", S_OK, VARIANT_TRUE},  {" False ", S_OK, VARIANT_FALSE}, {"FALSE", S_OK, VARIANT_FALSE},
               {"0", S_OK, VARIANT_FALSE},    {"0.0", S_OK, VARIANT_FALSE}, {"1", S_OK, VARIANT_TRUE},
               {"-2.5", S_OK, VARIANT_TRUE},  {"1e999", S_OK, VARIANT_TRUE},
               {"yes", DISP_E_TYPEMISMATCH, 0}, {"", DISP_E_TYPEMISMATCH, 0}, {"Truee", DISP_E_TYPEMISMATCH, 0},
               {"on", DISP_E_TYPEMISMATCH, 0}};
  for (const Case& c : cases) {
    CVariant out = Own(MakeVariantI2(5));
    EXPECT_EQ(Change(*Text(c.text), VT_BOOL, out), c.hr) << c.text;
    if (c.hr == S_OK) {
      EXPECT_EQ(out->vt, VT_BOOL);
      EXPECT_EQ(out->boolVal, c.value) << c.text;
    } else {
      EXPECT_EQ(out->vt, VT_I2);
      EXPECT_EQ(out->iVal, 5);
    }
  }
}

TEST(ChangeType, NumbersToText) {
  const auto with = [](VARTYPE vt, uint64_t bits) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.ullVal = bits;
    return v;
  };
  const struct {
    VARIANT value;
    const char* text;
  } cases[] = {
      {MakeVariantI2(-32768), "-32768"},      {MakeVariantI4(1), "1"},
      {MakeVariantR8(1.0), "1"},              {MakeVariantR8(-2.5), "-2.5"},
      {MakeVariantR4(0.1f), "0.1"},           {MakeVariantR8(0.1), "0.1"},
      {MakeVariantR4(1.1f), "1.1"},           {MakeVariantR8(1e20), "1E+20"},
      {MakeVariantR8(1.5e-7), "1.5E-07"},     {MakeVariantR8(-1e100), "-1E+100"},
      {MakeVariantR8(0.0001), "0.0001"},      {MakeVariantR8(123456789012345.0), "123456789012345"},
      {MakeVariantR8(1e15), "1E+15"},         {MakeVariantR4(1234567.0f), "1234567"},
      {MakeVariantR4(12345678.0f), "1.2345678E+07"}, {MakeVariantR8(1500.25), "1500.25"},
      {MakeVariantR8(-0.0), "0"},             {MakeVariantR8(0.1 + 0.2), "0.30000000000000004"},
      {with(VT_UI1, 200), "200"},             {with(VT_I1, 0xFB), "-5"},
      {with(VT_UI8, UINT64_MAX), "18446744073709551615"}, {with(VT_UINT, 4000000000u), "4000000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(AsText(c.value), c.text);
}

// Whatever the value, text made from a float or double reads back to the same bits.
TEST(ChangeType, RealsRoundTripThroughText) {
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t bits = random();
    const double d = std::bit_cast<double>(bits);
    const float f = std::bit_cast<float>(static_cast<uint32_t>(bits));
    if (std::isfinite(d) && d != 0.0) {
      CVariant text, back;
      ASSERT_EQ(Change(MakeVariantR8(d), VT_BSTR, text), S_OK);
      ASSERT_EQ(Change(*text, VT_R8, back), S_OK) << BstrToUtf8(text->bstrVal);
      EXPECT_EQ(std::bit_cast<uint64_t>(back->dblVal), bits) << BstrToUtf8(text->bstrVal);
    }
    if (std::isfinite(f) && f != 0.0f) {
      CVariant text, back;
      ASSERT_EQ(Change(MakeVariantR4(f), VT_BSTR, text), S_OK);
      ASSERT_EQ(Change(*text, VT_R4, back), S_OK) << BstrToUtf8(text->bstrVal);
      EXPECT_EQ(std::bit_cast<uint32_t>(back->fltVal), std::bit_cast<uint32_t>(f)) << BstrToUtf8(text->bstrVal);
    }
  }
  // The extremes of both types.
  for (double d : {DBL_MAX, -DBL_MAX, DBL_MIN, 4.9406564584124654e-324, 1e-5, 9.999999999999999e14}) {
    CVariant text, back;
    ASSERT_EQ(Change(MakeVariantR8(d), VT_BSTR, text), S_OK);
    ASSERT_EQ(Change(*text, VT_R8, back), S_OK) << BstrToUtf8(text->bstrVal);
    EXPECT_EQ(back->dblVal, d);
  }
  for (float f : {FLT_MAX, FLT_MIN, 1.4e-45f, 16777216.0f, 3.4028235e38f}) {
    CVariant text, back;
    ASSERT_EQ(Change(MakeVariantR4(f), VT_BSTR, text), S_OK);
    ASSERT_EQ(Change(*text, VT_R4, back), S_OK) << BstrToUtf8(text->bstrVal);
    EXPECT_EQ(back->fltVal, f);
  }
}

// --- VariantChangeType: types, arrays, in place ------------------------------------------

TEST(ChangeType, UnsupportedAndUnknownTypes) {
  CVariant out = Own(MakeVariantI2(9));
  VARIANT null;
  VariantInit(&null);
  null.vt = VT_NULL;
  EXPECT_EQ(Change(null, VT_I2, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(MakeVariantI2(1), VT_NULL, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(MakeVariantI2(1), VT_CY, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(MakeVariantI2(1), VT_ARRAY | VT_I2, out), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(MakeVariantI2(1), 15, out), DISP_E_BADVARTYPE);
  EXPECT_EQ(Change(MakeVariantI2(1), 0x1002, out), DISP_E_BADVARTYPE);
  EXPECT_EQ(Change(MakeVariantI2(1), VT_ARRAY | VT_EMPTY, out), DISP_E_BADVARTYPE);
  VARIANT odd;
  VariantInit(&odd);
  odd.vt = 200;
  EXPECT_EQ(VariantChangeType(out.get(), &odd, 0, VT_I2), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(nullptr, &odd, 0, VT_I2), E_INVALIDARG);
  EXPECT_EQ(VariantChangeType(out.get(), nullptr, 0, VT_I2), E_INVALIDARG);
  EXPECT_EQ(out->vt, VT_I2);
  EXPECT_EQ(out->iVal, 9);
}

TEST(ChangeType, ArraysOnlyToTheirOwnType) {
  CVariant owner = Own(I2Array({1, -2, 3}));

  CVariant out;
  ASSERT_EQ(VariantChangeType(out.get(), owner.get(), 0, VT_ARRAY | VT_I2), S_OK);
  ASSERT_NE(out->parray, owner->parray);
  for (int32_t i = 0; i < 3; ++i) {
    int16_t a = 0, b = 0;
    SafeArrayGetElement(out->parray, &i, &a);
    SafeArrayGetElement(owner->parray, &i, &b);
    EXPECT_EQ(a, b);
  }
  for (VARTYPE vt : std::initializer_list<VARTYPE>{VT_I2, VT_R8, VT_BSTR, VT_BOOL, VT_ARRAY | VT_R4}) {
    CVariant keep = Own(MakeVariantI4(1));
    EXPECT_EQ(VariantChangeType(keep.get(), owner.get(), 0, vt), DISP_E_TYPEMISMATCH) << vt;
    EXPECT_EQ(keep->lVal, 1);
  }
  // In place to the same array type leaves a working array behind.
  ASSERT_EQ(VariantChangeType(owner.get(), owner.get(), 0, VT_ARRAY | VT_I2), S_OK);
  int32_t last = 2;
  int16_t v = 0;
  ASSERT_EQ(SafeArrayGetElement(owner->parray, &last, &v), S_OK);
  EXPECT_EQ(v, 3);
}

TEST(ChangeType, InPlace) {
  CVariant v = Text(" 41.5 ");
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_I4), S_OK);
  EXPECT_EQ(v->vt, VT_I4);
  EXPECT_EQ(v->lVal, 42);
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToUtf8(v->bstrVal), "42");
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);  // text to text
  EXPECT_EQ(BstrToUtf8(v->bstrVal), "42");
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_R4), S_OK);
  EXPECT_EQ(v->vt, VT_R4);
  EXPECT_EQ(v->fltVal, 42.0f);

  CVariant word = Text("Motor");
  EXPECT_EQ(VariantChangeType(word.get(), word.get(), 0, VT_R8), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(word->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(word->bstrVal), "Motor");

  CVariant big = Own(MakeVariantR8(1e6));
  EXPECT_EQ(VariantChangeType(big.get(), big.get(), 0, VT_I2), DISP_E_OVERFLOW);
  EXPECT_EQ(big->vt, VT_R8);
  EXPECT_EQ(big->dblVal, 1e6);
}

// --- FILETIME ---------------------------------------------------------------------

TEST(FileTime, CountsHundredNanosecondsSince1601) {
  const time_t before = time(nullptr);
  const FILETIME now = GetSystemTimeAsFileTime();
  const time_t after = time(nullptr);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const int64_t unixSeconds = static_cast<int64_t>(ticks / 10000000ull) - 11644473600LL;
  EXPECT_GE(unixSeconds, before);
  EXPECT_LE(unixSeconds, after + 1);  // time() may trail the precise clock

  const FILETIME later = GetSystemTimeAsFileTime();
  const uint64_t ticks2 = (static_cast<uint64_t>(later.dwHighDateTime) << 32) | later.dwLowDateTime;
  EXPECT_GE(ticks2, ticks);
}

}  // namespace

// --- dates -------------------------------------------------------------------------

TEST(Dates, TextIsIsoUtcToTheMillisecondAndReadsBack) {
  CVariant out;
  struct Case {
    double date;
    const char* text;
  } cases[] = {
      {0.0, "1899-12-30T00:00:00Z"},
      {2.5, "1900-01-01T12:00:00Z"},
      {-1.25, "1899-12-29T06:00:00Z"},  // whole days back, the fraction forwards
      {46000.0, "2025-12-09T00:00:00Z"},
      {60.0, "1900-02-28T00:00:00Z"},  // 1900 was no leap year
      {61.0, "1900-03-01T00:00:00Z"},
      {36585.0, "2000-02-29T00:00:00Z"},
      {-657434.0, "0100-01-01T00:00:00Z"},
      {2958465.0 + 0.5, "9999-12-31T12:00:00Z"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Change(MakeVariantDate(c.date), VT_BSTR, out), S_OK) << c.text;
    EXPECT_EQ(BstrToUtf8(out->bstrVal), c.text);
    ASSERT_EQ(Change(*Text(c.text), VT_DATE, out), S_OK) << c.text;
    EXPECT_EQ(out->vt, VT_DATE);
    EXPECT_DOUBLE_EQ(out->date, c.date) << c.text;
  }
  // Milliseconds are shown only when there are some, rounded.
  ASSERT_EQ(Change(MakeVariantDate(46000.0 + 0.25 / 86400.0), VT_BSTR, out), S_OK);
  EXPECT_EQ(BstrToUtf8(out->bstrVal), "2025-12-09T00:00:00.250Z");
  ASSERT_EQ(Change(MakeVariantDate(46001.0 - 0.0001 / 86400.0), VT_BSTR, out), S_OK);
  EXPECT_EQ(BstrToUtf8(out->bstrVal), "2025-12-10T00:00:00Z") << "rounding into the next day";
}

TEST(Dates, TextFormsZonesAndRefusals) {
  CVariant out;
  auto dateOf = [&](const char* text) {
    EXPECT_EQ(Change(*Text(text), VT_DATE, out), S_OK) << text;
    return out->date;
  };
  const double noon = 46000.5;
  EXPECT_DOUBLE_EQ(dateOf("2025-12-09T12:00:00Z"), noon);
  EXPECT_DOUBLE_EQ(dateOf("2025-12-09 12:00"), noon);
  EXPECT_DOUBLE_EQ(dateOf("  2025-12-09t12:00:00.000z "), noon);
  EXPECT_DOUBLE_EQ(dateOf("2025-12-09T13:30:00+01:30"), noon);
  EXPECT_DOUBLE_EQ(dateOf("2025-12-09T10:00:00-0200"), noon);
  EXPECT_DOUBLE_EQ(dateOf("2025-12-09"), 46000.0);
  EXPECT_DOUBLE_EQ(dateOf("46000.5"), noon) << "a plain number is a day count";

  const VARIANT kept = MakeVariantDate(1.0);
  out = kept;
  for (const char* bad : {"2025-13-01", "2025-02-29", "2025-12-09T24:00", "2025-12-09T12:60",
                          "2025-12-09T12", "2025/12/09", "2025-12-09T12:00:00.", "2025-12-09T12:00+1",
                          "yesterday", "", "10000-01-01"}) {
    EXPECT_NE(Change(*Text(bad), VT_DATE, out), S_OK) << bad;
    EXPECT_EQ(out->date, 1.0) << bad;
  }
  EXPECT_EQ(Change(*Text("2024-02-29"), VT_DATE, out), S_OK) << "a leap day";
}

TEST(Dates, NumbersAndRange) {
  CVariant out;
  ASSERT_EQ(Change(MakeVariantDate(46000.75), VT_R8, out), S_OK);
  EXPECT_EQ(out->dblVal, 46000.75);
  ASSERT_EQ(Change(MakeVariantDate(46000.5), VT_I4, out), S_OK);
  EXPECT_EQ(out->lVal, 46000) << "half to even, as every number";
  ASSERT_EQ(Change(MakeVariantDate(0.0), VT_BOOL, out), S_OK);
  EXPECT_EQ(out->boolVal, VARIANT_FALSE);
  ASSERT_EQ(Change(MakeVariantI2(2), VT_DATE, out), S_OK);
  EXPECT_EQ(out->vt, VT_DATE);
  EXPECT_EQ(out->date, 2.0);
  VARIANT empty;
  VariantInit(&empty);
  ASSERT_EQ(Change(empty, VT_DATE, out), S_OK);
  EXPECT_EQ(out->date, 0.0);
  EXPECT_EQ(Change(MakeVariantR8(3e6), VT_DATE, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeVariantR8(-7e5), VT_DATE, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeVariantR8(std::nan("")), VT_DATE, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeVariantDate(3e6), VT_BSTR, out), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(MakeVariantDate(std::nan("")), VT_BSTR, out), DISP_E_OVERFLOW);
}

TEST(Dates, TicksOfFileTimeAndUaDateTime) {
  // 1970-01-01 is 116444736000000000 ticks after 1601-01-01.
  constexpr int64_t kUnix = 116444736000000000;
  EXPECT_DOUBLE_EQ(VariantDateFromTicks(kUnix), 25569.0);
  EXPECT_DOUBLE_EQ(VariantDateFromTicks(kUnix + 864000000000 / 4), 25569.25);
  // Before 1899-12-30 the day counts backwards, the hours forwards.
  const int64_t dateZero = kUnix - 25569 * int64_t{864000000000};
  EXPECT_DOUBLE_EQ(VariantDateFromTicks(dateZero - 864000000000 + 864000000000 / 4), -1.25);
  int64_t ticks = 0;
  ASSERT_TRUE(TicksFromVariantDate(-1.25, &ticks));
  EXPECT_EQ(ticks, dateZero - 864000000000 + 864000000000 / 4);
  // A time today survives the trip to within a microsecond.
  const int64_t now = kUnix + int64_t{1765000000} * 10000000 + 1234567;
  ASSERT_TRUE(TicksFromVariantDate(VariantDateFromTicks(now), &ticks));
  EXPECT_LE(std::llabs(ticks - now), 10);
  EXPECT_FALSE(TicksFromVariantDate(3e6, &ticks));
  EXPECT_FALSE(TicksFromVariantDate(std::nan(""), &ticks));
}

TEST(Dates, ArraysOfDatesAnd64BitIntegers) {
  for (VARTYPE vt : {VT_DATE, VT_I8, VT_UI8}) {
    SAFEARRAY* array = SafeArrayCreateVector(vt, 0, 2);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(SafeArrayGetElemsize(array), 8u);
    const int64_t big = INT64_C(0x7FFFFFFFFFFFFFF0);
    int32_t index = 1;
    ASSERT_EQ(SafeArrayPutElement(array, &index, &big), S_OK);
    int64_t back = 0;
    ASSERT_EQ(SafeArrayGetElement(array, &index, &back), S_OK);
    EXPECT_EQ(back, big);
    SafeArrayDestroy(array);
  }
}
