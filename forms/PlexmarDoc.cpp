#include "forms/PlexmarDoc.h"

#include <utility>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"

CFormDefaults::CFormDefaults() : logFont(FormDefaultFont()) {}

CPlexmarDoc::CPlexmarDoc(const CFormDefaults& defaults)
    : m_logFont(defaults.logFont),
      m_crForeground(defaults.crForeground),
      m_crBackground(defaults.crBackground),
      m_crExtra(defaults.crExtra) {}

CPlexmarDoc::~CPlexmarDoc() { DeleteContents(); }

void CPlexmarDoc::DeleteContents() { m_items.clear(); }

CMMI_Item* CPlexmarDoc::HitTest(int x, int y) const {
  for (int pass = 0; pass < 2; ++pass)
    for (const std::unique_ptr<CMMI_Item>& item : m_items)
      if (item->HitTest(x, y, pass)) return item.get();
  return nullptr;
}

void CPlexmarDoc::SetTitle(const std::string& title) {
  m_strTitle = title;
  if (m_pView != nullptr) m_pView->TitleChanged();
}

std::unique_ptr<CMMI_Item> CreateFormItem(int32_t nType) {
  switch (nType) {
    case kItemText: return std::make_unique<CMMI_TxtItem>();
    case kItemRect: return std::make_unique<CMMI_RectItem>();
    case kItemBitmap: return std::make_unique<CMMI_BmpItem>();
    case kItemEllipse: return std::make_unique<CMMI_EllipseItem>();
    case kItemTag: return std::make_unique<CMMI_TagItem>();
    case kItemBar: return std::make_unique<CMMI_BarItem>();
    case kItemHotText: return std::make_unique<CMMI_HotTxtItem>();
    case kItemTrend: return std::make_unique<CMMI_TrendItem>();
    default: return nullptr;
  }
}

CFormPlacement CPlexmarDoc::Placement() const {
  return m_pView != nullptr ? m_pView->GetFramePlacement() : m_placement;
}

void CPlexmarDoc::Serialize(CArchive& ar) {
  m_nVersion = 0;
  if (ar.IsStoring()) {
    ar.WriteInt32(0);
    ar.WriteInt32(m_nRefreshRate);
    const CFormPlacement placement = Placement();
    ar.WriteInt32(placement.bMinimized);
    ar.WriteInt32(placement.bMaximized);
    ar.WriteInt32(placement.rect.left);
    ar.WriteInt32(placement.rect.top);
    ar.WriteInt32(placement.rect.right);
    ar.WriteInt32(placement.rect.bottom);
    ar.WriteLogFont(m_logFont);
    ar.WriteDword(m_crForeground);
    ar.WriteDword(m_crBackground);
    ar.WriteDword(m_crExtra);
    ar.WriteInt32(static_cast<int32_t>(m_items.size()));
    for (const std::unique_ptr<CMMI_Item>& item : m_items) {
      ar.WriteInt32(item->m_nType);
      item->SerializeItem(ar, m_nVersion);
    }
    return;
  }

  // Everything is read into locals first; the document changes only once the
  // last item has been read.
  (void)ar.ReadInt32();  // the version: every form file has 0
  const int32_t rate = ar.ReadInt32();
  CFormPlacement placement;
  placement.bMinimized = ar.ReadInt32();
  placement.bMaximized = ar.ReadInt32();
  placement.rect.left = ar.ReadInt32();
  placement.rect.top = ar.ReadInt32();
  placement.rect.right = ar.ReadInt32();
  placement.rect.bottom = ar.ReadInt32();
  const LOGFONT font = ar.ReadLogFont();
  const COLORREF foreground = ar.ReadDword();
  const COLORREF background = ar.ReadDword();
  const COLORREF extra = ar.ReadDword();
  // The smallest record (a bitmap with an empty path) takes 29 bytes with its
  // type code.
  const int32_t count = ar.ReadCount(29);
  std::vector<std::unique_ptr<CMMI_Item>> items;
  items.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const int32_t type = ar.ReadInt32();
    std::unique_ptr<CMMI_Item> item = CreateFormItem(type);
    if (!item)
      throw CArchiveException(CArchiveException::badFormat,
                              "item " + std::to_string(i + 1) + " has the unknown type code " + std::to_string(type));
    item->SerializeItem(ar, m_nVersion);
    // Every writer repeats the code inside the record; a record that says
    // otherwise is not what its code introduced.
    if (item->m_nType != type)
      throw CArchiveException(CArchiveException::badFormat,
                              "item " + std::to_string(i + 1) + " of type " + std::to_string(type) +
                                  " holds the type code " + std::to_string(item->m_nType));
    items.push_back(std::move(item));
  }

  DeleteContents();
  m_items = std::move(items);
  m_nRefreshRate = rate;
  m_placement = placement;
  m_logFont = font;
  m_crForeground = foreground;
  m_crBackground = background;
  m_crExtra = extra;
  if (m_pView != nullptr) {
    m_pView->SetFramePlacement(placement);
    m_pView->RestartTimer();
    m_pView->Invalidate(true);
  }
}

