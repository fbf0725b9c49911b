// plexmar_demo: writes a project file from a readable description (see
// demo-project.txt), through the program's own tag CSV, logic block CSV and
// project file code, so that the demo never is a binary edited by hand.
//
//   plexmar_demo <description> <project file>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/ExchangeTag.h"
#include "core/ProjectFile.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockCsv.h"
#include "tags/TagCsv.h"

namespace fs = std::filesystem;

namespace {

bool Fail(const std::string& text) {
  std::fprintf(stderr, "plexmar_demo: %s\n", text.c_str());
  return false;
}

bool ReadDescription(const fs::path& description, CProjectImage& image) {
  std::ifstream in(description);
  if (!in) return Fail("cannot read " + description.string());
  const fs::path folder = description.parent_path();
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::istringstream words(line);
    std::string word;
    if (!(words >> word) || word[0] == '#') continue;
    const std::string where = description.string() + ":" + std::to_string(number);
    if (word == "tcp-slave-port") {
      if (!(words >> image.nTcpSlavePort)) return Fail(where + ": tcp-slave-port needs a number");
    } else if (word == "tcp-slave-open") {
      if (!(words >> image.bTcpSlaveOpen)) return Fail(where + ": tcp-slave-open needs 0 or 1");
    } else if (word == "tags") {
      std::string file;
      words >> file;
      std::ifstream csv(folder / file, std::ios::binary);
      if (!csv) return Fail(where + ": cannot read " + (folder / file).string());
      for (auto& tag : ParseTagCsv(csv)) image.tags.push_back(std::move(tag));
    } else if (word == "logic") {
      std::string name, file;
      words >> name >> file;
      std::ifstream csv(folder / file, std::ios::binary);
      if (!csv) return Fail(where + ": cannot read " + (folder / file).string());
      image.blocks.push_back(ParseLogicBlockCsv(csv, name));
    } else {
      return Fail(where + ": unknown word " + word);
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: plexmar_demo <description> <project file>\n");
    return 2;
  }
  CProjectImage image;
  if (!ReadDescription(argv[1], image)) return 1;
  CArchive ar;
  image.Serialize(ar);
  if (!ar.SaveToFile(argv[2])) {
    Fail(std::string("cannot write ") + argv[2]);
    return 1;
  }
  std::printf("plexmar_demo: wrote %s (%zu tags, %zu logic blocks)\n", argv[2], image.tags.size(),
              image.blocks.size());
  return 0;
}
