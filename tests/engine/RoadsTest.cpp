// Values end to end through real peers: a libmodbus master reading and
// writing Plexmar's own slave memory over Modbus/TCP, with the tags, the OPC
// server items and the logic blocks following on the tick.
#include "tests/engine/EngineSupport.h"

#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/msgwindow.h"
#include "slavelink/slavelink.h"

using engine_test::EngineFixture;

namespace {

// A port the system just handed out, so probably still free.
uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

template <class Condition>
bool WaitFor(Condition condition, int ms = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

}  // namespace

class Roads : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    window = std::make_unique<QueuedMessageTarget>([this](HWND, UINT message, WPARAM, LPARAM) {
      ++messages[message];
      return LRESULT{0};
    });
    app.SetMainWindow(window.get());
    // The port is free when chosen but could be taken before our server
    // binds it: then try another.
    for (int attempt = 0; attempt < 3 && master == nullptr; ++attempt) {
      port = FreePort();
      ASSERT_NE(port, 0);
      SetTCPServicePort(port);
      ASSERT_EQ(OpenTCPConnection(window.get(), WM_USER + 2), 8050);
      master = modbus_new_tcp("127.0.0.1", port);
      ASSERT_NE(master, nullptr);
      modbus_set_slave(master, 1);
      modbus_set_response_timeout(master, 2, 0);
      if (WaitFor([this] { return modbus_connect(master) == 0; }, 2000)) break;
      modbus_free(master);
      master = nullptr;
      CloseSlaveConnection(8050);
    }
    ASSERT_NE(master, nullptr) << "our Modbus/TCP server does not answer";
  }
  void TearDown() override {
    if (master) {
      modbus_close(master);
      modbus_free(master);
    }
    CloseSlaveConnection(8050);
    EngineFixture::TearDown();
    app.SetMainWindow(nullptr);
  }
  // Runs the main window's queue: what the slave library posted to it.
  void Pump() { window->Pump(); }

  std::unique_ptr<QueuedMessageTarget> window;
  std::map<UINT, int> messages;
  uint16_t port = 0;
  modbus_t* master = nullptr;
};

TEST_F(Roads, ARemoteMastersWriteReachesTheTagItsItemAndItsBlockOnTheTick) {
  CountingBlock("Arrived");
  CExchangeTag& tag = ModbusTag("Local.Level", CExchangeTag::kSourceLocal,
                                CExchangeTag::kHoldingRegister, 40, CExchangeTag::kInteger, "Arrived");
  CExchangeTag& wide = ModbusTag("Local.Total", CExchangeTag::kSourceLocal,
                                 CExchangeTag::kHoldingRegister, 41, CExchangeTag::kFloat);
  app.DefineLocalBlocks();
  app.RefreshAllTags();
  const int before = Runs("Arrived");

  // Point 40 is protocol address 39.
  ASSERT_EQ(modbus_write_register(master, 39, 1234), 1) << modbus_strerror(errno);
  const uint16_t floatWords[2] = {0x0000, 0x4120};  // 10.0, low word first
  ASSERT_EQ(modbus_write_registers(master, 40, 2, floatWords), 2);
  ASSERT_TRUE(WaitFor([this] {
    Pump();
    return messages[WM_USER + 1] >= 2;
  })) << "write notifications arrive as message 1025";
  EXPECT_EQ(tag.m_value->iVal, 0) << "the words wait for the tick";
  EXPECT_EQ(Runs("Arrived"), before);

  app.RefreshAllTags();
  EXPECT_EQ(tag.m_value->vt, VT_I2);
  EXPECT_EQ(tag.m_value->iVal, 1234);
  EXPECT_EQ(Item(tag).value->iVal, 1234);
  EXPECT_EQ(Item(tag).quality, 0xC0);
  EXPECT_EQ(Runs("Arrived"), before + 1);
  EXPECT_EQ(wide.m_value->vt, VT_R4);
  EXPECT_EQ(wide.m_value->fltVal, 10.0f);
  EXPECT_EQ(Item(wide).value->fltVal, 10.0f);
}

TEST_F(Roads, ALocalWriteIsReadableByTheRemoteMasterAtOnce) {
  CExchangeTag& tag = ModbusTag("Local.SP", CExchangeTag::kSourceLocal,
                                CExchangeTag::kHoldingRegister, 7, CExchangeTag::kWsLong);
  CExchangeTag& coil = ModbusTag("Local.Run", CExchangeTag::kSourceLocal,
                                 CExchangeTag::kCoilStatus, 3);
  app.DefineLocalBlocks();
  app.RefreshAllTags();

  HRESULT result = serverkit::WriteItem(tag.m_hServerTag, MakeVariantI4(70000));
  EXPECT_EQ(result, S_OK);
  result = serverkit::WriteItem(coil.m_hServerTag, MakeVariantBool(true));
  EXPECT_EQ(result, S_OK);
  uint16_t words[2] = {};
  ASSERT_EQ(modbus_read_registers(master, 6, 2, words), 2);
  EXPECT_EQ(words[0], 0x0001);  // word swapped: high half first
  EXPECT_EQ(words[1], 0x1170);
  uint8_t bits[1] = {};
  ASSERT_EQ(modbus_read_bits(master, 2, 1, bits), 1);
  EXPECT_EQ(bits[0], 1);

  app.RefreshAllTags();
  EXPECT_EQ(tag.m_value->lVal, 70000);
  EXPECT_TRUE(app.m_writeQueue.empty());
}

TEST_F(Roads, GrowingALentBlockKeepsTheSlaveServingTheNewBuffer) {
  CExchangeTag& first = ModbusTag("Local.A", CExchangeTag::kSourceLocal,
                                  CExchangeTag::kHoldingRegister, 10);
  app.DefineLocalBlocks();
  ASSERT_EQ(modbus_write_register(master, 9, 77), 1);
  app.RefreshAllTags();
  ASSERT_EQ(first.m_value->iVal, 77);

  // A new tag grows the block: the old buffer is withdrawn before it is
  // freed, and the next lending serves the grown one with the values kept.
  ModbusTag("Local.B", CExchangeTag::kSourceLocal, CExchangeTag::kHoldingRegister, 12);
  uint16_t word = 0;
  EXPECT_EQ(modbus_read_registers(master, 9, 1, &word), -1) << "not served between";
  app.RebuildDataBlocks();
  uint16_t words[3] = {};
  ASSERT_EQ(modbus_read_registers(master, 9, 3, words), 3) << modbus_strerror(errno);
  EXPECT_EQ(words[0], 77);
  EXPECT_EQ(words[2], 0);
  ASSERT_EQ(modbus_write_register(master, 11, 5), 1);
  app.RefreshAllTags();
  EXPECT_EQ(app.FindTag("Local.B")->m_value->iVal, 5);
}
