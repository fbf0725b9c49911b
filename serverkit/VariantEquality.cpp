#include "serverkit/VariantEquality.h"

#include <cstring>

namespace serverkit {
namespace {

// Bytes of the data part that a scalar of type `vt` uses; 0 for types whose
// contents we do not know how to compare.
size_t ScalarSize(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
      return 0;
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    default:
      return 0;
  }
}

bool SameText(BSTR a, BSTR b) {
  const uint32_t length = SysStringLen(a);
  if (length != SysStringLen(b)) return false;
  return length == 0 || std::memcmp(a, b, length * sizeof(OLECHAR)) == 0;
}

bool SameArray(SAFEARRAY* a, SAFEARRAY* b) {
  if (a == b) return true;
  if (a == nullptr || b == nullptr) return false;
  if (a->vt != b->vt || a->cbElements != b->cbElements) return false;
  if (a->rgsabound[0].cElements != b->rgsabound[0].cElements) return false;
  if (a->rgsabound[0].lLbound != b->rgsabound[0].lLbound) return false;
  const uint32_t count = a->rgsabound[0].cElements;
  if (count == 0) return true;
  if (a->pvData == nullptr || b->pvData == nullptr) return a->pvData == b->pvData;
  switch (a->vt) {
    case VT_BSTR: {
      auto* left = static_cast<BSTR*>(a->pvData);
      auto* right = static_cast<BSTR*>(b->pvData);
      for (uint32_t i = 0; i < count; ++i)
        if (!SameText(left[i], right[i])) return false;
      return true;
    }
    case VT_VARIANT: {
      auto* left = static_cast<VARIANT*>(a->pvData);
      auto* right = static_cast<VARIANT*>(b->pvData);
      for (uint32_t i = 0; i < count; ++i)
        if (!SameVariant(left[i], right[i])) return false;
      return true;
    }
    default:
      return std::memcmp(a->pvData, b->pvData, static_cast<size_t>(count) * a->cbElements) == 0;
  }
}

}  // namespace

bool SameVariant(const VARIANT& a, const VARIANT& b) {
  if (a.vt != b.vt) return false;
  if (a.vt & VT_ARRAY) return SameArray(a.parray, b.parray);
  if (a.vt == VT_BSTR) return SameText(a.bstrVal, b.bstrVal);
  if (a.vt == VT_EMPTY || a.vt == VT_NULL) return true;
  const size_t size = ScalarSize(a.vt);
  // A type we cannot look into counts as changed, so no update is lost.
  if (size == 0) return false;
  return std::memcmp(&a.llVal, &b.llVal, size) == 0;
}

}  // namespace serverkit
