// The tag definition dialog and its Details dialogs: their texts and list
// orders, what each choice does to the working tag, the enabling rules and
// the refused fields of the Modbus point details, "Add New", and the
// browse dialog for an OPC point.
#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QTreeWidget>

#include "TagDialogsGuiSupport.h"
#include "connections/OpcBrowseDlg.h"
#include "connections/OpcServerLink.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockDlgs.h"
#include "logic/LogicDialogHooks.h"
#include "ui_LogicBlockDlg.h"
#include "tests/opcconnect/FakeClientKit.h"
#include "ui_OpcBrowseDlg.h"

using namespace tagdialogs_test;

namespace {

QStringList Texts(QWidget& dialog) {
  QStringList texts;
  for (auto* w : dialog.findChildren<QLabel*>()) texts << w->text();
  for (auto* w : dialog.findChildren<QAbstractButton*>()) texts << w->text();
  for (auto* w : dialog.findChildren<QGroupBox*>()) texts << w->title();
  return texts;
}

class TagDefinition : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    fakeclient::Reset();
  }
  void TearDown() override { app.RemoveAllTags(); }
  void AddLink(const std::string& machine, const std::string& server) {
    auto link = std::make_unique<COpcServerLink>(machine, server);
    link->m_bConnected = 1;
    link->m_hServer = 10;
    link->m_hGroup = 100;
    app.m_serverLinks.push_back(std::move(link));
  }
  void AddBlock(const std::string& name) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = name;
    app.AddLogicBlock(std::move(block));
  }
  CPlexmarApp app;
  Script script;
  CExchangeTag tag{"Work"};
};

}  // namespace

TEST_F(TagDefinition, ListsTheFourKindsThenEveryConnectionAndNoneBlocksAddNew) {
  AddLink("", "Other.Server");
  AddLink("plant2", "Vendor.OPC.1");
  AddBlock("Alarm");
  AddBlock("Reset");
  tag.m_strLogicBlock = "Reset";
  CTagDefinitionDlg dialog(app, tag, script.Hooks());
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Tag Definition");
  const QStringList texts = Texts(dialog);
  for (const char* text : {"Type:", "(Source of Data}", "Logic Block Reference:", "(On Data Change)", "Details"})
    EXPECT_TRUE(texts.contains(text)) << text;
  EXPECT_EQ(Entries(ui.comboType),
            QStringList({"User Variable, (Global)", "Modbus Data Point (Local Slave Variable on this Machine)",
                         "Modbus Data Point (Connected via COMM Port)",
                         "Modbus Data Point (Connected via modbus/TCP Port)", "Local Machine--Other.Server",
                         "plant2--Vendor.OPC.1"}));
  EXPECT_EQ(ui.comboType->currentIndex(), 0);
  EXPECT_EQ(Entries(ui.comboLogicBlock), QStringList({"None", "Alarm", "Reset", "Add New"}));
  EXPECT_EQ(ui.comboLogicBlock->currentIndex(), 2);
  EXPECT_TRUE(ui.editDetails->isReadOnly());
  EXPECT_EQ(ui.editDetails->text(), "value = 1.00");
  EXPECT_EQ(ui.editName->text(), "Work");
  EXPECT_TRUE(Snapshot(dialog, "tag-definition"));

  Choose(ui.comboLogicBlock, 1);
  EXPECT_EQ(tag.m_strLogicBlock, "Alarm") << "the list changes the tag at once";
  Choose(ui.comboLogicBlock, 0);
  EXPECT_EQ(tag.m_strLogicBlock, "");

  CExchangeTag opc("Remote");
  opc.m_nSourceKind = CExchangeTag::kSourceOpc;
  opc.m_strMachine = "plant2";
  opc.m_strServer = "Vendor.OPC.1";
  CTagDefinitionDlg second(app, opc, script.Hooks());
  EXPECT_EQ(second.Form().comboType->currentIndex(), 5) << "the link of the tag's machine and server";
  EXPECT_EQ(second.Form().editDetails->text(), "Item Undefined!");
  EXPECT_EQ(second.Form().comboLogicBlock->currentIndex(), 0) << "no reference: None";
}

