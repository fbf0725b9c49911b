// The tag record, its descriptions and file record, and the tag table of the
// application object with the binding of tags to their sources and to the
// OPC server.
#include <gtest/gtest.h>

#include "connections/OpcServerLink.h"
#include "core/ExchangeTag.h"
#include "core/ModbusDataBlock.h"
#include "core/PlexmarApp.h"
#include "serverkit/serverkit.h"
#include "tests/core/ToolkitDoubles.h"

namespace {

class TagTable : public ::testing::Test {
 protected:
  void SetUp() override { doubles::Reset(); }

  CExchangeTag& Add(std::unique_ptr<CExchangeTag> tag) {
    CExchangeTag& ref = *tag;
    app.AddTag(std::move(tag));
    return ref;
  }
  std::unique_ptr<CExchangeTag> Modbus(const std::string& name, int32_t kind, uint16_t address,
                                       uint8_t type = CExchangeTag::kHoldingRegister) {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_nSourceKind = kind;
    tag->m_nAddress = address;
    tag->m_nPointType = type;
    tag->m_nCommPort = 2;
    tag->m_strHost = "plc-7";
    return tag;
  }
  COpcServerLink& Link(const std::string& machine, const std::string& server) {
    auto link = std::make_unique<COpcServerLink>(machine, server);
    link->m_bConnected = 1;
    link->m_hServer = 11;
    link->m_hGroup = 22;
    COpcServerLink& ref = *link;
    app.m_serverLinks.push_back(std::move(link));
    return ref;
  }

  CPlexmarApp app;
};

}  // namespace

TEST_F(TagTable, NewTagsAreNumberedByTableSizeEvenIfTaken) {
  EXPECT_EQ(CExchangeTag().m_strName, "Exchange.Tag1");
  app.AddTag(std::make_unique<CExchangeTag>());
  app.AddTag(std::make_unique<CExchangeTag>("Exchange.Tag4"));
  app.AddTag(std::make_unique<CExchangeTag>());
  EXPECT_EQ(app.m_tags[0]->m_strName, "Exchange.Tag1");
  EXPECT_EQ(app.m_tags[2]->m_strName, "Exchange.Tag3");
  EXPECT_EQ(CExchangeTag().m_strName, "Exchange.Tag4");
  EXPECT_FALSE(app.IsTagNameFree("Exchange.Tag4"));
  EXPECT_TRUE(app.IsTagNameFree("exchange.tag4")) << "names are case-sensitive";
}

TEST_F(TagTable, DefaultsOfANewTag) {
  CExchangeTag tag("T");
  EXPECT_EQ(tag.m_value->vt, VT_R4);
  EXPECT_EQ(tag.m_value->fltVal, 1.0f);
  EXPECT_EQ(tag.m_hServerTag, -1);
  EXPECT_EQ(tag.m_hClientItem, -1);
  EXPECT_EQ(tag.m_nQuality, 0u);
  EXPECT_EQ(tag.m_nCommPort, 1);
  EXPECT_EQ(tag.m_nSlaveId, 1);
  EXPECT_EQ(tag.m_nPointType, 3);
  EXPECT_EQ(tag.m_nAddress, 1);
  EXPECT_EQ(tag.m_fHighLimit, 100.0f);
  EXPECT_EQ(tag.GetRegisterCount(), 0) << "a user variable has no registers";
  tag.m_nSourceKind = CExchangeTag::kSourceTcp;
  EXPECT_EQ(tag.GetRegisterCount(), 1);
  tag.m_nDataType = CExchangeTag::kWsFloat;
  tag.m_nPointType = CExchangeTag::kCoilStatus;
  EXPECT_EQ(tag.GetRegisterCount(), 2) << "whatever the point type";
}

TEST_F(TagTable, FindsFirstMatchInTableOrder) {
  CExchangeTag& first = Add(std::make_unique<CExchangeTag>("Dup"));
  Add(std::make_unique<CExchangeTag>("Dup"));
  EXPECT_EQ(app.FindTag("Dup"), &first);
  EXPECT_EQ(app.FindTag("dup"), nullptr);
  EXPECT_EQ(app.FindTagByServerHandle(first.m_hServerTag), &first);
  EXPECT_EQ(app.FindTagByServerHandle(-1), nullptr);

  COpcServerLink& local = Link("", "Vendor.Server");
  Link("", "Vendor.Server");
  EXPECT_EQ(app.FindServerLink("", "Vendor.Server"), &local);
  EXPECT_EQ(app.FindServerLink("host", "Vendor.Server"), nullptr);
}

