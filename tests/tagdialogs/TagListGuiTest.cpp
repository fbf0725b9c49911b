// The tag list: its rows and columns, which row Edit and Remove act on, and
// Add, Edit and Remove with their duplicate-name rounds, as an operator
// drives them.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QTest>

#include "TagDialogsGuiSupport.h"
#include "connections/OpcServerLink.h"
#include "core/ModbusDataBlock.h"
#include "tests/opcconnect/FakeClientKit.h"

using namespace tagdialogs_test;

namespace {

class TagList : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    fakeclient::Reset();
  }
  void TearDown() override { app.RemoveAllTags(); }

  std::unique_ptr<CTagListDlg> Open() {
    auto list = std::make_unique<CTagListDlg>(app, script.Hooks());
    list->show();
    QApplication::processEvents();
    return list;
  }
  void Click(CTagListDlg& list, int row) {
    QTreeWidget* view = list.Form().listTags;
    const QPoint at = row >= 0 ? view->visualItemRect(view->topLevelItem(row)).center()
                               : QPoint(10, view->viewport()->height() - 5);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
  }

  CPlexmarApp app;
  Script script;
};

// An OPC server link as the connect step leaves it, served by the scripted
// toolkit.
COpcServerLink& AddLink(CPlexmarApp& app, const std::string& machine, const std::string& server) {
  auto link = std::make_unique<COpcServerLink>(machine, server);
  link->m_bConnected = 1;
  link->m_hServer = 10 + static_cast<int32_t>(app.m_serverLinks.size());
  link->m_hGroup = 100 + static_cast<int32_t>(app.m_serverLinks.size());
  app.m_serverLinks.push_back(std::move(link));
  return *app.m_serverLinks.back();
}

}  // namespace

TEST_F(TagList, ShowsEveryTagInTableOrderWithItsValueAndSourceInThreeColumns) {
  AddBound(app, "Setpoint", CExchangeTag::kSourceVariable, [](CExchangeTag& t) { t.m_value = MakeVariantR4(2.5f); });
  AddBound(app, "Level", CExchangeTag::kSourceTcp, [](CExchangeTag& t) {
    t.m_strHost = "10.0.0.7";
    t.m_nAddress = 40;
    t.m_nDataType = CExchangeTag::kScaled4095;
  });
  AddBound(app, "Remote", CExchangeTag::kSourceOpc, [](CExchangeTag& t) {
    t.m_strServer = "Other.Server";
    t.m_strItemId = "Line1.Speed";
  });
  auto list = Open();
  auto& ui = list->Form();
  EXPECT_EQ(list->windowTitle(), "Plexmar Tag List");
  QTreeWidgetItem* header = ui.listTags->headerItem();
  EXPECT_EQ(QStringList({header->text(0), header->text(1), header->text(2)}),
            QStringList({"TagName", "Current Value", "Details"}));
  EXPECT_EQ(ui.listTags->selectionMode(), QAbstractItemView::SingleSelection);
  ASSERT_EQ(ui.listTags->topLevelItemCount(), 3);
  EXPECT_EQ(Row(*list, 0), QStringList({"Setpoint", " 2.50 ", "User Variable (Global)"}));
  EXPECT_EQ(Row(*list, 1), QStringList({"Level", " 1.00 ", "Modbus Data Point (10.0.0.7) (SlaveId:1, HOLDING "
                                                         "REGISTER:0040, As Scaled 0-4095 LL=0.00 HL=100.00)"}));
  EXPECT_EQ(Row(*list, 2), QStringList({"Remote", " 1.00 ", "Line1.Speed(Other.Server)"}));

  EXPECT_TRUE(Snapshot(*list, "tag-list"));
  const int width = ui.listTags->viewport()->width();
  EXPECT_EQ(ui.listTags->columnWidth(0), width / 3);
  EXPECT_EQ(ui.listTags->columnWidth(1), width / 6);
  EXPECT_EQ(ui.listTags->columnWidth(2), width / 2);

  EXPECT_EQ(ui.buttonOk->text(), "OK");
  EXPECT_TRUE(ui.buttonAdd->isEnabled());
  EXPECT_FALSE(ui.buttonEdit->isEnabled()) << "no row selected yet";
  EXPECT_FALSE(ui.buttonRemove->isEnabled());
  EXPECT_EQ(ui.buttonSort->text(), "Sort Alphabetically");
  EXPECT_EQ(ui.buttonRefresh->text(), "Refresh Values");
  EXPECT_EQ(list->SelectedPosition(), -1);
  Click(*list, 1);
  EXPECT_FALSE(ui.buttonSort->isEnabled()) << "always disabled";
  EXPECT_FALSE(ui.buttonRefresh->isEnabled()) << "always disabled";
  EXPECT_TRUE(Snapshot(*list, "tag-list-row-selected"));
}

