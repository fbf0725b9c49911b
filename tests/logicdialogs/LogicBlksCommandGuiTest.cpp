// The editors as the program reaches them: "&Logic Blks" and the logic block
// CSV commands of a form window's Edit menu, and the "Add New" of the hot
// text dialog, which makes its block in the block editor.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <memory>

#include "LogicDialogsGuiSupport.h"
#include "core/MainFrame.h"
#include "forms/FormTemplate.h"
#include "forms/FormViewCommands.h"
#include "forms/ItemDialogs.h"
#include "forms/MMI_Items.h"
#include "logic/LogicBlockDlgs.h"
#include "logic/LogicBlockEditing.h"
#include "logic/LogicEntryDlgs.h"
#include "logic/LogicCsvCommands.h"
#include "resources/CommandIds.h"
#include "ui_HotTxtPropDlg.h"
#include "ui_LogicAssignDlg.h"
#include "ui_LogicEntryDlg.h"
#include "ui_LogicIfDlg.h"
#include "ui_LogicBlockDlg.h"
#include "ui_LogicTablesDlg.h"

using namespace logicdialogs_test;

namespace {

void Choose(QComboBox* list, const char* text) {
  const int index = list->findText(QString::fromUtf8(text));
  ASSERT_GE(index, 0) << text;
  list->setCurrentIndex(index);
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

class LogicBlksCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    frame = std::make_unique<CMainFrame>(app);
    ASSERT_TRUE(frame->Create());
    frame->resize(800, 600);
    frame->show();
    forms = std::make_unique<CFormTemplate>([this] { return frame.get(); }, [](const std::string&) {});
    forms->InstallCommands(*frame);
    forms->m_askSave = [](const QString&) { return QMessageBox::No; };
    InstallFormViewCommands(*frame, *forms);
    InstallLogicCsvCommands(*frame, app);
  }
  void TearDown() override {
    forms.reset();
    frame.reset();
  }
  // The three Edit menu commands of the logic blocks, enabled or not.
  std::vector<bool> LogicCommands() const {
    return {frame->IsCommandEnabled(cmd::ID_EDIT_LOGIC_BLKS), frame->IsCommandEnabled(cmd::ID_EDIT_IMPORT_LOGIC_BLK),
            frame->IsCommandEnabled(cmd::ID_EDIT_EXPORT_LOGIC_BLK)};
  }

  QApplication& qapp = App();
  Project project;
  CPlexmarApp& app = project.app;
  std::unique_ptr<CMainFrame> frame;
  std::unique_ptr<CFormTemplate> forms;
  ScriptedLogicHooks script;
};

TEST_F(LogicBlksCommand, OpensTheBlockTableWhileAFormWindowIsActiveLockedOrNot) {
  const std::vector<bool> none{false, false, false};
  const std::vector<bool> all{true, true, true};
  EXPECT_EQ(LogicCommands(), none) << "no form window";

  ASSERT_TRUE(frame->RunCommand(cmd::ID_FILE_NEW));
  QApplication::processEvents();
  EXPECT_EQ(frame->CurrentMenuId(), cmd::IDR_PLEXFORM);
  EXPECT_EQ(LogicCommands(), all);
  frame->UpdateCommandStates();
  QAction* item = frame->FindCommand(cmd::ID_EDIT_LOGIC_BLKS);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(), "&Logic Blks");
  EXPECT_TRUE(item->isEnabled());

  // The lock keeps forms from being edited, not the logic blocks.
  app.m_bLocked = 1;
  EXPECT_EQ(LogicCommands(), all);

  project.AddBlock("Fill");
  HooksInPlace hooks(script);
  QWidget* parent = nullptr;
  script.Then<CLogicBlockTablesDlg>([&parent](CLogicBlockTablesDlg& table) {
    parent = table.parentWidget();
    EXPECT_EQ(table.Form().listBlocks->count(), 1);
    table.Form().buttonNew->click();
    table.Form().buttonFinished->click();
  });
  script.Then<CLogicBlockDlg>([](CLogicBlockDlg& editor) {
    EXPECT_EQ(editor.Form().editName->text(), "LB2");
    editor.Form().buttonOk->click();
  });
  EXPECT_TRUE(frame->RunCommand(cmd::ID_EDIT_LOGIC_BLKS));
  EXPECT_EQ(script.opened, QStringList({"Plexmar Logic Block Tables", "Plexmar Logic Block"}));
  EXPECT_EQ(parent, frame.get()) << "the table opens over the main window";
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(app.m_logicBlocks[1]->m_strName, "LB2");

  // A hidden form is no active form window; a closed one neither.
  app.m_bLocked = 0;
  CPlexmarDoc* doc = forms->Document(0);
  ASSERT_NE(doc, nullptr);
  doc->HideFormWindow();
  QApplication::processEvents();
  EXPECT_EQ(LogicCommands(), none);
  doc->ShowFormWindow();
  QApplication::processEvents();
  EXPECT_EQ(LogicCommands(), all);
  ASSERT_TRUE(frame->RunCommand(cmd::ID_FILE_CLOSE));
  QApplication::processEvents();
  EXPECT_EQ(LogicCommands(), none);
  EXPECT_FALSE(frame->RunCommand(cmd::ID_EDIT_LOGIC_BLKS));
  EXPECT_EQ(script.opened.size(), 2);
}

