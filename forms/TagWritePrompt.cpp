#include "forms/TagWritePrompt.h"

#include "core/ExchangeTag.h"
#include "platform/variant.h"

void PromptAndWrite(CExchangeTag& tag, ITagWritePrompt& prompt) {
  const VARTYPE vt = tag.m_value->vt;
  if ((vt & VT_ARRAY) != 0) return;
  HRESULT result = 0;
  if (vt == VT_BSTR) {
    std::string text = BstrToUtf8(tag.m_value->bstrVal);
    if (!prompt.AskString(text)) return;
    VARIANT written = MakeVariantText(text);
    tag.Write(written, result);
    VariantClear(&written);
    return;
  }
  CVariant number;
  if (FAILED(VariantChangeType(number.get(), tag.m_value.get(), 0, VT_R8))) return;
  double value = number->dblVal;
  if (!prompt.AskNumber(value)) return;
  tag.m_nQuality = CExchangeTag::kQualityGood;
  VARIANT written = MakeVariantR8(value);
  tag.Write(written, result);
  VariantClear(&written);
}
