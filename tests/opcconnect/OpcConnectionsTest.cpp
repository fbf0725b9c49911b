// The OPC connect step and server list against a scripted client toolkit:
// enumeration order and its fallback, the three failure messages, links with
// their own groups, and an "OPC Point" tag carried through a link made by the
// connect step (binding, data changes through the installed callback, writes
// and tear-down).
#include <gtest/gtest.h>

#include "FakeClientKit.h"
#include "connections/OpcConnections.h"
#include "connections/OpcServerLink.h"
#include "core/ExchangeTag.h"
#include "core/PlexmarApp.h"
#include "tests/modbusconnect/ConnectTestSupport.h"

namespace {

class OpcConnections : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeclient::Reset();
    app.SetHostUi(&host);
  }
  void TearDown() override { app.SetHostUi(nullptr); }

  CExchangeTag& AddOpcTag(const std::string& name, const std::string& machine, const std::string& server,
                          const std::string& itemId) {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_nSourceKind = CExchangeTag::kSourceOpc;
    tag->m_strMachine = machine;
    tag->m_strServer = server;
    tag->m_strItemId = itemId;
    CExchangeTag& ref = *tag;
    app.AddTag(std::move(tag));
    return ref;
  }

  CPlexmarApp app;
  CRecordingHost host;
};

}  // namespace

TEST_F(OpcConnections, EnumerationFallsBackToKindZeroOnlyWhenKindOneFindsNone) {
  auto& kit = fakeclient::Kit();
  kit.kind1["plc7"] = {"Beta", "Alpha"};
  kit.kind0["plc7"] = {"Never"};
  EXPECT_EQ(opcconn::EnumerateServers("plc7"), (std::vector<std::string>{"Beta", "Alpha"}));
  EXPECT_EQ(kit.enumerated, std::vector<std::string>{"1 plc7"});

  kit.enumerated.clear();
  kit.kind0["lonely"] = {"Only.Endpoint"};
  EXPECT_EQ(opcconn::EnumerateServers("lonely"), std::vector<std::string>{"Only.Endpoint"});
  EXPECT_EQ(kit.enumerated, (std::vector<std::string>{"1 lonely", "0 lonely"}));

  kit.enumerated.clear();
  EXPECT_TRUE(opcconn::EnumerateServers("").empty());
  EXPECT_EQ(kit.enumerated, (std::vector<std::string>{"1 ", "0 "}));
}

TEST_F(OpcConnections, ConnectStepMakesOneLinkPerConnectEachWithItsOwnGroup) {
  auto& kit = fakeclient::Kit();
  kit.reachable = {"|Plexmar", "scada2|Plexmar"};
  COpcServerLink* first = opcconn::ConnectServerLink(app, "", "Plexmar");
  COpcServerLink* second = opcconn::ConnectServerLink(app, "", "Plexmar");
  COpcServerLink* remote = opcconn::ConnectServerLink(app, "scada2", "Plexmar");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(remote, nullptr);
  ASSERT_EQ(app.m_serverLinks.size(), 3u);
  EXPECT_TRUE(host.m_messages.empty());
  EXPECT_EQ(first->m_bConnected, 1);
  EXPECT_EQ(first->m_nLinkType, 1);
  EXPECT_NE(first->m_hServer, second->m_hServer);
  EXPECT_NE(first->m_hGroup, second->m_hGroup);
  EXPECT_EQ(kit.groups[first->m_hGroup], first->m_hServer);
  EXPECT_EQ(kit.groups[second->m_hGroup], second->m_hServer);
  EXPECT_EQ(first->GetDescription(), "Local Machine--Plexmar");
  EXPECT_EQ(remote->GetDescription(), "scada2--Plexmar");
  // Both callbacks are installed on each server.
  for (const auto& link : app.m_serverLinks) {
    EXPECT_EQ(kit.dataCallbacks[link->m_hServer], &OnClientDataChange);
    EXPECT_EQ(kit.shutdownCallbacks[link->m_hServer], &opcconn::OnClientShutdown);
  }
  // The project lookup finds the first of two links to one server.
  EXPECT_EQ(app.FindServerLink("", "Plexmar"), first);
}

TEST_F(OpcConnections, EachFailureShowsItsMessageAndLeavesNoLink) {
  auto& kit = fakeclient::Kit();
  EXPECT_EQ(opcconn::ConnectServerLink(app, "nowhere", "X"), nullptr);
  EXPECT_EQ(host.m_messages, std::vector<std::string>{"Connection Failed"});
  EXPECT_TRUE(kit.disconnected.empty()) << "nothing was connected";

  // An empty list's OK connects with an empty name, which fails the same way.
  host.m_messages.clear();
  EXPECT_EQ(opcconn::ConnectServerLink(app, "", ""), nullptr);
  EXPECT_EQ(host.m_messages, std::vector<std::string>{"Connection Failed"});

  host.m_messages.clear();
  kit.reachable = {"|S"};
  kit.groupFails = true;
  EXPECT_EQ(opcconn::ConnectServerLink(app, "", "S"), nullptr);
  EXPECT_EQ(host.m_messages, std::vector<std::string>{"Connection Failed to Create Group"});
  EXPECT_EQ(kit.disconnected, std::vector<int32_t>{10}) << "the server is let go again";
  EXPECT_TRUE(app.m_serverLinks.empty());
  EXPECT_EQ(std::string(opcconn::kOutOfMemoryText), "Connection Failed (Out of Memory)");
}

