#include "forms/ItemDialogs.h"

#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>

#include <charconv>

#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "forms/DialogFields.h"
#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"
#include "forms/PainterDC.h"
#include "logic/LogicBlock.h"
#include "ui_BarPropDlg.h"
#include "ui_BmpPropDlg.h"
#include "ui_CustomDisplayDlg.h"
#include "ui_HotTxtPropDlg.h"
#include "ui_RectPropDlg.h"
#include "ui_TagPropDlg.h"
#include "ui_TrendPenDlg.h"
#include "ui_TrendPropDlg.h"
#include "ui_TxtPropDlg.h"

namespace {

constexpr int kTextChars = 200;
constexpr int kHotTextChars = 80;
// The data of the hot text list's "Add New" entry.
constexpr int kAddNewRole = Qt::UserRole + 1;

std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }
QString Field(const std::string& text) { return QString::fromStdString(text); }

void ScanInt(const QLineEdit* edit, int32_t& value, size_t maxChars = kDimensionChars) {
  ScanIntField(Text(edit), maxChars, value);
}

// A float as the framework's float exchange shows it: the shortest text that
// reads back as the same float.
QString FloatText(float value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return QString::fromLatin1(buffer, static_cast<int>(result.ptr - buffer));
}

}  // namespace

// --- Custom Display ------------------------------------------------------------

CCustomDisplayDlg::CCustomDisplayDlg(int32_t nType, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CustomDisplayDlg>()), m_nType(nType) {
  m_ui->setupUi(this);
  m_ui->listItems->setCurrentRow(nType - 1);
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(m_ui->listItems, &QListWidget::itemDoubleClicked, this, [this] { accept(); });
}

CCustomDisplayDlg::~CCustomDisplayDlg() = default;

void CCustomDisplayDlg::accept() {
  // Without a selection there is nothing to insert.
  const int row = m_ui->listItems->currentRow();
  if (row < 0) return;
  m_nType = row + 1;
  QDialog::accept();
}

// --- shared ----------------------------------------------------------------------

CItemPropDlg::CItemPropDlg(QWidget* parent) : QDialog(parent) {}

void CItemPropDlg::ConnectUpdateDelete(QPushButton* update, QPushButton* del) {
  connect(update, &QPushButton::clicked, this, &QDialog::accept);
  connect(del, &QPushButton::clicked, this, &QDialog::reject);
}

void CItemPropDlg::ConnectColor(QPushButton* button, COLORREF& field) {
  connect(button, &QPushButton::clicked, this, [this, &field] {
    COLORREF color = field;
    if (m_hooks.chooseColor && m_hooks.chooseColor(this, color)) field = color;
  });
}

void CItemPropDlg::ConnectFont(QPushButton* button, LOGFONT& font) {
  connect(button, &QPushButton::clicked, this, [this, &font] {
    if (m_hooks.chooseFont) m_hooks.chooseFont(this, font);
  });
}

void CItemPropDlg::FillDimensions(const CRect& rect, QLineEdit* width, QLineEdit* height) {
  width->setText(Field(FormatIntField(rect.Width())));
  height->setText(Field(FormatIntField(rect.Height())));
}

void CItemPropDlg::TakeDimensions(CRect& rect, QLineEdit* width, QLineEdit* height) {
  int32_t w = rect.Width();
  int32_t h = rect.Height();
  ScanInt(width, w);
  ScanInt(height, h);
  rect.right = rect.left + w;
  rect.bottom = rect.top + h;
}

void CItemPropDlg::FillTagList(QComboBox* list, const std::string& name) {
  list->clear();
  int selected = -1;
  if (CPlexmarApp* app = CPlexmarApp::Current()) {
    for (const auto& tag : app->m_tags) {
      if (selected < 0 && tag->m_strName == name) selected = list->count();
      list->addItem(Field(tag->m_strName));
    }
  }
  list->setCurrentIndex(selected);
}

void CItemPropDlg::TakeTagList(QComboBox* list, std::string& name) {
  if (list->currentIndex() >= 0) name = list->currentText().toStdString();
}

void CItemPropDlg::FitItem(CMMI_Item& item) {
  QImage scratch(1, 1, QImage::Format_RGB32);
  QPainter painter(&scratch);
  painter.setFont(font());
  CPainterDC dc(painter);
  item.FitToText(dc);
}

// --- Simple Text Properties --------------------------------------------------------

