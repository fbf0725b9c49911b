#include "core/ExchangeTag.h"

#include <algorithm>
#include <cstdio>

#include "clientkit/clientkit.h"
#include "connections/OpcServerLink.h"
#include "core/PlexmarApp.h"
#include "serverkit/serverkit.h"

namespace {

std::string DefaultName() {
  const CPlexmarApp* app = CPlexmarApp::Current();
  return app ? app->DefaultTagName() : std::string("Exchange.Tag1");
}

template <class... Args>
std::string Format(const char* format, Args... args) {
  char text[256];
  const int n = std::snprintf(text, sizeof(text), format, args...);
  return n <= 0 ? std::string() : std::string(text, std::min<size_t>(n, sizeof(text) - 1));
}

}  // namespace

CExchangeTag::CExchangeTag() : CExchangeTag(DefaultName()) {}

CExchangeTag::CExchangeTag(std::string name) : m_strName(std::move(name)) {
  m_value->vt = VT_R4;
  m_value->fltVal = 1.0f;
}

CExchangeTag::~CExchangeTag() {
  if (m_hClientItem != -1) {
    // Without its link (or the application) the item is simply forgotten.
    const CPlexmarApp* app = CPlexmarApp::Current();
    if (const COpcServerLink* link = app ? app->FindServerLink(m_strMachine, m_strServer) : nullptr)
      ClientRemoveItem(link->m_hServer, link->m_hGroup, m_hClientItem);
    m_hClientItem = -1;
  }
  if (m_hServerTag != -1) {
    RemoveServerTag(m_hServerTag);
    m_hServerTag = -1;
  }
  VariantClear(m_value.get());
}

void CExchangeTag::Serialize(CArchive& ar) {
  ar.Io(m_strName);
  ar.Io(m_nSourceKind);
  ar.Io(*m_value);
  ar.Io(m_strMachine);
  ar.Io(m_strServer);
  ar.Io(m_strItemId);
  ar.Io(m_strHost);
  ar.Io(m_nCommPort);
  ar.Io(m_nSlaveId);
  ar.Io(m_nPointType);
  ar.Io(m_nAddress);
  ar.Io(m_nDataType);
  ar.Io(m_fLowLimit);
  ar.Io(m_fHighLimit);
  ar.Io(m_strLogicBlock);
}

int CExchangeTag::CopyFrom(const CExchangeTag& source) {
  if (&source == this) return 1;
  m_strName = source.m_strName;
  m_nSourceKind = source.m_nSourceKind;
  VariantCopy(m_value.get(), source.m_value.get());
  m_ftTimestamp = source.m_ftTimestamp;
  m_nQuality = source.m_nQuality;
  m_strMachine = source.m_strMachine;
  m_strServer = source.m_strServer;
  m_strItemId = source.m_strItemId;
  m_strLogicBlock = source.m_strLogicBlock;
  m_strHost = source.m_strHost;
  m_nCommPort = source.m_nCommPort;
  m_nSlaveId = source.m_nSlaveId;
  m_nPointType = source.m_nPointType;
  m_nAddress = source.m_nAddress;
  m_nDataType = source.m_nDataType;
  m_fLowLimit = source.m_fLowLimit;
  m_fHighLimit = source.m_fHighLimit;
  return 1;
}

bool CExchangeTag::IsEqual(const CExchangeTag& other) const {
  if (m_strName != other.m_strName || m_nSourceKind != other.m_nSourceKind ||
      m_strLogicBlock != other.m_strLogicBlock)
    return false;

  if (m_nSourceKind == kSourceVariable) {
    // Only the type of a user variable's initial value is part of its
    // definition, and the number for real types.
    if (m_value->vt != other.m_value->vt) return false;
    if (m_value->vt == VT_R4) return m_value->fltVal == other.m_value->fltVal;
    if (m_value->vt == VT_R8) return m_value->dblVal == other.m_value->dblVal;
    return true;
  }
  if (m_nSourceKind == kSourceOpc) {
    return m_strMachine == other.m_strMachine && m_strServer == other.m_strServer &&
           m_strItemId == other.m_strItemId;
  }

  if (m_nSourceKind == kSourceComm && m_nCommPort != other.m_nCommPort) return false;
  if (m_nSourceKind == kSourceTcp && m_strHost != other.m_strHost) return false;
  if (m_nSlaveId != other.m_nSlaveId || m_nPointType != other.m_nPointType ||
      m_nAddress != other.m_nAddress || m_nDataType != other.m_nDataType)
    return false;
  if (m_nDataType == kScaled4095 || m_nDataType == kScaled9999 || m_nDataType == kScaled65535)
    return m_fLowLimit == other.m_fLowLimit && m_fHighLimit == other.m_fHighLimit;
  return true;
}

