// What the engine tests share: an application with the OPC server's write
// callback installed, a host that counts logic block runs (each counting
// block shows a form named after itself), and tag builders.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/ModbusDataBlock.h"
#include "core/PlexmarApp.h"
#include "logic/LogicBlock.h"
#include "serverkit/serverkit.h"

// A text value owned by the caller (the builder's text is adopted, not copied).
inline CVariant Text(std::string_view utf8) {
  VARIANT value = MakeVariantText(utf8);
  return CVariant::Adopt(value);
}

namespace engine_test {

class CountingHost : public IHostUi {
 public:
  void MessageBox(const std::string&) override {}
  int ShowForm(const std::string& name) override {
    ++runs[name];
    return 1;
  }
  int HideForm(const std::string&) override { return 1; }
  std::map<std::string, int> runs;
};

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    app.SetHostUi(&host);
    InitOpcServer(kPlexmarClsid, 250);
    SetWriteCallback(OnServerTagWrite, 1);
  }
  void TearDown() override {
    app.RemoveAllTags();
    SetWriteCallback(nullptr, 1);
    app.SetHostUi(nullptr);
  }

  // A logic block whose every run is counted under its name.
  void CountingBlock(const std::string& name) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = name;
    block->m_entries.push_back(std::make_unique<CLogicEntry>());
    CLogicEntry& show = *block->m_entries.back();
    show.m_nType = kLogicFormShowHide;
    show.m_nOperation = 1;
    show.m_strFormName = name;
    app.AddLogicBlock(std::move(block));
  }
  int Runs(const std::string& block) { return host.runs[block]; }

  CExchangeTag& Add(std::unique_ptr<CExchangeTag> tag) {
    CExchangeTag& ref = *tag;
    app.AddTag(std::move(tag));
    return ref;
  }
  CExchangeTag& Variable(const std::string& name, const VARIANT& value, const std::string& block = "") {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_value = value;
    tag->m_strLogicBlock = block;
    return Add(std::move(tag));
  }
  CExchangeTag& ModbusTag(const std::string& name, int32_t kind, uint8_t pointType, uint16_t address,
                          int32_t dataType = CExchangeTag::kInteger, const std::string& block = "") {
    auto tag = std::make_unique<CExchangeTag>(name);
    tag->m_nSourceKind = kind;
    tag->m_nPointType = pointType;
    tag->m_nAddress = address;
    tag->m_nDataType = dataType;
    tag->m_nCommPort = 2;
    tag->m_strHost = "127.0.0.1";
    tag->m_strLogicBlock = block;
    return Add(std::move(tag));
  }
  serverkit::ItemState Item(const CExchangeTag& tag) {
    serverkit::ItemState state;
    EXPECT_TRUE(serverkit::ReadItem(tag.m_hServerTag, state)) << tag.m_strName;
    return state;
  }
  CModbusDataBlock& BlockOf(const CExchangeTag& tag) {
    CModbusDataBlock* block = app.FindDataBlock(tag.GetLocation(), tag.m_nSlaveId, tag.m_nPointType,
                                                tag.m_nAddress, 1);
    EXPECT_NE(block, nullptr);
    return *block;
  }
  uint16_t& Word(const CExchangeTag& tag, int offset = 0) {
    CModbusDataBlock& block = BlockOf(tag);
    return block.m_pData[tag.m_nAddress + offset - block.m_nStartAddress];
  }

  CountingHost host;
  CPlexmarApp app;
};

}  // namespace engine_test
