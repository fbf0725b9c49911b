// The form view under the mouse on Qt's offscreen platform, with QTest
// events on a real view: rubber bands and inserting, dragging, editing,
// stacking and deleting in edit mode; hot texts and operator writes at run
// time; and what the lock leaves to the operator.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "FormEditGuiSupport.h"
#include "core/HostUi.h"
#include "forms/FormItemUi.h"
#include "forms/FormPropertiesDlg.h"
#include "forms/ItemDialogs.h"
#include "forms/MMI_Items.h"
#include "forms/PlexmarView.h"
#include "forms/TagWriteDlgs.h"
#include "logic/LogicBlock.h"
#include "logic/LogicEntry.h"
#include "ui_CustomDisplayDlg.h"
#include "ui_RectPropDlg.h"
#include "ui_TxtPropDlg.h"
#include "ui_WriteNumericDlg.h"
#include "ui_WriteStringDlg.h"

using namespace formedit_test;

namespace {

// Records what logic blocks ask of the user interface.
class RecordingHost : public IHostUi {
 public:
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  int ShowForm(const std::string& name) override {
    shown.push_back(name);
    return 1;
  }
  int HideForm(const std::string& name) override {
    hidden.push_back(name);
    return 1;
  }
  std::vector<std::string> messages, shown, hidden;
};

// An item that counts its refresh ticks.
class ProbeItem : public CMMI_Item {
 public:
  void OnRefresh(int elapsed) override { ticks.push_back(elapsed); }
  std::vector<int> ticks;
};

std::function<int(QDialog&)> ChooseType(int type) {
  return [type](QDialog& d) {
    auto& dialog = static_cast<CCustomDisplayDlg&>(d);
    dialog.Form().listItems->setCurrentRow(type - 1);
    dialog.accept();
    return d.result();
  };
}

std::function<int(QDialog&)> RectUpdate(bool drawFirst) {
  return [drawFirst](QDialog& d) {
    auto& dialog = static_cast<CRectPropDlg&>(d);
    dialog.Form().checkDrawFirst->setChecked(drawFirst);
    dialog.Form().buttonUpdate->click();
    return d.result();
  };
}

std::function<int(QDialog&)> Press(const char* button) {
  return [button](QDialog& d) {
    d.findChild<QPushButton*>(QString::fromLatin1(button))->click();
    return d.result();
  };
}

class ViewMouse : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    FormHooks() = script.Hooks();
    SetFormItemUi(&itemUi);
    tags.app.SetHostUi(&host);
    view = std::make_unique<CPlexmarView>(doc);
    view->resize(400, 300);
    view->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    view.reset();
    SetFormItemUi(nullptr);
    FormHooks() = FormDialogHooks::Default();
  }

  void Down(int x, int y) { QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(x, y)); }
  void MoveTo(int x, int y) { QTest::mouseMove(view.get(), QPoint(x, y)); }
  void Up(int x, int y) { QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(x, y)); }
  void Drag(QPoint from, QPoint to) {
    Down(from.x(), from.y());
    MoveTo((from.x() + to.x()) / 2, (from.y() + to.y()) / 2);
    MoveTo(to.x(), to.y());
    Up(to.x(), to.y());
  }
  void RightClick(int x, int y) { QTest::mousePress(view.get(), Qt::RightButton, {}, QPoint(x, y)); }
  void DoubleClick(int x, int y) {
    Down(x, y);
    Up(x, y);
    QTest::mouseDClick(view.get(), Qt::LeftButton, {}, QPoint(x, y));
  }

  template <class T>
  T& Add(CRect rect) {
    auto item = std::make_unique<T>();
    item->m_rect = rect;
    item->m_nType = TypeOf<T>();
    T& ref = *item;
    doc.m_items.push_back(std::move(item));
    return ref;
  }
  template <class T>
  static int32_t TypeOf() {
    if constexpr (std::is_same_v<T, CMMI_TxtItem>) return kItemText;
    if constexpr (std::is_same_v<T, CMMI_RectItem>) return kItemRect;
    if constexpr (std::is_same_v<T, CMMI_EllipseItem>) return kItemEllipse;
    if constexpr (std::is_same_v<T, CMMI_TagItem>) return kItemTag;
    if constexpr (std::is_same_v<T, CMMI_BarItem>) return kItemBar;
    if constexpr (std::is_same_v<T, CMMI_HotTxtItem>) return kItemHotText;
    return 0;
  }
  // A block with one entry that shows the form `form`.
  CLogicBlock& AddShowBlock(const std::string& name, const std::string& form) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = name;
    auto entry = std::make_unique<CLogicEntry>();
    entry->m_nType = kLogicFormShowHide;
    entry->m_nOperation = 1;
    entry->m_strFormName = form;
    block->m_entries.push_back(std::move(entry));
    CLogicBlock& ref = *block;
    tags.app.m_logicBlocks.push_back(std::move(block));
    return ref;
  }

  TagTable tags;
  RecordingHost host;
  ScriptedHooks script;
  CQtFormItemUi itemUi;
  CPlexmarDoc doc;
  std::unique_ptr<CPlexmarView> view;
};

