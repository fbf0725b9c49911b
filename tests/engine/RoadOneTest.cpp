// The first road of a value end to end: a holding register on a Modbus/TCP
// slave we did not write (libmodbus, serving from a thread of the test) is
// polled into its data block, reaches its tag and OPC item on the tick, and
// an OPC client's write goes back to the slave through the write queue.
#include "tests/engine/EngineSupport.h"

#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "core/ModbusPoller.h"
#include "core/ModbusWriteRequest.h"
#include "masterlink/masterlink.h"
#include "platform/msgwindow.h"

using engine_test::EngineFixture;

namespace {

// A libmodbus Modbus/TCP server with 100 holding registers, serving one
// master at a time until it is destroyed.
class LibmodbusSlave {
 public:
  LibmodbusSlave() {
    m_context = modbus_new_tcp("127.0.0.1", 0);
    m_mapping = modbus_mapping_new(0, 0, 100, 0);
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    const int yes = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::listen(m_listen, 1) == 0 &&
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~LibmodbusSlave() {
    m_stop = true;
    m_thread.join();
    ::close(m_listen);
    modbus_mapping_free(m_mapping);
    modbus_free(m_context);
  }
  uint16_t Port() const { return m_port; }
  // Holding register at protocol address `address` (point address + 1).
  uint16_t Register(int address) {
    std::lock_guard lock(m_mutex);
    return m_mapping->tab_registers[address];
  }
  void SetRegister(int address, uint16_t value) {
    std::lock_guard lock(m_mutex);
    m_mapping->tab_registers[address] = value;
  }

 private:
  static bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 20) > 0;
  }
  void Serve() {
    while (!m_stop) {
      if (!Readable(m_listen)) continue;
      const int connection = ::accept(m_listen, nullptr, nullptr);
      if (connection < 0) continue;
      modbus_set_socket(m_context, connection);
      uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
      while (!m_stop) {
        if (!Readable(connection)) continue;
        const int length = modbus_receive(m_context, query);
        if (length == -1) break;  // the master went away
        if (length == 0) continue;
        std::lock_guard lock(m_mutex);
        modbus_reply(m_context, query, length, m_mapping);
      }
      ::close(connection);
    }
  }

  modbus_t* m_context = nullptr;
  modbus_mapping_t* m_mapping = nullptr;
  int m_listen = -1;
  uint16_t m_port = 0;
  std::mutex m_mutex;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace

class RoadOne : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_NE(slave.Port(), 0);
    window = std::make_unique<QueuedMessageTarget>([this](HWND, UINT message, WPARAM, LPARAM) {
      if (message == WM_USER + 3) poller.OnModbusResponse();
      return LRESULT{0};
    });
    app.SetMainWindow(window.get());
    TcpConnectRecord record{window.get(), WM_USER + 3, 0, 1, 2000};
    const int32_t handle = ConnectTCP2(htonl(INADDR_LOOPBACK), slave.Port(), &record);
    ASSERT_NE(handle, -1);
    app.m_tcpMasters[0].hMaster = handle;
    app.m_tcpMasters[0].strHost = "127.0.0.1";
    app.m_tcpMasters[0].nPort = slave.Port();
  }
  void TearDown() override {
    if (app.m_tcpMasters[0].hMaster != -1) CloseMasterConnection(app.m_tcpMasters[0].hMaster);
    app.m_tcpMasters[0].hMaster = -1;
    window->Pump();
    EngineFixture::TearDown();
    app.SetMainWindow(nullptr);
  }
  // One timer tick as the main window runs it, then the reply messages until
  // the chain is idle again.
  bool Tick() {
    app.RefreshAllTags();
    if (outstanding == -1) poller.SendNextRequest();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (outstanding != -1) {
      if (std::chrono::steady_clock::now() > end) return false;
      if (window->Pump() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  LibmodbusSlave slave;
  std::unique_ptr<QueuedMessageTarget> window;
  int32_t outstanding = -1;
  CModbusPoller poller{app, MasterLinkLibrary(), outstanding};
};

TEST_F(RoadOne, APolledRegisterReachesTheOpcItemAndAClientWriteReachesTheSlave) {
  CountingBlock("Level");
  slave.SetRegister(9, 4321);
  CExchangeTag& tag = ModbusTag("Tank.Level", CExchangeTag::kSourceTcp,
                                CExchangeTag::kHoldingRegister, 10, CExchangeTag::kInteger, "Level");
  ASSERT_EQ(tag.GetLocation(), "127.0.0.1");

  ASSERT_TRUE(Tick()) << "the first poll";
  EXPECT_EQ(BlockOf(tag).m_nStatus, 0);
  ASSERT_TRUE(Tick());
  EXPECT_EQ(tag.m_value->iVal, 4321);
  EXPECT_EQ(Item(tag).value->iVal, 4321);
  EXPECT_EQ(Item(tag).quality, 0xC0);
  const int runs = Runs("Level");
  ASSERT_GE(runs, 1);

  // An OPC client writes the item.
  EXPECT_EQ(serverkit::WriteItem(tag.m_hServerTag, MakeVariantI2(99)), S_OK);
  EXPECT_EQ(Item(tag).value->iVal, 99) << "shown at once";
  ASSERT_EQ(app.m_writeQueue.size(), 1u);
  EXPECT_EQ(Runs("Level"), runs + 1);

  // The tick refreshes from the block, which still holds the polled value,
  // then sends the write and polls again.
  ASSERT_TRUE(Tick());
  EXPECT_TRUE(app.m_writeQueue.empty());
  EXPECT_EQ(slave.Register(9), 99) << "the write reached the slave";
  EXPECT_EQ(tag.m_value->iVal, 4321) << "until the poll brings the new value";
  ASSERT_TRUE(Tick());
  EXPECT_EQ(tag.m_value->iVal, 99);
  EXPECT_EQ(Item(tag).value->iVal, 99);
}
