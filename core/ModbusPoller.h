// The Modbus request chain: polling the remote data blocks and sending the
// queued writes, strictly one request in flight for the whole system.
//
// A tick with nothing outstanding calls SendNextRequest: queued writes go
// first, one per reply, then a poll cycle visits the data blocks in list
// order, one request at a time, each reply message (OnModbusResponse) sending
// the next. The chain keeps the handle of the connection whose reply it
// awaits in the main window's outstanding handle, -1 when idle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "masterlink/masterlink.h"

class CPlexmarApp;
class CModbusDataBlock;
class CMainFrameCore;

// The master library as the chain uses it; tests put a scripted double here.
class IMasterLink {
 public:
  virtual ~IMasterLink() = default;
  virtual int32_t PollMODBUS(int32_t hConnection, const ModbusRequestHeader& header) = 0;
  virtual int32_t WriteMODBUS(int32_t hConnection, const ModbusRequestHeader& header,
                              const uint16_t* data) = 0;
  virtual int32_t MODBUSResponse(int32_t hConnection, ModbusRequestHeader& header, uint16_t* words,
                                 int32_t nWords) = 0;
};

// The linked master library.
IMasterLink& MasterLinkLibrary();

class CModbusPoller {
 public:
  // Room for the values of one reply.
  static constexpr int32_t kResponseWords = 200;

  // `hOutstanding` is the main window's outstanding master handle; the chain
  // reads and sets it.
  CModbusPoller(CPlexmarApp& app, IMasterLink& link, int32_t& hOutstanding);

  // Sends the block's poll. Returns the handle whose reply is now awaited, or
  // -1 when nothing was sent ("LOCAL", no connection: status 256, or refused:
  // the refusal code as status).
  int32_t PollBlock(CModbusDataBlock& block);

  // The next queued write, or else the start of a poll cycle.
  void SendNextRequest();

  // The master library's reply message.
  void OnModbusResponse();

  int32_t OutstandingHandle() const { return m_hOutstanding; }

 private:
  // Polls the blocks from index `first` on until one sends; -1 when none did.
  int32_t PollFrom(size_t first);

  CPlexmarApp& m_app;
  IMasterLink& m_link;
  int32_t& m_hOutstanding;
};

// Gives the main window its request chain: SendNextRequest on the tick and
// OnModbusResponse on the reply message. The chain lives as long as the
// window's hooks.
void InstallModbusPolling(CMainFrameCore& frame, IMasterLink& link = MasterLinkLibrary());