TEST_F(OpcConnections, NamesAreCutTo99Characters) {
  auto& kit = fakeclient::Kit();
  const std::string longName(150, 'm');
  const std::string cut(99, 'm');
  kit.reachable = {cut + "|" + cut};
  COpcServerLink* link = opcconn::ConnectServerLink(app, longName, longName);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(kit.connects.back(), cut + "|" + cut);
  EXPECT_EQ(link->m_strMachine, cut);
  EXPECT_EQ(link->m_strServer, cut);
}

TEST_F(OpcConnections, AnOpcPointFollowsItsItemThroughTheLinkAndIsReleased) {
  auto& kit = fakeclient::Kit();
  kit.reachable = {"plc7|Line"};
  COpcServerLink* link = opcconn::ConnectServerLink(app, "plc7", "Line");
  ASSERT_NE(link, nullptr);
  CExchangeTag& tag = AddOpcTag("Flow", "plc7", "Line", "ns=2;s=Line1.Flow");
  ASSERT_NE(tag.m_hClientItem, -1);
  const fakeclient::Item& item = kit.items[tag.m_hClientItem];
  EXPECT_EQ(item.server, link->m_hServer);
  EXPECT_EQ(item.group, link->m_hGroup);
  EXPECT_EQ(item.id, "ns=2;s=Line1.Flow");
  EXPECT_EQ(item.reference, &tag);
  EXPECT_EQ(tag.m_value->dblVal, 12.5) << "read at once";
  EXPECT_EQ(tag.m_nQuality, 0xC0u);

  // A change as the toolkit delivers it, through the callback the link set.
  VARIANT changed = MakeVariantR8(13.0);
  kit.dataCallbacks[link->m_hServer](link->m_hServer, link->m_hGroup, item.reference, &changed,
                                     FILETIME{5, 6}, 0xC0);
  EXPECT_EQ(tag.m_value->dblVal, 13.0);
  EXPECT_EQ(tag.m_ftTimestamp.dwLowDateTime, 5u);
  // A lost server reports an empty value with bad quality: it lands, also on
  // a tag that holds 0, which an empty value would otherwise equal.
  VARIANT lost;
  VariantInit(&lost);
  kit.dataCallbacks[link->m_hServer](link->m_hServer, link->m_hGroup, item.reference, &lost, FILETIME{}, 0);
  EXPECT_EQ(tag.m_value->vt, VT_EMPTY);
  EXPECT_EQ(tag.m_nQuality, 0u);
  VARIANT zero = MakeVariantR8(0.0);
  kit.dataCallbacks[link->m_hServer](link->m_hServer, link->m_hGroup, item.reference, &zero, FILETIME{}, 0xC0);
  EXPECT_EQ(tag.m_nQuality, 0xC0u);
  kit.dataCallbacks[link->m_hServer](link->m_hServer, link->m_hGroup, item.reference, &lost, FILETIME{}, 0);
  EXPECT_EQ(tag.m_nQuality, 0u);
  kit.dataCallbacks[link->m_hServer](link->m_hServer, link->m_hGroup, item.reference, &zero, FILETIME{}, 0xC0);
  EXPECT_EQ(tag.m_nQuality, 0xC0u) << "values flow again after the server is back";

  // A write goes to the item through ClientWriteItem.
  HRESULT result = S_OK;
  tag.Write(MakeVariantR8(20.5), result);
  EXPECT_EQ(result, S_OK);
  ASSERT_EQ(kit.writes.size(), 1u);
  EXPECT_EQ(kit.writes[0], std::make_pair(tag.m_hClientItem, std::string("20.5")));

  // Deleting the tag removes its item.
  const int32_t handle = tag.m_hClientItem;
  app.RemoveAllTags();
  EXPECT_TRUE(kit.items[handle].removed);
}

TEST_F(OpcConnections, TakingLinksDownDisconnectsEachAndUnbindsTheirTags) {
  auto& kit = fakeclient::Kit();
  kit.reachable = {"|A", "|B"};
  COpcServerLink* a = opcconn::ConnectServerLink(app, "", "A");
  ASSERT_NE(opcconn::ConnectServerLink(app, "", "B"), nullptr);
  const int32_t serverA = a->m_hServer;
  CExchangeTag& tag = AddOpcTag("T", "", "A", "i=2258");
  const int32_t handle = tag.m_hClientItem;
  ASSERT_NE(handle, -1);
  app.m_serverLinks.back()->m_bConnected = 0;  // a link that never came up is not disconnected
  opcconn::DisconnectServerLinks(app);
  EXPECT_TRUE(app.m_serverLinks.empty());
  EXPECT_EQ(kit.disconnected, std::vector<int32_t>{serverA});
  EXPECT_EQ(tag.m_hClientItem, -1);
  HRESULT result = S_OK;
  tag.Write(MakeVariantR8(1.0), result);
  EXPECT_EQ(result, CExchangeTag::kWriteNotDelivered);
  EXPECT_TRUE(kit.writes.empty());
  app.RemoveAllTags();
  EXPECT_FALSE(kit.items[handle].removed) << "the item went with its server";
}
