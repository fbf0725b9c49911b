#include "core/DataBlockIndex.h"

#include <algorithm>
#include <queue>

#include "core/ModbusDataBlock.h"

void CDataBlockIndex::Build(const std::vector<std::unique_ptr<CModbusDataBlock>>& blocks) {
  m_segments.clear();

  // Group the list positions of the blocks by key.
  std::map<Key, std::vector<int32_t>, KeyLess> groups;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const CModbusDataBlock& block = *blocks[i];
    if (block.m_nCount == 0) continue;
    groups[Key{block.m_strLocation, block.m_nSlaveId, block.m_nPointType}].push_back(
        static_cast<int32_t>(i));
  }

  for (auto& [key, members] : groups) {
    // Sweep the addresses from low to high: at each boundary the blocks that
    // have started wait in a heap ordered by list position; those that ended
    // drop off its top. The top then owns the segment up to the next boundary.
    std::sort(members.begin(), members.end(), [&](int32_t a, int32_t b) {
      return blocks[a]->m_nStartAddress < blocks[b]->m_nStartAddress;
    });
    std::vector<int32_t> boundaries;
    for (int32_t m : members) {
      boundaries.push_back(blocks[m]->m_nStartAddress);
      boundaries.push_back(blocks[m]->EndAddress() + 1);
    }
    std::sort(boundaries.begin(), boundaries.end());
    boundaries.erase(std::unique(boundaries.begin(), boundaries.end()), boundaries.end());

    std::priority_queue<int32_t, std::vector<int32_t>, std::greater<int32_t>> active;
    std::vector<Segment> segments;
    size_t next = 0;
    for (size_t b = 0; b + 1 < boundaries.size(); ++b) {
      const int32_t from = boundaries[b];
      while (next < members.size() && blocks[members[next]]->m_nStartAddress <= from)
        active.push(members[next++]);
      while (!active.empty() && blocks[active.top()]->EndAddress() < from) active.pop();
      if (active.empty()) continue;
      const int32_t to = boundaries[b + 1] - 1;
      if (!segments.empty() && segments.back().block == active.top() &&
          segments.back().last + 1 == from)
        segments.back().last = to;
      else
        segments.push_back(Segment{from, to, active.top()});
    }
    m_segments.emplace(key, std::move(segments));
  }
}

int32_t CDataBlockIndex::Find(std::string_view location, uint8_t slave, uint8_t pointType,
                              uint16_t address) const {
  const auto it = m_segments.find(KeyView{location, slave, pointType});
  if (it == m_segments.end()) return -1;
  const std::vector<Segment>& segments = it->second;
  // The last segment starting at or before the address.
  auto after = std::upper_bound(segments.begin(), segments.end(), int32_t{address},
                                [](int32_t a, const Segment& s) { return a < s.first; });
  if (after == segments.begin()) return -1;
  const Segment& s = *(after - 1);
  return address <= s.last ? s.block : -1;
}
