// The item property dialogs, Custom Display, Trend Data Source, Form
// Properties and the write dialogs on Qt's offscreen platform: their texts,
// what changes the item at once and what only on Update, the limits, and
// the hot text's "Add New".
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <cstring>

#include "FormEditGuiSupport.h"
#include "forms/FormPropertiesDlg.h"
#include "forms/ItemDialogs.h"
#include "forms/MMI_Items.h"
#include "forms/MMI_TrendItem.h"
#include "forms/TagWriteDlgs.h"
#include "logic/LogicBlock.h"
#include "ui_BarPropDlg.h"
#include "ui_BmpPropDlg.h"
#include "ui_CustomDisplayDlg.h"
#include "ui_FormPropDlg.h"
#include "ui_HotTxtPropDlg.h"
#include "ui_RectPropDlg.h"
#include "ui_TagPropDlg.h"
#include "ui_TrendPenDlg.h"
#include "ui_TrendPropDlg.h"
#include "ui_TxtPropDlg.h"
#include "ui_WriteNumericDlg.h"
#include "ui_WriteStringDlg.h"

using namespace formedit_test;

namespace {

QStringList Entries(const QComboBox* combo) {
  QStringList list;
  for (int i = 0; i < combo->count(); ++i) list << combo->itemText(i);
  return list;
}

QStringList Texts(QWidget& dialog) {
  QStringList texts;
  for (auto* w : dialog.findChildren<QLabel*>()) texts << w->text();
  for (auto* w : dialog.findChildren<QAbstractButton*>()) texts << w->text();
  for (auto* w : dialog.findChildren<QGroupBox*>()) texts << w->title();
  return texts;
}

class ItemDialogs : public ::testing::Test {
 protected:
  void SetUp() override { App(); }
  template <class Dialog>
  void Hook(Dialog& dialog) {
    dialog.m_hooks = script.Hooks();
  }
  TagTable tags;
  ScriptedHooks script;
};

TEST_F(ItemDialogs, CustomDisplayListsTheEightKindsAndGivesTheChosenTypeCode) {
  CCustomDisplayDlg dialog(1);
  EXPECT_EQ(dialog.windowTitle(), "Custom Display");
  EXPECT_EQ(dialog.Form().labelSelect->text(), "Select Item to Insert:");
  QStringList entries;
  for (int i = 0; i < dialog.Form().listItems->count(); ++i) entries << dialog.Form().listItems->item(i)->text();
  EXPECT_EQ(entries, QStringList({"Static Text", "Rectangle", "Bitmap", "Ellipse", "Data Value", "Bargraph",
                                  "Hot Text", "Trend Chart"}));
  EXPECT_EQ(dialog.Form().listItems->currentRow(), 0) << "the view passes 1: Static Text";
  EXPECT_TRUE(Snapshot(dialog, "dlg-custom-display"));

  dialog.Form().listItems->setCurrentRow(7);
  dialog.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Type(), 8);

  CCustomDisplayDlg twice(1);
  twice.Form().listItems->setCurrentRow(5);
  emit twice.Form().listItems->itemDoubleClicked(twice.Form().listItems->item(5));
  EXPECT_EQ(twice.result(), QDialog::Accepted) << "a double click confirms";
  EXPECT_EQ(twice.Type(), 6);
}

