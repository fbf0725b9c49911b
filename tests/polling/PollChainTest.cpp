// The request chain against a scripted master library: one request in flight
// for the whole system, writes before polls, blocks in list order.
#include <gtest/gtest.h>

#include "ScriptedMasterLink.h"
#include "core/ModbusDataBlock.h"
#include "core/ModbusWriteRequest.h"
#include "core/PlexmarApp.h"

namespace {

constexpr uint8_t kCoil = 1, kInputStatus = 2, kHolding = 3, kInputRegister = 4;

class PollChain : public ::testing::Test {
 protected:
  void SetUp() override {
    m_app.m_comm[0].hMaster = 11;  // COMM1 open as master; COMM2 stays closed
    m_app.m_tcpMasters[0].hMaster = 21;
    m_app.m_tcpMasters[0].strHost = "10.0.0.5";
  }
  CModbusDataBlock& Block(size_t i) { return *m_app.m_dataBlocks.at(i); }
  // Delivers the reply message of the request in flight.
  void Reply() { m_poller.OnModbusResponse(); }
  std::vector<uint16_t> Words(size_t i) {
    const auto& b = Block(i);
    return std::vector<uint16_t>(b.m_pData.get(), b.m_pData.get() + b.m_nCount);
  }

  CPlexmarApp m_app;
  CScriptedMasterLink m_link;
  int32_t m_hOutstanding = -1;
  CModbusPoller m_poller{m_app, m_link, m_hOutstanding};
};

TEST_F(PollChain, OneCycleVisitsOpenClosedLocalAndTcpBlocksOneRequestAtATime) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 10));
  ASSERT_TRUE(m_app.AddDataBlock("COMM2", 1, kHolding, 1, 10));
  ASSERT_TRUE(m_app.AddDataBlock("LOCAL", 1, kHolding, 1, 10));
  ASSERT_TRUE(m_app.AddDataBlock("COMM2", 2, kCoil, 5, 3));
  ASSERT_TRUE(m_app.AddDataBlock("10.0.0.5", 9, kInputRegister, 40, 2));

  m_poller.SendNextRequest();
  EXPECT_EQ(m_hOutstanding, 11);
  ASSERT_EQ(m_link.Calls('P').size(), 1u);
  EXPECT_EQ(Block(1).m_nStatus, 0) << "later blocks wait for the reply";

  Reply();
  EXPECT_EQ(Words(0)[0], 1001);
  EXPECT_EQ(Words(0)[9], 1010);
  EXPECT_EQ(Block(1).m_nStatus, 256);
  EXPECT_EQ(Block(3).m_nStatus, 256);
  EXPECT_EQ(Block(2).m_nStatus, 0);
  EXPECT_EQ(m_hOutstanding, 21);

  Reply();
  EXPECT_EQ(Words(4), (std::vector<uint16_t>{1040, 1041}));
  EXPECT_EQ(m_hOutstanding, -1);

  const auto polls = m_link.Calls('P');
  ASSERT_EQ(polls.size(), 2u);
  EXPECT_EQ(polls[0].handle, 11);
  EXPECT_EQ(polls[1].handle, 21);
  EXPECT_EQ(polls[1].header.nSlaveId, 9);
  EXPECT_EQ(polls[1].header.nFunction, kInputRegister);
  EXPECT_EQ(polls[1].header.nAddress, 40);
  EXPECT_EQ(polls[1].header.nCount, 2);
  EXPECT_EQ(m_link.m_maxInFlight, 1);
}