TEST_F(LogicBlksCommand, HotTextAddNewMakesTheBlockInTheBlockEditor) {
  for (const char* name : {"Start", "Stop", "Reset"}) project.AddBlock(name);
  HooksInPlace hooks(script);
  CMMI_HotTxtItem item;
  CHotTxtPropDlg dialog(item, app);
  QComboBox* list = dialog.Form().comboLogicBlock;
  ASSERT_EQ(Items(list), QStringList({"Start", "Stop", "Reset", "Add New"}));

  QString proposed;
  script.Then<CLogicBlockDlg>([&proposed](CLogicBlockDlg& editor) {
    proposed = editor.Form().editName->text();
    editor.Form().editName->setText("Stop");
    editor.Form().buttonOk->click();
  });
  script.Then<CLogicBlockDlg>([](CLogicBlockDlg& editor) {
    EXPECT_EQ(editor.Form().editName->text(), "Stop");
    editor.Form().editName->setText("Fill");
    editor.Form().buttonOk->click();
  });
  list->setCurrentIndex(3);
  emit list->activated(3);
  EXPECT_EQ(proposed, "LB4") << "three blocks: the fourth";
  EXPECT_EQ(script.messages, QStringList({"(Stop)\r\nA Logic Block with this Name Already Exists!"}));
  ASSERT_EQ(app.m_logicBlocks.size(), 4u);
  EXPECT_EQ(app.m_logicBlocks[3]->m_strName, "Fill");
  EXPECT_EQ(item.m_strLogicBlock, "Fill");
  EXPECT_EQ(list->currentText(), "Fill");

  // Cancelled: nothing made, no block named, the first entry shown.
  script.steps.push_back([](QDialog& dialog) { dialog.reject(); });
  list->setCurrentIndex(3);
  emit list->activated(3);
  EXPECT_EQ(app.m_logicBlocks.size(), 4u);
  EXPECT_EQ(item.m_strLogicBlock, "");
  EXPECT_EQ(list->currentIndex(), 0);
}

TEST_F(LogicBlksCommand, ABlockWrittenInTheEditorsRunsWhenItsTagChanges) {
  for (const char* name : {"In", "Out", "Limit", "Horn", "Siren"}) project.AddTag(name);
  project.AddTag("Gain", 2);
  project.AddTag("One", 1);
  app.FindTag("Limit")->m_value = MakeVariantR8(10);
  CLogicBlock& alarm = project.AddBlock("Alarm");
  Project::Assign(alarm, "Horn", "One");
  Project::Assign(alarm, "Siren", "One", "Loud");

  // Out = In * Gain, then IF In > Limit THEN GOTO Alarm:Loud, all typed in.
  HooksInPlace hooks(script);
  script.Then<CLogicBlockTablesDlg>([](CLogicBlockTablesDlg& table) {
    table.Form().buttonNew->click();
    table.Form().buttonFinished->click();
  });
  script.Then<CLogicBlockDlg>([](CLogicBlockDlg& editor) {
    editor.Form().buttonAdd->click();
    editor.Form().buttonAdd->click();
    editor.Form().editName->setText("Scale");
    editor.Form().buttonOk->click();
  });
  script.Then<CLogicEntryDlg>([](CLogicEntryDlg& definition) {
    definition.Form().buttonDetails->click();
    definition.Form().buttonOk->click();
  });
  script.Then<CLogicAssignDlg>([](CLogicAssignDlg& assign) {
    Choose(assign.Form().comboTag1, "Out");
    Choose(assign.Form().comboTag2, "In");
    Choose(assign.Form().comboOperator, "*");
    Choose(assign.Form().comboTag3, "Gain");
    assign.Form().buttonOk->click();
  });
  script.Then<CLogicEntryDlg>([](CLogicEntryDlg& definition) {
    definition.Form().comboType->setCurrentIndex(1);
    definition.Form().buttonDetails->click();
    EXPECT_EQ(definition.Form().editDescription->text(), "IF In > Limit THEN GOTO: Alarm:Loud");
    EXPECT_TRUE(Snapshot(definition, "entry-definition-if"));
    definition.Form().buttonOk->click();
  });
  script.Then<CLogicIfDlg>([](CLogicIfDlg& jump) {
    Choose(jump.Form().comboTag1, "In");
    Choose(jump.Form().comboCompare, ">");
    Choose(jump.Form().comboTag2, "Limit");
    Choose(jump.Form().comboBlock, "Alarm");
    Choose(jump.Form().comboLabel, "Loud");
    jump.Form().buttonOk->click();
  });
  OpenLogicBlockTables(app, nullptr);
  EXPECT_TRUE(script.steps.empty());
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  const CLogicBlock& scale = *app.m_logicBlocks[1];
  EXPECT_EQ(scale.m_strName, "Scale");
  ASSERT_EQ(scale.m_entries.size(), 2u);
  EXPECT_EQ(scale.m_entries[0]->GetDescription(), "Out = In * Gain");
  EXPECT_EQ(scale.m_entries[1]->GetDescription(), "IF In > Limit THEN GOTO: Alarm:Loud");

  app.FindTag("In")->m_strLogicBlock = "Scale";
  HRESULT hr = S_OK;
  app.FindTag("In")->Write(MakeVariantR8(3), hr);
  EXPECT_EQ(project.Value("Out"), 6.0);
  EXPECT_EQ(project.Value("Siren"), 0.0) << "3 is not above the limit";
  app.FindTag("In")->Write(MakeVariantR8(20), hr);
  EXPECT_EQ(project.Value("Out"), 40.0);
  EXPECT_EQ(project.Value("Siren"), 1.0) << "the jump runs Alarm from Loud";
  EXPECT_EQ(project.Value("Horn"), 0.0) << "not from its top";
}

}  // namespace
