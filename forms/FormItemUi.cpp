#include "forms/FormItemUi.h"

#include "forms/ItemDialogs.h"
#include "forms/TagWriteDlgs.h"

bool CQtFormItemUi::EditItemProperties(CMMI_Item& item, int32_t* pbDrawFirst) {
  return RunItemPropertyDialog(item, pbDrawFirst, m_parent, FormHooks());
}

void CQtFormItemUi::PromptAndWrite(CExchangeTag& tag) {
  CDialogWritePrompt prompt(m_parent, FormHooks());
  ::PromptAndWrite(tag, prompt);
}