CTxtPropDlg::CTxtPropDlg(CMMI_TxtItem& item, QWidget* parent)
    : CItemPropDlg(parent), m_ui(std::make_unique<Ui::TxtPropDlg>()), m_item(item) {
  m_ui->setupUi(this);
  ConnectUpdateDelete(m_ui->buttonUpdate, m_ui->buttonDelete);
  m_ui->editText->setText(Field(item.m_strText));
  m_ui->checkDefaultFont->setChecked(item.m_bDefaultFont != 0);
  m_ui->buttonFont->setEnabled(item.m_bDefaultFont == 0);
  m_ui->checkTransparent->setChecked(item.m_bTransparent != 0);
  m_ui->buttonBackColor->setEnabled(item.m_bTransparent == 0);
  connect(m_ui->checkDefaultFont, &QCheckBox::clicked, this,
          [this](bool checked) { m_ui->buttonFont->setEnabled(!checked); });
  connect(m_ui->checkTransparent, &QCheckBox::clicked, this,
          [this](bool checked) { m_ui->buttonBackColor->setEnabled(!checked); });
  ConnectFont(m_ui->buttonFont, item.m_logFont);
  ConnectColor(m_ui->buttonTextColor, item.m_crText);
  ConnectColor(m_ui->buttonBackColor, item.m_crBack);
}

CTxtPropDlg::~CTxtPropDlg() = default;

void CTxtPropDlg::accept() {
  m_item.m_strText = m_ui->editText->text().left(kTextChars).toStdString();
  m_item.m_bDefaultFont = m_ui->checkDefaultFont->isChecked() ? 1 : 0;
  m_item.CreateItemFont();
  m_item.m_bTransparent = m_ui->checkTransparent->isChecked() ? 1 : 0;
  FitItem(m_item);
  QDialog::accept();
}

// --- Rectangle Properties ----------------------------------------------------------

CRectPropDlg::CRectPropDlg(CMMI_RectItem& item, QWidget* parent)
    : CItemPropDlg(parent), m_ui(std::make_unique<Ui::RectPropDlg>()), m_item(item) {
  m_ui->setupUi(this);
  ConnectUpdateDelete(m_ui->buttonUpdate, m_ui->buttonDelete);
  FillDimensions(item.m_rect, m_ui->editWidth, m_ui->editHeight);
  m_ui->editLineWidth->setText(Field(FormatIntField(item.m_nLineWidth)));
  m_ui->checkTransparent->setChecked(item.m_bTransparent != 0);
  m_ui->buttonFillColor->setEnabled(item.m_bTransparent == 0);
  connect(m_ui->checkTransparent, &QCheckBox::clicked, this, [this](bool checked) {
    m_item.m_bTransparent = checked ? 1 : 0;
    m_ui->buttonFillColor->setEnabled(!checked);
  });
  ConnectColor(m_ui->buttonLineColor, item.m_crLine);
  ConnectColor(m_ui->buttonFillColor, item.m_crFill);
}

CRectPropDlg::~CRectPropDlg() = default;

bool CRectPropDlg::DrawFirst() const { return m_ui->checkDrawFirst->isChecked(); }

void CRectPropDlg::accept() {
  TakeDimensions(m_item.m_rect, m_ui->editWidth, m_ui->editHeight);
  ScanInt(m_ui->editLineWidth, m_item.m_nLineWidth);
  QDialog::accept();
}

// --- Bitmap Properties -------------------------------------------------------------

CBmpPropDlg::CBmpPropDlg(CMMI_BmpItem& item, QWidget* parent)
    : CItemPropDlg(parent), m_ui(std::make_unique<Ui::BmpPropDlg>()), m_item(item) {
  m_ui->setupUi(this);
  ConnectUpdateDelete(m_ui->buttonUpdate, m_ui->buttonDelete);
  FillDimensions(item.m_rect, m_ui->editWidth, m_ui->editHeight);
  m_ui->editSource->setText(Field(item.m_strPath));
  connect(m_ui->buttonBrowse, &QPushButton::clicked, this, [this] {
    if (!m_hooks.browseBitmap) return;
    const QString path = m_hooks.browseBitmap(this);
    if (!path.isEmpty()) m_ui->editSource->setText(path);
  });
}

CBmpPropDlg::~CBmpPropDlg() = default;

bool CBmpPropDlg::DrawFirst() const { return m_ui->checkDrawFirst->isChecked(); }