TEST_F(TagDefinition, TheTypeListChangesTheWorkingTagAtOnce) {
  AddLink("", "Other.Server");
  tag.m_value = MakeVariantI2(7);
  tag.m_nSourceKind = CExchangeTag::kSourceTcp;
  tag.m_strHost = "plc";
  CTagDefinitionDlg dialog(app, tag, script.Hooks());
  auto& ui = dialog.Form();
  EXPECT_EQ(ui.comboType->currentIndex(), 3);
  EXPECT_EQ(ui.editDetails->text(), "Modbus Data Point (plc) (SlaveId:1, HOLDING REGISTER:0001, As INTEGER)");

  Choose(ui.comboType, 0);
  EXPECT_EQ(tag.m_nSourceKind, CExchangeTag::kSourceVariable);
  EXPECT_EQ(tag.m_value->vt, VT_R4) << "a user variable holds a float";
  EXPECT_EQ(tag.m_value->fltVal, 7.0f);
  EXPECT_EQ(ui.editDetails->text(), "value = 7.00");

  Choose(ui.comboType, 2);
  EXPECT_EQ(tag.m_nSourceKind, CExchangeTag::kSourceComm);
  EXPECT_EQ(ui.editDetails->text(), "Modbus Data Point (COMM1) (SlaveId:1, HOLDING REGISTER:0001, As INTEGER)");

  Choose(ui.comboType, 4);
  EXPECT_EQ(tag.m_nSourceKind, CExchangeTag::kSourceOpc);
  EXPECT_EQ(tag.m_strMachine, "");
  EXPECT_EQ(tag.m_strServer, "Other.Server");
  EXPECT_EQ(ui.editDetails->text(), "Item Not Defined!");

  // A text value that is no number becomes 0.0 rather than staying text.
  CExchangeTag text("Text");
  VARIANT raw = MakeVariantText("abc");
  text.m_value = raw;
  VariantClear(&raw);
  text.m_nSourceKind = CExchangeTag::kSourceLocal;
  CTagDefinitionDlg third(app, text, script.Hooks());
  Choose(third.Form().comboType, 0);
  EXPECT_EQ(text.m_value->vt, VT_R4);
  EXPECT_EQ(text.m_value->fltVal, 0.0f);
}

TEST_F(TagDefinition, NameIsCutTo199CharactersAndNotTrimmed) {
  CTagDefinitionDlg dialog(app, tag, script.Hooks());
  const QString typed = QString(250, QChar('n'));
  dialog.Form().editName->setText(typed);
  PressOk(dialog, dialog.Form().buttonBox);
  EXPECT_EQ(tag.m_strName, std::string(199, 'n'));
  EXPECT_EQ(TagNameFromText(typed), std::string(199, 'n'));
  EXPECT_EQ(TagNameFromText(QStringLiteral(" Pump 1 ")), " Pump 1 ");
  // A character outside the basic plane is never cut in half.
  const QString wide = QString(198, QChar('x')) + QString::fromUtf8("\xF0\x9F\x94\xA5") + "y";
  EXPECT_EQ(TagNameFromText(wide), std::string(198, 'x'));

  // Through the tag list: the 250 characters become a tag of 199.
  auto list = std::make_unique<CTagListDlg>(app, script.Hooks());
  script.steps = {Define([&](CTagDefinitionDlg& d) { d.Form().editName->setText(typed); })};
  list->OnAdd();
  ASSERT_EQ(app.m_tags.size(), 1u);
  EXPECT_EQ(app.m_tags[0]->m_strName.size(), 199u);
  serverkit::ItemState item;
  EXPECT_TRUE(serverkit::FindItem(std::string(199, 'n'), item));
}

TEST_F(TagDefinition, AddNewCancelledSelectsNoneAndAddNewMadeStaysEvenWhenTheTagIsCancelled) {
  AddBlock("Alarm");
  tag.m_strLogicBlock = "Alarm";
  CTagDefinitionDlg dialog(app, tag, script.Hooks());
  auto& ui = dialog.Form();
  Choose(ui.comboLogicBlock, 2);
  EXPECT_EQ(script.blockEditorRuns, 1);
  EXPECT_EQ(tag.m_strLogicBlock, "") << "a cancelled editor empties the reference";
  EXPECT_EQ(ui.comboLogicBlock->currentIndex(), 0);
  EXPECT_EQ(app.m_logicBlocks.size(), 1u);

  script.createLogicBlock = [](CPlexmarApp& a, QWidget*) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = "LB2";
    CLogicBlock* made = block.get();
    a.AddLogicBlock(std::move(block));
    return made;
  };
  Choose(ui.comboLogicBlock, 2);
  EXPECT_EQ(tag.m_strLogicBlock, "LB2");
  EXPECT_EQ(Entries(ui.comboLogicBlock), QStringList({"None", "Alarm", "LB2", "Add New"}));
  EXPECT_EQ(ui.comboLogicBlock->currentText(), "LB2");

  // The same through the tag list, cancelled at the end: the block stays.
  auto list = std::make_unique<CTagListDlg>(app, script.Hooks());
  script.createLogicBlock = [](CPlexmarApp& a, QWidget*) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = "LB3";
    CLogicBlock* made = block.get();
    a.AddLogicBlock(std::move(block));
    return made;
  };
  script.steps = {[](QDialog& d) {
    auto& definition = dynamic_cast<CTagDefinitionDlg&>(d);
    Choose(definition.Form().comboLogicBlock, definition.Form().comboLogicBlock->count() - 1);
    return Cancel(d);
  }};
  list->OnAdd();
  EXPECT_TRUE(app.m_tags.empty());
  ASSERT_EQ(app.m_logicBlocks.size(), 3u);
  EXPECT_EQ(app.m_logicBlocks.back()->m_strName, "LB3");
}