TEST_F(TagTable, DescriptionsOfEverySourceKind) {
  CExchangeTag tag("T");
  EXPECT_EQ(tag.GetDescription(), "User Variable (Global)");

  tag.m_nSourceKind = CExchangeTag::kSourceComm;
  tag.m_nCommPort = 2;
  tag.m_nAddress = 40;
  tag.m_nDataType = CExchangeTag::kScaled4095;
  EXPECT_EQ(tag.GetDescription(),
            "Modbus Data Point (COMM2) (SlaveId:1, HOLDING REGISTER:0040, As Scaled 0-4095 "
            "LL=0.00 HL=100.00)");

  tag.m_nSourceKind = CExchangeTag::kSourceLocal;
  tag.m_nPointType = CExchangeTag::kCoilStatus;
  tag.m_nAddress = 1;
  EXPECT_EQ(tag.GetDescription(), "Local Modbus Data (SlaveId:1, COIL STATUS:0001)");

  tag.m_nSourceKind = CExchangeTag::kSourceTcp;
  tag.m_strHost = "10.0.0.9";
  tag.m_nPointType = CExchangeTag::kInputRegister;
  tag.m_nSlaveId = 247;
  tag.m_nAddress = 12345;
  tag.m_nDataType = CExchangeTag::kWsLong;
  EXPECT_EQ(tag.GetDescription(),
            "Modbus Data Point (10.0.0.9) (SlaveId:247, INPUT REGISTER:12345, As WORD SWAPPED LONG)");

  tag.m_nSourceKind = CExchangeTag::kSourceOpc;
  tag.m_strItemId = "Line1.Speed";
  tag.m_strServer = "Vendor.Server";
  EXPECT_EQ(tag.GetDescription(), "Line1.Speed(Vendor.Server)");
  tag.m_strMachine = "scada2";
  EXPECT_EQ(tag.GetDescription(), "Line1.Speed(Vendor.Server)(scada2)");

  tag.m_nSourceKind = 9;
  EXPECT_EQ(tag.GetDescription(), "Undefined Data Type");
}

TEST_F(TagTable, PointDescriptionsByTypeAndDataType) {
  CExchangeTag tag("T");
  const char* expected[] = {", As INTEGER)",
                            ", As UNSIGNED)",
                            ", As Scaled 0-4095 LL=-1.50 HL=2.25)",
                            ", As Scaled 0-9999 LL=-1.50 HL=2.25)",
                            ", As Scaled 0-65535 LL=-1.50 HL=2.25)",
                            ", As LONG)",
                            ", As WORD SWAPPED LONG)",
                            ", As IEEE FLOAT)",
                            ", As WORD SWAPPED FLOAT)"};
  tag.m_fLowLimit = -1.5f;
  tag.m_fHighLimit = 2.25f;
  tag.m_nAddress = 7;
  for (int32_t type = 0; type <= 8; ++type) {
    tag.m_nDataType = type;
    EXPECT_EQ(tag.GetPointDescription(), std::string("(SlaveId:1, HOLDING REGISTER:0007") + expected[type]);
  }
  tag.m_nDataType = 12;
  EXPECT_EQ(tag.GetPointDescription(), "(SlaveId:1, HOLDING REGISTER:0007");
  tag.m_nPointType = CExchangeTag::kInputStatus;
  tag.m_nDataType = CExchangeTag::kFloat;
  tag.m_nAddress = 999;
  EXPECT_EQ(tag.GetPointDescription(), "(SlaveId:1, INPUT STATUS:0999)");
  tag.m_nPointType = 0;
  EXPECT_EQ(tag.GetPointDescription(), "(SlaveId:1, 0999");
}