void CBmpPropDlg::accept() {
  TakeDimensions(m_item.m_rect, m_ui->editWidth, m_ui->editHeight);
  const std::string path = m_ui->editSource->text().left(kTextChars).toStdString();
  if (path != m_item.m_strPath) {
    m_item.m_strPath = path;
    m_item.LoadBitmap();
  }
  QDialog::accept();
}

// --- Simple Tag Properties ---------------------------------------------------------

CTagPropDlg::CTagPropDlg(CMMI_TagItem& item, QWidget* parent)
    : CItemPropDlg(parent), m_ui(std::make_unique<Ui::TagPropDlg>()), m_item(item) {
  m_ui->setupUi(this);
  ConnectUpdateDelete(m_ui->buttonUpdate, m_ui->buttonDelete);
  FillTagList(m_ui->comboTag, item.m_strTag);
  m_ui->checkDefaultFont->setChecked(item.m_bDefaultFont != 0);
  m_ui->buttonFont->setEnabled(item.m_bDefaultFont == 0);
  m_ui->checkTransparent->setChecked(item.m_bTransparent != 0);
  m_ui->buttonBackColor->setEnabled(item.m_bTransparent == 0);
  m_ui->checkDefaultType->setChecked(item.m_vtDisplay == VT_EMPTY);
  // The type choice has no dialog behind it: its button starts disabled and
  // only follows the box once the box is clicked.
  m_ui->buttonVariantType->setEnabled(false);
  m_ui->checkWriteEnabled->setChecked(item.m_bWriteEnabled != 0);
  connect(m_ui->checkDefaultFont, &QCheckBox::clicked, this,
          [this](bool checked) { m_ui->buttonFont->setEnabled(!checked); });
  connect(m_ui->checkTransparent, &QCheckBox::clicked, this,
          [this](bool checked) { m_ui->buttonBackColor->setEnabled(!checked); });
  connect(m_ui->checkDefaultType, &QCheckBox::clicked, this,
          [this](bool checked) { m_ui->buttonVariantType->setEnabled(!checked); });
  ConnectFont(m_ui->buttonFont, item.m_logFont);
  ConnectColor(m_ui->buttonTextColor, item.m_crText);
  ConnectColor(m_ui->buttonBackColor, item.m_crBack);
}

CTagPropDlg::~CTagPropDlg() = default;

void CTagPropDlg::accept() {
  TakeTagList(m_ui->comboTag, m_item.m_strTag);
  m_item.m_bDefaultFont = m_ui->checkDefaultFont->isChecked() ? 1 : 0;
  m_item.CreateItemFont();
  m_item.m_bTransparent = m_ui->checkTransparent->isChecked() ? 1 : 0;
  m_item.m_bWriteEnabled = m_ui->checkWriteEnabled->isChecked() ? 1 : 0;
  m_item.m_vtDisplay = VT_EMPTY;
  FitItem(m_item);
  QDialog::accept();
}

// --- Bar Graph Properties ----------------------------------------------------------

CBarPropDlg::CBarPropDlg(CMMI_BarItem& item, QWidget* parent)
    : CItemPropDlg(parent), m_ui(std::make_unique<Ui::BarPropDlg>()), m_item(item) {
  m_ui->setupUi(this);
  ConnectUpdateDelete(m_ui->buttonUpdate, m_ui->buttonDelete);
  FillDimensions(item.m_rect, m_ui->editWidth, m_ui->editHeight);
  m_ui->radioVertical->setChecked(item.m_bVertical != 0);
  m_ui->radioHorizontal->setChecked(item.m_bVertical == 0);
  m_ui->editHigh->setText(Field(FormatLimitField(item.m_fHigh)));
  m_ui->editLow->setText(Field(FormatLimitField(item.m_fLow)));
  m_ui->editLineWidth->setText(Field(FormatIntField(item.m_nBorderWidth)));
  m_ui->checkShowScale->setChecked(item.m_bShowScale != 0);
  m_ui->checkShowBorder->setChecked(item.m_bShowBorder != 0);
  m_ui->checkWriteEnabled->setChecked(item.m_bWriteEnabled != 0);
  FillTagList(m_ui->comboTag, item.m_strTag);
  EnableBorderControls();
  connect(m_ui->radioHorizontal, &QRadioButton::clicked, this, [this] { m_item.m_bVertical = 0; });
  connect(m_ui->radioVertical, &QRadioButton::clicked, this, [this] { m_item.m_bVertical = 1; });
  connect(m_ui->checkShowScale, &QCheckBox::clicked, this,
          [this] { m_item.m_bShowScale = m_item.m_bShowScale ? 0 : 1; });
  connect(m_ui->checkShowBorder, &QCheckBox::clicked, this, [this] {
    m_item.m_bShowBorder = m_item.m_bShowBorder ? 0 : 1;
    EnableBorderControls();
  });
  ConnectColor(m_ui->buttonFill, item.m_crText);
  ConnectColor(m_ui->buttonBackground, item.m_crBack);
  ConnectColor(m_ui->buttonBorder, item.m_crBorder);
}