TEST_F(TagList, AClickPicksTheRowUnderItIncludingTheLastAndAClickBesideTheRowsClearsIt) {
  for (const char* name : {"A", "B", "C"}) AddBound(app, name, CExchangeTag::kSourceVariable);
  auto list = Open();
  auto& ui = list->Form();
  Click(*list, 2);
  EXPECT_EQ(list->SelectedPosition(), 2) << "the last row is selectable";
  EXPECT_TRUE(ui.buttonEdit->isEnabled());
  EXPECT_TRUE(ui.buttonRemove->isEnabled());
  EXPECT_TRUE(ui.listTags->topLevelItem(2)->isSelected());
  Click(*list, 0);
  EXPECT_EQ(list->SelectedPosition(), 0);
  Click(*list, -1);
  EXPECT_EQ(list->SelectedPosition(), -1);
  EXPECT_FALSE(ui.buttonEdit->isEnabled());
  EXPECT_FALSE(ui.buttonRemove->isEnabled());
  EXPECT_TRUE(ui.listTags->selectedItems().isEmpty());
  list->OnEdit();
  list->OnRemove();
  EXPECT_TRUE(script.opened.isEmpty()) << "nothing happens without a selection";
  EXPECT_EQ(app.m_tags.size(), 3u);

  // A double click selects and edits.
  QTreeWidget* view = ui.listTags;
  QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualItemRect(view->topLevelItem(1)).center());
  EXPECT_EQ(list->SelectedPosition(), 1);
  ASSERT_EQ(script.opened, QStringList({"Tag Definition"}));

  // The keyboard moves the position with the highlighted row.
  view->setFocus();
  QTest::keyClick(view, Qt::Key_Down);
  EXPECT_EQ(list->SelectedPosition(), 2);
}

TEST_F(TagList, AddWithANameThatExistsAsksAgainWithTheInputAndCancelAddsNothing) {
  AddBound(app, "Pump", CExchangeTag::kSourceVariable);
  AddBound(app, "Valve", CExchangeTag::kSourceVariable);
  const QStringList itemsBefore = ItemNames();
  auto list = Open();
  QString shownAgain;
  script.steps = {Named("Valve"), [&](QDialog& d) {
                    shownAgain = dynamic_cast<CTagDefinitionDlg&>(d).Form().editName->text();
                    return Cancel(d);
                  }};
  list->OnAdd();
  EXPECT_EQ(script.told, QStringList({"(Valve)\r\nA Tag with this Name Already Exists!"}));
  EXPECT_EQ(shownAgain, "Valve") << "the dialog comes back with what the operator typed";
  EXPECT_EQ(Names(app), QStringList({"Pump", "Valve"}));
  EXPECT_EQ(list->Form().listTags->topLevelItemCount(), 2);
  EXPECT_EQ(ItemNames(), itemsBefore) << "no OPC item was made";

  // Names differ by case: "valve" is another name.
  script.steps = {Named("valve")};
  list->OnAdd();
  EXPECT_EQ(Names(app), QStringList({"Pump", "Valve", "valve"}));
}

