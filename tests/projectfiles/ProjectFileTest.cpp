// The project file: its bytes, every field both ways, and loads of damaged,
// cut and missing files, which must leave the running configuration as it was.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "connections/OpcServerLink.h"
#include "core/ExchangeTag.h"
#include "core/MainFrameCore.h"
#include "core/PlexmarApp.h"
#include "core/ProjectFile.h"
#include "logic/LogicBlock.h"
#include "tests/projectfiles/ProjectDoubles.h"

namespace fs = std::filesystem;
using projectdoubles::ClientCalls;

namespace {

// The expected bytes, written independently of the archive.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& u8(uint8_t v) { b.push_back(v); return *this; }
  Bytes& u16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
  Bytes& i32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return u16(u & 0xFFFF).u16(u >> 16);
  }
  Bytes& str(const std::string& s) {
    u8(static_cast<uint8_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& zeros(size_t n) { b.insert(b.end(), n, 0); return *this; }
};

class ProjectFile : public ::testing::Test {
 protected:
  void SetUp() override {
    projectdoubles::ResetClient();
    app.SetHostUi(&host);
    dir = fs::temp_directory_path() / ("plexmar-project-" + std::to_string(getpid()) + "-" +
                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override {
    app.SetHostUi(nullptr);
    fs::remove_all(dir);
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }
  void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // A configuration with something in every field that a file can hold
  // without opening real connections.
  void Populate() {
    frame.m_logFont.lfHeight = -20;
    frame.m_logFont.lfItalic = 1;
    std::strcpy(frame.m_logFont.lfFaceName, "Helvetica");
    frame.m_crForeground = 0x123456;
    frame.m_crBackground = 0x654321;
    frame.m_crExtra = 0x00FF00;
    app.m_bLocked = 1;
    app.m_strPassword = "Secret";
    app.m_nTimerPeriod = 250;
    app.m_comm[2] = {19200, 7, 2, 2, 0, 1500, -1, -1};
    app.m_nTcpMasterTimeout = 3000;
    app.m_nTcpSlavePort = 15020;
    app.m_tcpMasters[17].strHost = "plc-7";
    app.m_tcpMasters[17].nPort = 1502;

    auto text = std::make_unique<CExchangeTag>("Text");
    VariantClear(text->m_value.get());
    *text->m_value = MakeVariantText("abc");
    text->m_strLogicBlock = "Calc";
    app.AddTag(std::move(text));
    auto reg = std::make_unique<CExchangeTag>("Level");
    reg->m_nSourceKind = CExchangeTag::kSourceLocal;
    reg->m_nSlaveId = 4;
    reg->m_nPointType = CExchangeTag::kInputRegister;
    reg->m_nAddress = 300;
    reg->m_nDataType = CExchangeTag::kScaled9999;
    reg->m_fLowLimit = -5.5f;
    reg->m_fHighLimit = 42.25f;
    app.AddTag(std::move(reg));
    auto opc = std::make_unique<CExchangeTag>("Flow");
    opc->m_nSourceKind = CExchangeTag::kSourceOpc;
    opc->m_strMachine = "far";
    opc->m_strServer = "Some.Server";
    opc->m_strItemId = "Ch1.Flow";
    opc->m_strHost = "kept";
    opc->m_nCommPort = 5;
    app.AddTag(std::move(opc));

    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = "Calc";
    auto entry = std::make_unique<CLogicEntry>();
    entry->m_strTag1 = "Flow";
    entry->m_strTag2 = "Level";
    entry->m_nOperation = kLogicOpMultiply;
    entry->m_strTag3 = "Level";
    block->m_entries.push_back(std::move(entry));
    app.AddLogicBlock(std::move(block));
    auto empty = std::make_unique<CLogicBlock>();
    empty->m_strName = "Empty";
    app.AddLogicBlock(std::move(empty));

    auto link = std::make_unique<COpcServerLink>("far", "Some.Server");
    link->m_bConnected = 1;
    link->m_hServer = 5;
    app.m_serverLinks.push_back(std::move(link));
    forms.paths = {"/plant/a.frm", "", "/plant/c.frm"};
  }

  // What a reader must leave untouched.
  std::string Fingerprint() {
    CProjectImage image = CaptureProject(app, frame);
    const std::vector<uint8_t> bytes = ProjectBytes(image);
    std::string print(bytes.begin(), bytes.end());
    print += "|links=" + std::to_string(app.m_serverLinks.size());
    print += "|blocks=" + std::to_string(app.m_dataBlocks.size());
    for (const auto& tag : app.m_tags) print += "|" + std::to_string(tag->m_hServerTag);
    return print;
  }

  CPlexmarApp app;
  CMainFrameCore frame{app, [] {}};
  projectdoubles::Libraries libraries;
  projectdoubles::Forms forms;
  projectdoubles::Host host;
  CProjectContext context{app, frame, &forms, libraries};
  fs::path dir;
};

}  // namespace

TEST_F(ProjectFile, EmptyProjectIsHeaderSettingsAndFiveZeroCounts) {
  forms.paths.clear();
  ASSERT_TRUE(SaveProject(context, Path("empty.tst")));
  Bytes want;
  want.u16(1);
  want.i32(-13).i32(0).i32(0).i32(0).i32(400).u8(0).u8(0).u8(0).u8(0).u8(1).u8(2).u8(1).u8(0x31);
  want.b.insert(want.b.end(), {'C', 'o', 'u', 'r', 'i', 'e', 'r'});
  want.zeros(32 - 7);
  want.i32(0x000000).i32(0xC0C0C0).i32(0x0000FF);
  ASSERT_EQ(want.b.size(), 2u + 60 + 12);
  want.i32(0).str("").i32(1000);
  for (int i = 0; i < 9; ++i) want.i32(9600).u8(8).u8(0).u8(0).i32(1).i32(2000);
  want.i32(2000).i32(502);
  for (int i = 0; i < 18; ++i) want.i32(502).str("");
  want.i32(0);                                  // links
  want.zeros(9 * 8).i32(0).zeros(18 * 4);       // nothing open
  want.i32(0).i32(0).i32(0);                    // tags, blocks, forms
  EXPECT_EQ(ReadFile(Path("empty.tst")), want.b);
}

TEST_F(ProjectFile, TextValueIsAVariantRecordAndAString) {
  auto tag = std::make_unique<CExchangeTag>("T");
  VariantClear(tag->m_value.get());
  *tag->m_value = MakeVariantText("abc");
  CArchive out;
  tag->Serialize(out);
  const std::vector<uint8_t>& b = out.Bytes();
  // name "T", kind 0, then the record.
  const std::vector<uint8_t> record = {8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 'a', 'b', 'c'};
  ASSERT_GE(b.size(), 2 + 4 + record.size());
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 6, b.begin() + 6 + static_cast<long>(record.size())), record);

  app.AddTag(std::move(tag));
  forms.paths.clear();
  ASSERT_TRUE(SaveProject(context, Path("abc.tst")));
  app.RemoveAllTags();
  ASSERT_TRUE(LoadProject(context, Path("abc.tst")));
  ASSERT_EQ(app.m_tags.size(), 1u);
  EXPECT_EQ(app.m_tags[0]->m_value->vt, VT_BSTR);
  EXPECT_EQ(BstrToUtf8(app.m_tags[0]->m_value->bstrVal), "abc");
}