CBarPropDlg::~CBarPropDlg() = default;

void CBarPropDlg::EnableBorderControls() {
  const bool on = m_item.m_bShowBorder != 0;
  m_ui->editLineWidth->setEnabled(on);
  m_ui->buttonBorder->setEnabled(on);
}

void CBarPropDlg::accept() {
  TakeDimensions(m_item.m_rect, m_ui->editWidth, m_ui->editHeight);
  ScanFloatField(Text(m_ui->editHigh), kLimitChars, m_item.m_fHigh);
  ScanFloatField(Text(m_ui->editLow), kLimitChars, m_item.m_fLow);
  ScanInt(m_ui->editLineWidth, m_item.m_nBorderWidth);
  m_item.m_bWriteEnabled = m_ui->checkWriteEnabled->isChecked() ? 1 : 0;
  TakeTagList(m_ui->comboTag, m_item.m_strTag);
  QDialog::accept();
}

// --- Hot Text Properties -----------------------------------------------------------

CHotTxtPropDlg::CHotTxtPropDlg(CMMI_HotTxtItem& item, CPlexmarApp& app, QWidget* parent)
    : CItemPropDlg(parent), m_ui(std::make_unique<Ui::HotTxtPropDlg>()), m_item(item), m_app(app) {
  m_ui->setupUi(this);
  ConnectUpdateDelete(m_ui->buttonUpdate, m_ui->buttonDelete);
  m_ui->editText->setText(Field(item.m_strText));
  m_ui->checkDefaultFont->setChecked(item.m_bDefaultFont != 0);
  m_ui->buttonFont->setEnabled(item.m_bDefaultFont == 0);
  m_ui->editBorderWidth->setText(Field(FormatIntField(item.m_nBorderWidth)));
  connect(m_ui->checkDefaultFont, &QCheckBox::clicked, this,
          [this](bool checked) { m_ui->buttonFont->setEnabled(!checked); });
  ConnectFont(m_ui->buttonFont, item.m_logFont);
  ConnectColor(m_ui->buttonText, item.m_crText);
  ConnectColor(m_ui->buttonBackground, item.m_crBack);
  ConnectColor(m_ui->buttonBorder, item.m_crBorder);

  QComboBox* list = m_ui->comboLogicBlock;
  int selected = -1;
  for (const auto& block : app.m_logicBlocks) {
    if (selected < 0 && block->m_strName == item.m_strLogicBlock) selected = list->count();
    list->addItem(Field(block->m_strName));
  }
  list->addItem(QStringLiteral("Add New"));
  list->setItemData(list->count() - 1, true, kAddNewRole);
  list->setCurrentIndex(selected);
  // Only the operator's choices act; the dialog's own selections do not.
  connect(list, &QComboBox::activated, this, &CHotTxtPropDlg::OnLogicBlockChosen);
}

CHotTxtPropDlg::~CHotTxtPropDlg() = default;

void CHotTxtPropDlg::OnLogicBlockChosen(int index) {
  QComboBox* list = m_ui->comboLogicBlock;
  if (index < 0 || index >= list->count()) {
    m_item.m_strLogicBlock.clear();
    return;
  }
  if (!list->itemData(index, kAddNewRole).toBool()) {
    m_item.m_strLogicBlock = list->itemText(index).toStdString();
    return;
  }
  CLogicBlock* block = m_hooks.createLogicBlock ? m_hooks.createLogicBlock(m_app, this) : nullptr;
  if (block == nullptr) {
    m_item.m_strLogicBlock.clear();
    list->setCurrentIndex(0);
    return;
  }
  m_item.m_strLogicBlock = block->m_strName;
  const int position = std::min(static_cast<int>(m_app.m_logicBlocks.size()), list->count());
  list->insertItem(position, Field(block->m_strName));
  list->setCurrentIndex(position);
}