TEST_F(ViewMouse, AReversedBandInsertsTheNormalisedRectangle) {
  script.dialogs = {ChooseType(kItemRect), RectUpdate(false)};
  Drag({200, 150}, {50, 40});
  EXPECT_EQ(script.opened, QStringList({"Custom Display", "Rectangle Properties"}));
  ASSERT_EQ(doc.m_items.size(), 1u);
  EXPECT_EQ(doc.m_items[0]->m_nType, kItemRect);
  EXPECT_EQ(doc.m_items[0]->m_rect, (CRect{50, 40, 200, 150}));
  EXPECT_EQ(doc.m_items[0]->m_bSelected, 0);
  EXPECT_TRUE(doc.IsModified()) << "a button release marks the form modified";
  EXPECT_EQ(view->m_nMode, 0);
  EXPECT_EQ(view->m_nInsertType, kItemRect);
}

TEST_F(ViewMouse, ANarrowBandStillAsksButANineByNineOneDoesNot) {
  Drag({100, 100}, {109, 109});
  EXPECT_TRUE(script.opened.isEmpty()) << "9 by 9 inserts nothing, silently";
  Drag({100, 100}, {105, 130});
  EXPECT_EQ(script.opened, QStringList({"Custom Display"})) << "5 wide but 30 high";
  EXPECT_TRUE(doc.m_items.empty()) << "Cancel inserts nothing";
}

TEST_F(ViewMouse, DeletingANewItemInItsDialogInsertsNothing) {
  script.dialogs = {ChooseType(kItemEllipse), Press("buttonDelete")};
  Drag({10, 10}, {80, 60});
  EXPECT_TRUE(doc.m_items.empty());
}

TEST_F(ViewMouse, TextItemsTakeTheSizeOfTheirTextWhateverTheBand) {
  script.dialogs = {ChooseType(kItemText), [](QDialog& d) {
                      auto& dialog = static_cast<CTxtPropDlg&>(d);
                      dialog.Form().editText->setText("Hi");
                      dialog.Form().buttonUpdate->click();
                      return d.result();
                    }};
  Drag({20, 30}, {300, 250});
  ASSERT_EQ(doc.m_items.size(), 1u);
  const CRect r = doc.m_items[0]->m_rect;
  EXPECT_EQ(r.left, 20);
  EXPECT_EQ(r.top, 30);
  EXPECT_LT(r.Width(), 60);
  EXPECT_LT(r.Height(), 40);
}

