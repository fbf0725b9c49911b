// One named tag of the tag table: a current value, the one source it takes it
// from, and its bindings to the OPC server (the published item) and to the
// OPC client (the source item of an "OPC Point").
//
// Source kinds: 0 user variable, 1 point of the local slave memory "LOCAL",
// 2 Modbus point on COMM1..COMM9, 3 Modbus/TCP point, 4 OPC item.
#pragma once

#include <cstdint>
#include <string>

#include "platform/archive.h"
#include "platform/variant.h"
#include "platform/wintypes.h"

class CPlexmarApp;

class CExchangeTag {
 public:
  // Source kinds (m_nSourceKind).
  enum : int32_t {
    kSourceVariable = 0,
    kSourceLocal = 1,
    kSourceComm = 2,
    kSourceTcp = 3,
    kSourceOpc = 4,
  };
  // Point types (m_nPointType), numbered as the Modbus read functions.
  enum : uint8_t {
    kCoilStatus = 1,
    kInputStatus = 2,
    kHoldingRegister = 3,
    kInputRegister = 4,
  };
  // Data types of register points (m_nDataType).
  enum : int32_t {
    kInteger = 0,
    kUnsigned = 1,
    kScaled4095 = 2,
    kScaled9999 = 3,
    kScaled65535 = 4,
    kLong = 5,
    kWsLong = 6,
    kFloat = 7,
    kWsFloat = 8,
  };
  static constexpr uint32_t kQualityGood = 0xC0;
  static constexpr uint32_t kQualityBad = 0x00;
  // What a write that did not reach the tag's source reports.
  static constexpr HRESULT kWriteNotDelivered = static_cast<HRESULT>(0xC0040007u);

  // A tag with the defaults, named "Exchange.Tag<n>" where n is one more than
  // the size of the current application's tag table (1 without one).
  CExchangeTag();
  explicit CExchangeTag(std::string name);
  // Releases the bindings: the OPC client item (through the tag's server
  // link, when it still exists) and the OPC server item.
  virtual ~CExchangeTag();
  CExchangeTag(const CExchangeTag&) = delete;
  CExchangeTag& operator=(const CExchangeTag&) = delete;

  // The tag record of the project file. Handles, time stamp, quality and the
  // force flag are not stored.
  virtual void Serialize(CArchive& ar);
  // The tag list's description column.
  virtual std::string GetDescription() const;
  // "(SlaveId:1, HOLDING REGISTER:0040, As INTEGER)" and the like.
  virtual std::string GetPointDescription() const;

  // Copies the definition, value, time stamp and quality; not the handles or
  // the force flag. Returns 1.
  int CopyFrom(const CExchangeTag& source);
  // Whether two tags have the same definition (the tag list's "changed?").
  bool IsEqual(const CExchangeTag& other) const;

  bool IsModbusPoint() const;
  // 0 for a tag that is not a Modbus point; 2 for the 32-bit data types.
  int GetRegisterCount() const;
  // "LOCAL", "COMM<n>" or the Modbus/TCP host; the key of data blocks and
  // master connections. Empty for tags that are not Modbus points.
  std::string GetLocation() const;

  // --- exchange engine -------------------------------------------------------
  // A new value from the tag's OPC source: taken when it differs from the
  // current value (or the force flag is set), then published and the tag's
  // logic block runs.
  void UpdateFromSource(const VARIANT& value, FILETIME timestamp, uint32_t quality);
  // A write from any writer. `result` is set only on failure (0xC0040007 when
  // the value did not reach the source).
  void Write(const VARIANT& value, HRESULT& result);
  // Re-reads a Modbus tag from its data block (each tick).
  void RefreshFromDataBlock();

  std::string m_strName;
  int32_t m_nSourceKind = kSourceVariable;
  CVariant m_value;
  int32_t m_hServerTag = -1;
  FILETIME m_ftTimestamp;
  // OPC quality; only the low 16 bits are passed on. Modbus and OPC tags start
  // bad until their first value; user variables become good when bound.
  uint32_t m_nQuality = kQualityBad;
  std::string m_strMachine;
  std::string m_strServer;
  std::string m_strItemId;
  int32_t m_hClientItem = -1;
  std::string m_strHost;
  int32_t m_nCommPort = 1;
  uint8_t m_nSlaveId = 1;
  uint8_t m_nPointType = kHoldingRegister;
  uint16_t m_nAddress = 1;
  int32_t m_nDataType = kInteger;
  float m_fLowLimit = 0.0f;
  float m_fHighLimit = 100.0f;
  std::string m_strLogicBlock;
  int32_t m_bForceUpdate = 0;

 private:
  // Publishes the current value to the OPC server item, when there is one.
  void PublishValue() const;
  void RunLogicBlock() const;
};