void CHotTxtPropDlg::accept() {
  m_item.m_strText = m_ui->editText->text().left(kHotTextChars).toStdString();
  m_item.m_bDefaultFont = m_ui->checkDefaultFont->isChecked() ? 1 : 0;
  m_item.CreateItemFont();
  ScanInt(m_ui->editBorderWidth, m_item.m_nBorderWidth);
  FitItem(m_item);
  QDialog::accept();
}

// --- Trend Chart Properties --------------------------------------------------------

CTrendPropDlg::CTrendPropDlg(CMMI_TrendItem& item, QWidget* parent)
    : CItemPropDlg(parent), m_ui(std::make_unique<Ui::TrendPropDlg>()), m_item(item) {
  m_ui->setupUi(this);
  ConnectUpdateDelete(m_ui->buttonUpdate, m_ui->buttonDelete);
  FillDimensions(item.m_rect, m_ui->editWidth, m_ui->editHeight);
  m_ui->editLineWidth->setText(Field(FormatIntField(item.m_nBorderWidth)));
  m_ui->editSpan->setText(Field(FormatIntField(item.m_nSpan)));
  m_ui->radioSeconds->setChecked(item.m_bSeconds != 0);
  m_ui->radioMinutes->setChecked(item.m_bSeconds == 0);
  m_ui->editMaxPoints->setText(Field(FormatIntField(item.m_nMaxPoints)));
  m_ui->checkShowScale->setChecked(item.m_bShowScale != 0);
  m_ui->checkShowBorder->setChecked(item.m_bShowBorder != 0);
  m_ui->checkShowGrid->setChecked(item.m_bShowGrid != 0);
  connect(m_ui->radioMinutes, &QRadioButton::clicked, this, [this] { m_item.m_bSeconds = 0; });
  connect(m_ui->radioSeconds, &QRadioButton::clicked, this, [this] { m_item.m_bSeconds = 1; });
  ConnectColor(m_ui->buttonBackground, item.m_crBack);
  ConnectColor(m_ui->buttonBorder, item.m_crBorder);
  QPushButton* pens[] = {m_ui->buttonPen1, m_ui->buttonPen2, m_ui->buttonPen3, m_ui->buttonPen4,
                         m_ui->buttonPen5};
  for (int i = 0; i < CMMI_TrendItem::kPens; ++i)
    connect(pens[i], &QPushButton::clicked, this, [this, i] { OnPen(i + 1); });
}

CTrendPropDlg::~CTrendPropDlg() = default;

void CTrendPropDlg::OnPen(int number) {
  CTrendPenDlg dialog(m_item.m_pens[number - 1], number, this);
  dialog.m_hooks = m_hooks;
  if (m_hooks.run) m_hooks.run(dialog);
}

void CTrendPropDlg::accept() {
  TakeDimensions(m_item.m_rect, m_ui->editWidth, m_ui->editHeight);
  ScanInt(m_ui->editLineWidth, m_item.m_nBorderWidth);
  ScanInt(m_ui->editSpan, m_item.m_nSpan);
  m_item.m_nSpan = LimitTrendSpan(m_item.m_nSpan, m_item.m_bSeconds != 0);
  ScanInt(m_ui->editMaxPoints, m_item.m_nMaxPoints);
  m_item.m_nMaxPoints = LimitTrendPoints(m_item.m_nMaxPoints);
  m_item.m_bShowScale = m_ui->checkShowScale->isChecked() ? 1 : 0;
  m_item.m_bShowBorder = m_ui->checkShowBorder->isChecked() ? 1 : 0;
  m_item.m_bShowGrid = m_ui->checkShowGrid->isChecked() ? 1 : 0;
  QDialog::accept();
}

// --- Trend Data Source -------------------------------------------------------------

