// The exchange engine: values from sources, from writers and OPC clients into
// tags and on to their sources, the tick's refresh and the write queue.
#include "tests/engine/EngineSupport.h"

#include "core/ModbusWriteRequest.h"
#include "core/ValueConversion.h"

using engine_test::EngineFixture;

namespace {

HRESULT WriteTag(CExchangeTag& tag, const VARIANT& value) {
  HRESULT result = S_OK;
  tag.Write(value, result);
  return result;
}

double ItemNumber(const serverkit::ItemState& item) {
  CVariant number;
  EXPECT_EQ(VariantChangeType(number.get(), item.value.get(), 0, VT_R8), S_OK);
  return number->dblVal;
}

}  // namespace

class Engine : public EngineFixture {};

TEST_F(Engine, WritingTheSameValueTwiceRunsTheBlockOnce) {
  CountingBlock("OnChange");
  CExchangeTag& tag = Variable("Setpoint", MakeVariantR8(1.0), "OnChange");
  EXPECT_EQ(WriteTag(tag, MakeVariantR8(7.0)), S_OK);
  EXPECT_EQ(WriteTag(tag, MakeVariantR8(7.0)), S_OK);
  EXPECT_EQ(WriteTag(tag, MakeVariantI2(7)), S_OK) << "equal in the current type";
  EXPECT_EQ(Runs("OnChange"), 1);
  EXPECT_EQ(ItemNumber(Item(tag)), 7.0);
  EXPECT_EQ(serverkit::WriteItem(tag.m_hServerTag, MakeVariantR8(7.0)), S_OK);
  EXPECT_EQ(Runs("OnChange"), 1) << "nor through the OPC server";
  EXPECT_EQ(WriteTag(tag, MakeVariantR8(8.0)), S_OK);
  EXPECT_EQ(Runs("OnChange"), 2);
  // A tag naming no existing block runs nothing.
  tag.m_strLogicBlock = "Missing";
  EXPECT_EQ(WriteTag(tag, MakeVariantR8(9.0)), S_OK);
  EXPECT_EQ(host.runs.size(), 1u);
}

TEST_F(Engine, SourceUpdatesIgnoreQualityOnlyChangesUnlessForced) {
  CountingBlock("Opc");
  auto made = std::make_unique<CExchangeTag>("Remote");
  made->m_nSourceKind = CExchangeTag::kSourceOpc;
  made->m_strServer = "Nowhere";
  made->m_strLogicBlock = "Opc";
  CExchangeTag& tag = Add(std::move(made));
  tag.m_hClientItem = 5;  // as if its item were active (the link is not there)
  FILETIME stamp;
  stamp.dwLowDateTime = 99;

  VARIANT first = MakeVariantR4(3.5f);
  OnClientDataChange(1, 2, &tag, &first, stamp, 0xC0);
  EXPECT_EQ(tag.m_value->fltVal, 3.5f);
  EXPECT_EQ(tag.m_nQuality, 0xC0u);
  EXPECT_EQ(tag.m_ftTimestamp.dwLowDateTime, 99u);
  EXPECT_EQ(Item(tag).quality, 0xC0);
  EXPECT_EQ(Runs("Opc"), 1);

  // Same value, bad quality, new time: nothing changes at all.
  VARIANT same = MakeVariantR4(3.5f);
  stamp.dwLowDateTime = 100;
  OnClientDataChange(1, 2, &tag, &same, stamp, 0);
  EXPECT_EQ(tag.m_nQuality, 0xC0u);
  EXPECT_EQ(tag.m_ftTimestamp.dwLowDateTime, 99u);
  EXPECT_EQ(Runs("Opc"), 1);

  // After a project load the first update passes even when equal.
  tag.m_bForceUpdate = 1;
  tag.UpdateFromSource(same, stamp, 0x00D8);
  EXPECT_EQ(tag.m_nQuality, 0xD8u);
  EXPECT_EQ(tag.m_bForceUpdate, 0);
  EXPECT_EQ(Item(tag).quality, 0xD8);
  EXPECT_EQ(Runs("Opc"), 2);
  tag.UpdateFromSource(same, stamp, 0xC0);
  EXPECT_EQ(Runs("Opc"), 2);
}

