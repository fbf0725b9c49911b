#include "connections/OpcServerLink.h"

#include <utility>

COpcServerLink::COpcServerLink(std::string machine, std::string server)
    : m_strMachine(std::move(machine)), m_strServer(std::move(server)) {
  m_nLinkType = kOpcServerLinkType;
}

void COpcServerLink::Serialize(CArchive& ar) {
  ar.Io(m_strMachine);
  ar.Io(m_strServer);
}

std::string COpcServerLink::GetDescription() const {
  return (m_strMachine.empty() ? std::string("Local Machine") : m_strMachine) + "--" + m_strServer;
}