TEST_F(TagDefinition, UserVariableDetailsTakeAFloatAndRefuseText) {
  CTagDefinitionDlg dialog(app, tag, script.Hooks());
  bool refusedStaysOpen = false;
  script.steps = {[&](QDialog& d) {
                    auto& value = dynamic_cast<CUserVariableDlg&>(d);
                    EXPECT_EQ(value.windowTitle(), "User Variable Tag");
                    EXPECT_TRUE(Texts(value).contains("Current Value:"));
                    EXPECT_EQ(value.Form().editValue->text(), "1");
                    EXPECT_TRUE(Snapshot(value, "user-variable"));
                    value.Form().editValue->setText("12,5x");
                    value.Form().buttonBox->button(QDialogButtonBox::Ok)->click();
                    refusedStaysOpen = value.isVisible() && value.result() != QDialog::Accepted;
                    value.Form().editValue->setText("  -3.25 ");
                    return PressOk(d, value.Form().buttonBox);
                  },
                  [](QDialog& d) {
                    dynamic_cast<CUserVariableDlg&>(d).Form().editValue->setText("99");
                    return Cancel(d);
                  }};
  dialog.Form().buttonDetails->click();
  EXPECT_TRUE(refusedStaysOpen);
  EXPECT_EQ(script.warnings, QStringList({"Please enter a number."}));
  EXPECT_EQ(tag.m_value->vt, VT_R4);
  EXPECT_EQ(tag.m_value->fltVal, -3.25f);
  EXPECT_EQ(dialog.Form().editDetails->text(), "value = -3.2500");
  dialog.Form().buttonDetails->click();
  EXPECT_EQ(tag.m_value->fltVal, -3.25f) << "Cancel changes nothing";
}

TEST_F(TagDefinition, ModbusDetailsShowTheirTextsListsAndTheTagsFields) {
  ModbusPointFields fields;
  fields.nKind = CExchangeTag::kSourceComm;
  fields.nCommPort = 4;
  fields.nSlaveId = 17;
  fields.nPointType = 4;
  fields.nAddress = 30001;
  fields.nDataType = 3;
  fields.fLowLimit = -0.001f;
  fields.fHighLimit = 250.5f;
  CModbusPointDlg dialog(fields);
  auto& ui = dialog.Form();
  EXPECT_EQ(dialog.windowTitle(), "Modbus Point Details");
  const QStringList texts = Texts(dialog);
  for (const char* text : {"Slave Node ID:", "Point Type:", "Point Address:", "COMM Port:",
                           "Remote Machine Name or IP Address:", "Low Limit:", "High Limit:", "Scaling Factors",
                           "Local Machine   --  (This PC operates as a modbus slave.)",
                           "Remote Machine   -  (This PC operates as a serial modbus master.)",
                           "Remote Machine   -  (This PC operates as a modbus/TCP client.)"})
    EXPECT_TRUE(texts.contains(text)) << text;
  EXPECT_EQ(Entries(ui.comboPointType),
            QStringList({"01 COIL STATUS", "02 INPUT STATUS", "03 HOLDING REGISTER", "04 INPUT REGISTER"}));
  EXPECT_EQ(Entries(ui.comboCommPort), QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "9"}));
  EXPECT_EQ(Entries(ui.comboDataType),
            QStringList({"integer", "unsigned integer", "scaled (0-4095)", "scaled (0-9999)", "scaled (0-65535)",
                         "long integer", "word-swapped long integer", "ieee floating point",
                         "word-swapped floating point"}));
  EXPECT_EQ(ui.editSlaveId->text(), "17");
  EXPECT_EQ(ui.editAddress->text(), "30001");
  EXPECT_EQ(ui.comboPointType->currentIndex(), 3);
  EXPECT_EQ(ui.comboCommPort->currentText(), "4");
  EXPECT_EQ(ui.comboDataType->currentIndex(), 3);
  EXPECT_TRUE(ui.radioSerial->isChecked());
  EXPECT_EQ(ui.editLowLimit->text(), "-0.001") << "shown so that OK gives the same float back";
  EXPECT_EQ(ui.editHighLimit->text(), "250.5");
  EXPECT_TRUE(Snapshot(dialog, "modbus-point-serial-scaled"));
  PressOk(dialog, ui.buttonBox);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Fields().fLowLimit, -0.001f);
  EXPECT_EQ(dialog.Fields().nAddress, 30001);
  EXPECT_EQ(dialog.Fields().nCommPort, 4);

  // Codes out of their lists' ranges start from the defaults.
  ModbusPointFields odd;
  odd.nKind = 0;
  odd.nPointType = 9;
  odd.nCommPort = 12;
  odd.nDataType = 11;
  CModbusPointDlg defaults(odd);
  EXPECT_TRUE(defaults.Form().radioLocal->isChecked());
  EXPECT_EQ(defaults.Form().comboPointType->currentIndex(), 2);
  EXPECT_EQ(defaults.Form().comboCommPort->currentIndex(), 0);
  EXPECT_EQ(defaults.Form().comboDataType->currentIndex(), 0);
}