TEST_F(ItemDialogs, SimpleTextTakesTextAndBoxesOnUpdateButColoursAndFontAtOnce) {
  CMMI_TxtItem item;
  item.m_rect = {30, 40, 200, 90};
  item.m_strText = "Pump";
  CTxtPropDlg dialog(item);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Simple Text Properties");
  EXPECT_TRUE(Texts(dialog).contains("Display String"));
  EXPECT_TRUE(Texts(dialog).contains("Use Default"));
  EXPECT_TRUE(Texts(dialog).contains("Background Style"));
  EXPECT_EQ(ui.buttonUpdate->text(), "&Update");
  EXPECT_TRUE(ui.buttonUpdate->isDefault());
  EXPECT_EQ(ui.buttonDelete->text(), "&Delete");
  EXPECT_EQ(ui.editText->text(), "Pump");
  EXPECT_EQ(ui.editText->maxLength(), 200);
  EXPECT_FALSE(ui.buttonFont->isEnabled()) << "Use Default is on";
  EXPECT_FALSE(ui.buttonBackColor->isEnabled()) << "Transparent is on";
  EXPECT_TRUE(Snapshot(dialog, "dlg-simple-text"));

  ui.checkDefaultFont->click();
  EXPECT_TRUE(ui.buttonFont->isEnabled());
  EXPECT_EQ(item.m_bDefaultFont, 1) << "the box is read on Update";
  script.font = [](LOGFONT& f) {
    f.lfHeight = -20;
    f.lfWeight = 700;
  };
  ui.buttonFont->click();
  EXPECT_EQ(item.m_logFont.lfHeight, -20) << "the font changes at once";
  ui.checkTransparent->click();
  EXPECT_TRUE(ui.buttonBackColor->isEnabled());
  EXPECT_EQ(item.m_bTransparent, 1);
  script.colors = {0x0000FF, 0x00FF00};
  ui.buttonTextColor->click();
  ui.buttonBackColor->click();
  EXPECT_EQ(item.m_crText, 0x0000FFu);
  EXPECT_EQ(item.m_crBack, 0x00FF00u);
  ui.editText->setText("Feed Pump 2");

  // Delete keeps what changed at once and drops the rest.
  ui.buttonDelete->click();
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(item.m_strText, "Pump");
  EXPECT_EQ(item.m_bTransparent, 1);
  EXPECT_EQ(item.m_crText, 0x0000FFu);
  EXPECT_EQ(item.m_logFont.lfWeight, 700);

  CTxtPropDlg again(item);
  Hook(again);
  again.Form().editText->setText("Feed Pump 2");
  again.Form().checkDefaultFont->click();
  again.Form().checkTransparent->click();
  again.Form().buttonUpdate->click();
  EXPECT_EQ(again.result(), QDialog::Accepted);
  EXPECT_EQ(item.m_strText, "Feed Pump 2");
  EXPECT_EQ(item.m_bDefaultFont, 0);
  ASSERT_NE(item.m_pFont, nullptr) << "a font made from the LOGFONT";
  EXPECT_EQ(item.m_bTransparent, 0);
  // FitToText: the item has the size of its text, from its old corner.
  EXPECT_EQ(item.m_rect.left, 30);
  EXPECT_EQ(item.m_rect.top, 40);
  EXPECT_GT(item.m_rect.Width(), 40);
  EXPECT_LT(item.m_rect.Width(), 170);
  EXPECT_GE(item.m_rect.Height(), 18);
  EXPECT_LT(item.m_rect.Height(), 50);
}

TEST_F(ItemDialogs, RectangleDimensionsKeepTheCornerAndTextKeepsTheOldValue) {
  CMMI_RectItem item;
  item.m_rect = {10, 20, 110, 70};
  CRectPropDlg dialog(item);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Rectangle Properties");
  for (const char* text : {"Dimensions", "Width", "Height", "Line Width:", "Line Color", "Transparent Background",
                           "Fill Color", "Draw First"})
    EXPECT_TRUE(Texts(dialog).contains(text)) << text;
  EXPECT_EQ(ui.editWidth->text(), "100");
  EXPECT_EQ(ui.editHeight->text(), "50");
  EXPECT_EQ(ui.editLineWidth->text(), "1");
  EXPECT_FALSE(ui.buttonFillColor->isEnabled());
  EXPECT_TRUE(Snapshot(dialog, "dlg-rectangle"));

  ui.checkTransparent->click();
  EXPECT_EQ(item.m_bTransparent, 0) << "set at once";
  EXPECT_TRUE(ui.buttonFillColor->isEnabled());
  script.colors = {0x123456};
  ui.buttonFillColor->click();
  EXPECT_EQ(item.m_crFill, 0x123456u);

  ui.editWidth->setText("240");
  ui.editHeight->setText("wide");
  ui.editLineWidth->setText("3 px");
  ui.checkDrawFirst->setChecked(true);
  ui.buttonUpdate->click();
  EXPECT_EQ(item.m_rect, (CRect{10, 20, 250, 70})) << "height text kept the old 50";
  EXPECT_EQ(item.m_nLineWidth, 3);
  EXPECT_TRUE(dialog.DrawFirst());

  int32_t drawFirst = 7;
  script.dialogs.push_back([](QDialog& d) {
    auto& rect = static_cast<CRectPropDlg&>(d);
    rect.Form().checkDrawFirst->setChecked(false);
    rect.Form().buttonUpdate->click();
    return d.result();
  });
  EXPECT_TRUE(RunItemPropertyDialog(item, &drawFirst, nullptr, script.Hooks()));
  EXPECT_EQ(drawFirst, 0);

  CMMI_EllipseItem ellipse;
  script.dialogs.push_back([](QDialog& d) {
    static_cast<CRectPropDlg&>(d).Form().buttonDelete->click();
    return d.result();
  });
  EXPECT_FALSE(RunItemPropertyDialog(ellipse, &drawFirst, nullptr, script.Hooks()));
  EXPECT_EQ(script.opened.last(), "Rectangle Properties") << "ellipses share the rectangle dialog";
}