TEST_F(TagTable, IsEqualComparesTheDefinitionOfEachKind) {
  CExchangeTag a("A"), b("A");
  CVariant textA = Text("a"), textB = Text("b");
  a.m_value = *textA;
  b.m_value = *textB;
  EXPECT_TRUE(a.IsEqual(b)) << "texts of user variables are not compared";
  b.m_value = MakeVariantR4(1.0f);
  EXPECT_FALSE(a.IsEqual(b)) << "value types are";
  a.m_value = MakeVariantR4(2.0f);
  EXPECT_FALSE(a.IsEqual(b));
  a.m_value = MakeVariantR4(1.0f);
  EXPECT_TRUE(a.IsEqual(b));
  a.m_nAddress = 99;  // not part of a user variable
  EXPECT_TRUE(a.IsEqual(b));
  b.m_strLogicBlock = "L";
  EXPECT_FALSE(a.IsEqual(b));
  b.m_strLogicBlock.clear();

  a.m_nSourceKind = b.m_nSourceKind = CExchangeTag::kSourceComm;
  b.m_nAddress = 99;
  EXPECT_TRUE(a.IsEqual(b));
  b.m_nCommPort = 3;
  EXPECT_FALSE(a.IsEqual(b));
  b.m_nCommPort = 1;
  a.m_fHighLimit = 50;  // limits count for scaled types only
  EXPECT_TRUE(a.IsEqual(b));
  a.m_nDataType = b.m_nDataType = CExchangeTag::kScaled9999;
  EXPECT_FALSE(a.IsEqual(b));
  a.m_fHighLimit = 100;
  EXPECT_TRUE(a.IsEqual(b));
  b.m_strHost = "other";  // a COMM tag has no host
  EXPECT_TRUE(a.IsEqual(b));
  a.m_nSourceKind = b.m_nSourceKind = CExchangeTag::kSourceTcp;
  EXPECT_FALSE(a.IsEqual(b));

  a.m_nSourceKind = b.m_nSourceKind = CExchangeTag::kSourceOpc;
  EXPECT_TRUE(a.IsEqual(b));
  b.m_strItemId = "x";
  EXPECT_FALSE(a.IsEqual(b));
}

TEST_F(TagTable, CopyFromTakesTheDefinitionButNotTheHandles) {
  CExchangeTag source("S");
  source.m_nSourceKind = CExchangeTag::kSourceTcp;
  source.m_value = *Text("text");
  source.m_nQuality = 0xC0;
  source.m_ftTimestamp.dwHighDateTime = 5;
  source.m_strHost = "h";
  source.m_strLogicBlock = "L";
  source.m_nAddress = 300;
  source.m_fLowLimit = -3;
  source.m_hServerTag = 77;
  source.m_hClientItem = 88;
  source.m_bForceUpdate = 1;

  CExchangeTag copy("C");
  EXPECT_EQ(copy.CopyFrom(source), 1);
  EXPECT_TRUE(copy.IsEqual(source));
  EXPECT_EQ(BstrToUtf8(copy.m_value->bstrVal), "text");
  EXPECT_NE(copy.m_value->bstrVal, source.m_value->bstrVal) << "a deep copy";
  EXPECT_EQ(copy.m_nQuality, 0xC0u);
  EXPECT_EQ(copy.m_ftTimestamp.dwHighDateTime, 5u);
  EXPECT_EQ(copy.m_hServerTag, -1);
  EXPECT_EQ(copy.m_hClientItem, -1);
  EXPECT_EQ(copy.m_bForceUpdate, 0);
  source.m_hServerTag = source.m_hClientItem = -1;  // not really bound
}

TEST_F(TagTable, RecordRoundTripIsByteExact) {
  CExchangeTag tag("Line1.Flow");
  tag.m_nSourceKind = CExchangeTag::kSourceTcp;
  tag.m_value = *Text("abc");
  tag.m_strMachine = "m";
  tag.m_strServer = "s";
  tag.m_strItemId = "i";
  tag.m_strHost = "plc";
  tag.m_nCommPort = 4;
  tag.m_nSlaveId = 9;
  tag.m_nPointType = CExchangeTag::kInputRegister;
  tag.m_nAddress = 0x1234;
  tag.m_nDataType = CExchangeTag::kScaled9999;
  tag.m_fLowLimit = -1.0f;
  tag.m_fHighLimit = 2.0f;
  tag.m_strLogicBlock = "Blk";
  tag.m_nQuality = 0xC0;  // not stored
  tag.m_bForceUpdate = 1;

  CArchive out;
  tag.Serialize(out);
  const std::vector<uint8_t> bytes = out.Bytes();
  // name(1+10) kind(4) value(16 + 1+3) 4 strings(2+2+2+4) port(4) slave(1)
  // type(1) address(2) data type(4) limits(8) logic(1+3)
  EXPECT_EQ(bytes.size(), 11u + 4 + 20 + 10 + 4 + 1 + 1 + 2 + 4 + 8 + 4);
  EXPECT_EQ(bytes[0], 10);
  EXPECT_EQ(bytes[11], CExchangeTag::kSourceTcp);

  CArchive in(bytes);
  CExchangeTag loaded("x");
  loaded.Serialize(in);
  EXPECT_EQ(in.Remaining(), 0u);
  EXPECT_TRUE(loaded.IsEqual(tag));
  EXPECT_EQ(BstrToUtf8(loaded.m_value->bstrVal), "abc");
  EXPECT_EQ(loaded.m_nQuality, 0u);
  EXPECT_EQ(loaded.m_bForceUpdate, 0);
  CArchive again;
  loaded.Serialize(again);
  EXPECT_EQ(again.Bytes(), bytes);

  CArchive cut(std::vector<uint8_t>(bytes.begin(), bytes.end() - 3));
  CExchangeTag broken("y");
  EXPECT_THROW(broken.Serialize(cut), CArchiveException);
}

