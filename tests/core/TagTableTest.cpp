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
  CExchangeTag& AddOpc(const std::string& name, const std::string& server) {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_nSourceKind = CExchangeTag::kSourceOpc;
    tag->m_strServer = server;
    tag->m_strItemId = "Line1.Speed";
    return Add(std::move(tag));
  }
  COpcServerLink& Link(const std::string& machine, const std::string& server) {
    auto link = std::make_unique<COpcServerLink>(machine, server);
    link->m_bConnected = 1;
    link->m_hServer = 11;
    link->m_hGroup = 22;
    app.m_serverLinks.push_back(std::move(link));
    return *app.m_serverLinks.back();
  }
  serverkit::ItemState Item(const CExchangeTag& tag) {
    serverkit::ItemState item;
    EXPECT_TRUE(serverkit::ReadItem(tag.m_hServerTag, item));
    return item;
  }

  CPlexmarApp app;
};

}  // namespace

TEST_F(TagTable, NewTagsAreNumberedByTableSizeEvenIfTaken) {
  EXPECT_EQ(CExchangeTag().m_strName, "Exchange.Tag1");
  app.AddTag(std::make_unique<CExchangeTag>());
  app.AddTag(std::make_unique<CExchangeTag>("Exchange.Tag4"));
  app.AddTag(std::make_unique<CExchangeTag>());
  EXPECT_EQ(app.m_tags[2]->m_strName, "Exchange.Tag3");
  EXPECT_EQ(CExchangeTag().m_strName, "Exchange.Tag4");
  EXPECT_FALSE(app.IsTagNameFree("Exchange.Tag4"));
  EXPECT_TRUE(app.IsTagNameFree("exchange.tag4")) << "names are case-sensitive";
}

TEST_F(TagTable, LookupsReturnTheFirstMatchInOrder) {
  CExchangeTag& first = Add(std::make_unique<CExchangeTag>("Dup"));
  Add(std::make_unique<CExchangeTag>("Dup"));
  EXPECT_EQ(app.FindTag("Dup"), &first);
  EXPECT_EQ(app.FindTagByServerHandle(first.m_hServerTag), &first);
  EXPECT_EQ(app.FindTagByServerHandle(-1), nullptr) << "-1 names no item";
  COpcServerLink& local = Link("", "Vendor.Server");
  Link("", "Vendor.Server");
  EXPECT_EQ(app.FindServerLink("", "Vendor.Server"), &local);
  EXPECT_EQ(app.FindServerLink("host", "Vendor.Server"), nullptr);
}

TEST_F(TagTable, DescriptionsOfEverySourceKindAndDataType) {
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

  const char* suffix[] = {", As INTEGER)", ", As UNSIGNED)",
                          ", As Scaled 0-4095 LL=-1.50 HL=2.25)", ", As Scaled 0-9999 LL=-1.50 HL=2.25)",
                          ", As Scaled 0-65535 LL=-1.50 HL=2.25)", ", As LONG)",
                          ", As WORD SWAPPED LONG)", ", As IEEE FLOAT)", ", As WORD SWAPPED FLOAT)", ""};
  CExchangeTag reg("R");
  reg.m_fLowLimit = -1.5f;
  reg.m_fHighLimit = 2.25f;
  reg.m_nAddress = 7;
  for (int32_t type = 0; type <= 9; ++type) {
    reg.m_nDataType = type;
    EXPECT_EQ(reg.GetPointDescription(), std::string("(SlaveId:1, HOLDING REGISTER:0007") + suffix[type]);
  }
  reg.m_nPointType = CExchangeTag::kInputStatus;
  reg.m_nAddress = 999;
  EXPECT_EQ(reg.GetPointDescription(), "(SlaveId:1, INPUT STATUS:0999)");
}

