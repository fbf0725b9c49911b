// The wire side of a master connection: one request out, its reply in, with
// a deadline and a wake-up descriptor through which the connection's owner
// can cut a transaction short when it closes the connection.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "masterlink/masterlink.h"

namespace masterlink {

// Owns a file descriptor; -1 when empty.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  bool IsValid() const { return m_fd >= 0; }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void Reset(int fd = -1);

 private:
  int m_fd = -1;
};

class CMasterTransport {
 public:
  virtual ~CMasterTransport() = default;

  // Sends the request data unit and waits up to timeoutMs for its reply.
  // Returns 0 (with the read values in `words`) or a failure code. When
  // `wakeFd` turns readable the transaction ends with MLERR_CONNECTION_LOST.
  virtual int32_t Transact(const ModbusRequestHeader& header, const std::vector<uint8_t>& pdu,
                           std::vector<uint16_t>& words, int timeoutMs, int wakeFd) = 0;

  // Puts the request on the line at once, from the caller's thread, when
  // that needs no waiting: true when it has gone out (or its rest waits for
  // Finish), false when nothing was sent and Transact must do it all. Saves
  // the hand-over to the worker before the request leaves.
  virtual bool TrySendNow(const ModbusRequestHeader& header, const std::vector<uint8_t>& pdu) = 0;
  // The rest of a transaction started by TrySendNow.
  virtual int32_t Finish(const ModbusRequestHeader& header, std::vector<uint16_t>& words, int timeoutMs,
                         int wakeFd) = 0;

  // The descriptor replies arrive on; -1 while there is none.
  virtual int IoFd() const = 0;
  // Between requests, when IoFd() turned readable: discards stray bytes.
  // True when the line has gone (the descriptor is closed then); the caller
  // calls AnnounceLinkDown once it holds no lock.
  virtual bool DrainIdle() = 0;
  virtual void AnnounceLinkDown() {}
};

enum class SerialFraming { Rtu, Ascii };

// Opens and configures the port; null when the device cannot be opened or
// does not take the settings.
std::unique_ptr<CMasterTransport> OpenSerialTransport(int port, SerialFraming framing,
                                                      const MasterPortSettings& settings);

// Connects at once (within timeoutMs); null when the server cannot be reached.
// `linkChanged` (may be empty) is called from the worker with false when the
// connection drops and true when it has been re-established.
std::unique_ptr<CMasterTransport> OpenTcpTransport(uint32_t addressNetOrder, uint16_t port,
                                                   int timeoutMs,
                                                   std::function<void(bool)> linkChanged);

}  // namespace masterlink
