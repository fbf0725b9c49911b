// A lookup of the first data block, in list order, that holds a given point.
//
// The tick re-reads every Modbus tag, and a plain scan of the block list per
// point would grow with tags times blocks. The index flattens the blocks of
// each (location, slave, point type) into sorted, non-overlapping address
// segments, each naming the earliest block that covers it, so a point is
// found by one map lookup and one binary search.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CModbusDataBlock;

class CDataBlockIndex {
 public:
  // Indexes `blocks` as they are now; earlier entries win where blocks overlap.
  void Build(const std::vector<std::unique_ptr<CModbusDataBlock>>& blocks);
  // The list position of the first block holding the point, or -1.
  int32_t Find(std::string_view location, uint8_t slave, uint8_t pointType, uint16_t address) const;

 private:
  struct Key {
    std::string location;
    uint8_t slave;
    uint8_t pointType;
  };
  struct KeyView {
    std::string_view location;
    uint8_t slave;
    uint8_t pointType;
  };
  struct KeyLess {
    using is_transparent = void;
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      if (a.slave != b.slave) return a.slave < b.slave;
      if (a.pointType != b.pointType) return a.pointType < b.pointType;
      return std::string_view(a.location) < std::string_view(b.location);
    }
  };
  // Addresses [first, last] belong to the block at list position `block`.
  struct Segment {
    int32_t first;
    int32_t last;
    int32_t block;
  };

  std::map<Key, std::vector<Segment>, KeyLess> m_segments;
};
