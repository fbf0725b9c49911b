// The display item family of operator forms: the base item, and what items
// ask of the user interface (property dialogs, the operator's write of a tag).
//
// Every item draws itself through a CFormDC, sizes itself to its text, answers
// hit tests in the view's two passes, refreshes itself on the view's timer and
// reads and writes its own record of the form file. The redraw rule shared by
// all items: the view's paint draws only items whose m_bDirty is set, and
// Draw clears it unless the item is selected, so a selected item is drawn in
// every paint and an idle one only after the background was erased or after
// its OnRefresh found something new to show.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "forms/FormDC.h"
#include "platform/archive.h"
#include "platform/wintypes.h"

class CExchangeTag;
class CMMI_Item;

// Item type codes: the file's and m_nType's.
enum EMMI_Type : int32_t {
  kItemText = 1,
  kItemRect = 2,
  kItemBitmap = 3,
  kItemEllipse = 4,
  kItemTag = 5,
  kItemBar = 6,
  kItemHotText = 7,
  kItemTrend = 8,
};

// What items need from the user interface. The forms' user interface
// installs one; without it every dialog counts as cancelled and no operator
// write happens.
class IFormItemUi {
 public:
  virtual ~IFormItemUi() = default;
  // The item's property dialog; true when it was closed with Update (OK).
  // For rectangles, ellipses and bitmaps `pbDrawFirst` is given and receives
  // the "Draw First" box; for the others it is null.
  virtual bool EditItemProperties(CMMI_Item& item, int32_t* pbDrawFirst) = 0;
  // The operator's write of a tag (the tag's PromptAndWrite).
  virtual void PromptAndWrite(CExchangeTag& tag) = 0;
};
void SetFormItemUi(IFormItemUi* ui);
IFormItemUi* FormItemUi();

// The default display font of new items and forms: the main window's, once
// the user interface has said where it lives, else Courier 13.
void SetFormDefaultFontSource(const LOGFONT* font);
LOGFONT FormDefaultFont();

class CMMI_Item {
 public:
  CMMI_Item() = default;
  virtual ~CMMI_Item() = default;
  CMMI_Item(const CMMI_Item&) = delete;
  CMMI_Item& operator=(const CMMI_Item&) = delete;

  // The item's record; the base writes and reads nothing.
  virtual void SerializeItem(CArchive& ar, int32_t nVersion);
  // Black pen, a solid brush of the form background, Rectangle over m_rect.
  virtual void Draw(CFormDC& dc, COLORREF crBackground);
  // No caller in the system uses this slot.
  virtual void DrawScaled(CFormDC& dc, int nScale);
  // Sizes the item to its text; the base has none.
  virtual void FitToText(CFormDC& dc);
  // The view's refresh tick, with the milliseconds since the last one.
  virtual void OnRefresh(int nElapsedMs);
  virtual double GetValue();
  virtual void OnDoubleClick();
  // Inside m_rect with both edges included, whatever the pass.
  virtual bool HitTest(int x, int y, int nPass);
  virtual bool EditProperties();

  CRect m_rect;
  int32_t m_bSelected = 0;
  int32_t m_nType = 0;
  int32_t m_bDirty = 0;
  int32_t m_bWriteEnabled = 0;

 protected:
  // m_rect (16 bytes) and m_bSelected: the start of every record.
  void SerializeHeader(CArchive& ar);
  // Black pen, null brush, the shape over m_rect, and dirty again.
  void DrawSelectedOutline(CFormDC& dc, bool bEllipse = false);
};

// The font fields shared by static text, data value and hot text items: with
// m_bDefaultFont 0 the item draws with a font made from m_logFont, else with
// the system font.
class CMMI_FontFields {
 public:
  CMMI_FontFields();
  // Remakes (or drops) m_pFont after m_logFont or m_bDefaultFont changed.
  void CreateItemFont();
  // The font to select: m_pFont, or null for the system font.
  const CFormFont* ItemFont() const { return m_pFont.get(); }

  int32_t m_bDefaultFont = 1;
  LOGFONT m_logFont;
  std::unique_ptr<CFormFont> m_pFont;
};
