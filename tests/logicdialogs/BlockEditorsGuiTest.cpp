// "Plexmar Logic Block Tables" and "Plexmar Logic Block" driven as an engineer
// would: the LB proposals, the name and label refusals with the editor
// reopening on what was typed, working copies that count only on OK, where a
// new entry goes, Remove keeping its place, and clicks in the entry list.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "LogicDialogsGuiSupport.h"
#include "logic/LogicBlockDlgs.h"
#include "logic/LogicBlockEditing.h"
#include "logic/LogicEntryDlgs.h"
#include "ui_LogicBlockDlg.h"
#include "ui_LogicEntryDlg.h"
#include "ui_LogicTablesDlg.h"

using namespace logicdialogs_test;

namespace {

QStringList Names(const QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  return names;
}

QStringList Column(const QTreeWidget* list, int column) {
  QStringList texts;
  for (int i = 0; i < list->topLevelItemCount(); ++i) texts << list->topLevelItem(i)->text(column);
  return texts;
}

// Selects a row as a click or the arrow keys would; -1 clears.
void Select(Ui::LogicBlockDlg& ui, int row) {
  if (row < 0)
    ui.listEntries->clearSelection();
  else
    ui.listEntries->setCurrentItem(ui.listEntries->topLevelItem(row));
}

std::vector<std::string> Labels(const CLogicBlock& block) {
  std::vector<std::string> labels;
  for (const auto& entry : block.m_entries) labels.push_back(entry->m_strLabel);
  return labels;
}

class BlockEditors : public ::testing::Test {
 protected:
  void SetUp() override { App(); }

  // A step for the block editor: the name typed, then OK.
  void EditorNamed(const QString& name, QString* shown = nullptr) {
    script.Then<CLogicBlockDlg>([name, shown](CLogicBlockDlg& editor) {
      if (shown != nullptr) *shown = editor.Form().editName->text();
      editor.Form().editName->setText(name);
      editor.Form().buttonOk->click();
    });
  }
  // A step for the entry definition: the label typed, then OK.
  void EntryLabelled(const QString& label, QString* shown = nullptr) {
    script.Then<CLogicEntryDlg>([label, shown](CLogicEntryDlg& definition) {
      if (shown != nullptr) *shown = definition.Form().editLabel->text();
      definition.Form().editLabel->setText(label);
      definition.Form().buttonOk->click();
    });
  }
  void Cancelled() { script.steps.push_back([](QDialog& dialog) { dialog.reject(); }); }