TEST_F(PollChain, QueuedWritesGoOneByOneBeforeTheNextCycle) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 10));
  const uint16_t a = 5, b = 6, c = 1;
  ASSERT_TRUE(m_app.QueueWrite("COMM1", 1, kHolding, 3, &a, 1));
  ASSERT_TRUE(m_app.QueueWrite("10.0.0.5", 4, kHolding, 7, &b, 1));
  ASSERT_TRUE(m_app.QueueWrite("COMM1", 1, kCoil, 2, &c, 1));

  m_poller.SendNextRequest();
  EXPECT_EQ(m_hOutstanding, 11);
  Reply();
  EXPECT_EQ(m_hOutstanding, 21);
  Reply();
  EXPECT_EQ(m_hOutstanding, 11);
  EXPECT_TRUE(m_link.Calls('P').empty());
  Reply();
  EXPECT_EQ(m_link.Calls('P').size(), 1u) << "the poll cycle follows the last write reply";
  EXPECT_TRUE(m_app.m_writeQueue.empty());

  const auto writes = m_link.Calls('W');
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(writes[0].header.nFunction, 16);
  EXPECT_EQ(writes[0].header.nAddress, 3);
  EXPECT_EQ(writes[0].data, std::vector<uint16_t>{5});
  EXPECT_EQ(writes[1].handle, 21);
  EXPECT_EQ(writes[1].header.nSlaveId, 4);
  EXPECT_EQ(writes[2].header.nFunction, 15);
  EXPECT_EQ(m_link.m_maxInFlight, 1);
}

TEST_F(PollChain, TwoWritesToOneRegisterSendTheSecondValueOnce) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 10));
  const uint16_t first = 111, second = 222;
  ASSERT_TRUE(m_app.WritePoint("COMM1", 1, kHolding, 4, &first, 1));
  ASSERT_TRUE(m_app.WritePoint("COMM1", 1, kHolding, 4, &second, 1));
  m_poller.SendNextRequest();
  Reply();
  const auto writes = m_link.Calls('W');
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].data, std::vector<uint16_t>{222});
}

TEST_F(PollChain, LocalPointsAreNeverRequested) {
  ASSERT_TRUE(m_app.AddDataBlock("LOCAL", 1, kHolding, 1, 10));
  const uint16_t value = 5;
  ASSERT_TRUE(m_app.WritePoint("LOCAL", 1, kHolding, 2, &value, 1));
  EXPECT_TRUE(m_app.m_writeQueue.empty());
  m_poller.SendNextRequest();
  EXPECT_TRUE(m_link.m_calls.empty());
  EXPECT_EQ(m_hOutstanding, -1);
  EXPECT_EQ(Block(0).m_nStatus, 0);
}

TEST_F(PollChain, SilentSlaveFailureBecomesTheStatusAndTheCycleGoesOn) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 2));
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 2, kHolding, 1, 2));
  m_poller.SendNextRequest();
  Reply();
  EXPECT_EQ(Words(0), (std::vector<uint16_t>{1001, 1002}));

  // Next cycle: slave 1 has gone quiet; its block keeps the last values.
  m_link.m_answer = [](const ModbusRequestHeader& h, uint16_t* words) {
    if (h.nSlaveId == 1) {
      words[0] = 0xBAD;
      return MLERR_TIMEOUT;
    }
    words[0] = 7;
    words[1] = 8;
    return 0;
  };
  ASSERT_EQ(m_hOutstanding, 11);
  Reply();  // slave 2 of the first cycle
  ASSERT_EQ(m_hOutstanding, -1);
  m_poller.SendNextRequest();
  Reply();
  EXPECT_EQ(Block(0).m_nStatus, MLERR_TIMEOUT);
  EXPECT_EQ(Words(0), (std::vector<uint16_t>{1001, 1002}));
  EXPECT_EQ(m_hOutstanding, 11) << "the chain moved on to slave 2";
  Reply();
  EXPECT_EQ(Block(1).m_nStatus, 0);
  EXPECT_EQ(Words(1), (std::vector<uint16_t>{7, 8}));
  EXPECT_EQ(m_hOutstanding, -1);
}

TEST_F(PollChain, RefusedPollsAndWritesAreSkippedAtOnce) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 2));
  ASSERT_TRUE(m_app.AddDataBlock("10.0.0.5", 1, kInputStatus, 1, 2));
  const uint16_t v = 1;
  ASSERT_TRUE(m_app.QueueWrite("COMM1", 1, kHolding, 1, &v, 1));
  ASSERT_TRUE(m_app.QueueWrite("COMM1", 1, kHolding, 2, &v, 1));
  m_link.m_refuse[11] = MLERR_BUSY;

  m_poller.SendNextRequest();
  EXPECT_EQ(m_link.Calls('W').size(), 2u);
  EXPECT_TRUE(m_app.m_writeQueue.empty());
  EXPECT_EQ(Block(0).m_nStatus, MLERR_BUSY);
  EXPECT_EQ(m_hOutstanding, 21);
  Reply();
  EXPECT_EQ(Words(1), (std::vector<uint16_t>{1001, 1002}));
  EXPECT_EQ(m_hOutstanding, -1);

  // Every block refused: nothing outstanding, the next tick tries again.
  m_link.m_refuse[21] = MLERR_NOT_CONNECTED;
  m_poller.SendNextRequest();
  EXPECT_EQ(m_hOutstanding, -1);
  EXPECT_EQ(Block(1).m_nStatus, MLERR_NOT_CONNECTED);
}