TEST_F(TagDefinition, ModbusDetailsEnableByKindPointTypeAndDataTypeAtOnce) {
  ModbusPointFields fields;
  fields.nKind = CExchangeTag::kSourceLocal;
  CModbusPointDlg dialog(fields);
  auto& ui = dialog.Form();
  const auto state = [&] {
    return QString("%1%2%3%4 %5%6 %7%8%9%10")
        .arg(ui.labelCommPort->isEnabled())
        .arg(ui.comboCommPort->isEnabled())
        .arg(ui.labelHost->isEnabled())
        .arg(ui.editHost->isEnabled())
        .arg(ui.groupDataType->isEnabled())
        .arg(ui.comboDataType->isEnabled())
        .arg(ui.labelLowLimit->isEnabled())
        .arg(ui.editLowLimit->isEnabled())
        .arg(ui.labelHighLimit->isEnabled())
        .arg(ui.editHighLimit->isEnabled());
  };
  EXPECT_EQ(state(), "0000 11 0000") << "local holding register as integer";
  EXPECT_TRUE(Snapshot(dialog, "modbus-point-local"));
  ui.radioSerial->click();
  EXPECT_EQ(state(), "1100 11 0000");
  ui.radioTcp->click();
  EXPECT_EQ(state(), "0011 11 0000");
  ui.comboDataType->setCurrentIndex(4);
  EXPECT_EQ(state(), "0011 11 1111") << "scaled types use the limits";
  EXPECT_TRUE(Snapshot(dialog, "modbus-point-tcp-scaled"));
  ui.comboDataType->setCurrentIndex(5);
  EXPECT_EQ(state(), "0011 11 0000");
  ui.comboDataType->setCurrentIndex(2);
  ui.comboPointType->setCurrentIndex(0);
  EXPECT_EQ(state(), "0011 00 0000") << "bits have no data type";
  EXPECT_TRUE(Snapshot(dialog, "modbus-point-tcp-coil"));
  ui.comboPointType->setCurrentIndex(1);
  EXPECT_EQ(state(), "0011 00 0000");
  ui.comboPointType->setCurrentIndex(3);
  EXPECT_EQ(state(), "0011 11 1111");
  ui.radioLocal->click();
  EXPECT_EQ(state(), "0000 11 1111");
  EXPECT_EQ(dialog.Fields().nKind, CExchangeTag::kSourceLocal) << "the fields change on OK only";
}