TEST_F(ViewMouse, DrawFirstPutsARectangleAtTheBottomOnInsertAndOnEdit) {
  Add<CMMI_TxtItem>({10, 10, 60, 30});
  script.dialogs = {ChooseType(kItemRect), RectUpdate(true)};
  Drag({100, 100}, {300, 250});
  ASSERT_EQ(doc.m_items.size(), 2u);
  EXPECT_EQ(doc.m_items[0]->m_nType, kItemRect) << "drawn first, under everything";

  // A second rectangle on top; its dialog with Draw First sends it down.
  script.dialogs = {ChooseType(kItemRect), RectUpdate(false)};
  Drag({150, 50}, {250, 90});
  ASSERT_EQ(doc.m_items.size(), 3u);
  CMMI_Item* top = doc.m_items[2].get();
  EXPECT_EQ(top->m_rect, (CRect{150, 50, 250, 90}));
  script.dialogs = {RectUpdate(true)};
  RightClick(150, 70);
  EXPECT_EQ(doc.m_items[0].get(), top);
  EXPECT_EQ(top->m_rect, (CRect{150, 50, 250, 90})) << "otherwise unchanged";
}

TEST_F(ViewMouse, DraggingBeyondTheClientAreaStopsWhereTheMouseReachesTheEdge) {
  CMMI_Item& item = Add<CMMI_TxtItem>({100, 100, 150, 120});
  Down(110, 110);
  EXPECT_EQ(view->m_nMode, 2);
  EXPECT_EQ(item.m_bSelected, 1);
  MoveTo(300, 110);
  EXPECT_EQ(item.m_rect, (CRect{290, 100, 340, 120}));
  MoveTo(399, 299);
  QMouseEvent far(QEvent::MouseMove, QPointF(1000, 900), QPointF(1000, 900), Qt::NoButton, Qt::LeftButton,
                  Qt::NoModifier);
  QApplication::sendEvent(view.get(), &far);
  EXPECT_EQ(item.m_rect, (CRect{390, 290, 440, 310})) << "the mouse is clamped to 400 x 300, not the item";
  QMouseEvent back(QEvent::MouseMove, QPointF(-500, -500), QPointF(-500, -500), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view.get(), &back);
  EXPECT_EQ(item.m_rect, (CRect{-10, -10, 40, 10}));
  Up(0, 0);
  EXPECT_EQ(item.m_bSelected, 0);
  EXPECT_EQ(view->m_nMode, 0);
  EXPECT_TRUE(script.opened.isEmpty()) << "moving opens no dialog";
}

TEST_F(ViewMouse, TheHitTestFindsItemsLyingOnABigFrameFirst) {
  CMMI_Item& frame = Add<CMMI_RectItem>({0, 0, 300, 200});
  CMMI_Item& label = Add<CMMI_TxtItem>({100, 100, 150, 120});
  EXPECT_EQ(doc.HitTest(120, 110), &label);
  EXPECT_EQ(doc.HitTest(1, 100), &frame) << "the frame's edge";
  EXPECT_EQ(doc.HitTest(200, 150), &frame) << "pass 1: anywhere inside";
  EXPECT_EQ(doc.HitTest(350, 250), nullptr);
}

TEST_F(ViewMouse, DeleteInTheDialogAsksAndNoKeepsTheItem) {
  CMMI_BarItem& bar = Add<CMMI_BarItem>({50, 50, 80, 150});
  script.dialogs = {[](QDialog& d) {
    d.findChild<QCheckBox*>("checkShowBorder")->click();
    d.findChild<QPushButton*>("buttonDelete")->click();
    return d.result();
  }};
  script.yes = false;
  RightClick(60, 100);
  EXPECT_EQ(script.opened, QStringList({"Bar Graph Properties"}));
  EXPECT_EQ(script.questions, QStringList({"Do you want to delete this item?"}));
  ASSERT_EQ(doc.m_items.size(), 1u);
  EXPECT_EQ(doc.m_items[0].get(), &bar);
  EXPECT_EQ(bar.m_bShowBorder, 1) << "the border clicked on stays on";

  script.dialogs = {Press("buttonDelete")};
  script.yes = true;
  RightClick(60, 100);
  EXPECT_TRUE(doc.m_items.empty());
  RightClick(60, 100);
  EXPECT_EQ(script.questions.size(), 2) << "a right click on nothing asks nothing";
}