TEST_F(TagList, AddInsertsAfterTheSelectedRowPublishesTheTagAndSelectsIt) {
  AddBound(app, "A", CExchangeTag::kSourceVariable);
  AddBound(app, "B", CExchangeTag::kSourceVariable);
  auto list = Open();
  QString proposed;
  script.steps = {Define([&](CTagDefinitionDlg& d) { proposed = d.Form().editName->text(); })};
  Click(*list, 0);
  list->OnAdd();
  EXPECT_EQ(proposed, "Exchange.Tag3");
  EXPECT_EQ(Names(app), QStringList({"A", "Exchange.Tag3", "B"}));
  EXPECT_EQ(Row(*list, 1)[0], "Exchange.Tag3");
  EXPECT_EQ(list->SelectedPosition(), 1);
  EXPECT_TRUE(list->Form().buttonEdit->isEnabled());
  const CExchangeTag& added = *app.m_tags[1];
  EXPECT_EQ(added.m_nQuality, 0xC0u) << "a user variable is good";
  serverkit::ItemState item;
  ASSERT_TRUE(serverkit::ReadItem(added.m_hServerTag, item));
  EXPECT_EQ(item.name, "Exchange.Tag3");
  EXPECT_EQ(item.quality, 0xC0);
  EXPECT_TRUE(item.writable);

  // Without a selection the new tag goes to the end.
  Click(*list, -1);
  script.steps = {Named("Z")};
  list->OnAdd();
  EXPECT_EQ(Names(app).back(), "Z");
  EXPECT_EQ(list->SelectedPosition(), 3);
}

TEST_F(TagList, NewModbusPointsStartAtZeroOfTheirTypeAndTheirBlocksComeWhenTheListCloses) {
  auto list = Open();
  const auto modbus = [] {
    return Define([](CTagDefinitionDlg& d) {
      Choose(d.Form().comboType, 1);
      d.Form().buttonDetails->click();
    });
  };
  const auto details = [](int dataType, int address) {
    return ModbusDetails([=](Ui::ModbusPointDlg& f) {
      f.comboDataType->setCurrentIndex(dataType);
      f.editAddress->setText(QString::number(address));
    });
  };
  script.steps = {modbus(), details(7, 10), modbus(), details(5, 20)};
  list->OnAdd();
  list->OnAdd();
  ASSERT_EQ(app.m_tags.size(), 2u);
  const CExchangeTag& real = *app.m_tags[0];
  const CExchangeTag& whole = *app.m_tags[1];
  EXPECT_EQ(real.m_value->vt, VT_R4);
  EXPECT_EQ(real.m_value->fltVal, 0.0f);
  EXPECT_EQ(whole.m_value->vt, VT_I4);
  EXPECT_EQ(whole.m_value->lVal, 0);
  EXPECT_EQ(real.m_nQuality, 0u) << "nothing has been read yet";
  serverkit::ItemState item;
  ASSERT_TRUE(serverkit::ReadItem(real.m_hServerTag, item));
  EXPECT_EQ(item.value->vt, VT_R4);

  EXPECT_TRUE(app.m_dataBlocks.empty()) << "registered when the list closes";
  list->Form().buttonOk->click();
  EXPECT_EQ(list->result(), QDialog::Accepted);
  ASSERT_EQ(app.m_dataBlocks.size(), 1u) << "both points of LOCAL slave 1 share a block";
  EXPECT_EQ(app.m_dataBlocks[0]->m_nStartAddress, 10);
  EXPECT_EQ(app.m_dataBlocks[0]->m_nCount, 12);
  EXPECT_NE(app.FindDataBlock("LOCAL", 1, 3, 20, 2), nullptr);
}