TEST_F(TagDefinition, ModbusDetailsRefuseIdsAndAddressesOutOfRangeAndKeepTheDialogOpen) {
  ModbusPointFields fields;
  CModbusPointDlg dialog(fields);
  dialog.m_hooks = script.Hooks();
  auto& ui = dialog.Form();
  dialog.show();
  const auto tryOk = [&](QLineEdit* edit, const QString& text) {
    const QString kept = edit->text();
    edit->setText(text);
    ui.buttonBox->button(QDialogButtonBox::Ok)->click();
    const bool open = dialog.isVisible() && dialog.result() != QDialog::Accepted;
    const QString warning = script.warnings.isEmpty() ? QString() : script.warnings.takeLast();
    edit->setText(kept);
    return open ? warning : QStringLiteral("closed");
  };
  EXPECT_EQ(tryOk(ui.editSlaveId, "0"), "Please enter an integer between 1 and 255.");
  EXPECT_EQ(tryOk(ui.editSlaveId, "256"), "Please enter an integer between 1 and 255.");
  EXPECT_EQ(tryOk(ui.editSlaveId, "1x"), "Please enter an integer.");
  EXPECT_EQ(tryOk(ui.editSlaveId, ""), "Please enter an integer.");
  EXPECT_EQ(tryOk(ui.editSlaveId, "99999999999999999999"), "Please enter an integer.");
  EXPECT_EQ(tryOk(ui.editAddress, "0"), "Please enter an integer between 1 and 65535.");
  EXPECT_EQ(tryOk(ui.editAddress, "65536"), "Please enter an integer between 1 and 65535.");
  EXPECT_EQ(tryOk(ui.editAddress, "-1"), "Please enter an integer between 1 and 65535.");
  EXPECT_EQ(tryOk(ui.editAddress, "4O001"), "Please enter an integer.");
  EXPECT_EQ(tryOk(ui.editLowLimit, "low"), "Please enter a number.");
  EXPECT_EQ(tryOk(ui.editHighLimit, "1e60"), "Please enter a number.");
  EXPECT_EQ(tryOk(ui.editHighLimit, "nan"), "Please enter a number.");
  EXPECT_EQ(dialog.Fields().nSlaveId, 1) << "nothing taken from a refused OK";
  EXPECT_EQ(dialog.Fields().nAddress, 1);

  ui.editSlaveId->setText(" 255 ");
  ui.editAddress->setText("65535");
  PressOk(dialog, ui.buttonBox);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Fields().nSlaveId, 255);
  EXPECT_EQ(dialog.Fields().nAddress, 65535);
}

TEST_F(TagDefinition, ModbusDetailsCancelledLeaveTheTagAndOkCopiesEveryFieldBack) {
  tag.m_nSourceKind = CExchangeTag::kSourceLocal;
  CTagDefinitionDlg dialog(app, tag, script.Hooks());
  script.steps = {[](QDialog& d) {
                    auto& f = dynamic_cast<CModbusPointDlg&>(d).Form();
                    f.radioTcp->click();
                    f.editHost->setText("plc");
                    f.editAddress->setText("500");
                    return Cancel(d);
                  },
                  ModbusDetails([](Ui::ModbusPointDlg& f) {
                    f.radioSerial->click();
                    f.comboCommPort->setCurrentIndex(8);
                    f.editSlaveId->setText("42");
                    f.comboPointType->setCurrentIndex(2);
                    f.editAddress->setText("1234");
                    f.comboDataType->setCurrentIndex(3);
                    f.editLowLimit->setText("-10");
                    f.editHighLimit->setText("10");
                  })};
  dialog.Form().buttonDetails->click();
  EXPECT_EQ(tag.m_nSourceKind, CExchangeTag::kSourceLocal);
  EXPECT_EQ(tag.m_nAddress, 1);
  EXPECT_EQ(tag.m_strHost, "");
  dialog.Form().buttonDetails->click();
  EXPECT_EQ(tag.m_nSourceKind, CExchangeTag::kSourceComm);
  EXPECT_EQ(tag.m_nCommPort, 9);
  EXPECT_EQ(tag.m_nSlaveId, 42);
  EXPECT_EQ(tag.m_nPointType, 3);
  EXPECT_EQ(tag.m_nAddress, 1234);
  EXPECT_EQ(tag.m_nDataType, 3);
  EXPECT_EQ(tag.m_fLowLimit, -10.0f);
  EXPECT_EQ(tag.m_fHighLimit, 10.0f);
  EXPECT_EQ(dialog.Form().editDetails->text(),
            "Modbus Data Point (COMM9) (SlaveId:42, HOLDING REGISTER:1234, As Scaled 0-9999 LL=-10.00 HL=10.00)");
}