  Project project;
  CPlexmarApp& app = project.app;
  ScriptedLogicHooks script;
};

TEST_F(BlockEditors, TableListsBlocksInListOrderAndModifyNeedsASelection) {
  project.AddBlock("Zulu");
  project.AddBlock("Alpha");
  project.AddBlock("Mixer");
  CLogicBlockTablesDlg table(app);
  auto& ui = table.Form();
  EXPECT_EQ(table.windowTitle(), "Plexmar Logic Block Tables");
  EXPECT_EQ(Names(ui.listBlocks), QStringList({"Zulu", "Alpha", "Mixer"})) << "not sorted";
  EXPECT_EQ(ui.buttonNew->text(), "New");
  EXPECT_EQ(ui.buttonModify->text(), "Modify");
  EXPECT_EQ(ui.buttonFinished->text(), "Finished");
  EXPECT_FALSE(ui.buttonModify->isEnabled());
  EXPECT_TRUE(Snapshot(table, "tables-none-selected"));
  ui.listBlocks->setCurrentRow(1);
  EXPECT_TRUE(ui.buttonModify->isEnabled());
  EXPECT_TRUE(Snapshot(table, "tables-alpha-selected"));
  ui.listBlocks->clearSelection();
  EXPECT_FALSE(ui.buttonModify->isEnabled());

  table.show();
  ui.buttonFinished->click();
  EXPECT_EQ(table.result(), QDialog::Accepted);
  EXPECT_FALSE(table.isVisible());
}

TEST_F(BlockEditors, NewProposesCountPlusOneAndRetriesRefusedNamesWithWhatWasTyped) {
  project.AddBlock("LB1");
  project.AddBlock("LB3");
  CLogicBlockTablesDlg table(app);
  table.m_hooks = script.Hooks();

  // LB3 is proposed (two blocks, plus one) although LB3 exists; OK refuses it.
  QString first, second, third;
  EditorNamed("LB3", &first);
  EditorNamed("", &second);
  EditorNamed("Mixer", &third);
  table.Form().buttonNew->click();
  EXPECT_EQ(first, "LB3");
  EXPECT_EQ(second, "LB3") << "the editor reopens with the operator's input";
  EXPECT_EQ(third, "") << "an empty name is shown again as typed";
  EXPECT_EQ(script.messages, QStringList({"(LB3)\r\nA Logic Block with this Name Already Exists!",
                                          "Logic Blocks must have a Name!"}));
  EXPECT_EQ(script.opened, QStringList({"Plexmar Logic Block", "Plexmar Logic Block", "Plexmar Logic Block"}));
  ASSERT_EQ(app.m_logicBlocks.size(), 3u);
  EXPECT_EQ(app.m_logicBlocks[2]->m_strName, "Mixer");
  EXPECT_EQ(Names(table.Form().listBlocks), QStringList({"LB1", "LB3", "Mixer"}));
  EXPECT_EQ(table.Selected(), 2);
  EXPECT_TRUE(table.Form().buttonModify->isEnabled());

  // An entry added in a refused round is still there in the next one.
  script.messages.clear();
  script.Then<CLogicBlockDlg>([](CLogicBlockDlg& editor) {
    EXPECT_EQ(editor.Form().editName->text(), "LB4");
    editor.Form().buttonAdd->click();
    editor.Form().editName->setText("Mixer");
    editor.Form().buttonOk->click();
  });
  EntryLabelled("Top");
  script.Then<CLogicBlockDlg>([](CLogicBlockDlg& editor) {
    EXPECT_EQ(editor.Form().listEntries->topLevelItemCount(), 1);
    editor.Form().buttonCancel->click();
  });
  table.Form().buttonNew->click();
  EXPECT_EQ(script.messages, QStringList({"(Mixer)\r\nA Logic Block with this Name Already Exists!"}));
  EXPECT_EQ(app.m_logicBlocks.size(), 3u) << "Cancel after the message deletes the new block";
  EXPECT_EQ(table.Form().listBlocks->count(), 3);

  // Cancel at once: nothing is added.
  Cancelled();
  table.Form().buttonNew->click();
  EXPECT_EQ(app.m_logicBlocks.size(), 3u);
  EXPECT_TRUE(script.steps.empty());
}

TEST_F(BlockEditors, CreateLogicBlockAppendsOnOkAndGivesNothingOnCancel) {
  project.AddBlock("Fill");
  HooksInPlace hooks(script);
  QString proposed;
  EditorNamed("Drain", &proposed);
  CLogicBlock* made = CreateLogicBlock(app, nullptr);
  EXPECT_EQ(proposed, "LB2");
  ASSERT_NE(made, nullptr);
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(app.m_logicBlocks[1].get(), made);
  EXPECT_EQ(made->m_strName, "Drain");

  EditorNamed("Fill");
  Cancelled();
  EXPECT_EQ(CreateLogicBlock(app, nullptr), nullptr);
  EXPECT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(script.messages, QStringList({"(Fill)\r\nA Logic Block with this Name Already Exists!"}));
}

TEST_F(BlockEditors, ModifyWorksOnACopyAndReplacesTheBlockOnlyWhenChangedAndNamedWell) {
  CLogicBlock& fill = project.AddBlock("Fill");
  project.Assign(fill, "Out", "In", "Start");
  CLogicBlock& drain = project.AddBlock("Drain");
  CLogicBlockTablesDlg table(app);
  table.m_hooks = script.Hooks();
  table.Form().listBlocks->setCurrentRow(0);

  // OK without a change: the very same block object stays.
  script.Then<CLogicBlockDlg>([](CLogicBlockDlg& editor) {
    EXPECT_EQ(editor.Form().editName->text(), "Fill");
    EXPECT_EQ(Column(editor.Form().listEntries, 0), QStringList({"Start"}));
    editor.Form().buttonOk->click();
  });
  table.Form().buttonModify->click();
  EXPECT_EQ(app.m_logicBlocks[0].get(), &fill);
  EXPECT_TRUE(script.messages.isEmpty());

  // A change cancelled: the block is untouched.
  script.Then<CLogicBlockDlg>([](CLogicBlockDlg& editor) {
    editor.Form().listEntries->setCurrentItem(editor.Form().listEntries->topLevelItem(0));
    editor.Form().buttonRemove->click();
    editor.Form().editName->setText("Other");
    editor.Form().buttonCancel->click();
  });
  table.Form().buttonModify->click();
  EXPECT_EQ(app.m_logicBlocks[0].get(), &fill);
  EXPECT_EQ(fill.m_strName, "Fill");
  EXPECT_EQ(fill.m_entries.size(), 1u);

  // Renamed to the other block's name, then Cancel at the reopened editor:
  // the block is unchanged.
  QString reopened;
  EditorNamed("Drain");
  script.Then<CLogicBlockDlg>([&reopened](CLogicBlockDlg& editor) {
    reopened = editor.Form().editName->text();
    editor.Form().buttonCancel->click();
  });
  table.Form().buttonModify->click();
  EXPECT_EQ(script.messages, QStringList({"(Drain)\r\nA Logic Block with this Name Already Exists!"}));
  EXPECT_EQ(reopened, "Drain") << "the editor shows the edited name";
  EXPECT_EQ(app.m_logicBlocks[0].get(), &fill);
  EXPECT_EQ(fill.m_strName, "Fill");
  EXPECT_EQ(Names(table.Form().listBlocks), QStringList({"Fill", "Drain"}));

  // An empty name is refused too; then a valid one replaces the block at its
  // place in the application and the table.
  script.messages.clear();
  EditorNamed("");
  EditorNamed("Filling");
  table.Form().buttonModify->click();
  EXPECT_EQ(script.messages, QStringList({"Logic Blocks must have a Name!"}));
  ASSERT_EQ(app.m_logicBlocks.size(), 2u);
  EXPECT_EQ(app.m_logicBlocks[0]->m_strName, "Filling");
  EXPECT_EQ(app.m_logicBlocks[0]->m_entries.size(), 1u);
  EXPECT_EQ(app.m_logicBlocks[0]->m_entries[0]->m_strLabel, "Start");
  EXPECT_EQ(app.m_logicBlocks[1].get(), &drain);
  EXPECT_EQ(Names(table.Form().listBlocks), QStringList({"Filling", "Drain"}));
  EXPECT_EQ(table.Selected(), 0);

  // A double click on a name is Modify.
  script.opened.clear();
  Cancelled();
  QListWidget* list = table.Form().listBlocks;
  emit list->itemDoubleClicked(list->item(1));
  EXPECT_EQ(script.opened, QStringList({"Plexmar Logic Block"}));
}

TEST_F(BlockEditors, RenamingABlockLeavesTagReferencesOnTheOldName) {
  project.AddTag("In");
  project.AddTag("Out");
  project.AddTag("Level").m_strLogicBlock = "Fill";
  CLogicBlock& fill = project.AddBlock("Fill");
  project.Assign(fill, "Out", "Level");
  HRESULT hr = S_OK;
  app.FindTag("Level")->Write(MakeVariantR8(5), hr);
  EXPECT_EQ(project.Value("Out"), 5.0) << "the block runs while its name matches";

  CLogicBlockTablesDlg table(app);
  table.m_hooks = script.Hooks();
  table.Form().listBlocks->setCurrentRow(0);
  EditorNamed("Filler");
  table.Form().buttonModify->click();
  EXPECT_EQ(app.m_logicBlocks[0]->m_strName, "Filler");
  EXPECT_EQ(app.FindTag("Level")->m_strLogicBlock, "Fill") << "nothing renames references";

  app.FindTag("Level")->Write(MakeVariantR8(8), hr);
  EXPECT_EQ(project.Value("Level"), 8.0);
  EXPECT_EQ(project.Value("Out"), 5.0) << "the tag's changes run no logic any more";
}

TEST_F(BlockEditors, BlockEditorShowsRowsInThreeColumnsAtASixthASixthAndTwoThirds) {
  project.AddTag("Level");
  CLogicBlock block;
  block.m_strName = "Pumps";
  CLogicEntry& add = Project::Assign(block, "Level", "Raw", "Start");
  add.m_nOperation = kLogicOpMultiply;
  add.m_strTag3 = "Gain";
  CLogicEntry& jump = Project::AddEntry(block, kLogicIfGoto);
  jump.m_strTag1 = "Level";
  jump.m_strTag2 = "Limit";
  jump.m_nOperation = kLogicCmpGreater;
  jump.m_strGotoBlock = "LB2";
  jump.m_strGotoLabel = "Alarm";
  CLogicEntry& show = Project::AddEntry(block, kLogicFormShowHide, "Show");
  show.m_strFormName = "Overview";
  show.m_nOperation = 1;
  Project::AddEntry(block, 9, "Odd");
  // A name longer than a cell holds, as a CSV file may bring it.
  Project::Assign(block, std::string(450, 'x'), "Raw");

  CLogicBlockDlg editor(block, app);
  auto& ui = editor.Form();
  EXPECT_EQ(editor.windowTitle(), "Plexmar Logic Block");
  EXPECT_EQ(ui.labelName->text(), "Name:");
  EXPECT_EQ(ui.editName->text(), "Pumps");
  EXPECT_EQ(ui.editName->maxLength(), 199);
  QTreeWidgetItem* header = ui.listEntries->headerItem();
  EXPECT_EQ(header->text(0), "Label");
  EXPECT_EQ(header->text(1), "Type");
  EXPECT_EQ(header->text(2), "Description");
  EXPECT_EQ(Column(ui.listEntries, 0), QStringList({"Start", "", "Show", "Odd", ""}));
  EXPECT_EQ(Column(ui.listEntries, 1).mid(0, 4),
            QStringList({"ASSIGNMENT OPERATION", "IF: THEN GOTO: OPERATION", "FORM SHOW/HIDE OPERATION",
                         "UNDEFINED"}));
  EXPECT_EQ(Column(ui.listEntries, 2).mid(0, 4),
            QStringList({"Level = Raw * Gain", "IF Level > Limit THEN GOTO: LB2:Alarm", "SHOW FORM:(Overview)",
                         ""}));
  EXPECT_EQ(ui.listEntries->topLevelItem(4)->text(2), QString(400, 'x')) << "a cell holds 400 characters";
  EXPECT_EQ(ui.buttonAdd->text(), "Add Entry");
  EXPECT_EQ(ui.buttonEdit->text(), "Edit");
  EXPECT_EQ(ui.buttonRemove->text(), "Remove");
  EXPECT_EQ(ui.buttonOk->text(), "OK");
  EXPECT_EQ(ui.buttonCancel->text(), "Cancel");
  EXPECT_EQ(editor.Selected(), -1) << "nothing is selected at the start";
  EXPECT_FALSE(ui.buttonEdit->isEnabled());
  EXPECT_FALSE(ui.buttonRemove->isEnabled());

  editor.resize(900, 360);
  EXPECT_TRUE(Snapshot(editor, "block-editor-nothing-selected"));
  editor.resize(900, 360);
  editor.show();
  QApplication::processEvents();
  const int width = ui.listEntries->viewport()->width();
  EXPECT_GT(width, 500);
  EXPECT_EQ(ui.listEntries->columnWidth(0), width / 6);
  EXPECT_EQ(ui.listEntries->columnWidth(1), width / 6);
  EXPECT_EQ(ui.listEntries->columnWidth(2), width * 2 / 3);
  // They follow the list when the dialog grows.
  editor.resize(1200, 360);
  QApplication::processEvents();
  EXPECT_EQ(ui.listEntries->columnWidth(2), ui.listEntries->viewport()->width() * 2 / 3);
  editor.resize(900, 360);
  QApplication::processEvents();

  // The last row is selected by a click like any other; below it clears.
  QWidget* viewport = ui.listEntries->viewport();
  const QRect last = ui.listEntries->visualItemRect(ui.listEntries->topLevelItem(4));
  QTest::mouseClick(viewport, Qt::LeftButton, {}, last.center());
  EXPECT_EQ(editor.Selected(), 4);
  EXPECT_TRUE(ui.buttonEdit->isEnabled());
  EXPECT_TRUE(ui.buttonRemove->isEnabled());
  const QRect first = ui.listEntries->visualItemRect(ui.listEntries->topLevelItem(0));
  QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(first.left() + width / 2, first.center().y()));
  EXPECT_EQ(editor.Selected(), 0) << "a click anywhere in the row, also on its description";
  EXPECT_TRUE(Snapshot(editor, "block-editor-first-row-selected"));
  editor.show();
  QApplication::processEvents();
  QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(10, last.bottom() + 30));
  EXPECT_EQ(editor.Selected(), -1);
  EXPECT_FALSE(ui.buttonEdit->isEnabled());
  EXPECT_FALSE(ui.buttonRemove->isEnabled());

  // A double click selects and edits.
  editor.m_hooks = script.Hooks();
  const QRect third = ui.listEntries->visualItemRect(ui.listEntries->topLevelItem(2));
  QString label;
  script.Then<CLogicEntryDlg>([&label](CLogicEntryDlg& definition) {
    label = definition.Form().editLabel->text();
    definition.reject();
  });
  // What a double click sends: a click, then the double click and its release.
  QTest::mouseClick(viewport, Qt::LeftButton, {}, third.center());
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, third.center());
  QTest::mouseRelease(viewport, Qt::LeftButton, {}, third.center());
  EXPECT_EQ(editor.Selected(), 2);
  EXPECT_EQ(script.opened, QStringList({"Logic Entry Definition"}));
  EXPECT_EQ(label, "Show");
  editor.hide();
}