TEST_F(ProjectFile, ArrayValueIsStoredEmptyAndTheReaderStaysInStep) {
  auto array = std::make_unique<CExchangeTag>("Array");
  VariantClear(array->m_value.get());
  array->m_value->vt = VT_ARRAY | VT_I2;
  array->m_value->parray = SafeArrayCreateVector(VT_I2, 0, 4);
  app.AddTag(std::move(array));
  app.AddTag(std::make_unique<CExchangeTag>("After"));
  forms.paths.clear();
  ASSERT_TRUE(SaveProject(context, Path("array.tst")));
  ASSERT_TRUE(LoadProject(context, Path("array.tst")));
  ASSERT_EQ(app.m_tags.size(), 2u);
  EXPECT_EQ(app.m_tags[0]->m_value->vt, VT_EMPTY);
  EXPECT_EQ(app.m_tags[1]->m_strName, "After");
  EXPECT_EQ(app.m_tags[1]->m_value->vt, VT_R4);
}

TEST_F(ProjectFile, EveryFieldSurvivesSaveAndLoad) {
  Populate();
  ASSERT_TRUE(SaveProject(context, Path("all.tst")));
  EXPECT_EQ(forms.calls, (std::vector<std::string>{"Save 0", "Save 1", "Save 2"}));
  const std::vector<uint8_t> saved = ReadFile(Path("all.tst"));

  CPlexmarApp other;
  CMainFrameCore otherFrame{other, [] {}};
  projectdoubles::Forms otherForms;
  projectdoubles::Host otherHost;
  other.SetHostUi(&otherHost);
  CProjectContext otherContext{other, otherFrame, &otherForms, libraries};
  ASSERT_TRUE(LoadProject(otherContext, Path("all.tst")));

  EXPECT_EQ(otherFrame.m_logFont.lfHeight, -20);
  EXPECT_EQ(otherFrame.m_logFont.lfItalic, 1);
  EXPECT_STREQ(otherFrame.m_logFont.lfFaceName, "Helvetica");
  EXPECT_EQ(otherFrame.m_crForeground, 0x123456u);
  EXPECT_EQ(otherFrame.m_crBackground, 0x654321u);
  EXPECT_EQ(otherFrame.m_crExtra, 0x00FF00u);
  EXPECT_EQ(other.m_bLocked, 1);
  EXPECT_EQ(other.m_strPassword, "Secret");
  EXPECT_EQ(other.m_nTimerPeriod, 250);
  EXPECT_EQ(other.m_comm[2].nBaudRate, 19200);
  EXPECT_EQ(other.m_comm[2].nDataBits, 7);
  EXPECT_EQ(other.m_comm[2].nStopBits, 2);
  EXPECT_EQ(other.m_comm[2].nParity, 2);
  EXPECT_EQ(other.m_comm[2].nProtocol, 0);
  EXPECT_EQ(other.m_comm[2].nMasterTimeout, 1500);
  EXPECT_EQ(other.m_nTcpMasterTimeout, 3000);
  EXPECT_EQ(other.m_nTcpSlavePort, 15020);
  EXPECT_EQ(other.m_tcpMasters[17].strHost, "plc-7");
  EXPECT_EQ(other.m_tcpMasters[17].nPort, 1502);

  // The link is connected again through the connect step, and its group
  // refreshed once the tags are bound.
  ASSERT_EQ(other.m_serverLinks.size(), 1u);
  EXPECT_EQ(other.m_serverLinks[0]->m_strMachine, "far");
  EXPECT_EQ(other.m_serverLinks[0]->m_strServer, "Some.Server");
  EXPECT_EQ(ClientCalls().front(), "Connect far|Some.Server 0");
  EXPECT_EQ(ClientCalls().back(), "Refresh 70 1070 1");

  ASSERT_EQ(other.m_tags.size(), 3u);
  EXPECT_EQ(BstrToUtf8(other.m_tags[0]->m_value->bstrVal), "abc");
  EXPECT_EQ(other.m_tags[0]->m_strLogicBlock, "Calc");
  const CExchangeTag& level = *other.m_tags[1];
  EXPECT_EQ(level.m_nSourceKind, CExchangeTag::kSourceLocal);
  EXPECT_EQ(level.m_nSlaveId, 4);
  EXPECT_EQ(level.m_nPointType, CExchangeTag::kInputRegister);
  EXPECT_EQ(level.m_nAddress, 300);
  EXPECT_EQ(level.m_nDataType, CExchangeTag::kScaled9999);
  EXPECT_FLOAT_EQ(level.m_fLowLimit, -5.5f);
  EXPECT_FLOAT_EQ(level.m_fHighLimit, 42.25f);
  const CExchangeTag& flow = *other.m_tags[2];
  EXPECT_EQ(flow.m_strMachine, "far");
  EXPECT_EQ(flow.m_strServer, "Some.Server");
  EXPECT_EQ(flow.m_strItemId, "Ch1.Flow");
  EXPECT_EQ(flow.m_strHost, "kept");
  EXPECT_EQ(flow.m_nCommPort, 5);
  for (const auto& tag : other.m_tags) {
    EXPECT_EQ(tag->m_bForceUpdate, 1) << tag->m_strName;
    EXPECT_NE(tag->m_hServerTag, -1) << tag->m_strName << " is published";
  }
  EXPECT_EQ(other.m_dataBlocks.size(), 1u) << "the LOCAL point has its block";

  ASSERT_EQ(other.m_logicBlocks.size(), 2u);
  EXPECT_TRUE(other.m_logicBlocks[0]->IsEqual(*app.m_logicBlocks[0]));
  EXPECT_EQ(other.m_logicBlocks[1]->m_strName, "Empty");

  // The form whose save was cancelled is not listed; the others re-open
  // after every open form was closed.
  EXPECT_EQ(otherForms.calls, (std::vector<std::string>{"CloseAll", "Open /plant/a.frm", "Open /plant/c.frm"}));
  EXPECT_TRUE(otherHost.messages.empty());

  // Saved again, the file is the same byte for byte.
  otherForms.paths = {"/plant/a.frm", "/plant/c.frm"};
  ASSERT_TRUE(SaveProject(otherContext, Path("again.tst")));
  EXPECT_EQ(ReadFile(Path("again.tst")), saved);
  other.SetHostUi(nullptr);
}