TEST_F(TagTable, IsEqualComparesTheDefinitionOfEachKind) {
  CExchangeTag a("A"), b("A");
  a.m_value = *Text("a");
  b.m_value = *Text("b");
  EXPECT_TRUE(a.IsEqual(b)) << "texts of user variables are not compared";
  b.m_value = MakeVariantR4(1.0f);
  EXPECT_FALSE(a.IsEqual(b)) << "value types are";
  a.m_value = MakeVariantR4(2.0f);
  EXPECT_FALSE(a.IsEqual(b)) << "and real values";
  a.m_value = MakeVariantR4(1.0f);
  b.m_strLogicBlock = "L";
  EXPECT_FALSE(a.IsEqual(b));
  b.m_strLogicBlock.clear();

  a.m_nSourceKind = b.m_nSourceKind = CExchangeTag::kSourceComm;
  b.m_nCommPort = 3;
  EXPECT_FALSE(a.IsEqual(b));
  b.m_nCommPort = 1;
  a.m_fHighLimit = 50;
  EXPECT_TRUE(a.IsEqual(b)) << "limits count for scaled types only";
  a.m_nDataType = b.m_nDataType = CExchangeTag::kScaled9999;
  EXPECT_FALSE(a.IsEqual(b));
  a.m_fHighLimit = 100;
  b.m_strHost = "other";
  EXPECT_TRUE(a.IsEqual(b)) << "a COMM tag has no host";
  a.m_nSourceKind = b.m_nSourceKind = CExchangeTag::kSourceTcp;
  EXPECT_FALSE(a.IsEqual(b));
  a.m_nSourceKind = b.m_nSourceKind = CExchangeTag::kSourceOpc;
  EXPECT_TRUE(a.IsEqual(b));
  b.m_strItemId = "x";
  EXPECT_FALSE(a.IsEqual(b));
}

TEST_F(TagTable, CopyAndRecordKeepTheDefinitionButNeitherHandlesNorFlags) {
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
  tag.m_nQuality = 0xC0;
  tag.m_ftTimestamp.dwHighDateTime = 5;
  tag.m_bForceUpdate = 1;

  CExchangeTag copy("C");
  copy.m_hServerTag = 77;  // as if bound; CopyFrom leaves it
  EXPECT_EQ(copy.CopyFrom(tag), 1);
  EXPECT_TRUE(copy.IsEqual(tag));
  EXPECT_NE(copy.m_value->bstrVal, tag.m_value->bstrVal) << "a deep copy";
  EXPECT_EQ(copy.m_nQuality, 0xC0u);
  EXPECT_EQ(copy.m_ftTimestamp.dwHighDateTime, 5u);
  EXPECT_EQ(copy.m_hServerTag, 77);
  EXPECT_EQ(copy.m_bForceUpdate, 0);
  copy.m_hServerTag = -1;

  CArchive out;
  tag.Serialize(out);
  const std::vector<uint8_t> bytes = out.Bytes();
  // name(1+10) kind(4) value(16 + 1+3) four strings(2+2+2+4) port(4) slave(1)
  // type(1) address(2) data type(4) limits(8) logic(1+3)
  EXPECT_EQ(bytes.size(), 11u + 4 + 20 + 10 + 4 + 1 + 1 + 2 + 4 + 8 + 4);
  CArchive in(bytes);
  CExchangeTag loaded("x");
  loaded.Serialize(in);
  EXPECT_EQ(in.Remaining(), 0u);
  EXPECT_TRUE(loaded.IsEqual(tag));
  EXPECT_EQ(BstrToUtf8(loaded.m_value->bstrVal), "abc");
  EXPECT_EQ(loaded.m_nQuality, 0u);
  CArchive again;
  loaded.Serialize(again);
  EXPECT_EQ(again.Bytes(), bytes);

  CArchive cut(std::vector<uint8_t>(bytes.begin(), bytes.end() - 3));
  CExchangeTag broken("y");
  EXPECT_THROW(broken.Serialize(cut), CArchiveException);
}