TEST_F(ItemDialogs, BitmapLoadsOnlyWhenTheSourceChanged) {
  const QString path = ShotDir() + "/formedit-test.bmp";
  QImage image(8, 4, QImage::Format_RGB32);
  image.fill(Qt::blue);
  ASSERT_TRUE(image.save(path, "BMP"));

  CMMI_BmpItem item;
  item.m_rect = {0, 0, 30, 30};
  CBmpPropDlg dialog(item);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Bitmap Properties");
  for (const char* text : {"Display Dimensions", "Source:", "Browse", "Draw First"})
    EXPECT_TRUE(Texts(dialog).contains(text)) << text;
  EXPECT_EQ(ui.editSource->maxLength(), 200);
  EXPECT_TRUE(Snapshot(dialog, "dlg-bitmap"));
  script.bitmapPath = path;
  ui.buttonBrowse->click();
  EXPECT_EQ(ui.editSource->text(), path);
  EXPECT_EQ(item.m_strPath, "") << "read on Update";
  ui.buttonUpdate->click();
  EXPECT_EQ(item.m_strPath, path.toStdString());
  ASSERT_NE(item.m_hBitmap, nullptr);
  EXPECT_EQ(item.m_hBitmap->Size(), (CSize{8, 4}));

  // The same path again: nothing is reloaded.
  item.m_hBitmap.reset();
  CBmpPropDlg same(item);
  Hook(same);
  same.Form().buttonUpdate->click();
  EXPECT_EQ(item.m_hBitmap, nullptr);
}

TEST_F(ItemDialogs, SimpleTagListsTagsInTableOrderAndResetsTheVariantType) {
  tags.AddTag("Tank.Level", MakeVariantR8(12.0));
  tags.AddTag("Boiler.Temp", MakeVariantR8(71.5));
  tags.AddTag("Alarm", MakeVariantBool(true));
  CMMI_TagItem item;
  item.m_rect = {5, 5, 10, 10};
  item.m_strTag = "Boiler.Temp";
  item.m_vtDisplay = VT_I4;
  CTagPropDlg dialog(item);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Simple Tag Properties");
  for (const char* text : {"Tag Name", "Variant Type", "Write Enabled", "Background Style", "Transparent"})
    EXPECT_TRUE(Texts(dialog).contains(text)) << text;
  EXPECT_EQ(Entries(ui.comboTag), QStringList({"Tank.Level", "Boiler.Temp", "Alarm"}));
  EXPECT_EQ(ui.comboTag->currentText(), "Boiler.Temp");
  EXPECT_FALSE(ui.checkDefaultType->isChecked()) << "the item shows another type";
  EXPECT_FALSE(ui.buttonVariantType->isEnabled()) << "created disabled";
  EXPECT_TRUE(Snapshot(dialog, "dlg-simple-tag"));
  ui.checkDefaultType->click();
  EXPECT_FALSE(ui.buttonVariantType->isEnabled());
  ui.checkDefaultType->click();
  EXPECT_TRUE(ui.buttonVariantType->isEnabled()) << "enabled exactly while unchecked";

  ui.comboTag->setCurrentIndex(2);
  ui.checkWriteEnabled->setChecked(true);
  ui.buttonUpdate->click();
  EXPECT_EQ(item.m_strTag, "Alarm");
  EXPECT_EQ(item.m_bWriteEnabled, 1);
  EXPECT_EQ(item.m_vtDisplay, VT_EMPTY) << "always reset to 0";
  EXPECT_EQ(item.m_rect.left, 5);
  EXPECT_GT(item.m_rect.Width(), 5) << "fitted to its text";

  // A tag name no tag has: nothing is selected and the name stays.
  item.m_strTag = "Gone";
  CTagPropDlg gone(item);
  EXPECT_EQ(gone.Form().comboTag->currentIndex(), -1);
  gone.Form().buttonUpdate->click();
  EXPECT_EQ(item.m_strTag, "Gone");
}