TEST_F(ProjectFile, LoadTearsDownInOrderAndReopensOnlyWhatWasOpen) {
  // The running state: a link, a slave and a master on COMM2, the TCP slave,
  // a TCP master with the request in flight.
  auto link = std::make_unique<COpcServerLink>("", "Old");
  link->m_bConnected = 1;
  link->m_hServer = 9;
  app.m_serverLinks.push_back(std::move(link));
  app.m_comm[1].hSlave = 21;
  app.m_comm[1].hMaster = 22;
  app.m_hTcpSlave = 8050;
  app.m_tcpMasters[0].hMaster = 31;
  frame.m_hOutstandingMaster = 31;
  app.AddTag(std::make_unique<CExchangeTag>("Old"));

  CPlexmarApp source;
  CMainFrameCore sourceFrame{source, [] {}};
  projectdoubles::Libraries none;
  source.m_serverLinks.push_back(std::make_unique<COpcServerLink>("", "Down"));
  source.m_serverLinks.push_back(std::make_unique<COpcServerLink>("", "NoGroup"));
  CProjectContext sourceContext{source, sourceFrame, nullptr, none};
  ASSERT_TRUE(SaveProject(sourceContext, Path("links.tst")));

  ASSERT_TRUE(LoadProject(context, Path("links.tst")));
  EXPECT_EQ(libraries.calls, (std::vector<std::string>{"Disconnect 9", "CloseSlave 21", "CloseMaster 22",
                                                       "CloseSlave 8050", "CloseMaster 31"}));
  EXPECT_EQ(frame.m_hOutstandingMaster, -1) << "its connection is gone";
  EXPECT_EQ(app.m_comm[1].hSlave, -1);
  EXPECT_EQ(app.m_comm[1].hMaster, -1);
  EXPECT_EQ(app.m_hTcpSlave, -1);
  EXPECT_EQ(app.m_tcpMasters[0].hMaster, -1);
  EXPECT_TRUE(app.m_tags.empty());
  // Both links fail with their messages; the load goes on.
  EXPECT_EQ(host.messages, (std::vector<std::string>{"Connection Failed", "Connection Failed to Create Group"}));
  EXPECT_TRUE(app.m_serverLinks.empty());
  EXPECT_NE(std::find(ClientCalls().begin(), ClientCalls().end(), "Disconnect 70"), ClientCalls().end())
      << "a server without its group is let go";
}

