// A form on a running exchange: a form file that names tags of the project
// opens through the template, and its data value and bar graph follow what a
// pymodbus master writes into the Modbus/TCP slave memory, on the next
// refresh ticks, with the real slave library; an operator's write from the
// form reaches the master.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <filesystem>

#include "connections/ModbusConnections.h"
#include "core/ExchangeTag.h"
#include "core/HostUi.h"
#include "core/MainFrame.h"
#include "core/ModbusPoller.h"
#include "core/PlexmarApp.h"
#include "core/ValueConversion.h"
#include "forms/FormTemplate.h"
#include "forms/MMI_Items.h"
#include "forms/PlexmarView.h"
#include "forms/TagWritePrompt.h"
#include "platform/archive.h"
#include "tests/projectfiles/PymodbusPeer.h"
#include "tests/support/FreePort.h"
#include "tests/support/PymodbusSlave.h"

namespace fs = std::filesystem;

namespace {

// The operator answering the numeric write dialog with one number.
class NumberAnswer : public ITagWritePrompt {
 public:
  explicit NumberAnswer(double answer) : m_answer(answer) {}
  bool AskString(std::string&) override {
    ADD_FAILURE() << "a number tag asked for a string";
    return false;
  }
  bool AskNumber(double& value) override {
    offered = value;
    value = m_answer;
    return true;
  }
  double offered = -1;