TEST_F(ItemDialogs, BarGraphBorderAndScalingToggleAtOnceAndSurviveDelete) {
  tags.AddTag("Flow", MakeVariantR8(3.0));
  CMMI_BarItem item;
  item.m_rect = {0, 0, 30, 120};
  item.m_fHigh = 100.0f;
  CBarPropDlg dialog(item);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Bar Graph Properties");
  for (const char* text : {"Display Properties", "Horizontal", "Vertical", "High Limit:", "Low Limit:",
                           "Line Width:", "Show Scaling", "Show Border", "Write Enabled", "Colors", "Fill",
                           "Background", "Border", "Data Source", "Tag Name"})
    EXPECT_TRUE(Texts(dialog).contains(text)) << text;
  EXPECT_EQ(ui.editHigh->text(), "100.00");
  EXPECT_EQ(ui.editLow->text(), "0.00");
  EXPECT_TRUE(ui.radioVertical->isChecked());
  EXPECT_FALSE(ui.editLineWidth->isEnabled()) << "no border";
  EXPECT_FALSE(ui.buttonBorder->isEnabled());
  EXPECT_TRUE(Snapshot(dialog, "dlg-bar-graph"));

  ui.checkShowBorder->click();
  EXPECT_EQ(item.m_bShowBorder, 1);
  EXPECT_TRUE(ui.editLineWidth->isEnabled());
  EXPECT_TRUE(ui.buttonBorder->isEnabled());
  ui.checkShowScale->click();
  EXPECT_EQ(item.m_bShowScale, 1);
  ui.radioHorizontal->click();
  EXPECT_EQ(item.m_bVertical, 0);
  ui.editHigh->setText("250.5");
  ui.buttonDelete->click();
  EXPECT_EQ(item.m_bShowBorder, 1) << "still on after Delete";
  EXPECT_EQ(item.m_bShowScale, 1);
  EXPECT_FLOAT_EQ(item.m_fHigh, 100.0f);

  CBarPropDlg update(item);
  Hook(update);
  update.Form().editHigh->setText("250.5");
  update.Form().editLow->setText("low");
  update.Form().editLineWidth->setText("2");
  update.Form().comboTag->setCurrentIndex(0);
  update.Form().checkWriteEnabled->setChecked(true);
  update.Form().buttonUpdate->click();
  EXPECT_FLOAT_EQ(item.m_fHigh, 250.5f);
  EXPECT_FLOAT_EQ(item.m_fLow, 0.0f) << "text keeps the old limit";
  EXPECT_EQ(item.m_nBorderWidth, 2);
  EXPECT_EQ(item.m_strTag, "Flow");
  EXPECT_EQ(item.m_bWriteEnabled, 1);
  EXPECT_EQ(item.m_rect, (CRect{0, 0, 30, 120})) << "a bar graph is not fitted to text";
}