TEST_F(TagTable, BindingPublishesEveryTagWithItsQuality) {
  CExchangeTag& variable = Add(std::make_unique<CExchangeTag>("Var"));
  CExchangeTag& modbus = Add(Modbus("Reg", CExchangeTag::kSourceComm, 10));
  serverkit::ItemState item;
  ASSERT_TRUE(serverkit::ReadItem(variable.m_hServerTag, item));
  EXPECT_EQ(item.name, "Var");
  EXPECT_EQ(item.quality, 0xC0);
  EXPECT_EQ(item.value->vt, VT_R4);
  ASSERT_TRUE(serverkit::ReadItem(modbus.m_hServerTag, item));
  EXPECT_EQ(item.quality, 0) << "a Modbus tag is bad until its first value";
  EXPECT_NE(app.FindDataBlock("COMM2", 1, 3, 10, 1), nullptr);

  // The item goes with the tag.
  const int32_t handle = variable.m_hServerTag;
  app.RemoveAllTags();
  EXPECT_FALSE(serverkit::ReadItem(handle, item));
  EXPECT_TRUE(app.m_tags.empty());
  EXPECT_TRUE(app.m_dataBlocks.empty());
}

TEST_F(TagTable, QualityPublishedIsTheLowSixteenBits) {
  auto tag = std::make_unique<CExchangeTag>("Q");
  tag->m_nSourceKind = CExchangeTag::kSourceOpc;
  Link("", "S");
  tag->m_strServer = "S";
  doubles::Client().readQuality = 0x123400D8;
  CExchangeTag& bound = Add(std::move(tag));
  serverkit::ItemState item;
  ASSERT_TRUE(serverkit::ReadItem(bound.m_hServerTag, item));
  EXPECT_EQ(item.quality, 0x00D8);
  EXPECT_EQ(bound.m_nQuality, 0x123400D8u);
}

TEST_F(TagTable, OpcTagReadsItsItemThroughItsLink) {
  Link("", "Other");
  COpcServerLink& link = Link("", "Vendor.Server");
  auto tag = std::make_unique<CExchangeTag>("Opc");
  tag->m_nSourceKind = CExchangeTag::kSourceOpc;
  tag->m_strServer = "Vendor.Server";
  tag->m_strItemId = "Line1.Speed";
  CExchangeTag& bound = Add(std::move(tag));
  EXPECT_EQ(bound.m_hClientItem, 500);
  EXPECT_EQ(doubles::Client().lastReference, &bound);
  EXPECT_EQ(bound.m_value->vt, VT_I4);
  EXPECT_EQ(bound.m_value->lVal, 42);
  EXPECT_EQ(bound.m_ftTimestamp.dwLowDateTime, 7u);
  EXPECT_EQ(bound.m_nQuality, 0xC0u);
  ASSERT_EQ(doubles::Client().calls.size(), 3u);
  EXPECT_EQ(doubles::Client().calls[0], "add 11/22 Line1.Speed");

  // Deleting the tag removes the client item through the link.
  link.m_hServer = 31;
  app.RemoveAllTags();
  EXPECT_EQ(doubles::Client().calls.back(), "remove 31/22 500");
}

