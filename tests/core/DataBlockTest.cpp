// Grouping Modbus points into data blocks: the merge rules, the point lookup
// the tick uses, and lending "LOCAL" buffers to the slave library.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "core/ExchangeTag.h"
#include "core/ModbusDataBlock.h"
#include "core/PlexmarApp.h"
#include "tests/core/ToolkitDoubles.h"

namespace {

class DataBlocks : public ::testing::Test {
 protected:
  void SetUp() override { doubles::Reset(); }

  CModbusDataBlock& Block(size_t i) { return *app.m_dataBlocks.at(i); }
  CPlexmarApp app;
};

}  // namespace

TEST_F(DataBlocks, PointsWithinHundredShareABlock) {
  EXPECT_TRUE(app.AddDataBlock("COMM1", 1, 3, 1, 1));
  EXPECT_TRUE(app.AddDataBlock("COMM1", 1, 3, 60, 1));
  ASSERT_EQ(app.m_dataBlocks.size(), 1u);
  EXPECT_EQ(Block(0).m_nStartAddress, 1);
  EXPECT_EQ(Block(0).m_nCount, 60);
  EXPECT_TRUE(app.AddDataBlock("COMM1", 1, 3, 101, 1));
  ASSERT_EQ(app.m_dataBlocks.size(), 2u) << "1..101 would be 101 points";
  EXPECT_EQ(Block(1).m_nStartAddress, 101);
  EXPECT_EQ(Block(0).m_nCount, 60) << "a refused merge leaves the block alone";

  EXPECT_TRUE(app.AddDataBlock("COMM1", 1, 3, 100, 1));
  EXPECT_EQ(Block(0).m_nCount, 100) << "exactly 100 points still fit";
  EXPECT_TRUE(app.AddDataBlock("COMM1", 1, 3, 30, 2));
  EXPECT_EQ(app.m_dataBlocks.size(), 2u) << "already contained";
}

TEST_F(DataBlocks, LongAfterIntegerGrowsTheBlockByOne) {
  app.AddDataBlock("plc", 1, 3, 10, 1);
  app.AddDataBlock("plc", 1, 3, 10, 2);
  ASSERT_EQ(app.m_dataBlocks.size(), 1u);
  EXPECT_EQ(Block(0).m_nStartAddress, 10);
  EXPECT_EQ(Block(0).m_nCount, 2);
}

TEST_F(DataBlocks, DifferentLocationSlaveOrTypeNeverShare) {
  app.AddDataBlock("COMM1", 1, 1, 5, 1);   // coil
  app.AddDataBlock("COMM1", 1, 3, 5, 1);   // holding register, same address
  app.AddDataBlock("COMM1", 2, 3, 5, 1);   // other slave
  app.AddDataBlock("COMM2", 1, 3, 5, 1);   // other port
  app.AddDataBlock("comm1", 1, 3, 5, 1);   // locations compare exactly
  EXPECT_EQ(app.m_dataBlocks.size(), 5u);
  EXPECT_EQ(app.FindDataBlock("COMM1", 1, 1, 5, 1), &Block(0));
  EXPECT_EQ(app.FindDataBlock("COMM1", 1, 3, 5, 1), &Block(1));
}

TEST_F(DataBlocks, GrowingKeepsValuesAtTheirPointsAndZeroesNewOnes) {
  app.AddDataBlock("LOCAL", 1, 3, 50, 3);
  for (uint16_t i = 0; i < 3; ++i) Block(0).m_pData[i] = static_cast<uint16_t>(500 + i);
  app.AddDataBlock("LOCAL", 1, 3, 40, 1);  // grows downwards
  app.AddDataBlock("LOCAL", 1, 3, 60, 1);  // and upwards, leaving gaps
  ASSERT_EQ(app.m_dataBlocks.size(), 1u);
  const CModbusDataBlock& b = Block(0);
  EXPECT_EQ(b.m_nStartAddress, 40);
  EXPECT_EQ(b.m_nCount, 21);
  for (int i = 0; i < 21; ++i) {
    const int point = 40 + i;
    const uint16_t expected = point >= 50 && point <= 52 ? static_cast<uint16_t>(500 + point - 50) : 0;
    EXPECT_EQ(b.m_pData[i], expected) << "point " << point;
  }
}