TEST_F(ViewMouse, AHotTextRunsItsBlockOnReleaseInEditModeToo) {
  AddShowBlock("Go", "Other");
  CMMI_HotTxtItem& hot = Add<CMMI_HotTxtItem>({20, 20, 80, 40});
  hot.m_strLogicBlock = "Go";
  Down(30, 30);
  EXPECT_TRUE(host.shown.empty()) << "not on the press";
  Up(30, 30);
  EXPECT_EQ(host.shown, std::vector<std::string>{"Other"});
  Drag({30, 30}, {130, 60});
  EXPECT_EQ(host.shown.size(), 2u) << "a drag of it runs it too";
  EXPECT_EQ(hot.m_rect, (CRect{120, 50, 180, 70}));

  hot.m_strLogicBlock = "Missing";
  Down(130, 55);
  Up(130, 55);
  EXPECT_EQ(host.shown.size(), 2u) << "a block that does not exist does nothing";
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(ViewMouse, WhileLockedOnlyHotTextsAndWritesAct) {
  tags.app.m_bLocked = 1;
  AddShowBlock("Open", "Pumps");
  CMMI_RectItem& rect = Add<CMMI_RectItem>({200, 200, 260, 260});
  CMMI_HotTxtItem& hot = Add<CMMI_HotTxtItem>({20, 20, 80, 40});
  hot.m_strLogicBlock = "Open";
  CExchangeTag& tag = tags.AddTag("Setpoint", MakeVariantI4(40));
  CMMI_TagItem& value = Add<CMMI_TagItem>({20, 100, 80, 120});
  value.m_strTag = "Setpoint";
  value.m_bWriteEnabled = 1;

  RightClick(200, 230);
  EXPECT_TRUE(script.opened.isEmpty()) << "right clicks do nothing";
  Drag({201, 230}, {300, 280});
  EXPECT_EQ(rect.m_rect, (CRect{200, 200, 260, 260})) << "dragging does nothing";
  EXPECT_EQ(rect.m_bSelected, 0);
  Drag({5, 280}, {150, 150});
  EXPECT_TRUE(script.opened.isEmpty()) << "no rubber band";

  // The hot text: pressed, moved off and released far away still runs.
  Down(30, 30);
  EXPECT_EQ(view->m_nMode, 3);
  EXPECT_EQ(hot.m_bSelected, 1) << "drawn pressed";
  MoveTo(350, 250);
  Up(350, 250);
  EXPECT_EQ(host.shown, std::vector<std::string>{"Pumps"});
  EXPECT_EQ(hot.m_bSelected, 0);
  EXPECT_EQ(hot.m_rect, (CRect{20, 20, 80, 40}));

  script.dialogs = {[](QDialog& d) {
    auto& dialog = static_cast<CWriteNumericDlg&>(d);
    EXPECT_EQ(dialog.Form().editValue->text(), "40");
    dialog.Form().editValue->setText("55");
    dialog.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
    return d.result();
  }};
  DoubleClick(30, 110);
  EXPECT_EQ(script.opened, QStringList({"Write Numeric Value to Tag"}));
  EXPECT_EQ(tag.m_value->vt, VT_R8);
  EXPECT_DOUBLE_EQ(tag.m_value->dblVal, 55.0);
  EXPECT_EQ(tag.m_nQuality, CExchangeTag::kQualityGood);
}

TEST_F(ViewMouse, ADoubleClickedHotTextRunsItsBlockOnce) {
  tags.app.m_bLocked = 1;
  AddShowBlock("Open", "Pumps");
  Add<CMMI_HotTxtItem>({20, 20, 80, 40}).m_strLogicBlock = "Open";
  DoubleClick(30, 30);
  Up(30, 30);
  EXPECT_EQ(host.shown.size(), 1u);
}

TEST_F(ViewMouse, CancellingTheStringWriteWritesNothingAndAsksNothingMore) {
  CExchangeTag& batch = tags.AddTag("Batch", MakeVariantText("123"));
  CMMI_TagItem& value = Add<CMMI_TagItem>({20, 100, 80, 120});
  value.m_strTag = "Batch";
  value.m_bWriteEnabled = 1;
  DoubleClick(30, 110);
  EXPECT_EQ(script.opened, QStringList({"Write String Value to Tag"}));
  EXPECT_EQ(batch.m_value->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(batch.m_value->bstrVal), "123");

  // Not write-enabled: a double click writes nothing.
  value.m_bWriteEnabled = 0;
  script.opened.clear();
  DoubleClick(30, 110);
  EXPECT_TRUE(script.opened.isEmpty());
}

TEST_F(ViewMouse, FormPropertiesAppliesTitleColoursAndA250MillisecondTimer) {
  auto probe = std::make_unique<ProbeItem>();
  ProbeItem& item = *probe;
  doc.m_items.push_back(std::move(probe));
  doc.SetTitle("Plexform1");
  script.colors = {0x0000FF, 0x00FFFF};
  script.dialogs = {[](QDialog& d) {
    auto& dialog = static_cast<CFormPropDlg&>(d);
    d.findChild<QPushButton*>("buttonForeground")->click();
    d.findChild<QPushButton*>("buttonBackground")->click();
    d.findChild<QLineEdit*>("editName")->setText("Boiler House");
    d.findChild<QLineEdit*>("editRefresh")->setText("250");
    dialog.accept();
    return d.result();
  }};
  view->OnFormProperties();
  EXPECT_EQ(doc.GetTitle(), "Boiler House");
  EXPECT_EQ(doc.m_nRefreshRate, 250);
  EXPECT_EQ(doc.GetForeground(), 0x0000FFu);
  EXPECT_EQ(doc.GetBackground(), 0x00FFFFu);

  item.ticks.clear();
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < 1100) QTest::qWait(20);
  ASSERT_GE(item.ticks.size(), 3u);
  EXPECT_LE(item.ticks.size(), 5u) << "about four ticks a second";
  for (int elapsed : item.ticks) EXPECT_EQ(elapsed, 250);

  // Cancel changes nothing.
  script.dialogs.clear();
  view->OnFormProperties();
  EXPECT_EQ(doc.m_nRefreshRate, 250);
}

