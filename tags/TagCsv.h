// The tag CSV file: one line per tag with its name, its logic block
// reference and its data source, written by "&Export Tags" and read by
// "&Import Tags", which replaces the whole tag table.
//
//   Exchange.Tag1,LB(Not Used),Variable,1.0000,
//   Pump,LB(LB1),Modbus Point,COMM2,1,HOLDING REGISTER,100,Scaled 0-4095,0.00,100.00,
//   Flow,LB(Not Used),OPC Point,Local,Some.Server,Channel1.Flow,
//
// Two cases the line format leaves open are settled here:
// - a user variable whose value is no number (a text an OPC client wrote)
//   exports as 0.0000;
// - a second field shorter than "LB()" (on an empty line, say) gives an empty
//   logic block reference: nothing outside the field is read.
#pragma once

#include <istream>
#include <memory>
#include <string>
#include <vector>

class CExchangeTag;
class CPlexmarApp;

// One exported line, ended by CR LF.
std::string TagCsvLine(const CExchangeTag& tag);
std::string ExportTagCsv(const std::vector<std::unique_ptr<CExchangeTag>>& tags);

// One tag from one line (without its line end); never fails.
std::unique_ptr<CExchangeTag> ParseTagCsvLine(const std::string& line);
// Every line of a file, in order; the tags are not bound.
std::vector<std::unique_ptr<CExchangeTag>> ParseTagCsv(std::istream& in);

// The import once the file is open: the tag table and the data blocks are
// replaced by the file's tags, each appended and bound as AddTag does.
void ImportTagCsv(CPlexmarApp& app, std::istream& in);

// The words of the file.
const char* PointTypeWord(int pointType);  // null outside 1..4
const char* DataTypeWord(int dataType);    // null outside 0..8