TEST_F(ProjectFile, EveryCutLeavesTheRunningConfigurationAsItWas) {
  Populate();
  ASSERT_TRUE(SaveProject(context, Path("whole.tst")));
  const std::vector<uint8_t> whole = ReadFile(Path("whole.tst"));
  const std::string before = Fingerprint();
  const std::string cutPath = Path("cut.tst");
  forms.calls.clear();
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    WriteFile(cutPath, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
    host.messages.clear();
    ASSERT_FALSE(LoadProject(context, cutPath)) << "cut at " << cut;
    ASSERT_EQ(host.messages.size(), 1u);
    ASSERT_EQ(host.messages[0].rfind("File Open Error - " + cutPath + "\n", 0), 0u) << host.messages[0];
  }
  EXPECT_EQ(Fingerprint(), before);
  EXPECT_TRUE(libraries.calls.empty()) << "nothing was closed";
  EXPECT_TRUE(forms.calls.empty()) << "no form was closed";

  // Bytes after the last field are damage too.
  std::vector<uint8_t> longer = whole;
  longer.push_back(0);
  WriteFile(cutPath, longer);
  host.messages.clear();
  EXPECT_FALSE(LoadProject(context, cutPath));
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_NE(host.messages[0].find("goes on after"), std::string::npos);
  EXPECT_EQ(Fingerprint(), before);
}

