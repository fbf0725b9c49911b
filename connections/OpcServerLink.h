// The record of one OPC client connection to another OPC server: its names
// and the client toolkit's handles of the server and of the link's single
// group "Group 1". Created by the OPC connect step, kept for the whole run.
#pragma once

#include <cstdint>
#include <string>

#include "platform/archive.h"

// What every connection link carries: whether it is up and what kind it is.
class CConnectionLink {
 public:
  virtual ~CConnectionLink() = default;

  int32_t m_bConnected = 0;
  int32_t m_nLinkType = 0;
};

class COpcServerLink : public CConnectionLink {
 public:
  static constexpr int32_t kOpcServerLinkType = 1;

  COpcServerLink() { m_nLinkType = kOpcServerLinkType; }
  COpcServerLink(std::string machine, std::string server);

  // The project file record: machine name then server name. Handles and the
  // connected flag are not stored.
  virtual void Serialize(CArchive& ar);
  // "machine--server", or "Local Machine--server" for the local machine.
  virtual std::string GetDescription() const;

  std::string m_strMachine;  // empty = the local machine
  std::string m_strServer;
  int32_t m_hServer = -1;
  int32_t m_hGroup = -1;
};
