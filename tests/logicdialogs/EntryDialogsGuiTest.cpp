// "Logic Entry Definition" and the three operation dialogs: their texts and
// lists, what they write into the working entry at once and what only on OK,
// the Tag3 rule of the assignment and the label list of the IF.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "LogicDialogsGuiSupport.h"
#include "logic/LogicEntryDlgs.h"
#include "ui_LogicAssignDlg.h"
#include "ui_LogicEntryDlg.h"
#include "ui_LogicFormDlg.h"
#include "ui_LogicIfDlg.h"

using namespace logicdialogs_test;

namespace {

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

class EntryDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    // Tag-list order, which is not alphabetical.
    for (const char* name : {"Zeta", "Alpha", "Mid", "Gain"}) project.AddTag(name);
  }
  Project project;
  CPlexmarApp& app = project.app;
  ScriptedLogicHooks script;
};

TEST_F(EntryDialogs, DefinitionShowsTheEntryAndChangesItsKindAtOnce) {
  CLogicEntry entry;
  entry.m_strLabel = "Start";
  entry.m_strTag1 = "Zeta";
  entry.m_strTag2 = "Alpha";
  entry.m_strFormName = "Plant";
  CLogicEntryDlg definition(entry, app);
  auto& ui = definition.Form();
  EXPECT_EQ(definition.windowTitle(), "Logic Entry Definition");
  EXPECT_EQ(ui.labelLabel->text(), "Label:");
  EXPECT_EQ(ui.labelOptional->text(), "(Optional)");
  EXPECT_EQ(ui.labelType->text(), "Type:");
  EXPECT_EQ(ui.labelOperation->text(), "(Operation to Perform}");
  EXPECT_EQ(Items(ui.comboType), QStringList({"ASSIGNMENT OPERATION (i.e. Tag1=Tag2+/-Tag3)",
                                              "IF THEN GOTO OPERATION (if Tag1==Tag2 THEN GoTo Label)",
                                              "SHOW/HIDE FORM OPERATION"}));
  EXPECT_EQ(ui.buttonDetails->text(), "Details");
  EXPECT_EQ(ui.editLabel->text(), "Start");
  EXPECT_EQ(ui.comboType->currentIndex(), 0);
  EXPECT_TRUE(ui.editDescription->isReadOnly());
  EXPECT_EQ(ui.editDescription->text(), "Zeta = Alpha");
  EXPECT_TRUE(Snapshot(definition, "entry-definition-assignment"));

  ui.comboType->setCurrentIndex(2);
  EXPECT_EQ(entry.m_nType, kLogicFormShowHide) << "the kind changes at once";
  EXPECT_EQ(ui.editDescription->text(), "HIDE FORM:(Plant)");
  ui.comboType->setCurrentIndex(1);
  EXPECT_EQ(entry.m_nType, kLogicIfGoto);
  EXPECT_EQ(ui.editDescription->text(), "IF Zeta == Alpha THEN GOTO: :");
  ui.comboType->setCurrentIndex(0);
  EXPECT_EQ(entry.m_strFormName, "Plant") << "the other kinds' fields keep their values";
  EXPECT_EQ(entry.m_strLabel, "Start") << "the label is read on OK";

  // Not trimmed, and at most 199 characters.
  ui.editLabel->setText("  Spaced ");
  ui.buttonOk->click();
  EXPECT_EQ(definition.result(), QDialog::Accepted);
  EXPECT_EQ(entry.m_strLabel, "  Spaced ");
  EXPECT_EQ(ui.editLabel->maxLength(), 199);

  // An entry of a kind the list does not hold shows no kind and no details.
  CLogicEntry odd;
  odd.m_nType = -2147483647 - 1;
  CLogicEntryDlg unknown(odd, app);
  unknown.m_hooks = script.Hooks();
  EXPECT_EQ(unknown.Form().comboType->currentIndex(), -1);
  unknown.Form().buttonDetails->click();
  EXPECT_TRUE(script.opened.isEmpty());
}

