// "ReadTag" and "WriteTag" of form documents over a private session bus that
// the test starts, called by gdbus as any automation client would call them;
// and the value conversions between D-Bus and tag values.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/AppFramework.h"
#include "core/ExchangeTag.h"
#include "core/QtFramework.h"
#include "core/PlexmarApp.h"
#include "forms/FormAutomation.h"
#include "forms/FormTemplate.h"
#include "forms/PlexmarDoc.h"

namespace {

// A dbus-daemon of our own, for the whole test program; its address goes
// into DBUS_SESSION_BUS_ADDRESS before Qt first asks for the session bus.
class PrivateBus {
 public:
  PrivateBus() {
    FILE* out = popen("dbus-daemon --session --nofork --print-address=1 --print-pid=1 2>/dev/null &", "r");
    if (out == nullptr) return;
    char line[512];
    if (fgets(line, sizeof line, out)) m_address = Trim(line);
    if (fgets(line, sizeof line, out)) m_pid = std::atoi(line);
    m_pipe = out;
    if (!m_address.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
  }
  ~PrivateBus() {
    if (m_pid > 0) kill(m_pid, SIGTERM);
    if (m_pipe) pclose(m_pipe);
  }
  bool Up() const { return !m_address.empty() && m_pid > 0; }

 private:
  static std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
    return s;
  }
  std::string m_address;
  int m_pid = 0;
  FILE* m_pipe = nullptr;
};

// Started on first use and stopped when the test program ends.
PrivateBus& Bus() {
  static PrivateBus bus;
  return bus;
}

QApplication& App() {
  static int argc = 1;
  static char name[] = "forms_automation_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Runs gdbus to its end while this process serves the bus; its output.
QString GdbusCall(const QString& path, const QString& method, const QStringList& arguments) {
  QProcess gdbus;
  QStringList args{"call", "--session", "--dest", kAutomationService, "--object-path", path, "--method", method};
  args << arguments;
  gdbus.start("gdbus", args);
  QElapsedTimer clock;
  clock.start();
  while (gdbus.state() != QProcess::NotRunning && clock.elapsed() < 10000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    gdbus.waitForFinished(5);
  }
  return QString::fromUtf8(gdbus.readAllStandardOutput()).trimmed() +
         QString::fromUtf8(gdbus.readAllStandardError()).trimmed();
}

const QString kRead = QStringLiteral("com.norvell.Plexmar.Document.ReadTag");
const QString kWrite = QStringLiteral("com.norvell.Plexmar.Document.WriteTag");

class FormAutomationBus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Bus().Up()) GTEST_SKIP() << "dbus-daemon did not start";
    App();
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    auto tag = std::make_unique<CExchangeTag>("Setpoint");
    tag->m_value = MakeVariantI2(5);
    app.m_tags.push_back(std::move(tag));
    doc.SetTitle("Plexform1");
  }
  CPlexmarApp app;
  CPlexmarDoc doc;
};

TEST_F(FormAutomationBus, ReadAndWriteTagsThroughGdbus) {
  std::unique_ptr<CFormAutomation> automation = CreateFormAutomation(doc);
  ASSERT_FALSE(automation->Path().isEmpty());
  const QString path = automation->Path();

  EXPECT_EQ(GdbusCall(path, kRead, {"<'Setpoint'>"}), "(<int16 5>,)");
  EXPECT_EQ(GdbusCall(path, kWrite, {"<'Setpoint'>", "<41.6>"}), "(0,)");
  EXPECT_EQ(app.FindTag("Setpoint")->m_value->vt, VT_I2) << "converted to the tag's own type";
  EXPECT_EQ(app.FindTag("Setpoint")->m_value->iVal, 42);
  EXPECT_EQ(GdbusCall(path, kRead, {"<'Setpoint'>"}), "(<int16 42>,)");

  // A value that does not convert writes nothing and says so.
  EXPECT_EQ(GdbusCall(path, kWrite, {"<'Setpoint'>", "<'lots'>"}), "(-2147352571,)");
  EXPECT_EQ(app.FindTag("Setpoint")->m_value->iVal, 42);
  // No such tag: an empty value, and a write that is not reported as done.
  EXPECT_EQ(GdbusCall(path, kRead, {"<'Nobody'>"}), "(<@av []>,)");
  EXPECT_EQ(GdbusCall(path, kWrite, {"<'Nobody'>", "<1>"}), "(-2147352570,)");
  // A text value written as a number becomes the tag's number.
  EXPECT_EQ(GdbusCall(path, kWrite, {"<'Setpoint'>", "<' 7 '>"}), "(0,)");
  EXPECT_EQ(app.FindTag("Setpoint")->m_value->iVal, 7);

  // The title, as logic blocks name the form.
  EXPECT_EQ(GdbusCall(path, "org.freedesktop.DBus.Properties.Get", {kAutomationInterface, "Title"}),
            "(<'Plexform1'>,)");

  // Each document has its own object; one that goes leaves the bus.
  CPlexmarDoc second;
  auto other = CreateFormAutomation(second);
  EXPECT_NE(other->Path(), path);
  const QString otherPath = other->Path();
  EXPECT_EQ(GdbusCall(otherPath, kRead, {"<'Setpoint'>"}), "(<int16 7>,)");
  other.reset();
  EXPECT_TRUE(GdbusCall(otherPath, kRead, {"<'Setpoint'>"}).contains("Error")) << "gone with its document";
  EXPECT_EQ(GdbusCall(path, kRead, {"<'Setpoint'>"}), "(<int16 7>,)");
}