TEST_F(ItemDialogs, HotTextListsBlocksThenAddNewAndTakesTheChoiceAtOnce) {
  for (const char* name : {"Start", "Stop", "Reset"}) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = name;
    tags.app.m_logicBlocks.push_back(std::move(block));
  }
  CMMI_HotTxtItem item;
  item.m_rect = {20, 20, 21, 21};
  item.m_strText = "GO";
  item.m_strLogicBlock = "Stop";
  item.m_nBorderWidth = 3;
  CHotTxtPropDlg dialog(item, tags.app);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Hot Text Properties");
  for (const char* text : {"Display String", "Use Default", "Text", "Background", "Border", "Border Width:",
                           "Action", "Logic Block Identification"})
    EXPECT_TRUE(Texts(dialog).contains(text)) << text;
  EXPECT_EQ(ui.editText->maxLength(), 80);
  EXPECT_EQ(Entries(ui.comboLogicBlock), QStringList({"Start", "Stop", "Reset", "Add New"}));
  EXPECT_EQ(ui.comboLogicBlock->currentText(), "Stop");
  EXPECT_TRUE(Snapshot(dialog, "dlg-hot-text"));

  dialog.OnLogicBlockChosen(2);
  EXPECT_EQ(item.m_strLogicBlock, "Reset") << "at once";

  // Add New, confirmed: the block the editor made goes just after "Add New".
  std::string proposed;
  script.createLogicBlock = [&](CPlexmarApp& app, QWidget*) {
    proposed = "LB" + std::to_string(app.m_logicBlocks.size() + 1);
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = "Fill";
    CLogicBlock* made = block.get();
    app.m_logicBlocks.push_back(std::move(block));
    return made;
  };
  ui.comboLogicBlock->setCurrentIndex(3);
  dialog.OnLogicBlockChosen(3);
  EXPECT_EQ(proposed, "LB4");
  EXPECT_EQ(item.m_strLogicBlock, "Fill");
  EXPECT_EQ(Entries(ui.comboLogicBlock), QStringList({"Start", "Stop", "Reset", "Add New", "Fill"}));
  EXPECT_EQ(ui.comboLogicBlock->currentText(), "Fill");

  // Add New, cancelled: no name, the first entry shown, nothing added.
  script.createLogicBlock = nullptr;
  dialog.OnLogicBlockChosen(3);
  EXPECT_EQ(item.m_strLogicBlock, "");
  EXPECT_EQ(ui.comboLogicBlock->currentIndex(), 0);
  EXPECT_EQ(tags.app.m_logicBlocks.size(), 4u);

  ui.editText->setText("RUN");
  ui.editBorderWidth->setText("x");
  ui.buttonUpdate->click();
  EXPECT_EQ(item.m_strText, "RUN");
  EXPECT_EQ(item.m_nBorderWidth, 3) << "text keeps the old width";
  EXPECT_EQ(item.m_strLogicBlock, "") << "the list's look is not a choice";
  // Fitted: the text and twice the border, from the same corner.
  EXPECT_EQ(item.m_rect.left, 20);
  EXPECT_GT(item.m_rect.Width(), 6 + 10);
}

TEST_F(ItemDialogs, TrendChartLimitsSpanAndPointsAndOpensEachPen) {
  tags.AddTag("Level", MakeVariantR8(1.0));
  CMMI_TrendItem item;
  item.m_rect = {0, 0, 300, 200};
  CTrendPropDlg dialog(item);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Trend Chart Properties");
  for (const char* text : {"Display Properties", "Line Width:", "TimeSpan", "Minutes", "Seconds", "Max Points:",
                           "Show Scaling", "Show Border", "Show Grid", "Background", "Border", "Pen 1", "Pen 5"})
    EXPECT_TRUE(Texts(dialog).contains(text)) << text;
  EXPECT_EQ(ui.editSpan->text(), "10");
  EXPECT_EQ(ui.editMaxPoints->text(), "100");
  EXPECT_TRUE(ui.radioMinutes->isChecked());
  EXPECT_TRUE(Snapshot(dialog, "dlg-trend-chart"));

  ui.editSpan->setText("5000");
  ui.editMaxPoints->setText("500");
  ui.checkShowGrid->setChecked(true);
  ui.buttonUpdate->click();
  EXPECT_EQ(item.m_nSpan, 1440);
  EXPECT_EQ(item.m_nMaxPoints, 200);
  EXPECT_EQ(item.m_bShowGrid, 1);

  CTrendPropDlg seconds(item);
  Hook(seconds);
  seconds.Form().radioSeconds->click();
  EXPECT_EQ(item.m_bSeconds, 1) << "at once";
  seconds.Form().editSpan->setText("5");
  seconds.Form().editMaxPoints->setText("0");
  seconds.Form().buttonUpdate->click();
  EXPECT_EQ(item.m_nSpan, 10);
  EXPECT_EQ(item.m_nMaxPoints, 1) << "at least one point";

  CTrendPropDlg text(item);
  Hook(text);
  text.Form().editMaxPoints->setText("many");
  text.Form().editSpan->setText("");
  text.Form().buttonUpdate->click();
  EXPECT_EQ(item.m_nMaxPoints, 1);
  EXPECT_EQ(item.m_nSpan, 10);

  // Pen 3 opens its Trend Data Source dialog.
  CTrendPropDlg pens(item);
  Hook(pens);
  script.dialogs.push_back([](QDialog& d) {
    auto& pen = static_cast<CTrendPenDlg&>(d);
    pen.Form().checkEnabled->setChecked(true);
    pen.Form().comboTag->setCurrentIndex(0);
    pen.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
    return d.result();
  });
  pens.Form().buttonPen3->click();
  EXPECT_EQ(script.opened.last(), "Trend Data Source (Pen #3)");
  EXPECT_EQ(item.m_pens[2].m_bEnabled, 1);
  EXPECT_EQ(item.m_pens[2].m_strTag, "Level");
  EXPECT_EQ(item.m_pens[0].m_bEnabled, 0);
}