TEST_F(EntryDialogs, DetailsOpensTheDialogOfTheKindAndRefreshesTheDescriptionEvenOnCancel) {
  CLogicEntry entry;
  entry.m_strTag1 = "Zeta";
  entry.m_strTag2 = "Alpha";
  CLogicEntryDlg definition(entry, app);
  definition.m_hooks = script.Hooks();
  auto& ui = definition.Form();

  // The operator changed, then Cancel: the new code stays in the entry.
  script.Then<CLogicAssignDlg>([](CLogicAssignDlg& assign) {
    assign.Form().comboOperator->setCurrentIndex(3);
    assign.Form().comboTag3->setCurrentIndex(3);
    assign.Form().buttonCancel->click();
  });
  ui.buttonDetails->click();
  EXPECT_EQ(entry.m_nOperation, kLogicOpMultiply);
  EXPECT_EQ(entry.m_strTag3, "") << "the lists are read only on OK";
  EXPECT_EQ(ui.editDescription->text(), "Zeta = Alpha * ");

  ui.comboType->setCurrentIndex(1);
  script.Then<CLogicIfDlg>([](CLogicIfDlg& jump) {
    jump.Form().comboCompare->setCurrentIndex(4);
    jump.Form().buttonOk->click();
  });
  ui.buttonDetails->click();
  EXPECT_EQ(ui.editDescription->text(), "IF Zeta <= Alpha THEN GOTO: :");
  ui.comboType->setCurrentIndex(2);
  script.Then<CLogicFormDlg>([](CLogicFormDlg& form) {
    form.Form().editFormName->setText("Overview");
    form.Form().radioShow->click();
    form.Form().buttonOk->click();
  });
  ui.buttonDetails->click();
  EXPECT_EQ(ui.editDescription->text(), "SHOW FORM:(Overview)");
  EXPECT_EQ(script.opened, QStringList({"Plexmar Logic Entry (Tag Assignment Operation)",
                                        "Plexmar Logic Entry (IF Operation)",
                                        "Plexmar Logic Entry (Form Load/UnLoad Operation)"}));
}

TEST_F(EntryDialogs, AssignmentListsTagsInTagOrderAndTag3OnlyWithAnOperator) {
  CLogicEntry entry;
  entry.m_strTag1 = "Mid";
  entry.m_strTag2 = "Zeta";
  entry.m_strTag3 = "Gain";  // kept by the entry, but no operator uses it
  CLogicAssignDlg assign(entry, app);
  auto& ui = assign.Form();
  EXPECT_EQ(assign.windowTitle(), "Plexmar Logic Entry (Tag Assignment Operation)");
  EXPECT_EQ(ui.labelTag1->text(), "Tag1:");
  EXPECT_EQ(ui.labelEquals->text(), "=");
  EXPECT_EQ(ui.labelTag2->text(), "Tag2:");
  EXPECT_EQ(ui.labelTag3->text(), "Tag3:");
  EXPECT_EQ(Items(ui.comboOperator), QStringList({"", "+", "-", "*", "/"}));
  for (QComboBox* list : {ui.comboTag1, ui.comboTag2, ui.comboTag3})
    EXPECT_EQ(Items(list), QStringList({"Zeta", "Alpha", "Mid", "Gain"}));
  EXPECT_EQ(ui.comboTag1->currentText(), "Mid");
  EXPECT_EQ(ui.comboTag2->currentText(), "Zeta");
  EXPECT_EQ(ui.comboOperator->currentIndex(), 0);
  EXPECT_EQ(ui.comboTag3->currentIndex(), -1) << "no operator: Tag3 is cleared";
  EXPECT_FALSE(ui.comboTag3->isEnabled());
  EXPECT_FALSE(ui.labelTag3->isEnabled());
  EXPECT_TRUE(Snapshot(assign, "assignment-no-operator"));

  ui.comboOperator->setCurrentIndex(1);
  EXPECT_EQ(entry.m_nOperation, kLogicOpAdd) << "the operator is written at once";
  EXPECT_TRUE(ui.comboTag3->isEnabled());
  EXPECT_TRUE(ui.labelTag3->isEnabled());
  ui.comboTag3->setCurrentIndex(1);
  EXPECT_TRUE(Snapshot(assign, "assignment-plus"));
  ui.comboOperator->setCurrentIndex(0);
  EXPECT_EQ(entry.m_nOperation, kLogicOpNone);
  EXPECT_EQ(ui.comboTag3->currentIndex(), -1);
  EXPECT_FALSE(ui.comboTag3->isEnabled());
  ui.comboOperator->setCurrentIndex(4);
  ui.comboTag3->setCurrentIndex(3);
  ui.comboTag1->setCurrentIndex(-1);
  ui.buttonOk->click();
  EXPECT_EQ(entry.m_strTag1, "") << "nothing selected gives an empty name";
  EXPECT_EQ(entry.m_strTag2, "Zeta");
  EXPECT_EQ(entry.m_strTag3, "Gain");
  EXPECT_EQ(entry.m_nOperation, kLogicOpDivide);

  // Names that no tag has select nothing; a code the list lacks shows none
  // and leaves Tag3 usable.
  CLogicEntry other;
  other.m_strTag1 = "zeta";
  other.m_nOperation = 9;
  other.m_strTag3 = "Alpha";
  CLogicAssignDlg unknown(other, app);
  EXPECT_EQ(unknown.Form().comboTag1->currentIndex(), -1) << "names compare case-sensitively";
  EXPECT_EQ(unknown.Form().comboOperator->currentIndex(), -1);
  EXPECT_TRUE(unknown.Form().comboTag3->isEnabled());
  EXPECT_EQ(unknown.Form().comboTag3->currentText(), "Alpha");
  unknown.Form().buttonOk->click();
  EXPECT_EQ(other.m_nOperation, 9);
  EXPECT_EQ(other.m_strTag1, "zeta") << "a name no tag has is not dropped by OK";
  EXPECT_EQ(other.m_strTag3, "Alpha");

  // Choosing a tag replaces it.
  CLogicAssignDlg chosen(other, app);
  chosen.Form().comboTag1->setCurrentIndex(2);
  chosen.Form().buttonOk->click();
  EXPECT_EQ(other.m_strTag1, "Mid");
}