TEST_F(PollChain, FailedWriteReplyIsNotReportedAndTheChainGoesOn) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 2));
  const uint16_t v = 1;
  ASSERT_TRUE(m_app.QueueWrite("COMM1", 1, kHolding, 1, &v, 1));
  m_link.m_answer = [](const ModbusRequestHeader&, uint16_t*) { return MLERR_EXCEPTION(2); };
  m_poller.SendNextRequest();
  Reply();
  EXPECT_EQ(m_link.Calls('P').size(), 1u);
  EXPECT_EQ(Block(0).m_nStatus, 0);
}

TEST_F(PollChain, AWriteQueuedDuringACycleWaitsForTheCycleToEnd) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 2));
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 2, kHolding, 1, 2));
  m_poller.SendNextRequest();
  const uint16_t v = 9;
  ASSERT_TRUE(m_app.QueueWrite("COMM1", 1, kHolding, 1, &v, 1));
  Reply();
  EXPECT_EQ(m_link.Calls('P').size(), 2u);
  EXPECT_TRUE(m_link.Calls('W').empty());
  Reply();
  EXPECT_EQ(m_hOutstanding, -1);
  EXPECT_TRUE(m_link.Calls('W').empty());
  m_poller.SendNextRequest();  // the next tick
  EXPECT_EQ(m_link.Calls('W').size(), 1u);
}

TEST_F(PollChain, AReplyThatMatchesNoBlockEndsTheCycle) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 2));
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 2, kHolding, 1, 2));
  m_poller.SendNextRequest();
  m_link.m_overrideHeader = ModbusRequestHeader{1, kHolding, 50, 2};
  Reply();
  EXPECT_EQ(m_hOutstanding, -1);
  EXPECT_EQ(m_link.Calls('P').size(), 1u);
  EXPECT_EQ(Words(0), (std::vector<uint16_t>{0, 0}));
}

TEST_F(PollChain, ReplyLandsOnItsOwnPointsWhenTheBlockGrewMeanwhile) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 10, 3));
  m_poller.SendNextRequest();
  // The tag list adds a point below the block while the poll is out.
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 5, 1));
  ASSERT_EQ(Block(0).m_nStartAddress, 5);
  ASSERT_EQ(Block(0).m_nCount, 8);
  Reply();
  EXPECT_EQ(Block(0).m_nStatus, 0);
  EXPECT_EQ(Words(0), (std::vector<uint16_t>{0, 0, 0, 0, 0, 1010, 1011, 1012}));
}

TEST_F(PollChain, ReplyForAConnectionClosedMeanwhileEndsTheCycle) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 2));
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 2, kHolding, 1, 2));
  m_poller.SendNextRequest();
  m_app.m_comm[0].hMaster = -1;  // closed while the request was out
  m_link.m_answer = [](const ModbusRequestHeader&, uint16_t*) { return MLERR_CONNECTION_LOST; };
  Reply();
  EXPECT_EQ(m_link.Calls('R').at(0).handle, 11) << "the reply is still taken from the old handle";
  EXPECT_EQ(m_hOutstanding, -1);
  m_poller.SendNextRequest();
  EXPECT_EQ(Block(0).m_nStatus, 256);
  EXPECT_EQ(Block(1).m_nStatus, 256);
}

TEST_F(PollChain, StrayReplyMessageWhileIdleStartsNothing) {
  ASSERT_TRUE(m_app.AddDataBlock("COMM1", 1, kHolding, 1, 2));
  Reply();
  EXPECT_TRUE(m_link.m_calls.empty());
  EXPECT_EQ(m_hOutstanding, -1);
}

}  // namespace