TEST_F(ItemDialogs, TrendDataSourceCopiesBackOnlyOnOkAndRefusesText) {
  tags.AddTag("A", MakeVariantR8(1.0));
  tags.AddTag("B", MakeVariantR8(2.0));
  TrendPen pen;
  pen.m_strTag = "B";
  pen.m_fRawLow = -7.0f;
  pen.m_fRawHigh = 7.0f;
  CTrendPenDlg dialog(pen, 2);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Trend Data Source (Pen #2)");
  for (const char* text : {"Enabled", "Pen Color", "Chart High Limit:", "Chart Low Limit:", "Line Width:",
                           "Plexmar Tag Identificatiopn"})
    EXPECT_TRUE(Texts(dialog).contains(text)) << text;
  EXPECT_EQ(ui.editHigh->text(), "100");
  EXPECT_EQ(ui.editLow->text(), "0");
  EXPECT_EQ(ui.comboTag->currentText(), "B");
  EXPECT_TRUE(Snapshot(dialog, "dlg-trend-data-source"));

  script.colors = {0x00FF00};
  ui.buttonPenColor->click();
  ui.checkEnabled->setChecked(true);
  ui.buttonBox->button(QDialogButtonBox::Cancel)->click();
  EXPECT_EQ(pen.m_crPen, 0x0000FFu) << "Cancel keeps the old colour";
  EXPECT_EQ(pen.m_bEnabled, 0);

  CTrendPenDlg ok(pen, 2);
  Hook(ok);
  script.colors = {0x00FF00};
  ok.Form().buttonPenColor->click();
  ok.Form().editHigh->setText("hot");
  ok.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(script.warnings, QStringList({"Please enter a number."}));
  EXPECT_NE(ok.result(), QDialog::Accepted) << "the dialog stays open";
  ok.Form().editHigh->setText("80.5");
  ok.Form().editLow->setText("-20");
  ok.Form().editWidth->setText("2.5");
  ok.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(script.warnings.last(), "Please enter an integer.");
  ok.Form().editWidth->setText("3");
  ok.Form().comboTag->setCurrentIndex(0);
  ok.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(ok.result(), QDialog::Accepted);
  EXPECT_EQ(pen.m_crPen, 0x00FF00u);
  EXPECT_FLOAT_EQ(pen.m_fHigh, 80.5f);
  EXPECT_FLOAT_EQ(pen.m_fLow, -20.0f);
  EXPECT_EQ(pen.m_nWidth, 3);
  EXPECT_EQ(pen.m_strTag, "A");
  EXPECT_FLOAT_EQ(pen.m_fRawLow, -7.0f) << "carried through unchanged";
  EXPECT_FLOAT_EQ(pen.m_fRawHigh, 7.0f);
}

TEST_F(ItemDialogs, FormPropertiesRefusesRatesOutside100To10000) {
  CFormPropDlg dialog("Plexform1", 1000, 0x000000, 0xC0C0C0);
  Hook(dialog);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Form Properties");
  for (const char* text : {"Document Name:", "Refresh Rate, (msec):", "ForeGround Color", "BackGround Color"})
    EXPECT_TRUE(Texts(dialog).contains(text)) << text;
  EXPECT_EQ(ui.editName->text(), "Plexform1");
  EXPECT_EQ(ui.editRefresh->text(), "1000");
  EXPECT_TRUE(Snapshot(dialog, "dlg-form-properties"));

  script.colors = {0x0000FF, 0xFFFFFF};
  ui.buttonForeground->click();
  ui.buttonBackground->click();
  for (const char* rate : {"99", "10001", "fast"}) {
    ui.editRefresh->setText(rate);
    ui.buttonBox->button(QDialogButtonBox::Ok)->click();
    EXPECT_NE(dialog.result(), QDialog::Accepted) << rate;
  }
  EXPECT_EQ(script.warnings, QStringList({"Please enter an integer between 100 and 10000.",
                                          "Please enter an integer between 100 and 10000.",
                                          "Please enter an integer between 100 and 10000."}));
  ui.editName->setText("Boiler House");
  ui.editRefresh->setText("250");
  ui.buttonBox->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.m_strTitle, "Boiler House");
  EXPECT_EQ(dialog.m_nRefreshRate, 250);
  EXPECT_EQ(dialog.m_crForeground, 0x0000FFu);
  EXPECT_EQ(dialog.m_crBackground, 0xFFFFFFu);
}