TEST_F(DataBlocks, RangesThatCannotBeBlocksAreRefused) {
  EXPECT_FALSE(app.AddDataBlock("COMM1", 1, 3, 10, 0));
  EXPECT_FALSE(app.AddDataBlock("COMM1", 1, 3, 10, 101));
  EXPECT_FALSE(app.AddDataBlock("COMM1", 1, 3, 0xFFFF, 2)) << "no point after 65535";
  EXPECT_TRUE(app.AddDataBlock("COMM1", 1, 3, 0xFFFF, 1));
  EXPECT_EQ(Block(0).EndAddress(), 0xFFFF);
  EXPECT_TRUE(app.AddDataBlock("COMM1", 1, 3, 0xFFFE, 1));
  EXPECT_EQ(app.m_dataBlocks.size(), 1u);
}

TEST_F(DataBlocks, FindDataBlockNeedsTheWholeRange) {
  app.AddDataBlock("plc", 1, 3, 1, 1);
  app.AddDataBlock("plc", 1, 3, 101, 1);
  app.AddDataBlock("plc", 1, 3, 60, 42);  // 1..101 is too long; 60..101 fits the second
  app.AddDataBlock("plc", 1, 3, 2, 59);   // the first grows to 1..60
  ASSERT_EQ(app.m_dataBlocks.size(), 2u);
  EXPECT_EQ(Block(1).m_nStartAddress, 60) << "the second block grew down to 60";
  EXPECT_EQ(Block(0).m_nCount, 60);
  EXPECT_EQ(app.FindDataBlock("plc", 1, 3, 60, 1), &Block(0)) << "first in list order";
  EXPECT_EQ(app.FindDataBlock("plc", 1, 3, 60, 2), &Block(1));
  EXPECT_EQ(app.FindDataBlock("plc", 1, 3, 101, 1), &Block(1));
  EXPECT_EQ(app.FindDataBlock("plc", 1, 3, 1, 70), nullptr) << "no block holds 1..70";
  EXPECT_EQ(app.FindDataBlock("plc", 1, 3, 102, 1), nullptr);
}

TEST_F(DataBlocks, PointLookupAgreesWithAScanOverRandomOverlappingBlocks) {
  std::mt19937 random(20261208);
  for (int round = 0; round < 20; ++round) {
    app.RemoveAllTags();
    const int n = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < n; ++i) {
      const uint8_t slave = static_cast<uint8_t>(1 + random() % 2);
      const uint8_t type = static_cast<uint8_t>(3 + random() % 2);
      const uint16_t address = static_cast<uint16_t>(1 + random() % 400);
      const uint16_t count = static_cast<uint16_t>(1 + random() % 2);
      app.AddDataBlock(random() % 2 ? "A" : "B", slave, type, address, count);
    }
    for (const char* location : {"A", "B", "C"})
      for (uint8_t slave = 1; slave <= 2; ++slave)
        for (uint8_t type = 3; type <= 4; ++type)
          for (uint16_t address = 0; address <= 402; ++address)
            ASSERT_EQ(app.FindPointBlock(location, slave, type, address),
                      app.FindDataBlock(location, slave, type, address, 1))
                << location << " " << int(slave) << " " << int(type) << " " << address;
  }
}

TEST_F(DataBlocks, PointLookupSeesBlocksAddedBehindItsBack) {
  app.AddDataBlock("A", 1, 3, 1, 1);
  EXPECT_EQ(app.FindPointBlock("A", 1, 3, 50), nullptr);
  app.m_dataBlocks.push_back(std::make_unique<CModbusDataBlock>("A", 1, 3, 50, 1));
  EXPECT_EQ(app.FindPointBlock("A", 1, 3, 50), &Block(1));
}