 private:
  double m_answer;
};

QApplication& App() {
  static int argc = 1;
  static char name[] = "forms_exchange_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

template <typename Pred>
bool SpinUntil(Pred done, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

TEST(FormExchange, DataValuesFollowAModbusMastersWrites) {
  if (std::system("/usr/bin/python3 -c 'import pymodbus' 2>/dev/null") != 0)
    GTEST_SKIP() << "pymodbus is not installed";
  App();
  CPlexmarApp app;
  CMainFrame frame{app};
  ASSERT_TRUE(frame.Create());
  frame.show();
  const fs::path dir = fs::temp_directory_path() / ("plexmar-form-exchange-" + std::to_string(getpid()));
  fs::create_directories(dir);

  const uint16_t port = testsupport::PickFreePort();
  ASSERT_NE(port, 0);
  app.m_nTcpSlavePort = port;
  modbusconn::OpenTcpSlave(app);
  ASSERT_NE(app.m_hTcpSlave, -1);
  auto tag = std::make_unique<CExchangeTag>("Tank.Level");
  tag->m_nSourceKind = CExchangeTag::kSourceLocal;
  tag->m_nAddress = 10;
  app.AddTag(std::move(tag));
  app.DefineLocalBlocks();

  // The form file, as another run of the program would have saved it.
  {
    CPlexmarDoc doc;
    doc.m_nRefreshRate = 100;
    auto value = std::make_unique<CMMI_TagItem>();
    value->m_nType = kItemTag;
    value->m_rect = {10, 10, 11, 11};
    value->m_strTag = "Tank.Level";
    doc.m_items.push_back(std::move(value));
    auto bar = std::make_unique<CMMI_BarItem>();
    bar->m_nType = kItemBar;
    bar->m_rect = {100, 10, 120, 110};
    bar->m_strTag = "Tank.Level";
    bar->m_fHigh = 10000.0f;
    doc.m_items.push_back(std::move(bar));
    CArchive ar;
    doc.Serialize(ar);
    ASSERT_TRUE(ar.SaveToFile(dir / "Tanks"));
  }
  CFormTemplate forms([&] { return &frame; }, [](const std::string& text) { ADD_FAILURE() << text; });
  ASSERT_TRUE(forms.OpenDocumentFile((dir / "Tanks").string()));
  CPlexmarDoc* doc = forms.FindDocument("tanks");
  ASSERT_NE(doc, nullptr);
  auto* value = dynamic_cast<CMMI_TagItem*>(doc->m_items[0].get());
  auto* bar = dynamic_cast<CMMI_BarItem*>(doc->m_items[1].get());
  ASSERT_NE(value, nullptr);
  ASSERT_NE(bar, nullptr);
  CPlexmarView* view = forms.FrameOf(*doc)->View();

  for (int written : {4321, 77}) {
    ASSERT_EQ(Pymodbus(port, "unit(c.write_register, 9, " + std::to_string(written) + ")\nprint('ok')\n"), "ok");
    // The main window's tick brings the word into the tag, the form's own
    // tick into the item, and the paint onto the screen.
    const std::string want = std::to_string(written);
    EXPECT_TRUE(SpinUntil([&] { return value->m_strShown.find(want) != std::string::npos; }, 5000))
        << "shown: " << value->m_strShown;
    EXPECT_DOUBLE_EQ(bar->GetValue(), written);
    EXPECT_GT(view->TotalPaintDraws(), 0);
  }

  // The operator's write from the form goes the other way: into the slave
  // memory, where the master reads it; the form shows it on its next tick.
  CExchangeTag* level = app.FindTag("Tank.Level");
  ASSERT_NE(level, nullptr);
  NumberAnswer answer(1234.0);
  PromptAndWrite(*level, answer);
  EXPECT_EQ(answer.offered, 77.0);
  EXPECT_EQ(Pymodbus(port, "print(unit(c.read_holding_registers, 9, count=1).registers[0])\n"), "1234");
  EXPECT_TRUE(SpinUntil([&] { return value->m_strShown.find("1234") != std::string::npos; }, 5000))
      << "shown: " << value->m_strShown;

  forms.CloseAllDocuments();
  EXPECT_EQ(forms.DocumentCount(), 0);
  CloseSlaveConnection(app.m_hTcpSlave);
  app.m_hTcpSlave = -1;
  app.RemoveAllTags();
  fs::remove_all(dir);
}

// The operator's write of a remote point: the data value of a Modbus/TCP
// point on a pymodbus slave is double-clicked and answered with a number,
// which goes out through the poll chain's write queue into the slave's
// register; the next poll brings it back into the tag.
TEST(FormExchange, OperatorsWriteOfARemotePointReachesTheSlave) {
  if (std::system("/usr/bin/python3 -c 'import pymodbus' 2>/dev/null") != 0)
    GTEST_SKIP() << "pymodbus is not installed";
  App();
  const uint16_t port = testsupport::PickFreePort();
  ASSERT_NE(port, 0);
  testsupport::PymodbusSlave slave(port);
  ASSERT_TRUE(slave.Started());

  CPlexmarApp app;
  CMainFrame frame{app};
  InstallModbusPolling(frame.Core());
  ASSERT_TRUE(frame.Create());
  app.m_tcpMasters[0].strHost = "127.0.0.1";
  app.m_tcpMasters[0].nPort = port;
  ASSERT_TRUE(SpinUntil([&] { return modbusconn::ConnectTcpMaster(app, 0); }, 15000)) << "pymodbus did not start";

  // Holding register 50 of the slave starts at 1050.
  auto point = std::make_unique<CExchangeTag>("Valve.Setpoint");
  point->m_nSourceKind = CExchangeTag::kSourceTcp;
  point->m_strHost = "127.0.0.1";
  point->m_nAddress = 50;
  CExchangeTag& tag = *point;
  app.AddTag(std::move(point));
  ASSERT_TRUE(SpinUntil([&] { return tag.m_nQuality == CExchangeTag::kQualityGood; }, 10000)) << "no poll";
  ASSERT_EQ(tag.m_value->iVal, 1050);

  NumberAnswer answer(321.0);
  PromptAndWrite(tag, answer);
  EXPECT_EQ(answer.offered, 1050.0);
  std::string inSlave;
  EXPECT_TRUE(SpinUntil(
      [&] {
        inSlave = Pymodbus(port, "print(unit(c.read_holding_registers, 49, count=1).registers[0])\n");
        return inSlave == "321";
      },
      10000))
      << "the slave holds " << inSlave;
  EXPECT_TRUE(SpinUntil([&] { return tag.m_value->iVal == 321; }, 10000)) << "the next poll reads it back";

  CloseMasterConnection(app.m_tcpMasters[0].hMaster);
  app.m_tcpMasters[0].hMaster = -1;
  app.RemoveAllTags();
}

}  // namespace
