// The logic block CSV file: the entries of one block, one line each, written
// by "E&xport Logic Blk" and read by "I&mport Logic Blk". The block's name is
// not in the file.
//
//   ,Level,=,Raw,*,Gain,
//   Check,IF,Level,>,Limit,THEN GOTO,LB2,Alarm,
//   ,SHOW,Overview,
#pragma once

#include <istream>
#include <memory>
#include <string>

class CLogicBlock;
class CLogicEntry;

// One exported line, ended by CR LF.
std::string LogicEntryCsvLine(const CLogicEntry& entry);
std::string ExportLogicBlockCsv(const CLogicBlock& block);

// One entry from one line (without its line end); never fails.
std::unique_ptr<CLogicEntry> ParseLogicEntryCsvLine(const std::string& line);
// A new block named `name` holding an entry for every line of the file.
std::unique_ptr<CLogicBlock> ParseLogicBlockCsv(std::istream& in, const std::string& name);