TEST_F(Engine, DataChangesForDeletedOrInactiveTagsAreDropped) {
  CountingBlock("Opc");
  auto made = std::make_unique<CExchangeTag>("Gone");
  made->m_nSourceKind = CExchangeTag::kSourceOpc;
  made->m_strLogicBlock = "Opc";
  CExchangeTag& gone = Add(std::move(made));
  gone.m_hClientItem = 5;
  void* stale = &gone;
  VARIANT v = MakeVariantR8(5.0);
  app.RemoveAllTags();
  OnClientDataChange(1, 2, stale, &v, FILETIME{}, 0xC0);
  OnClientDataChange(1, 2, nullptr, &v, FILETIME{}, 0xC0);

  // A new tag, quite possibly at the freed address, that has no active item.
  CExchangeTag& other = Variable("Other", MakeVariantR8(1.0), "Opc");
  OnClientDataChange(1, 2, stale, &v, FILETIME{}, 0xC0);
  OnClientDataChange(1, 2, &other, &v, FILETIME{}, 0xC0);
  EXPECT_EQ(other.m_value->dblVal, 1.0);
  EXPECT_EQ(Runs("Opc"), 0);
}

TEST_F(Engine, LocalWriteLandsInTheLentBufferAndTheNextTickSeesNoChange) {
  CountingBlock("Local");
  CExchangeTag& tag =
      ModbusTag("Local.HR", CExchangeTag::kSourceLocal, CExchangeTag::kHoldingRegister, 20,
                CExchangeTag::kInteger, "Local");
  app.DefineLocalBlocks();
  EXPECT_NE(BlockOf(tag).m_hSlaveBlock, -1) << "lent to the slave library";
  app.RefreshAllTags();
  ASSERT_EQ(tag.m_nQuality, 0xC0u);
  ASSERT_EQ(Runs("Local"), 1);

  EXPECT_EQ(WriteTag(tag, MakeVariantR8(5.0)), S_OK);
  EXPECT_EQ(Word(tag), 5);
  EXPECT_TRUE(app.m_writeQueue.empty()) << "a local point is never a request";
  EXPECT_EQ(Runs("Local"), 2);
  app.RefreshAllTags();
  EXPECT_EQ(Runs("Local"), 2);
  EXPECT_EQ(tag.m_value->vt, VT_R8) << "the written value stays until the words differ";

  // A remote master's store into the buffer reaches the tag on the tick.
  Word(tag) = 0xFFFF;
  app.RefreshAllTags();
  EXPECT_EQ(tag.m_value->vt, VT_I2);
  EXPECT_EQ(tag.m_value->iVal, -1);
  EXPECT_EQ(tag.m_nQuality, 0xC0u);
  EXPECT_EQ(Item(tag).value->iVal, -1);
  EXPECT_EQ(Runs("Local"), 3);
}

TEST_F(Engine, RemoteInputRegisterWriteFailsButShowsTheValueUntilTheTick) {
  app.m_comm[1].hMaster = 7;
  CountingBlock("In");
  CExchangeTag& tag = ModbusTag("Comm2.IR", CExchangeTag::kSourceComm,
                                CExchangeTag::kInputRegister, 3, CExchangeTag::kInteger, "In");
  Word(tag) = 11;
  app.RefreshAllTags();
  EXPECT_EQ(tag.m_value->iVal, 11);
  EXPECT_EQ(Runs("In"), 1);

  HRESULT result = serverkit::WriteItem(tag.m_hServerTag, MakeVariantI2(99));
  EXPECT_EQ(result, static_cast<HRESULT>(0xC0040007u));
  EXPECT_EQ(tag.m_value->iVal, 99);
  EXPECT_EQ(Item(tag).value->iVal, 99) << "the item shows the written value";
  EXPECT_TRUE(app.m_writeQueue.empty());
  EXPECT_EQ(Runs("In"), 2) << "the block runs for the write as well";

  app.RefreshAllTags();
  EXPECT_EQ(tag.m_value->iVal, 11) << "the next tick brings the slave's value back";
  EXPECT_EQ(Item(tag).value->iVal, 11);
  EXPECT_EQ(Runs("In"), 3);
}

TEST_F(Engine, TextWrittenToAnIntegerPointIsReportedAndKeptUntilTheTick) {
  app.m_comm[1].hMaster = 7;
  CExchangeTag& tag = ModbusTag("Comm2.HR", CExchangeTag::kSourceComm,
                                CExchangeTag::kHoldingRegister, 3);
  app.RefreshAllTags();
  CVariant text = Text("abc");
  EXPECT_EQ(serverkit::WriteItem(tag.m_hServerTag, *text), static_cast<HRESULT>(0xC0040007u));
  EXPECT_TRUE(app.m_writeQueue.empty()) << "nothing is sent";
  EXPECT_EQ(BstrToUtf8(Item(tag).value->bstrVal), "abc");
  app.RefreshAllTags();
  EXPECT_EQ(Item(tag).value->vt, VT_I2);
}

