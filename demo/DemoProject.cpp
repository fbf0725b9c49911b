// plexmar_demo: writes a project file from a readable description (see
// demo-project.txt), through the program's own tag CSV, logic block CSV and
// project file code, so that the demo never is a binary edited by hand. Its
// operator form is written beside the project file, by the program's own form
// file code, and listed in the project by its full path.
//
//   plexmar_demo <description> <project file>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/ExchangeTag.h"
#include "core/ProjectFile.h"
#include "demo/DemoForm.h"
#include "forms/PlexmarDoc.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockCsv.h"
#include "tags/TagCsv.h"

namespace fs = std::filesystem;

namespace {

bool Fail(const std::string& text) {
  std::fprintf(stderr, "plexmar_demo: %s\n", text.c_str());
  return false;
}

// Reads the form description and writes the form file; its full path goes
// into the project's list of forms.
bool WriteForm(const fs::path& description, const fs::path& file, CProjectImage& image) {
  CPlexmarDoc doc;
  std::string error;
  if (!ReadDemoForm(description.string(), doc, error)) return Fail(error);
  CArchive ar;
  doc.Serialize(ar);
  if (!ar.SaveToFile(file.string())) return Fail("cannot write " + file.string());
  image.forms.push_back(fs::absolute(file).lexically_normal().string());
  return true;
}

bool ReadDescription(const fs::path& description, const fs::path& project, CProjectImage& image) {
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
    } else if (word == "form") {
      std::string file, name;
      if (!(words >> file >> name)) return Fail(where + ": form needs a description and a form file name");
      if (!WriteForm(folder / file, project.parent_path() / name, image)) return false;
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
  if (!ReadDescription(argv[1], argv[2], image)) return 1;
  CArchive ar;
  image.Serialize(ar);
  if (!ar.SaveToFile(argv[2])) {
    Fail(std::string("cannot write ") + argv[2]);
    return 1;
  }
  std::printf("plexmar_demo: wrote %s (%zu tags, %zu logic blocks, %zu forms)\n", argv[2], image.tags.size(),
              image.blocks.size(), image.forms.size());
  return 0;
}