TEST_F(TagList, EditOfAUserVariableValueKeepsItsOpcItemInPlace) {
  AddBound(app, "A", CExchangeTag::kSourceVariable);
  CExchangeTag& tag = AddBound(app, "Setpoint", CExchangeTag::kSourceVariable);
  const int32_t handle = tag.m_hServerTag;
  const size_t items = serverkit::ListItems().size();
  auto list = Open();
  Click(*list, 1);
  script.steps = {Define([](CTagDefinitionDlg& d) { d.Form().buttonDetails->click(); }), UserValue("42.5")};
  list->OnEdit();
  ASSERT_EQ(app.m_tags[1].get(), &tag) << "the same tag stays";
  EXPECT_EQ(tag.m_hServerTag, handle);
  EXPECT_EQ(serverkit::ListItems().size(), items) << "no new item";
  serverkit::ItemState item;
  ASSERT_TRUE(serverkit::ReadItem(handle, item));
  EXPECT_EQ(item.value->vt, VT_R4);
  EXPECT_EQ(item.value->fltVal, 42.5f);
  EXPECT_EQ(item.quality, 0xC0);
  EXPECT_EQ(Row(*list, 1)[1], "42.50 ");

  // Unchanged: nothing happens at all.
  script.steps = {Define({})};
  list->OnEdit();
  EXPECT_EQ(app.m_tags[1].get(), &tag);
}

TEST_F(TagList, RenameToANameAnotherTagHasThenCancelKeepsTheTagAsItWas) {
  AddBound(app, "A", CExchangeTag::kSourceVariable);
  CExchangeTag& b = AddBound(app, "B", CExchangeTag::kSourceLocal, [](CExchangeTag& t) { t.m_nAddress = 7; });
  AddBound(app, "C", CExchangeTag::kSourceVariable);
  const int32_t handle = b.m_hServerTag;
  auto list = Open();
  Click(*list, 1);
  script.steps = {Define([](CTagDefinitionDlg& d) {
                    d.Form().editName->setText("A");
                    Choose(d.Form().comboType, 0);
                  }),
                  Cancel};
  list->OnEdit();
  EXPECT_EQ(script.told, QStringList({"(A)\r\nA Tag with this Name Already Exists!"}));
  ASSERT_EQ(app.m_tags[1].get(), &b);
  EXPECT_EQ(b.m_strName, "B");
  EXPECT_EQ(b.m_nSourceKind, CExchangeTag::kSourceLocal);
  EXPECT_EQ(b.m_nAddress, 7);
  EXPECT_EQ(b.m_hServerTag, handle);
  EXPECT_EQ(Names(app), QStringList({"A", "B", "C"}));
  EXPECT_EQ(Row(*list, 1)[0], "B");

  // Keeping its own name is no duplicate, whatever else changes.
  script.steps = {Define([](CTagDefinitionDlg& d) { Choose(d.Form().comboType, 0); })};
  list->OnEdit();
  EXPECT_TRUE(script.told.size() == 1);
  EXPECT_EQ(app.m_tags[1]->m_nSourceKind, CExchangeTag::kSourceVariable);
}