TEST_F(TagTable, OpcTagFailuresLeaveItUnconnectedAndBad) {
  // No link at all.
  auto lonely = std::make_unique<CExchangeTag>("NoLink");
  lonely->m_nSourceKind = CExchangeTag::kSourceOpc;
  lonely->m_strServer = "Missing";
  CExchangeTag& noLink = Add(std::move(lonely));
  EXPECT_EQ(noLink.m_hClientItem, -1);
  EXPECT_EQ(noLink.m_nQuality, 0u);
  EXPECT_NE(noLink.m_hServerTag, -1) << "still published";
  EXPECT_TRUE(doubles::Client().calls.empty());

  Link("", "S");
  // Activation refused: the item is removed again.
  doubles::Client().activateResult = 0;
  auto refused = std::make_unique<CExchangeTag>("Refused");
  refused->m_nSourceKind = CExchangeTag::kSourceOpc;
  refused->m_strServer = "S";
  CExchangeTag& notActive = Add(std::move(refused));
  EXPECT_EQ(notActive.m_hClientItem, -1);
  EXPECT_EQ(notActive.m_nQuality, 0u);
  EXPECT_EQ(doubles::Client().removedItems, std::vector<int32_t>{500});

  // Read failure: connected, value kept, bad.
  doubles::Client().activateResult = 1;
  doubles::Client().readResult = 0;
  auto unread = std::make_unique<CExchangeTag>("Unread");
  unread->m_nSourceKind = CExchangeTag::kSourceOpc;
  unread->m_strServer = "S";
  CExchangeTag& noRead = Add(std::move(unread));
  EXPECT_EQ(noRead.m_hClientItem, 500);
  EXPECT_EQ(noRead.m_nQuality, 0u);
  EXPECT_EQ(noRead.m_value->vt, VT_R4);

  // Item refused by the toolkit: nothing is activated with a -1 handle.
  doubles::Client().calls.clear();
  doubles::Client().nextItem = -1;
  auto noItem = std::make_unique<CExchangeTag>("NoItem");
  noItem->m_nSourceKind = CExchangeTag::kSourceOpc;
  noItem->m_strServer = "S";
  CExchangeTag& itemless = Add(std::move(noItem));
  EXPECT_EQ(itemless.m_hClientItem, -1);
  EXPECT_EQ(doubles::Client().calls.size(), 1u);
}

TEST_F(TagTable, DestructorForgetsAClientItemWhoseLinkIsGone) {
  Link("", "S");
  auto tag = std::make_unique<CExchangeTag>("Opc");
  tag->m_nSourceKind = CExchangeTag::kSourceOpc;
  tag->m_strServer = "S";
  app.AddTag(std::move(tag));
  app.m_serverLinks.clear();
  app.RemoveAllTags();
  EXPECT_TRUE(doubles::Client().removedItems.empty());
}

TEST_F(TagTable, BindingTwiceLeavesOneItem) {
  CExchangeTag& tag = Add(std::make_unique<CExchangeTag>("Once"));
  const size_t before = serverkit::ListItems().size();
  app.BindTag(tag);
  EXPECT_EQ(serverkit::ListItems().size(), before);
  serverkit::ItemState item;
  EXPECT_TRUE(serverkit::ReadItem(tag.m_hServerTag, item));
}

TEST_F(TagTable, ModbusTagsOfEachKindGetTheirBlock) {
  Add(Modbus("L", CExchangeTag::kSourceLocal, 1));
  Add(Modbus("C", CExchangeTag::kSourceComm, 1));
  Add(Modbus("T", CExchangeTag::kSourceTcp, 1));
  auto longTag = Modbus("Long", CExchangeTag::kSourceTcp, 100);
  longTag->m_nDataType = CExchangeTag::kLong;
  Add(std::move(longTag));
  // 1..101 would span 101 points: the Long gets a block of its own.
  ASSERT_EQ(app.m_dataBlocks.size(), 4u);
  EXPECT_EQ(app.m_dataBlocks[0]->m_strLocation, "LOCAL");
  EXPECT_EQ(app.m_dataBlocks[1]->m_strLocation, "COMM2");
  EXPECT_EQ(app.m_dataBlocks[2]->m_strLocation, "plc-7");
  EXPECT_EQ(app.m_dataBlocks[3]->m_strLocation, "plc-7");
  EXPECT_EQ(app.m_dataBlocks[3]->m_nStartAddress, 100);
  EXPECT_EQ(app.m_dataBlocks[3]->m_nCount, 2);
}

TEST(OpcServerLink, DescriptionAndRecord) {
  COpcServerLink local("", "Vendor.Server");
  EXPECT_EQ(local.m_nLinkType, 1);
  EXPECT_EQ(local.m_bConnected, 0);
  EXPECT_EQ(local.GetDescription(), "Local Machine--Vendor.Server");
  COpcServerLink remote("scada2", "Vendor.Server");
  EXPECT_EQ(remote.GetDescription(), "scada2--Vendor.Server");

  remote.m_hServer = 5;
  CArchive out;
  remote.Serialize(out);
  EXPECT_EQ(out.Bytes().size(), 1u + 6 + 1 + 13);
  CArchive in(out.Bytes());
  COpcServerLink loaded;
  loaded.Serialize(in);
  EXPECT_EQ(loaded.m_strMachine, "scada2");
  EXPECT_EQ(loaded.m_strServer, "Vendor.Server");
  EXPECT_EQ(loaded.m_hServer, -1);
}