TEST_F(BlockEditors, EmptyLabelsRepeatAndAnotherStartIsRefusedWithTheDefinitionReopened) {
  CLogicBlock block;
  block.m_strName = "LB1";
  CLogicBlockDlg editor(block, app);
  editor.m_hooks = script.Hooks();
  auto& ui = editor.Form();

  // Entries go after the selected row, or at the end; the new row is selected.
  EntryLabelled("");
  ui.buttonAdd->click();
  EXPECT_EQ(editor.Selected(), 0);
  EntryLabelled("");
  ui.buttonAdd->click();
  EntryLabelled("Start");
  ui.buttonAdd->click();
  EXPECT_TRUE(script.messages.isEmpty()) << "any number of empty labels";
  EXPECT_EQ(Labels(block), (std::vector<std::string>{"", "", "Start"}));
  EXPECT_EQ(editor.Selected(), 2);
  EXPECT_EQ(block.m_entries[0]->m_nType, kLogicAssignment) << "a new entry is an assignment";

  QString reopened;
  EntryLabelled("Start");
  script.Then<CLogicEntryDlg>([&reopened](CLogicEntryDlg& definition) {
    reopened = definition.Form().editLabel->text();
    definition.Form().buttonCancel->click();
  });
  ui.buttonAdd->click();
  EXPECT_EQ(script.messages, QStringList({"(Start)\r\nAn Entry with this Label Already Exists!"}));
  EXPECT_EQ(reopened, "Start");
  EXPECT_EQ(block.m_entries.size(), 3u) << "Cancel after the message deletes the entry";
  EXPECT_EQ(ui.listEntries->topLevelItemCount(), 3);

  Select(ui, 0);
  EntryLabelled("Second");
  ui.buttonAdd->click();
  EXPECT_EQ(Labels(block), (std::vector<std::string>{"", "Second", "", "Start"}));
  EXPECT_EQ(Column(ui.listEntries, 0), QStringList({"", "Second", "", "Start"}));
  EXPECT_EQ(editor.Selected(), 1);
  EXPECT_EQ(ui.listEntries->currentItem(), ui.listEntries->topLevelItem(1));

  // A label is case-sensitive: "start" is another label.
  Select(ui, -1);
  EntryLabelled("start");
  ui.buttonAdd->click();
  EXPECT_EQ(Labels(block).back(), "start");
  EXPECT_EQ(script.messages.size(), 1);
}