TEST_F(TagList, AnOpcPointEditedIntoAModbusPointKeepsItsPositionAndGetsANewItem) {
  AddLink(app, "", "Other.Server");
  AddBound(app, "First", CExchangeTag::kSourceVariable);
  CExchangeTag& opc = AddBound(app, "Flow", CExchangeTag::kSourceOpc, [](CExchangeTag& t) {
    t.m_strServer = "Other.Server";
    t.m_strItemId = "Line1.Flow";
  });
  AddBound(app, "Last", CExchangeTag::kSourceVariable);
  const int32_t oldServerItem = opc.m_hServerTag;
  const int32_t oldClientItem = opc.m_hClientItem;
  ASSERT_NE(oldClientItem, -1);
  auto list = Open();
  Click(*list, 1);
  script.steps = {Define([](CTagDefinitionDlg& d) {
                    EXPECT_EQ(d.Form().comboType->currentIndex(), 4) << "the tag's link is chosen";
                    Choose(d.Form().comboType, 3);
                    d.Form().buttonDetails->click();
                  }),
                  ModbusDetails([](Ui::ModbusPointDlg& f) {
                    EXPECT_TRUE(f.radioTcp->isChecked());
                    f.editHost->setText("plc7");
                    f.editAddress->setText("40");
                  })};
  list->OnEdit();
  EXPECT_EQ(Names(app), QStringList({"First", "Flow", "Last"}));
  const CExchangeTag& edited = *app.m_tags[1];
  EXPECT_EQ(edited.m_nSourceKind, CExchangeTag::kSourceTcp);
  EXPECT_EQ(edited.m_strHost, "plc7");
  EXPECT_EQ(edited.m_nAddress, 40);
  EXPECT_EQ(edited.m_value->vt, VT_I4);
  EXPECT_NE(edited.m_hServerTag, oldServerItem);
  serverkit::ItemState item;
  EXPECT_FALSE(serverkit::ReadItem(oldServerItem, item)) << "the old item is withdrawn";
  ASSERT_TRUE(serverkit::FindItem("Flow", item));
  EXPECT_EQ(item.handle, edited.m_hServerTag);
  EXPECT_EQ(serverkit::ListItems().size(), 3u);
  EXPECT_TRUE(fakeclient::Kit().items[oldClientItem].removed) << "the OPC source item is let go";
  EXPECT_EQ(Row(*list, 1), QStringList({"Flow", "0 ", "Modbus Data Point (plc7) (SlaveId:1, HOLDING REGISTER:0040, "
                                                     "As INTEGER)"}));
  EXPECT_EQ(list->SelectedPosition(), 1);
}

TEST_F(TagList, EditIntoAnOpcPointConnectsItsItemAndReadsIt) {
  AddLink(app, "", "Other.Server");
  AddBound(app, "Speed", CExchangeTag::kSourceVariable);
  auto list = Open();
  Click(*list, 0);
  script.steps = {Define([](CTagDefinitionDlg& d) {
    Choose(d.Form().comboType, 4);
    EXPECT_EQ(d.Form().editDetails->text(), "Item Not Defined!");
  })};
  list->OnEdit();
  const CExchangeTag& tag = *app.m_tags[0];
  EXPECT_EQ(tag.m_nSourceKind, CExchangeTag::kSourceOpc);
  EXPECT_EQ(tag.m_strServer, "Other.Server");
  ASSERT_NE(tag.m_hClientItem, -1);
  EXPECT_EQ(fakeclient::Kit().items[tag.m_hClientItem].reference, &tag);
  EXPECT_EQ(tag.m_value->vt, VT_R8) << "read from the server at once";
  EXPECT_EQ(tag.m_nQuality, 0xC0u);
}

TEST_F(TagList, RemoveKeepsThePositionSoASecondRemoveTakesTheTagThatMovedUp) {
  for (const char* name : {"A", "B", "C"}) AddBound(app, name, CExchangeTag::kSourceVariable);
  auto list = Open();
  Click(*list, 1);
  list->OnRemove();
  EXPECT_EQ(Names(app), QStringList({"A", "C"}));
  EXPECT_EQ(list->SelectedPosition(), 1);
  EXPECT_EQ(Row(*list, 1)[0], "C");
  list->Form().buttonRemove->click();
  EXPECT_EQ(Names(app), QStringList({"A"}));
  EXPECT_EQ(list->Form().listTags->topLevelItemCount(), 1);
  EXPECT_EQ(ItemNames(), QStringList({"A"})) << "removed tags leave the OPC server";
  // Nothing is at the position any more: Remove and Edit do nothing.
  list->OnRemove();
  list->OnEdit();
  EXPECT_EQ(Names(app), QStringList({"A"}));
  EXPECT_TRUE(script.opened.isEmpty());
  // Add goes to the end then.
  script.steps = {Named("D")};
  list->OnAdd();
  EXPECT_EQ(Names(app), QStringList({"A", "D"}));
}