std::vector<uint8_t> CPlexmarDoc::SaveToBytes() {
  CArchive ar;
  Serialize(ar);
  return ar.Bytes();
}

bool CPlexmarDoc::LoadFromBytes(std::vector<uint8_t> bytes, std::string& error) {
  try {
    CArchive ar(std::move(bytes));
    Serialize(ar);
  } catch (const CArchiveException& e) {
    error = e.what();
    return false;
  }
  return true;
}

int CPlexmarDoc::ShowFormWindow() {
  if (m_pView == nullptr) return 0;
  m_pView->ShowFrame();
  return 1;
}

int CPlexmarDoc::HideFormWindow() {
  if (m_pView == nullptr) return 0;
  m_pView->HideFrame();
  return 1;
}

void CPlexmarDoc::SetColor(COLORREF& field, COLORREF color) {
  field = color;
  if (m_pView != nullptr) m_pView->Invalidate(true);
}

void CPlexmarDoc::SetForeground(COLORREF color) { SetColor(m_crForeground, color); }
void CPlexmarDoc::SetBackground(COLORREF color) { SetColor(m_crBackground, color); }
void CPlexmarDoc::SetExtra(COLORREF color) { SetColor(m_crExtra, color); }

namespace {

// The tag a VARIANT names, after converting it to text; `status` is the
// conversion's.
CExchangeTag* TagNamedBy(const VARIANT& name, HRESULT& status) {
  CVariant text(name);
  status = VariantChangeType(text.get(), text.get(), 0, VT_BSTR);
  if (FAILED(status)) return nullptr;
  CPlexmarApp* app = CPlexmarApp::Current();
  return app != nullptr ? app->FindTag(BstrToUtf8(text->bstrVal)) : nullptr;
}

}  // namespace

CVariant CPlexmarDoc::ReadTag(const VARIANT& name) const {
  HRESULT status = S_OK;
  const CExchangeTag* tag = TagNamedBy(name, status);
  return tag != nullptr ? CVariant(*tag->m_value) : CVariant();
}

HRESULT CPlexmarDoc::WriteTag(const VARIANT& name, const VARIANT& value) {
  HRESULT status = S_OK;
  CExchangeTag* tag = TagNamedBy(name, status);
  if (FAILED(status)) return status;
  // A write that reaches no tag is not a success.
  if (tag == nullptr) return DISP_E_UNKNOWNNAME;
  CVariant copy(value);
  status = VariantChangeType(copy.get(), copy.get(), 0, tag->m_value->vt);
  if (FAILED(status)) return status;
  tag->Write(*copy, status);
  return status;
}

CPlexmarDoc* FindFormByTitle(const std::vector<CPlexmarDoc*>& documents, const std::string& name) {
  auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (CPlexmarDoc* doc : documents) {
    const std::string& title = doc->GetTitle();
    if (title.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < title.size() && same; ++i) same = fold(title[i]) == fold(name[i]);
    if (same) return doc;
  }
  return nullptr;
}