TEST_F(BlockEditors, EditWorksOnACopyOfTheEntryAndKeepsItWhenNothingChanged) {
  CLogicBlock block;
  Project::Assign(block, "A", "B", "One");
  Project::Assign(block, "C", "D", "Two");
  CLogicEntry* two = block.m_entries[1].get();
  CLogicBlockDlg editor(block, app);
  editor.m_hooks = script.Hooks();
  auto& ui = editor.Form();

  // Without a selection Edit does nothing.
  ui.buttonEdit->setEnabled(true);
  ui.buttonEdit->click();
  EXPECT_TRUE(script.opened.isEmpty());

  Select(ui, 1);
  EntryLabelled("Two");
  ui.buttonEdit->click();
  EXPECT_EQ(block.m_entries[1].get(), two) << "an unchanged copy changes nothing";

  // Another entry's label: refused, reopened, and Cancel keeps the entry.
  QString reopened;
  EntryLabelled("One");
  script.Then<CLogicEntryDlg>([&reopened](CLogicEntryDlg& definition) {
    reopened = definition.Form().editLabel->text();
    definition.reject();
  });
  ui.buttonEdit->click();
  EXPECT_EQ(script.messages, QStringList({"(One)\r\nAn Entry with this Label Already Exists!"}));
  EXPECT_EQ(reopened, "One");
  EXPECT_EQ(block.m_entries[1].get(), two);
  EXPECT_EQ(two->m_strLabel, "Two");

  // A change of kind in the definition, then Cancel: the entry keeps its kind.
  script.Then<CLogicEntryDlg>([](CLogicEntryDlg& definition) {
    definition.Form().comboType->setCurrentIndex(2);
    definition.reject();
  });
  ui.buttonEdit->click();
  EXPECT_EQ(two->m_nType, kLogicAssignment);

  // A changed copy replaces the entry in the block and in its row.
  script.Then<CLogicEntryDlg>([](CLogicEntryDlg& definition) {
    definition.Form().comboType->setCurrentIndex(2);
    definition.Form().editLabel->setText("Shown");
    definition.accept();
  });
  ui.buttonEdit->click();
  ASSERT_EQ(block.m_entries.size(), 2u);
  EXPECT_EQ(block.m_entries[1]->m_strLabel, "Shown");
  EXPECT_EQ(block.m_entries[1]->m_nType, kLogicFormShowHide);
  EXPECT_EQ(block.m_entries[1]->m_strTag1, "C") << "the other kinds' fields stay";
  EXPECT_EQ(ui.listEntries->topLevelItem(1)->text(1), "FORM SHOW/HIDE OPERATION");
  EXPECT_EQ(ui.listEntries->topLevelItem(1)->text(2), "undefined");
  // Its own label again is no clash.
  EntryLabelled("Shown");
  ui.buttonEdit->click();
  EXPECT_EQ(script.messages.size(), 1);
}

