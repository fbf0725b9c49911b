// The item property dialogs, the Custom Display choice and the trend pen
// dialog.
//
// Each property dialog works on the item itself: the fields are read when
// the dialog opens and written when "&Update" (OK) is pressed; colour
// buttons, the font button and a few boxes change the item at once, so those
// changes stay even when the dialog is left with "&Delete" (Cancel), which
// the view takes as a request to delete the item.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>

#include "forms/FormDialogHooks.h"

class CMMI_BarItem;
class CMMI_BmpItem;
class CMMI_HotTxtItem;
class CMMI_Item;
class CMMI_RectItem;
class CMMI_TagItem;
class CMMI_TrendItem;
class CMMI_TxtItem;
class CPlexmarApp;
class QComboBox;
class QLineEdit;
class QPushButton;
struct CRect;
struct TrendPen;
namespace Ui {
class BarPropDlg;
class BmpPropDlg;
class CustomDisplayDlg;
class HotTxtPropDlg;
class RectPropDlg;
class TagPropDlg;
class TrendPenDlg;
class TrendPropDlg;
class TxtPropDlg;
}  // namespace Ui

// "Custom Display": the type of a new item. The entry of the given type code
// is selected at start; OK or a double click gives the chosen code 1..8.
class CCustomDisplayDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CCustomDisplayDlg(int32_t nType, QWidget* parent = nullptr);
  ~CCustomDisplayDlg() override;
  int32_t Type() const { return m_nType; }
  Ui::CustomDisplayDlg& Form() { return *m_ui; }
  void accept() override;

 private:
  std::unique_ptr<Ui::CustomDisplayDlg> m_ui;
  int32_t m_nType;
};

// What the property dialogs share: Update and Delete, the colour and font
// buttons, Width and Height, the tag lists.
class CItemPropDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CItemPropDlg(QWidget* parent);
  FormDialogHooks m_hooks = FormHooks();

 protected:
  void ConnectUpdateDelete(QPushButton* update, QPushButton* del);
  // The colour button: the colour dialog on `field`, stored when confirmed.
  void ConnectColor(QPushButton* button, COLORREF& field);
  void ConnectFont(QPushButton* button, LOGFONT& font);
  void FillDimensions(const CRect& rect, QLineEdit* width, QLineEdit* height);
  // right = left + width, bottom = top + height; the top-left never moves.
  void TakeDimensions(CRect& rect, QLineEdit* width, QLineEdit* height);
  // The names of all tags in table order, the one equal to `name` selected.
  void FillTagList(QComboBox* list, const std::string& name);
  // The selected name into `name`; unchanged without a selection.
  void TakeTagList(QComboBox* list, std::string& name);
  // The item's FitToText with a device context of the dialog.
  void FitItem(CMMI_Item& item);
};

class CTxtPropDlg : public CItemPropDlg {
  Q_OBJECT
 public:
  CTxtPropDlg(CMMI_TxtItem& item, QWidget* parent = nullptr);
  ~CTxtPropDlg() override;
  Ui::TxtPropDlg& Form() { return *m_ui; }
  void accept() override;

 private:
  std::unique_ptr<Ui::TxtPropDlg> m_ui;
  CMMI_TxtItem& m_item;
};

// Rectangles and ellipses.
class CRectPropDlg : public CItemPropDlg {
  Q_OBJECT
 public:
  CRectPropDlg(CMMI_RectItem& item, QWidget* parent = nullptr);
  ~CRectPropDlg() override;
  Ui::RectPropDlg& Form() { return *m_ui; }
  bool DrawFirst() const;
  void accept() override;

 private:
  std::unique_ptr<Ui::RectPropDlg> m_ui;
  CMMI_RectItem& m_item;
};

class CBmpPropDlg : public CItemPropDlg {
  Q_OBJECT
 public:
  CBmpPropDlg(CMMI_BmpItem& item, QWidget* parent = nullptr);
  ~CBmpPropDlg() override;
  Ui::BmpPropDlg& Form() { return *m_ui; }
  bool DrawFirst() const;
  void accept() override;

 private:
  std::unique_ptr<Ui::BmpPropDlg> m_ui;
  CMMI_BmpItem& m_item;
};

// Data value items: "Simple Tag Properties".
class CTagPropDlg : public CItemPropDlg {
  Q_OBJECT
 public:
  CTagPropDlg(CMMI_TagItem& item, QWidget* parent = nullptr);
  ~CTagPropDlg() override;
  Ui::TagPropDlg& Form() { return *m_ui; }
  void accept() override;

 private:
  std::unique_ptr<Ui::TagPropDlg> m_ui;
  CMMI_TagItem& m_item;
};

class CBarPropDlg : public CItemPropDlg {
  Q_OBJECT
 public:
  CBarPropDlg(CMMI_BarItem& item, QWidget* parent = nullptr);
  ~CBarPropDlg() override;
  Ui::BarPropDlg& Form() { return *m_ui; }
  void accept() override;

 private:
  void EnableBorderControls();
  std::unique_ptr<Ui::BarPropDlg> m_ui;
  CMMI_BarItem& m_item;
};

class CHotTxtPropDlg : public CItemPropDlg {
  Q_OBJECT
 public:
  CHotTxtPropDlg(CMMI_HotTxtItem& item, CPlexmarApp& app, QWidget* parent = nullptr);
  ~CHotTxtPropDlg() override;
  Ui::HotTxtPropDlg& Form() { return *m_ui; }
  void accept() override;
  // A choice in the logic block list, as the operator makes it.
  void OnLogicBlockChosen(int index);

 private:
  std::unique_ptr<Ui::HotTxtPropDlg> m_ui;
  CMMI_HotTxtItem& m_item;
  CPlexmarApp& m_app;
};

class CTrendPropDlg : public CItemPropDlg {
  Q_OBJECT
 public:
  CTrendPropDlg(CMMI_TrendItem& item, QWidget* parent = nullptr);
  ~CTrendPropDlg() override;
  Ui::TrendPropDlg& Form() { return *m_ui; }
  void accept() override;
  // "Pen 1" to "Pen 5": the Trend Data Source dialog of that pen.
  void OnPen(int number);

 private:
  std::unique_ptr<Ui::TrendPropDlg> m_ui;
  CMMI_TrendItem& m_item;
};

// "Trend Data Source (Pen #n)": works on a copy of the pen, copied back on
// OK only.
class CTrendPenDlg : public QDialog {
  Q_OBJECT
 public:
  CTrendPenDlg(TrendPen& pen, int number, QWidget* parent = nullptr);
  ~CTrendPenDlg() override;
  Ui::TrendPenDlg& Form() { return *m_ui; }
  FormDialogHooks m_hooks = FormHooks();
  void accept() override;

 private:
  std::unique_ptr<Ui::TrendPenDlg> m_ui;
  TrendPen& m_pen;
  COLORREF m_crPen;
};

// The property dialog of `item` as the view opens it; true for Update.
// Rectangles, ellipses and bitmaps fill `pbDrawFirst` when it is given.
bool RunItemPropertyDialog(CMMI_Item& item, int32_t* pbDrawFirst, QWidget* parent,
                           const FormDialogHooks& hooks = FormHooks());