TEST_F(ViewMouse, Snapshots) {
  tags.AddTag("Tank.Level", MakeVariantR8(62.5));
  auto& frame = Add<CMMI_RectItem>({10, 10, 250, 290});
  frame.m_nLineWidth = 2;
  auto& title = Add<CMMI_TxtItem>({20, 20, 200, 40});
  title.m_strText = "Tank Farm";
  auto& level = Add<CMMI_TagItem>({20, 60, 100, 80});
  level.m_strTag = "Tank.Level";
  auto& bar = Add<CMMI_BarItem>({300, 40, 330, 240});
  bar.m_strTag = "Tank.Level";
  bar.m_fHigh = 100.0f;
  bar.m_crText = 0xFF0000;
  auto& hot = Add<CMMI_HotTxtItem>({20, 200, 100, 230});
  hot.m_strText = "Pumps";
  doc.m_pView->Invalidate(true);
  // Edit mode: the level is being dragged (selected outline), a band drawn.
  Down(30, 65);
  MoveTo(40, 100);
  QApplication::processEvents();
  EXPECT_TRUE(view->grab().save(ShotDir() + "/form-edit-mode.png"));
  Up(40, 100);
  // A band on empty space, too small to insert anything when released.
  Down(265, 250);
  MoveTo(390, 292);
  view->repaint();
  EXPECT_EQ(view->m_nMode, 1);
  EXPECT_TRUE(view->grab().save(ShotDir() + "/form-edit-band.png"));
  MoveTo(268, 253);
  Up(268, 253);
  tags.app.m_bLocked = 1;
  Down(30, 210);
  view->repaint();
  EXPECT_TRUE(view->grab().save(ShotDir() + "/form-locked-hot-text-pressed.png"));
  Up(30, 210);
  view->repaint();
  EXPECT_TRUE(view->grab().save(ShotDir() + "/form-locked.png"));
}

}  // namespace
