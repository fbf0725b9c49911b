// The form document: an operator form's ordered items, its refresh rate,
// font and colours and the placement of its frame, read and written as one
// form file; and the automation methods "ReadTag" and "WriteTag".
//
// The form file is the archive of platform/archive, with no signature and no
// class names:
//   int32 version (always 0), int32 refresh rate,
//   int32 minimised, int32 maximised, int32 left, top, right, bottom (the
//     frame relative to the main window's client area),
//   LOGFONT (60 bytes), COLORREF foreground, background, extra,
//   int32 item count, then per item its int32 type code and its record.
// An empty form is 108 bytes.
//
// A file is read whole before anything of the document changes: a truncated
// file, a damaged record, a type code outside 1 to 8, or a record whose own
// type code differs from the one before it fails the read and leaves the
// document as it was. Bytes after the last item are ignored.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "forms/FormDC.h"
#include "forms/MMI_Item.h"
#include "platform/archive.h"
#include "platform/variant.h"
#include "platform/wintypes.h"

// Where the frame of a form lies: flags and the window rectangle relative to
// the main window's client area.
struct CFormPlacement {
  int32_t bMinimized = 0;
  int32_t bMaximized = 0;
  CRect rect;
  bool operator==(const CFormPlacement&) const = default;
};

// What the document asks of its view.
class IFormView {
 public:
  virtual ~IFormView() = default;
  // Repaint: with erasing, the background and every item; without, only the
  // dirty items.
  virtual void Invalidate(bool bErase) = 0;
  virtual CFormPlacement GetFramePlacement() const = 0;
  // Moves the frame to the rectangle, then minimises or maximises it.
  virtual void SetFramePlacement(const CFormPlacement& placement) = 0;
  // The frame in its normal state, activated; and hidden.
  virtual void ShowFrame() = 0;
  virtual void HideFrame() = 0;
  // Stops the refresh timer and starts it again with the document's rate.
  virtual void RestartTimer() = 0;
  // The document's title changed: the frame's caption follows it.
  virtual void TitleChanged() = 0;
};

// The defaults of a new form, as the main window keeps them.
struct CFormDefaults {
  LOGFONT logFont;
  COLORREF crForeground = 0x000000;
  COLORREF crBackground = 0xC0C0C0;
  COLORREF crExtra = 0x0000FF;
  CFormDefaults();
};

class CPlexmarDoc {
 public:
  static constexpr int32_t kDefaultRefreshRate = 1000;
  // The status WriteTag gives for a name that no tag has.
  static constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);

  explicit CPlexmarDoc(const CFormDefaults& defaults = CFormDefaults());
  ~CPlexmarDoc();
  CPlexmarDoc(const CPlexmarDoc&) = delete;
  CPlexmarDoc& operator=(const CPlexmarDoc&) = delete;

  // Writes the form file, or reads one into this document (see above).
  // Throws CArchiveException when a file cannot be read.
  void Serialize(CArchive& ar);
  // The bytes of the form file, as Save writes them.
  std::vector<uint8_t> SaveToBytes();
  // Reads a whole form file; false (with what is wrong in `error`) when it
  // cannot be read, and then nothing has changed.
  bool LoadFromBytes(std::vector<uint8_t> bytes, std::string& error);

  // Deletes every item.
  void DeleteContents();

  // The item at a client point: the first in list order that HitTest pass 0
  // accepts, else the first that pass 1 accepts, else null. Pass 0 lets items
  // lying on a large rectangle, ellipse or bitmap win over it.
  CMMI_Item* HitTest(int x, int y) const;

  // --- frame and view -------------------------------------------------------
  // 0 when the document has no view; else the frame is shown (normal state,
  // activated) or hidden, and 1.
  int ShowFormWindow();
  int HideFormWindow();
  // The placement Save writes: the view's frame, or the one last read.
  CFormPlacement Placement() const;

  // --- colours and font -----------------------------------------------------
  LOGFONT* GetLogFont() { return &m_logFont; }
  COLORREF GetForeground() const { return m_crForeground; }
  COLORREF GetBackground() const { return m_crBackground; }
  COLORREF GetExtra() const { return m_crExtra; }
  // Each stores the colour and repaints the whole view with erasing.
  void SetForeground(COLORREF color);
  void SetBackground(COLORREF color);
  void SetExtra(COLORREF color);

  // --- the framework's document state -----------------------------------------
  const std::string& GetTitle() const { return m_strTitle; }
  void SetTitle(const std::string& title);
  const std::string& GetPathName() const { return m_strPathName; }
  void SetPathName(const std::string& path) { m_strPathName = path; }
  bool IsModified() const { return m_bModified; }
  void SetModifiedFlag(bool modified = true) { m_bModified = modified; }

  // --- automation -------------------------------------------------------------
  // A copy of the value of the tag named `name` (converted to text first);
  // VT_EMPTY when the name does not convert or no tag has it.
  CVariant ReadTag(const VARIANT& name) const;
  // Converts a copy of `value` to the type of the tag's current value and
  // writes it with the tag's Write: its status, the (negative) status of a
  // failed conversion, or DISP_E_UNKNOWNNAME when no tag has the name.
  HRESULT WriteTag(const VARIANT& name, const VARIANT& value);

  // --- fields -----------------------------------------------------------------
  std::vector<std::unique_ptr<CMMI_Item>> m_items;  // drawing order: index 0 lowest
  int32_t m_nRefreshRate = kDefaultRefreshRate;
  IFormView* m_pView = nullptr;
  int32_t m_nVersion = 0;
  LOGFONT m_logFont;
  COLORREF m_crForeground = 0x000000;
  COLORREF m_crBackground = 0xC0C0C0;
  COLORREF m_crExtra = 0x0000FF;

 private:
  void SetColor(COLORREF& field, COLORREF color);

  CFormPlacement m_placement;  // as last read, for a document without a view
  std::string m_strTitle;
  std::string m_strPathName;
  bool m_bModified = false;
};

// A new item of a type code with its constructor defaults; null for a code
// outside 1 to 8.
std::unique_ptr<CMMI_Item> CreateFormItem(int32_t nType);

// The first of `documents` whose title equals `name`, ignoring the case of
// ASCII letters; null when none has it.
CPlexmarDoc* FindFormByTitle(const std::vector<CPlexmarDoc*>& documents, const std::string& name);
