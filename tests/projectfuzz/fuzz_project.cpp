// Any bytes as a project file. A file is taken only when it parses to its
// end; a refused file leaves the image it was to fill untouched, and a taken
// one saves to bytes that load back to the very same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/ProjectFile.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  CProjectImage image;
  image.strPassword = "untouched";
  image.forms.push_back("untouched");
  std::string error;
  if (!ParseProject(bytes, image, error)) {
    Require(!error.empty());
    Require(image.strPassword == "untouched" && image.forms.size() == 1 && image.tags.empty());
    return 0;
  }
  const std::vector<uint8_t> saved = ProjectBytes(image);
  CProjectImage again;
  Require(ParseProject(saved, again, error));
  Require(ProjectBytes(again) == saved);
  return 0;
}
