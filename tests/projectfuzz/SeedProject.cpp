// Writes a project file that holds every kind of record, as the first input
// of the project file fuzzer: the tags and entries come from the CSV seeds,
// with a text value, links, open connections and forms added.
#include <cstdio>
#include <fstream>
#include <memory>

#include "core/ExchangeTag.h"
#include "core/ProjectFile.h"
#include "logic/LogicBlock.h"
#include "logic/LogicBlockCsv.h"
#include "platform/variant.h"
#include "tags/TagCsv.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s TAGS.csv BLOCK.csv OUT.tst\n", argv[0]);
    return 2;
  }
  CProjectImage image;
  std::ifstream tags(argv[1], std::ios::binary);
  image.tags = ParseTagCsv(tags);
  auto text = std::make_unique<CExchangeTag>("Text");
  VARIANT abc = MakeVariantText("abc");
  text->m_value = CVariant::Adopt(abc);
  image.tags.push_back(std::move(text));
  std::ifstream block(argv[2], std::ios::binary);
  image.blocks.push_back(ParseLogicBlockCsv(block, "LB1"));
  image.blocks.push_back(std::make_unique<CLogicBlock>());
  image.bLocked = 1;
  image.strPassword = "secret";
  image.links.push_back({"", "Some.Server"});
  image.links.push_back({"hmi-2", "Other.Server"});
  image.commOpen[2].bMaster = 1;
  image.bTcpSlaveOpen = 1;
  image.nTcpSlavePort = 1502;
  image.tcpMasters[0].strHost = "plc.example";
  image.tcpMasterOpen[0] = 1;
  image.forms.push_back("/plant/Overview");
  CArchive ar;
  image.Serialize(ar);
  return ar.SaveToFile(argv[3]) ? 0 : 1;
}