TEST_F(BlockEditors, RemoveKeepsThePositionAndActsOnTheEntryThatMovedIntoIt) {
  CLogicBlock block;
  for (const char* label : {"A", "B", "C", "D"}) Project::Assign(block, "X", "Y", label);
  CLogicBlockDlg editor(block, app);
  editor.m_hooks = script.Hooks();
  auto& ui = editor.Form();

  Select(ui, 1);
  ui.buttonRemove->click();
  EXPECT_EQ(Labels(block), (std::vector<std::string>{"A", "C", "D"}));
  EXPECT_EQ(editor.Selected(), 1) << "the position stays";
  EXPECT_TRUE(ui.buttonRemove->isEnabled());
  ui.buttonRemove->click();
  EXPECT_EQ(Labels(block), (std::vector<std::string>{"A", "D"}));
  QString edited;
  script.Then<CLogicEntryDlg>([&edited](CLogicEntryDlg& definition) {
    edited = definition.Form().editLabel->text();
    definition.reject();
  });
  ui.buttonEdit->click();
  EXPECT_EQ(edited, "D") << "Edit acts on the entry that moved up";

  // Removing the last row leaves no entry at the position: Edit and Remove
  // do nothing, and a new entry goes to the end.
  ui.buttonRemove->click();
  EXPECT_EQ(Labels(block), (std::vector<std::string>{"A"}));
  EXPECT_EQ(editor.Selected(), -1);
  EXPECT_FALSE(ui.buttonRemove->isEnabled());
  EXPECT_FALSE(ui.buttonEdit->isEnabled());
  script.opened.clear();
  ui.buttonRemove->click();
  ui.buttonEdit->click();
  EXPECT_TRUE(script.opened.isEmpty());
  EXPECT_EQ(block.m_entries.size(), 1u);
  EntryLabelled("E");
  ui.buttonAdd->click();
  EXPECT_EQ(Labels(block), (std::vector<std::string>{"A", "E"}));
  EXPECT_EQ(Column(ui.listEntries, 0), QStringList({"A", "E"}));
}

TEST_F(BlockEditors, OkTakesTheNameAsTypedUpTo199Characters) {
  CLogicBlock block;
  block.m_strName = "Old";
  CLogicBlockDlg editor(block, app);
  editor.Form().editName->setText("New name");
  EXPECT_EQ(block.m_strName, "Old") << "the name is read on OK";
  editor.Form().buttonOk->click();
  EXPECT_EQ(editor.result(), QDialog::Accepted);
  EXPECT_EQ(block.m_strName, "New name");

  CLogicBlockDlg longer(block, app);
  longer.Form().editName->setText(QString(250, 'n'));
  longer.Form().buttonOk->click();
  EXPECT_EQ(block.m_strName, std::string(199, 'n'));

  CLogicBlockDlg cancelled(block, app);
  cancelled.Form().editName->setText("Other");
  cancelled.Form().buttonCancel->click();
  EXPECT_EQ(cancelled.result(), QDialog::Rejected);
  EXPECT_EQ(block.m_strName, std::string(199, 'n'));
}

}  // namespace