TEST_F(ItemDialogs, WriteDialogsShowTheValueAndTheNumericOneRefusesText) {
  CWriteNumericDlg numeric(42.5);
  Hook(numeric);
  EXPECT_EQ(numeric.windowTitle(), "Write Numeric Value to Tag");
  EXPECT_EQ(numeric.Form().labelValue->text(), "New Value");
  EXPECT_EQ(numeric.Form().editValue->text(), "42.5");
  EXPECT_TRUE(Snapshot(numeric, "dlg-write-numeric"));
  numeric.Form().editValue->setText("12abc");
  numeric.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(script.warnings, QStringList({"Please enter a number."}));
  EXPECT_NE(numeric.result(), QDialog::Accepted);
  numeric.Form().editValue->setText(" -3.25 ");
  numeric.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
  EXPECT_EQ(numeric.result(), QDialog::Accepted);
  EXPECT_DOUBLE_EQ(numeric.m_fValue, -3.25);

  CWriteStringDlg text("Batch 7");
  EXPECT_EQ(text.windowTitle(), "Write String Value to Tag");
  EXPECT_EQ(text.Form().labelValue->text(), "New Value");
  EXPECT_EQ(text.Form().editValue->text(), "Batch 7");
  EXPECT_TRUE(Snapshot(text, "dlg-write-string"));
}

TEST_F(ItemDialogs, PromptAndWriteThroughTheDialogsReachesTheTag) {
  CExchangeTag& number = tags.AddTag("Setpoint", MakeVariantI4(40));
  CExchangeTag& batch = tags.AddTag("Batch", MakeVariantText("17"));
  CDialogWritePrompt prompt(nullptr, script.Hooks());
  script.dialogs.push_back([](QDialog& d) {
    auto& dialog = static_cast<CWriteNumericDlg&>(d);
    dialog.Form().editValue->setText("55.5");
    dialog.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
    return d.result();
  });
  PromptAndWrite(number, prompt);
  EXPECT_EQ(script.opened, QStringList({"Write Numeric Value to Tag"}));
  EXPECT_EQ(number.m_value->vt, VT_R8);
  EXPECT_DOUBLE_EQ(number.m_value->dblVal, 55.5);

  // Cancel on a string that looks like a number: nothing, and no second dialog.
  script.opened.clear();
  PromptAndWrite(batch, prompt);
  EXPECT_EQ(script.opened, QStringList({"Write String Value to Tag"}));
  EXPECT_EQ(BstrToUtf8(batch.m_value->bstrVal), "17");
}

TEST_F(ItemDialogs, TheFontDialogsChoiceIsStoredInTheLogFontRecord) {
  LOGFONT font{};
  font.lfCharSet = 0;
  font.lfOutPrecision = 1;
  font.lfPitchAndFamily = 0x31;
  QFont chosen(QStringLiteral("DejaVu Sans"));
  chosen.setPixelSize(18);
  chosen.setWeight(QFont::Bold);
  chosen.setItalic(true);
  chosen.setUnderline(true);
  LogFontFromFont(chosen, font);
  EXPECT_EQ(font.lfHeight, -18);
  EXPECT_EQ(font.lfWeight, 700);
  EXPECT_EQ(font.lfItalic, 1);
  EXPECT_EQ(font.lfUnderline, 1);
  EXPECT_EQ(font.lfStrikeOut, 0);
  EXPECT_STREQ(font.lfFaceName, "DejaVu Sans");
  EXPECT_EQ(font.lfOutPrecision, 1) << "what the dialog has no say in stays";
  EXPECT_EQ(font.lfPitchAndFamily, 0x31);

  QFont points(QStringLiteral("A face name that is much longer than thirty-one bytes"));
  points.setPointSize(12);
  LogFontFromFont(points, font);
  EXPECT_EQ(font.lfHeight, -16) << "12 points at 96 dpi";
  EXPECT_EQ(std::strlen(font.lfFaceName), 31u) << "the record keeps its terminator";
  EXPECT_EQ(kItemFontDialogFlags, 0x12041u);

  // And back: the record read as the items draw it.
  const QFont drawn = FontFromLogFont(font);
  EXPECT_EQ(drawn.pixelSize(), 16);
}

}  // namespace