TEST_F(ProjectFile, CountsAndLengthsThatCannotBeRight) {
  forms.paths.clear();
  ASSERT_TRUE(SaveProject(context, Path("base.tst")));
  const std::vector<uint8_t> base = ReadFile(Path("base.tst"));
  const size_t tagCount = base.size() - 12;
  const size_t linkCount = 2 + 60 + 12 + 4 + 1 + 4 + 9 * 15 + 4 + 4 + 18 * 5;
  ASSERT_EQ(base[linkCount], 0);
  app.AddTag(std::make_unique<CExchangeTag>("Keep"));
  const std::string before = Fingerprint();

  const auto tryBytes = [&](std::vector<uint8_t> bytes, const char* what) {
    WriteFile(Path("bad.tst"), bytes);
    host.messages.clear();
    EXPECT_FALSE(LoadProject(context, Path("bad.tst"))) << what;
    EXPECT_EQ(host.messages.size(), 1u) << what;
    EXPECT_EQ(Fingerprint(), before) << what;
  };
  for (const uint32_t count : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 1000u}) {
    std::vector<uint8_t> bytes = base;
    std::memcpy(&bytes[tagCount], &count, 4);
    tryBytes(bytes, "tag count");
    bytes = base;
    std::memcpy(&bytes[linkCount], &count, 4);
    tryBytes(bytes, "link count");
  }
  // A password whose length runs past the end of the file.
  std::vector<uint8_t> bytes = base;
  bytes[2 + 60 + 12 + 4] = 0xFF;
  bytes[2 + 60 + 12 + 4 + 1] = 0xFE;
  bytes[2 + 60 + 12 + 4 + 2] = 0xFF;
  tryBytes(bytes, "password length");
  tryBytes(std::vector<uint8_t>(5000, 0xFF), "noise");
}

TEST_F(ProjectFile, MissingFiles) {
  EXPECT_FALSE(LoadProject(context, Path("plexmar.tst")));
  EXPECT_TRUE(host.messages.empty()) << "a missing default project is silent";
  EXPECT_FALSE(LoadProject(context, Path("other.tst")));
  EXPECT_EQ(host.messages, (std::vector<std::string>{"File Open Error - " + Path("other.tst")}));
  host.messages.clear();
  fs::create_directories(Path("folder/plexmar.tst"));
  EXPECT_FALSE(LoadProject(context, Path("folder/plexmar.tst")));
  EXPECT_EQ(host.messages.size(), 1u) << "a default project that is there but cannot be read is reported";
}

TEST_F(ProjectFile, SaveThatCannotBeWrittenKeepsTheOldFile) {
  forms.paths.clear();
  ASSERT_TRUE(SaveProject(context, Path("keep.tst")));
  const std::vector<uint8_t> old = ReadFile(Path("keep.tst"));
  EXPECT_FALSE(SaveProject(context, Path("no/such/folder/x.tst")));
  EXPECT_EQ(host.messages, (std::vector<std::string>{"File Creation Error"}));
  EXPECT_EQ(ReadFile(Path("keep.tst")), old);
}
