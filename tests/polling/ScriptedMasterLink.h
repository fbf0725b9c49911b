// A master library double for the request chain: records every call, answers
// polls and writes as scripted, and hands out replies in the order the
// requests were accepted.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/ModbusPoller.h"

struct LinkCall {
  char kind;  // 'P' poll, 'W' write, 'R' response taken
  int32_t handle;
  ModbusRequestHeader header;
  std::vector<uint16_t> data;  // written words
};

class CScriptedMasterLink : public IMasterLink {
 public:
  // Handles whose requests are refused, with the code returned.
  std::map<int32_t, int32_t> m_refuse;
  // Decides the outcome of a reply: its status and, for reads, the words.
  // By default every read succeeds with the value 1000 + point number.
  std::function<int32_t(const ModbusRequestHeader&, uint16_t* words)> m_answer;
  // When set, the next reply reports this header instead of its request's.
  std::optional<ModbusRequestHeader> m_overrideHeader;

  std::vector<LinkCall> m_calls;
  int m_maxInFlight = 0;

  int32_t PollMODBUS(int32_t handle, const ModbusRequestHeader& header) override {
    m_calls.push_back({'P', handle, header, {}});
    return Accept(handle, header);
  }
  int32_t WriteMODBUS(int32_t handle, const ModbusRequestHeader& header, const uint16_t* data) override {
    m_calls.push_back({'W', handle, header, std::vector<uint16_t>(data, data + header.nCount)});
    return Accept(handle, header);
  }
  int32_t MODBUSResponse(int32_t handle, ModbusRequestHeader& header, uint16_t* words,
                         int32_t nWords) override {
    m_calls.push_back({'R', handle, {}, {}});
    if (m_inFlight.empty() || m_inFlight.front().first != handle) {
      header = {};
      return MLERR_NO_RESPONSE;
    }
    header = m_inFlight.front().second;
    m_inFlight.pop_front();
    int32_t status = 0;
    if (header.nFunction <= 4) {
      if (m_answer) {
        status = m_answer(header, words);
      } else {
        for (int i = 0; i < header.nCount && i < nWords; ++i) words[i] = static_cast<uint16_t>(1000 + header.nAddress + i);
      }
    }
    if (m_overrideHeader) {
      header = *m_overrideHeader;
      m_overrideHeader.reset();
    }
    return status;
  }

  size_t InFlight() const { return m_inFlight.size(); }
  // The calls of one kind, in order.
  std::vector<LinkCall> Calls(char kind) const {
    std::vector<LinkCall> out;
    for (const auto& c : m_calls) if (c.kind == kind) out.push_back(c);
    return out;
  }

 private:
  int32_t Accept(int32_t handle, const ModbusRequestHeader& header) {
    if (auto it = m_refuse.find(handle); it != m_refuse.end()) return it->second;
    m_inFlight.emplace_back(handle, header);
    m_maxInFlight = std::max(m_maxInFlight, static_cast<int>(m_inFlight.size()));
    return 0;
  }
  std::deque<std::pair<int32_t, ModbusRequestHeader>> m_inFlight;
};