TEST_F(EntryDialogs, IfOffersTheTargetBlocksNonEmptyLabelsInBlockOrder) {
  CLogicBlock& first = project.AddBlock("Sequence");
  for (const char* label : {"", "A", "", "B"}) Project::AddEntry(first, kLogicAssignment, label);
  CLogicBlock& second = project.AddBlock("Alarm");
  for (const char* label : {"Horn", "B"}) Project::AddEntry(second, kLogicAssignment, label);
  project.AddBlock("Empty");

  CLogicEntry entry;
  entry.m_nType = kLogicIfGoto;
  entry.m_strTag1 = "Alpha";
  entry.m_strTag2 = "Gain";
  entry.m_nOperation = kLogicCmpGreaterEqual;
  entry.m_strGotoBlock = "Sequence";
  CLogicIfDlg jump(entry, app);
  auto& ui = jump.Form();
  EXPECT_EQ(jump.windowTitle(), "Plexmar Logic Entry (IF Operation)");
  EXPECT_EQ(ui.groupIf->title(), "IF:");
  EXPECT_EQ(ui.groupGoto->title(), "THEN GOTO:");
  EXPECT_EQ(ui.labelTag1->text(), "Tag1:");
  EXPECT_EQ(ui.labelTag2->text(), "Tag2:");
  EXPECT_EQ(ui.labelBlock->text(), "LogicBlk:");
  EXPECT_EQ(ui.labelLabel->text(), "Label::");
  EXPECT_EQ(Items(ui.comboCompare), QStringList({"==", ">", "<", ">=", "<="}));
  EXPECT_EQ(ui.comboCompare->currentIndex(), 3);
  EXPECT_EQ(ui.comboTag1->currentText(), "Alpha");
  EXPECT_EQ(ui.comboTag2->currentText(), "Gain");
  EXPECT_EQ(Items(ui.comboBlock), QStringList({"Sequence", "Alarm", "Empty"})) << "list order";
  EXPECT_EQ(ui.comboBlock->currentText(), "Sequence");
  EXPECT_EQ(Items(ui.comboLabel), QStringList({"A", "B"}));
  EXPECT_EQ(ui.comboLabel->currentIndex(), -1) << "the GOTO label is empty";

  ui.comboLabel->setCurrentIndex(1);
  EXPECT_EQ(entry.m_strGotoLabel, "B") << "a label is written at once";
  EXPECT_TRUE(Snapshot(jump, "if-sequence-b"));

  // Another block that carries B keeps it; one that does not empties it.
  ui.comboBlock->setCurrentIndex(1);
  EXPECT_EQ(entry.m_strGotoBlock, "Alarm");
  EXPECT_EQ(Items(ui.comboLabel), QStringList({"Horn", "B"}));
  EXPECT_EQ(ui.comboLabel->currentText(), "B");
  EXPECT_EQ(entry.m_strGotoLabel, "B");
  ui.comboBlock->setCurrentIndex(2);
  EXPECT_EQ(entry.m_strGotoBlock, "Empty");
  EXPECT_TRUE(Items(ui.comboLabel).isEmpty());
  EXPECT_EQ(entry.m_strGotoLabel, "");

  // Cancel keeps what was written at once, not the tags or the comparison.
  ui.comboBlock->setCurrentIndex(0);
  ui.comboLabel->setCurrentIndex(0);
  ui.comboCompare->setCurrentIndex(0);
  ui.comboTag1->setCurrentIndex(0);
  ui.buttonCancel->click();
  EXPECT_EQ(entry.m_strGotoBlock, "Sequence");
  EXPECT_EQ(entry.m_strGotoLabel, "A");
  EXPECT_EQ(entry.m_nOperation, kLogicCmpGreaterEqual);
  EXPECT_EQ(entry.m_strTag1, "Alpha");

  CLogicIfDlg again(entry, app);
  EXPECT_EQ(again.Form().comboLabel->currentText(), "A");
  again.Form().comboCompare->setCurrentIndex(2);
  again.Form().comboTag2->setCurrentIndex(-1);
  again.Form().buttonOk->click();
  EXPECT_EQ(entry.m_nOperation, kLogicCmpLess);
  EXPECT_EQ(entry.m_strTag2, "");
  EXPECT_EQ(entry.m_strTag1, "Alpha");

  // A GOTO block that no block is: no block selected, no labels, and the
  // entry keeps its target until the operator chooses another.
  CLogicEntry lost;
  lost.m_nType = kLogicIfGoto;
  lost.m_strGotoBlock = "Gone";
  lost.m_strGotoLabel = "Here";
  lost.m_strTag1 = "Later.Defined";
  CLogicIfDlg missing(lost, app);
  EXPECT_EQ(missing.Form().comboBlock->currentIndex(), -1);
  EXPECT_TRUE(Items(missing.Form().comboLabel).isEmpty());
  missing.Form().buttonOk->click();
  EXPECT_EQ(lost.m_strGotoBlock, "Gone");
  EXPECT_EQ(lost.m_strGotoLabel, "Here");
  EXPECT_EQ(lost.m_strTag1, "Later.Defined") << "nor its tag";
}