CTrendPenDlg::CTrendPenDlg(TrendPen& pen, int number, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TrendPenDlg>()), m_pen(pen), m_crPen(pen.m_crPen) {
  m_ui->setupUi(this);
  setWindowTitle(QStringLiteral("Trend Data Source (Pen #%1)").arg(number));
  connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
  m_ui->checkEnabled->setChecked(pen.m_bEnabled != 0);
  m_ui->editHigh->setText(FloatText(pen.m_fHigh));
  m_ui->editLow->setText(FloatText(pen.m_fLow));
  m_ui->editWidth->setText(QString::number(pen.m_nWidth));
  // The tag list is the shared one of the item dialogs.
  m_ui->comboTag->clear();
  int selected = -1;
  if (CPlexmarApp* app = CPlexmarApp::Current()) {
    for (const auto& tag : app->m_tags) {
      if (selected < 0 && tag->m_strName == pen.m_strTag) selected = m_ui->comboTag->count();
      m_ui->comboTag->addItem(Field(tag->m_strName));
    }
  }
  m_ui->comboTag->setCurrentIndex(selected);
  connect(m_ui->buttonPenColor, &QPushButton::clicked, this, [this] {
    COLORREF color = m_crPen;
    if (m_hooks.chooseColor && m_hooks.chooseColor(this, color)) m_crPen = color;
  });
}

CTrendPenDlg::~CTrendPenDlg() = default;

void CTrendPenDlg::accept() {
  // The framework's exchange: a field that does not read whole is refused
  // with its message and the dialog stays open on it.
  const auto refuse = [this](QLineEdit* edit, const char* text) {
    if (m_hooks.warn) m_hooks.warn(this, QString::fromLatin1(text));
    edit->setFocus();
    edit->selectAll();
  };
  bool ok = false;
  const float high = m_ui->editHigh->text().trimmed().toFloat(&ok);
  if (!ok) return refuse(m_ui->editHigh, "Please enter a number.");
  const float low = m_ui->editLow->text().trimmed().toFloat(&ok);
  if (!ok) return refuse(m_ui->editLow, "Please enter a number.");
  const int width = m_ui->editWidth->text().trimmed().toInt(&ok);
  if (!ok) return refuse(m_ui->editWidth, "Please enter an integer.");
  m_pen.m_bEnabled = m_ui->checkEnabled->isChecked() ? 1 : 0;
  m_pen.m_crPen = m_crPen;
  m_pen.m_fHigh = high;
  m_pen.m_fLow = low;
  m_pen.m_nWidth = width;
  if (m_ui->comboTag->currentIndex() >= 0) m_pen.m_strTag = m_ui->comboTag->currentText().toStdString();
  QDialog::accept();
}

// --- the view's entry ----------------------------------------------------------------

namespace {

template <typename Dialog, typename... Args>
bool RunDialog(const FormDialogHooks& hooks, Args&&... args) {
  Dialog dialog(std::forward<Args>(args)...);
  dialog.m_hooks = hooks;
  return hooks.run && hooks.run(dialog) == QDialog::Accepted;
}

template <typename Dialog, typename Item>
bool RunDrawFirstDialog(const FormDialogHooks& hooks, Item& item, int32_t* pbDrawFirst, QWidget* parent) {
  Dialog dialog(item, parent);
  dialog.m_hooks = hooks;
  const bool ok = hooks.run && hooks.run(dialog) == QDialog::Accepted;
  if (pbDrawFirst != nullptr) *pbDrawFirst = dialog.DrawFirst() ? 1 : 0;
  return ok;
}

}  // namespace

bool RunItemPropertyDialog(CMMI_Item& item, int32_t* pbDrawFirst, QWidget* parent,
                           const FormDialogHooks& hooks) {
  if (auto* trend = dynamic_cast<CMMI_TrendItem*>(&item)) return RunDialog<CTrendPropDlg>(hooks, *trend, parent);
  if (auto* bar = dynamic_cast<CMMI_BarItem*>(&item)) return RunDialog<CBarPropDlg>(hooks, *bar, parent);
  if (auto* tag = dynamic_cast<CMMI_TagItem*>(&item)) return RunDialog<CTagPropDlg>(hooks, *tag, parent);
  if (auto* text = dynamic_cast<CMMI_TxtItem*>(&item)) return RunDialog<CTxtPropDlg>(hooks, *text, parent);
  if (auto* hot = dynamic_cast<CMMI_HotTxtItem*>(&item)) {
    CPlexmarApp* app = CPlexmarApp::Current();
    if (app == nullptr) return false;
    return RunDialog<CHotTxtPropDlg>(hooks, *hot, *app, parent);
  }
  if (auto* rect = dynamic_cast<CMMI_RectItem*>(&item))
    return RunDrawFirstDialog<CRectPropDlg>(hooks, *rect, pbDrawFirst, parent);
  if (auto* bitmap = dynamic_cast<CMMI_BmpItem*>(&item))
    return RunDrawFirstDialog<CBmpPropDlg>(hooks, *bitmap, pbDrawFirst, parent);
  return false;
}