TEST_F(DataBlocks, LocalBlocksAreLentToTheSlaveLibrary) {
  app.AddDataBlock("LOCAL", 1, 3, 1, 10);
  app.AddDataBlock("COMM1", 1, 3, 1, 10);
  app.AddDataBlock("LOCAL", 2, 1, 1, 10);
  app.DefineLocalBlocks();
  EXPECT_EQ(doubles::Slave().defined, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(doubles::Slave().notified, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(doubles::Slave().definedBuffers[0], Block(0).m_pData.get());
  EXPECT_EQ(Block(0).m_hSlaveBlock, 1);
  EXPECT_EQ(Block(1).m_hSlaveBlock, -1);
  EXPECT_EQ(Block(2).m_hSlaveBlock, 2);

  // Lending again first takes the old loans back.
  app.DefineLocalBlocks();
  EXPECT_EQ(doubles::Slave().removed, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(Block(0).m_hSlaveBlock, 3);

  // Deleting blocks withdraws them, and a late store still lands safely.
  doubles::Slave().removed.clear();
  uint16_t* lent = Block(0).m_pData.get();
  app.RemoveAllTags();
  EXPECT_EQ(doubles::Slave().removed, (std::vector<int32_t>{3, 4}));
  lent[0] = 1;
}

TEST_F(DataBlocks, GrowingALentBlockWithdrawsItBeforeFreeingTheBuffer) {
  app.AddDataBlock("LOCAL", 1, 3, 10, 1);
  app.DefineLocalBlocks();
  const uint16_t* lent = Block(0).m_pData.get();
  ASSERT_EQ(Block(0).m_hSlaveBlock, 1);

  app.AddDataBlock("LOCAL", 1, 3, 10, 1);  // contained: the loan stands
  EXPECT_TRUE(doubles::Slave().removed.empty());

  app.AddDataBlock("LOCAL", 1, 3, 11, 1);  // grows: new buffer
  EXPECT_EQ(doubles::Slave().removed, std::vector<int32_t>{1});
  EXPECT_EQ(Block(0).m_hSlaveBlock, -1);
  EXPECT_NE(Block(0).m_pData.get(), lent);
  // A library thread that found the block just before it was withdrawn may
  // still finish its store: the old buffer must still be ours to write
  // (the sanitizer build checks this).
  const_cast<uint16_t*>(lent)[0] = 9;

  // The next lending serves the new buffer; nothing is removed twice.
  app.DefineLocalBlocks();
  EXPECT_EQ(doubles::Slave().removed, std::vector<int32_t>{1});
  EXPECT_EQ(doubles::Slave().definedBuffers.back(), Block(0).m_pData.get());
}

TEST_F(DataBlocks, GrowingALentBlockWhileTheLibraryStoresIntoIt) {
  app.AddDataBlock("LOCAL", 1, 3, 10, 1);
  app.DefineLocalBlocks();
  uint16_t* lent = Block(0).m_pData.get();

  // A library thread serving a remote master keeps storing whole words into
  // the buffer while the block is withdrawn and copied into its new one (the
  // thread sanitizer build checks that the copy takes the words as whole
  // words too).
  std::atomic<bool> stop{false};
  std::thread library([&] {
    for (uint16_t n = 1; !stop.load(); n += 2) std::atomic_ref<uint16_t>(lent[0]).store(n);  // odd, never 0
  });
  while (std::atomic_ref<uint16_t>(lent[0]).load() == 0) std::this_thread::yield();
  for (uint16_t address = 11; address <= 40; ++address) app.AddDataBlock("LOCAL", 1, 3, address, 1);
  stop = true;
  library.join();

  EXPECT_EQ(Block(0).m_nCount, 31);
  EXPECT_NE(std::atomic_ref<uint16_t>(Block(0).m_pData[0]).load(), 0);
}

TEST_F(DataBlocks, RebuildOffersEveryModbusTagThenLends) {
  auto tag = std::make_unique<CExchangeTag>("L");
  tag->m_nSourceKind = CExchangeTag::kSourceLocal;
  tag->m_nAddress = 7;
  tag->m_nDataType = CExchangeTag::kFloat;
  app.m_tags.push_back(std::move(tag));  // placed without binding, as the tag list does
  app.m_tags.push_back(std::make_unique<CExchangeTag>("Var"));
  app.RebuildDataBlocks();
  ASSERT_EQ(app.m_dataBlocks.size(), 1u);
  EXPECT_EQ(Block(0).m_nStartAddress, 7);
  EXPECT_EQ(Block(0).m_nCount, 2);
  EXPECT_EQ(Block(0).m_hSlaveBlock, 1);
}