TEST_F(EntryDialogs, FormDialogSetsShowOrHideAtOnceAndTheNameOnOk) {
  CLogicEntry entry;
  entry.m_nType = kLogicFormShowHide;
  entry.m_nOperation = 5;
  entry.m_strFormName = "Overview";
  CLogicFormDlg form(entry);
  auto& ui = form.Form();
  EXPECT_EQ(form.windowTitle(), "Plexmar Logic Entry (Form Load/UnLoad Operation)");
  EXPECT_EQ(ui.labelFormName->text(), "Form (Document) Name:");
  EXPECT_EQ(ui.radioShow->text(), "SHOW");
  EXPECT_EQ(ui.radioHide->text(), "HIDE");
  EXPECT_TRUE(ui.radioShow->isChecked()) << "any nonzero code is SHOW";
  EXPECT_FALSE(ui.radioHide->isChecked());
  EXPECT_EQ(ui.editFormName->text(), "Overview");
  EXPECT_TRUE(Snapshot(form, "form-show"));

  ui.radioHide->click();
  EXPECT_EQ(entry.m_nOperation, 0);
  ui.editFormName->setText("Plant");
  ui.buttonCancel->click();
  EXPECT_EQ(entry.m_strFormName, "Overview") << "Cancel leaves the name";
  EXPECT_EQ(entry.m_nOperation, 0) << "the click counted at once";

  CLogicFormDlg again(entry);
  EXPECT_TRUE(again.Form().radioHide->isChecked());
  again.Form().radioShow->click();
  EXPECT_EQ(entry.m_nOperation, 1);
  again.Form().editFormName->setText("Plant");
  again.Form().buttonOk->click();
  EXPECT_EQ(entry.m_strFormName, "Plant");
}

}  // namespace
