// The configuration files at plant size: SaveProject and LoadProject of a
// project with N tags and N/10 logic blocks, and "&Export Tags" / "&Import
// Tags" of N lines, for N = 1,000 and 10,000 side by side. The peer of each
// is the least any such command must do: write or read the same number of
// bytes to or from a file in one piece. The ratio 10,000 / 1,000 of a
// command shows whether it grows linearly (about 10). Saving includes the
// flush to disk that makes the renamed file durable, which dominates the
// small project. Loading and importing bind each Modbus tag by offering it
// to the data blocks in list order, so they grow with tags x blocks.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/AppFramework.h"
#include "core/ExchangeTag.h"
#include "core/MainFrameCore.h"
#include "core/PlexmarApp.h"
#include "core/ProjectFile.h"
#include "logic/LogicBlock.h"
#include "logic/LogicEntry.h"
#include "tags/TagCsv.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The fastest of a few runs, in milliseconds: the machine is shared.
double BestMs(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    work();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (ms < best) best = ms;
  }
  return best;
}

// A plant-like table: a third user variables, a third "LOCAL" holding
// registers, a third registers of a Modbus/TCP slave, in runs of contiguous
// points; one block per ten tags, each of five entries of every kind.
void Fill(CPlexmarApp& app, int tags) {
  for (int i = 0; i < tags; ++i) {
    auto tag = std::make_unique<CExchangeTag>("Area" + std::to_string(i / 100) + ".Tag" + std::to_string(i));
    tag->m_nSourceKind = i % 3 == 0 ? CExchangeTag::kSourceVariable
                                    : (i % 3 == 1 ? CExchangeTag::kSourceLocal : CExchangeTag::kSourceTcp);
    tag->m_strHost = tag->m_nSourceKind == CExchangeTag::kSourceTcp ? "10.0.0.7" : "";
    tag->m_nSlaveId = static_cast<uint8_t>(1 + i / 6000);
    tag->m_nAddress = static_cast<uint16_t>(1 + i % 6000);
    tag->m_nDataType = i % 7 == 0 ? CExchangeTag::kScaled4095 : CExchangeTag::kInteger;
    tag->m_value = MakeVariantR4(static_cast<float>(i) * 0.5f);
    if (i % 10 == 0) tag->m_strLogicBlock = "LB" + std::to_string(i / 10);
    app.AddTag(std::move(tag));
  }
  app.DefineLocalBlocks();
  for (int b = 0; b < tags / 10; ++b) {
    auto block = std::make_unique<CLogicBlock>();
    block->m_strName = "LB" + std::to_string(b);
    for (int e = 0; e < 5; ++e) {
      auto entry = std::make_unique<CLogicEntry>();
      entry->m_nType = e == 4 ? kLogicFormShowHide : (e == 3 ? kLogicIfGoto : kLogicAssignment);
      entry->m_strLabel = e == 0 ? "Start" : "";
      entry->m_strTag1 = "Area0.Tag" + std::to_string(e);
      entry->m_strTag2 = "Area0.Tag" + std::to_string(e + 1);
      entry->m_strTag3 = "Area0.Tag" + std::to_string(e + 2);
      entry->m_nOperation = e % 4;
      entry->m_strGotoBlock = block->m_strName;
      entry->m_strGotoLabel = "Start";
      entry->m_strFormName = "Overview";
      block->m_entries.push_back(std::move(entry));
    }
    app.AddLogicBlock(std::move(block));
  }
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Figures {
  double save = 0, load = 0, saveFloor = 0, loadFloor = 0;
  double exportCsv = 0, importCsv = 0, exportFloor = 0, importFloor = 0;
  size_t projectBytes = 0, csvBytes = 0, loadedTags = 0, importedTags = 0;
};

Figures Measure(int tags, const fs::path& dir) {
  Figures f;
  CPlexmarApp app;
  CMainFrameCore frame(app, [] {});
  Fill(app, tags);
  CProjectContext context{app, frame, nullptr, LinkedLibraries()};
  const fs::path project = dir / ("bench-" + std::to_string(tags) + ".tst");
  const fs::path copy = dir / ("floor-" + std::to_string(tags) + ".tst");

  f.save = BestMs(5, [&] { SaveProject(context, project.string()); });
  const std::string bytes = ReadAll(project);
  f.projectBytes = bytes.size();
  f.saveFloor = BestMs(5, [&] { WriteAll(copy, bytes); });
  f.load = BestMs(5, [&] { LoadProject(context, project.string()); });
  f.loadedTags = app.m_tags.size();
  f.loadFloor = BestMs(5, [&] { (void)ReadAll(copy); });

  const fs::path csv = dir / ("bench-" + std::to_string(tags) + ".csv");
  f.exportCsv = BestMs(5, [&] { WriteAll(csv, ExportTagCsv(app.m_tags)); });
  const std::string lines = ReadAll(csv);
  f.csvBytes = lines.size();
  f.exportFloor = BestMs(5, [&] { WriteAll(copy, lines); });
  f.importCsv = BestMs(5, [&] {
    std::ifstream in(csv, std::ios::binary);
    ImportTagCsv(app, in);
  });
  f.importedTags = app.m_tags.size();
  f.importFloor = BestMs(5, [&] { (void)ReadAll(copy); });
  return f;
}

void Row(const char* what, double small, double large, double largeFloor) {
  std::printf("%-34s %10.2f %10.2f %8.1f %10.2f %8.1f %s\n", what, small, large, large / small, largeFloor,
              large / largeFloor, large < 1000.0 ? "ok" : "OVER 1 s");
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("plexmar-bench-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const Figures small = Measure(1000, dir);
  const Figures large = Measure(10000, dir);
  fs::remove_all(dir);

  for (const Figures* f : {&small, &large})
    std::printf("project: %zu tags loaded, %zu bytes; tag CSV: %zu tags imported, %zu bytes\n", f->loadedTags,
                f->projectBytes, f->importedTags, f->csvBytes);
  std::printf("%-34s %10s %10s %8s %10s %8s\n", "command (best of 5, ms)", "1,000", "10,000", "x", "peer",
              "/peer");
  Row("SaveProject (N tags, N/10 blocks)", small.save, large.save, large.saveFloor);
  Row("LoadProject (N tags, N/10 blocks)", small.load, large.load, large.loadFloor);
  Row("Export Tags (N lines)", small.exportCsv, large.exportCsv, large.exportFloor);
  Row("Import Tags (N lines)", small.importCsv, large.importCsv, large.importFloor);
  const bool within = large.save < 1000 && large.load < 1000 && large.exportCsv < 1000 && large.importCsv < 1000;
  const bool whole = small.loadedTags == 1000 && small.importedTags == 1000 && large.loadedTags == 10000 &&
                     large.importedTags == 10000;
  return within && whole ? 0 : 1;
}