TEST_F(Engine, AClosedMasterConnectionTurnsItsTagsBadOnEveryTick) {
  CountingBlock("Bad");
  CExchangeTag& tag = ModbusTag("Comm2.HR", CExchangeTag::kSourceComm,
                                CExchangeTag::kHoldingRegister, 3, CExchangeTag::kInteger, "Bad");
  // Before any reply the block's zeros are not plant values.
  app.RefreshAllTags();
  EXPECT_EQ(tag.m_nQuality, 0u);
  EXPECT_EQ(Runs("Bad"), 1);

  // A poll reply fills the block.
  Word(tag) = 4;
  BlockOf(tag).m_bPolled = true;
  app.RefreshAllTags();
  ASSERT_EQ(tag.m_nQuality, 0xC0u);
  ASSERT_EQ(Runs("Bad"), 2);

  // The poll chain marks the blocks of a location without a connection.
  BlockOf(tag).m_nStatus = CModbusDataBlock::kStatusNoConnection;
  for (int tick = 1; tick <= 3; ++tick) {
    app.RefreshAllTags();
    EXPECT_EQ(tag.m_nQuality, 0u);
    EXPECT_EQ(Item(tag).quality, 0);
    EXPECT_EQ(Runs("Bad"), 2 + tick);
  }
  EXPECT_EQ(tag.m_value->iVal, 4) << "the last polled words stay";

  // A good poll again: one more change (the quality), then quiet.
  BlockOf(tag).m_nStatus = 0;
  app.RefreshAllTags();
  app.RefreshAllTags();
  EXPECT_EQ(tag.m_nQuality, 0xC0u);
  EXPECT_EQ(Runs("Bad"), 6);

  // The block grows for a new point: its words wait for the next reply again.
  ASSERT_TRUE(app.AddDataBlock("COMM2", 1, CExchangeTag::kHoldingRegister, 20, 1));
  app.RefreshAllTags();
  EXPECT_EQ(tag.m_nQuality, 0u);
}

TEST_F(Engine, APointNoBlockHoldsKeepsItsValueAndTurnsBad) {
  CExchangeTag& tag = ModbusTag("Lost", CExchangeTag::kSourceTcp, CExchangeTag::kHoldingRegister, 9);
  tag.m_value = MakeVariantI2(123);
  tag.m_nQuality = 0xC0;
  app.m_dataBlocks.clear();
  app.DataBlocksChanged();
  app.RefreshAllTags();
  EXPECT_EQ(tag.m_value->iVal, 123);
  EXPECT_EQ(tag.m_nQuality, 0u);
  EXPECT_EQ(WriteTag(tag, MakeVariantI2(1)), static_cast<HRESULT>(0xC0040007u));
}

TEST_F(Engine, TwoWritesToOneRemoteRegisterQueueOneRequestWithTheLastValue) {
  app.m_comm[1].hMaster = 7;
  CExchangeTag& reg = ModbusTag("Comm2.HR", CExchangeTag::kSourceComm,
                                CExchangeTag::kHoldingRegister, 3);
  CExchangeTag& other = ModbusTag("Comm2.HR4", CExchangeTag::kSourceComm,
                                  CExchangeTag::kHoldingRegister, 4);
  CExchangeTag& coil = ModbusTag("Comm2.Coil", CExchangeTag::kSourceComm,
                                 CExchangeTag::kCoilStatus, 3);
  EXPECT_EQ(WriteTag(reg, MakeVariantI2(1)), S_OK);
  EXPECT_EQ(WriteTag(reg, MakeVariantI2(2)), S_OK);
  ASSERT_EQ(app.m_writeQueue.size(), 1u);
  const CModbusWriteRequest& request = *app.m_writeQueue[0];
  EXPECT_EQ(request.m_hMaster, 7);
  EXPECT_EQ(request.m_nSlaveId, 1);
  EXPECT_EQ(request.m_nFunction, 16);
  EXPECT_EQ(request.m_nAddress, 3);
  EXPECT_EQ(request.m_nCount, 1);
  EXPECT_EQ(request.m_data[0], 2);

  EXPECT_EQ(WriteTag(other, MakeVariantI2(9)), S_OK);
  EXPECT_EQ(WriteTag(coil, MakeVariantBool(true)), S_OK);
  ASSERT_EQ(app.m_writeQueue.size(), 3u) << "other points queue requests of their own";
  EXPECT_EQ(app.m_writeQueue[2]->m_nFunction, 15);
  EXPECT_EQ(app.m_writeQueue[2]->m_data[0], 1);

  // A Long is two one-word requests, A then B.
  CExchangeTag& wide = ModbusTag("Comm2.Long", CExchangeTag::kSourceComm,
                                 CExchangeTag::kHoldingRegister, 10, CExchangeTag::kLong);
  EXPECT_EQ(WriteTag(wide, MakeVariantI4(65536)), S_OK);
  ASSERT_EQ(app.m_writeQueue.size(), 5u);
  EXPECT_EQ(app.m_writeQueue[3]->m_nAddress, 10);
  EXPECT_EQ(app.m_writeQueue[3]->m_data[0], 0);
  EXPECT_EQ(app.m_writeQueue[4]->m_nAddress, 11);
  EXPECT_EQ(app.m_writeQueue[4]->m_data[0], 1);
}