// The program's own forms: the framework puts every form it opens on the bus
// and takes it off when the form closes.
TEST_F(FormAutomationBus, TheProgramsFormsAreOnTheBus) {
  char pattern[] = "/tmp/plexmar-dbus-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  setenv("XDG_CONFIG_HOME", pattern, 1);
  int argc = 1;
  char name[] = "plexmar";
  char* argv[] = {name, nullptr};
  CQtFramework framework(argc, argv, app);
  ASSERT_EQ(app.InitInstance(framework, LinkedLibraries(), {}, std::string(pattern) + "/plexmar"),
            EStartupOutcome::kRun);
  ASSERT_EQ(framework.FormTemplate()->DocumentCount(), 1);

  // The shell command's new form is one of the objects below the root path.
  QProcess introspect;
  introspect.start("gdbus", {"introspect", "--session", "--dest", kAutomationService, "--object-path",
                             "/com/norvell/Plexmar"});
  QElapsedTimer clock;
  clock.start();
  while (introspect.state() != QProcess::NotRunning && clock.elapsed() < 10000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    introspect.waitForFinished(5);
  }
  const QString nodes = QString::fromUtf8(introspect.readAllStandardOutput());
  QString form;
  for (const QRegularExpressionMatch& m : QRegularExpression("node (Form\\d+)").globalMatch(nodes)) {
    const QString path = "/com/norvell/Plexmar/" + m.captured(1);
    if (GdbusCall(path, "org.freedesktop.DBus.Properties.Get", {kAutomationInterface, "Title"}) ==
        "(<'Plexform1'>,)")
      form = path;
  }
  ASSERT_FALSE(form.isEmpty()) << nodes.toStdString();
  EXPECT_EQ(GdbusCall(form, kWrite, {"<'Setpoint'>", "<9>"}), "(0,)");
  EXPECT_EQ(app.FindTag("Setpoint")->m_value->iVal, 9);

  framework.FormTemplate()->CloseAllDocuments();
  EXPECT_TRUE(GdbusCall(form, kRead, {"<'Setpoint'>"}).contains("Error")) << "a closed form leaves the bus";
  app.ExitInstance(framework, LinkedLibraries());
}

TEST(FormAutomationValues, ConversionsBothWays) {
  VARIANT v;
  ASSERT_TRUE(VariantFromDBus(QVariant::fromValue<short>(-3), v));
  EXPECT_EQ(v.vt, VT_I2);
  ASSERT_TRUE(VariantFromDBus(QVariant::fromValue<uint>(7u), v));
  EXPECT_EQ(v.vt, VT_UI4);
  ASSERT_TRUE(VariantFromDBus(QVariant(true), v));
  EXPECT_EQ(v.boolVal, VARIANT_TRUE);
  ASSERT_TRUE(VariantFromDBus(QVariant(QStringLiteral("Grüße")), v));
  EXPECT_EQ(BstrToUtf8(v.bstrVal), "Grüße");
  VariantClear(&v);
  EXPECT_FALSE(VariantFromDBus(QVariant(QStringList{"a"}), v)) << "no VARIANT for a list";

  EXPECT_EQ(DBusFromVariant(MakeVariantR4(1.5f)).variant(), QVariant(1.5));
  EXPECT_EQ(DBusFromVariant(MakeVariantBool(true)).variant(), QVariant(true));
  EXPECT_EQ(DBusFromVariant(MakeVariantI2(-2)).variant().metaType().id(), QMetaType::Short);
  VARIANT text = MakeVariantText("abc");
  EXPECT_EQ(DBusFromVariant(text).variant(), QVariant(QStringLiteral("abc")));
  VariantClear(&text);

  VARIANT array;
  VariantInit(&array);
  array.vt = VT_ARRAY | VT_I4;
  array.parray = SafeArrayCreateVector(VT_I4, 0, 3);
  for (int32_t i = 0; i < 3; ++i) {
    int32_t element = 10 * i;
    SafeArrayPutElement(array.parray, &i, &element);
  }
  const QVariant list = DBusFromVariant(array).variant();
  const auto elements = list.value<QList<QDBusVariant>>();
  ASSERT_EQ(elements.size(), 3);
  EXPECT_EQ(elements[2].variant(), QVariant(20));
  VariantClear(&array);
}

}  // namespace