TEST_F(TagDefinition, OpcPointDetailsBrowseTheTagsServerAndTakeTheChosenItem) {
  AddLink("", "Other.Server");
  fakeclient::Kit().root.children = {{"Line1", "", {{"Line1.Flow", "ns=2;s=Line1.Flow", {}}}},
                                     {"Status", "ns=2;s=Status", {}}};
  tag.m_nSourceKind = CExchangeTag::kSourceOpc;
  tag.m_strServer = "Other.Server";
  tag.m_strItemId = "ns=2;s=Old";
  CTagDefinitionDlg dialog(app, tag, script.Hooks());
  EXPECT_EQ(dialog.Form().editDetails->text(), "ns=2;s=Old");
  QString shownId;
  script.steps = {[&](QDialog& d) {
                    auto& browse = dynamic_cast<COpcBrowseDlg&>(d);
                    shownId = browse.Form().editItemId->text();
                    return Cancel(d);
                  },
                  [&](QDialog& d) {
                    auto& browse = dynamic_cast<COpcBrowseDlg&>(d);
                    QTreeWidgetItem* root = browse.RootItem();
                    QTreeWidgetItem* leaf = nullptr;
                    for (int i = 0; i < root->childCount(); ++i)
                      if (root->child(i)->text(0) == "Status") leaf = root->child(i);
                    EXPECT_NE(leaf, nullptr);
                    if (leaf == nullptr) return Cancel(d);
                    EXPECT_TRUE(Snapshot(browse, "opc-browse"));
                    browse.Form().treeTags->setCurrentItem(leaf);
                    browse.Form().buttonAddItem->click();
                    return d.result();
                  }};
  dialog.Form().buttonDetails->click();
  EXPECT_EQ(shownId, "ns=2;s=Old") << "the browse dialog starts from the tag's item";
  EXPECT_EQ(tag.m_strItemId, "ns=2;s=Old");
  dialog.Form().buttonDetails->click();
  EXPECT_EQ(script.opened, QStringList({"Browse OPC Server", "Browse OPC Server"}));
  EXPECT_EQ(tag.m_strItemId, "ns=2;s=Status");
  EXPECT_EQ(dialog.Form().editDetails->text(), "ns=2;s=Status");

  // Without its link the tag has no server to browse.
  tag.m_strServer = "Gone.Server";
  dialog.Form().buttonDetails->click();
  EXPECT_EQ(script.opened.size(), 2);
}

TEST_F(TagDefinition, AddNewOpensTheProgramsBlockEditorThroughTheDefaultHooks) {
  AddBlock("Alarm");
  // The program's hooks, with only the block editor's own dialogs scripted.
  TagDialogHooks hooks = script.Hooks();
  hooks.createLogicBlock = TagDialogHooks::Default().createLogicBlock;
  const LogicDialogHooks saved = LogicHooks();
  QStringList proposals, messages;
  std::deque<std::function<int(CLogicBlockDlg&)>> rounds = {
      [&](CLogicBlockDlg& d) {
        proposals << d.Form().editName->text();
        d.Form().editName->setText("Alarm");
        d.Form().buttonOk->click();
        return d.result();
      },
      [&](CLogicBlockDlg& d) {
        proposals << d.Form().editName->text();
        d.Form().buttonCancel->click();
        return d.result();
      },
      [&](CLogicBlockDlg& d) {
        proposals << d.Form().editName->text();
        d.Form().buttonOk->click();
        return d.result();
      }};
  LogicHooks().run = [&](QDialog& dialog) {
    auto& editor = dynamic_cast<CLogicBlockDlg&>(dialog);
    if (rounds.empty()) return static_cast<int>(QDialog::Rejected);
    auto round = std::move(rounds.front());
    rounds.pop_front();
    return round(editor);
  };
  LogicHooks().message = [&](QWidget*, const QString& text) { messages << text; };

  CTagDefinitionDlg dialog(app, tag, hooks);
  auto& ui = dialog.Form();
  Choose(ui.comboLogicBlock, 2);
  EXPECT_EQ(proposals, QStringList({"LB2", "Alarm"})) << "the editor comes back with what was typed";
  EXPECT_EQ(messages, QStringList({"(Alarm)\r\nA Logic Block with this Name Already Exists!"}));
  EXPECT_EQ(ui.comboLogicBlock->currentIndex(), 0) << "cancelled: None";
  EXPECT_EQ(app.m_logicBlocks.size(), 1u);
  Choose(ui.comboLogicBlock, 2);
  EXPECT_EQ(tag.m_strLogicBlock, "LB2");
  EXPECT_EQ(Entries(ui.comboLogicBlock), QStringList({"None", "Alarm", "LB2", "Add New"}));
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(app.m_logicBlocks[1]->m_strName, "LB2");
  LogicHooks() = saved;
}