TEST_F(Engine, RemoteWritesNeedAnOpenMasterConnection) {
  CExchangeTag& tag = ModbusTag("Tcp.HR", CExchangeTag::kSourceTcp,
                                CExchangeTag::kHoldingRegister, 3);
  EXPECT_EQ(WriteTag(tag, MakeVariantI2(5)), static_cast<HRESULT>(0xC0040007u));
  app.m_tcpMasters[0].strHost = "127.0.0.1";  // closed slot that kept its host
  app.m_tcpMasters[4].strHost = "127.0.0.1";
  app.m_tcpMasters[4].hMaster = 42;
  EXPECT_EQ(WriteTag(tag, MakeVariantI2(2)), S_OK);
  ASSERT_EQ(app.m_writeQueue.size(), 1u);
  EXPECT_EQ(app.m_writeQueue[0]->m_hMaster, 42);
}

TEST_F(Engine, MasterHandlesAndConnectionNames) {
  app.m_comm[2].hMaster = 30;
  app.m_tcpMasters[3].strHost = "plc-a";
  app.m_tcpMasters[3].hMaster = 33;
  EXPECT_EQ(app.GetMasterHandle("LOCAL"), -1);
  EXPECT_EQ(app.GetMasterHandle("COMM3"), 30);
  EXPECT_EQ(app.GetMasterHandle("COMM1"), -1);
  EXPECT_EQ(app.GetMasterHandle("plc-a"), 33);
  EXPECT_EQ(app.GetMasterHandle("PLC-A"), -1);
  EXPECT_EQ(app.GetMasterHandle(""), -1) << "free slots have empty hosts";
  EXPECT_EQ(app.GetConnectionName(30), "COMM3");
  EXPECT_EQ(app.GetConnectionName(33), "plc-a");
  EXPECT_EQ(app.GetConnectionName(-1), "UNKNOWN") << "-1 is no connection, not a free port";
  EXPECT_EQ(app.GetConnectionName(5), "UNKNOWN");

  // What a request cannot carry is refused.
  const uint16_t words[101] = {};
  EXPECT_FALSE(app.QueueWrite("COMM3", 1, CExchangeTag::kInputRegister, 1, words, 1));
  EXPECT_FALSE(app.QueueWrite("COMM1", 1, CExchangeTag::kHoldingRegister, 1, words, 1));
  EXPECT_FALSE(app.QueueWrite("COMM3", 1, CExchangeTag::kHoldingRegister, 1, words, 101));
  EXPECT_TRUE(app.QueueWrite("COMM3", 1, CExchangeTag::kHoldingRegister, 1, words, 100));
  EXPECT_EQ(app.m_writeQueue.size(), 1u);
}

TEST_F(Engine, ClientWritesToDeletedTagsGetInvalidHandle) {
  CExchangeTag& tag = Variable("Doomed", MakeVariantR8(1.0));
  const int32_t handle = tag.m_hServerTag;
  EXPECT_EQ(serverkit::WriteItem(handle, MakeVariantR8(2.0)), S_OK);
  EXPECT_EQ(tag.m_value->dblVal, 2.0);
  app.RemoveAllTags();
  EXPECT_EQ(serverkit::WriteItem(handle, MakeVariantR8(3.0)), OPC_E_INVALIDHANDLE);
  // Straight through the callback too, as a toolkit that still had the item would.
  HRESULT result = S_OK;
  VARIANT v = MakeVariantR8(3.0);
  OnServerTagWrite(handle, &v, &result);
  EXPECT_EQ(result, static_cast<HRESULT>(0xC0040001u));
}

TEST_F(Engine, OpcPointWritesWithoutAClientItemAreNotDelivered) {
  auto made = std::make_unique<CExchangeTag>("Remote");
  made->m_nSourceKind = CExchangeTag::kSourceOpc;
  made->m_strServer = "Nowhere";
  CExchangeTag& tag = Add(std::move(made));
  ASSERT_EQ(tag.m_hClientItem, -1);
  EXPECT_EQ(WriteTag(tag, MakeVariantR8(2.0)), static_cast<HRESULT>(0xC0040007u));
  EXPECT_EQ(tag.m_value->dblVal, 2.0);
  // Bound once, but its link is gone.
  tag.m_hClientItem = 3;
  EXPECT_EQ(WriteTag(tag, MakeVariantR8(3.0)), static_cast<HRESULT>(0xC0040007u));
  tag.m_hClientItem = -1;
}