std::string CExchangeTag::GetDescription() const {
  switch (m_nSourceKind) {
    case kSourceVariable:
      return "User Variable (Global)";
    case kSourceLocal:
      return "Local Modbus Data " + GetPointDescription();
    case kSourceComm:
      return Format("Modbus Data Point (COMM%d) ", m_nCommPort) + GetPointDescription();
    case kSourceTcp:
      return "Modbus Data Point (" + m_strHost + ") " + GetPointDescription();
    case kSourceOpc: {
      std::string text = m_strItemId + "(" + m_strServer + ")";
      if (!m_strMachine.empty()) text += "(" + m_strMachine + ")";
      return text;
    }
    default:
      return "Undefined Data Type";
  }
}

std::string CExchangeTag::GetPointDescription() const {
  std::string text = Format("(SlaveId:%d, ", m_nSlaveId);
  switch (m_nPointType) {
    case kCoilStatus: text += "COIL STATUS:"; break;
    case kInputStatus: text += "INPUT STATUS:"; break;
    case kHoldingRegister: text += "HOLDING REGISTER:"; break;
    case kInputRegister: text += "INPUT REGISTER:"; break;
    default: break;
  }
  // Four digits with leading zeros; five-digit addresses stay as they are.
  std::string address = Format("%4d", m_nAddress);
  for (size_t i = 0; i < 3 && i < address.size(); ++i)
    if (address[i] == ' ') address[i] = '0';
  text += address;

  if (m_nPointType == kHoldingRegister || m_nPointType == kInputRegister) {
    const double low = m_fLowLimit, high = m_fHighLimit;
    switch (m_nDataType) {
      case kInteger: text += ", As INTEGER)"; break;
      case kUnsigned: text += ", As UNSIGNED)"; break;
      case kScaled4095: text += Format(", As Scaled 0-4095 LL=%3.2f HL=%3.2f)", low, high); break;
      case kScaled9999: text += Format(", As Scaled 0-9999 LL=%3.2f HL=%3.2f)", low, high); break;
      case kScaled65535: text += Format(", As Scaled 0-65535 LL=%3.2f HL=%3.2f)", low, high); break;
      case kLong: text += ", As LONG)"; break;
      case kWsLong: text += ", As WORD SWAPPED LONG)"; break;
      case kFloat: text += ", As IEEE FLOAT)"; break;
      case kWsFloat: text += ", As WORD SWAPPED FLOAT)"; break;
      default: break;
    }
  } else if (m_nPointType == kCoilStatus || m_nPointType == kInputStatus) {
    text += ")";
  }
  return text;
}

bool CExchangeTag::IsModbusPoint() const {
  return m_nSourceKind == kSourceLocal || m_nSourceKind == kSourceComm ||
         m_nSourceKind == kSourceTcp;
}

int CExchangeTag::GetRegisterCount() const {
  if (!IsModbusPoint()) return 0;
  return m_nDataType >= kLong && m_nDataType <= kWsFloat ? 2 : 1;
}

std::string CExchangeTag::GetLocation() const {
  switch (m_nSourceKind) {
    case kSourceLocal: return "LOCAL";
    case kSourceComm: return Format("COMM%d", m_nCommPort);
    case kSourceTcp: return m_strHost;
    default: return std::string();
  }
}