TEST_F(TagTable, BindingPublishesEveryTagAndRemovalWithdrawsIt) {
  CExchangeTag& variable = Add(std::make_unique<CExchangeTag>("Var"));
  auto made = std::make_unique<CExchangeTag>("Reg");
  made->m_nSourceKind = CExchangeTag::kSourceComm;
  made->m_nCommPort = 2;
  made->m_nAddress = 10;
  made->m_nDataType = CExchangeTag::kLong;
  CExchangeTag& modbus = Add(std::move(made));
  EXPECT_EQ(Item(variable).name, "Var");
  EXPECT_EQ(Item(variable).quality, 0xC0);
  EXPECT_EQ(Item(variable).value->vt, VT_R4);
  EXPECT_EQ(Item(modbus).quality, 0) << "a Modbus tag is bad until its first value";
  EXPECT_NE(app.FindDataBlock("COMM2", 1, 3, 10, 2), nullptr);

  // Binding again must not leave a second item of the same name.
  const size_t items = serverkit::ListItems().size();
  app.BindTag(variable);
  EXPECT_EQ(serverkit::ListItems().size(), items);

  const int32_t handle = variable.m_hServerTag;
  app.RemoveAllTags();
  serverkit::ItemState item;
  EXPECT_FALSE(serverkit::ReadItem(handle, item));
  EXPECT_TRUE(app.m_tags.empty());
  EXPECT_TRUE(app.m_dataBlocks.empty());
}

TEST_F(TagTable, OpcTagReadsItsItemThroughItsLinkAndReleasesIt) {
  Link("", "Other");
  COpcServerLink& link = Link("", "Vendor.Server");
  doubles::Client().readQuality = 0x123400D8;
  CExchangeTag& tag = AddOpc("Opc", "Vendor.Server");
  EXPECT_EQ(tag.m_hClientItem, 500);
  EXPECT_EQ(doubles::Client().lastReference, &tag);
  EXPECT_EQ(tag.m_value->lVal, 42);
  EXPECT_EQ(tag.m_ftTimestamp.dwLowDateTime, 7u);
  EXPECT_EQ(tag.m_nQuality, 0x123400D8u);
  EXPECT_EQ(Item(tag).quality, 0x00D8) << "the low 16 bits are published";
  EXPECT_EQ(doubles::Client().calls,
            (std::vector<std::string>{"add 11/22 Line1.Speed", "activate 500", "read 500"}));
  link.m_hServer = 31;
  app.RemoveAllTags();
  EXPECT_EQ(doubles::Client().calls.back(), "remove 31/22 500");
}

TEST_F(TagTable, OpcTagFailuresLeaveItUnconnectedAndBad) {
  CExchangeTag& noLink = AddOpc("NoLink", "Missing");
  EXPECT_EQ(noLink.m_hClientItem, -1);
  EXPECT_EQ(noLink.m_nQuality, 0u);
  EXPECT_NE(noLink.m_hServerTag, -1) << "still published";
  EXPECT_TRUE(doubles::Client().calls.empty());

  Link("", "S");
  doubles::Client().activateResult = 0;
  CExchangeTag& refused = AddOpc("Refused", "S");
  EXPECT_EQ(refused.m_hClientItem, -1);
  EXPECT_EQ(refused.m_nQuality, 0u);
  EXPECT_EQ(doubles::Client().removedItems, std::vector<int32_t>{500});

  doubles::Client().activateResult = 1;
  doubles::Client().readResult = 0;
  CExchangeTag& unread = AddOpc("Unread", "S");
  EXPECT_EQ(unread.m_hClientItem, 500);
  EXPECT_EQ(unread.m_nQuality, 0u);
  EXPECT_EQ(unread.m_value->vt, VT_R4) << "a failed read leaves the value";

  doubles::Client().calls.clear();
  doubles::Client().nextItem = -1;
  CExchangeTag& itemless = AddOpc("NoItem", "S");
  EXPECT_EQ(itemless.m_hClientItem, -1);
  EXPECT_EQ(doubles::Client().calls.size(), 1u) << "no item, nothing to activate";

  // A link gone before the tag: the item is simply forgotten.
  doubles::Client().removedItems.clear();
  app.m_serverLinks.clear();
  app.RemoveAllTags();
  EXPECT_TRUE(doubles::Client().removedItems.empty());
}

TEST(OpcServerLink, DescriptionAndRecord) {
  COpcServerLink local("", "Vendor.Server");
  EXPECT_EQ(local.m_nLinkType, 1);
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
