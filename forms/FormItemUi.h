// The forms' user interface for the items: their property dialogs and the
// operator's write of a tag, installed while the program's windows exist.
#pragma once

#include "forms/MMI_Item.h"

class QWidget;

class CQtFormItemUi : public IFormItemUi {
 public:
  // `parent` is the window the dialogs belong to (the main window).
  explicit CQtFormItemUi(QWidget* parent = nullptr) : m_parent(parent) {}
  bool EditItemProperties(CMMI_Item& item, int32_t* pbDrawFirst) override;
  void PromptAndWrite(CExchangeTag& tag) override;

 private:
  QWidget* m_parent;
};
