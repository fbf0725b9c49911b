// serverkit: Plexmar's OPC server toolkit.
//
// The server side is the set of calls the program makes: register, start,
// publish one item per tag, update values, answer writes, shut down. Items
// have a handle, a name, a value, a 16-bit quality and a time stamp that is
// set whenever the value changes.
//
// The client side (below) is what an OPC client of the server does: list the
// items, read one, write one and learn the result code, and be told of value
// changes. Tests use it directly; the OPC UA endpoint is built on it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/variant.h"
#include "platform/wintypes.h"

// The server's identity.
inline constexpr const char* kPlexmarClsid = "{6B1F9E42-3C7D-4A5E-9F21-8D0C5A7E3B14}";
inline constexpr const char* kPlexmarProgId = "Norvell.Plexmar_Server";
inline constexpr const char* kPlexmarDescription = "Norvell Software Plexmar Server";

// OPC Data Access result codes the program hands back to writers.
constexpr HRESULT OPC_E_INVALIDHANDLE = static_cast<HRESULT>(0xC0040001u);
constexpr HRESULT OPC_E_UNKNOWNITEMID = static_cast<HRESULT>(0xC0040007u);
// The item was created read-only.
constexpr HRESULT OPC_E_BADRIGHTS = static_cast<HRESULT>(0xC0040006u);
constexpr uint16_t OPC_QUALITY_GOOD = 0xC0;
constexpr uint16_t OPC_QUALITY_BAD = 0x00;

// Called for a client's write with (item handle, the value written, the result
// code, which holds S_OK on entry and is changed only on failure).
using WriteCallback = void (*)(int32_t handle, VARIANT* value, HRESULT* result);

// --- the calls the program makes -------------------------------------------
// Registration writes or removes a registration record under the user's data
// folder; RegisterOpcServerService installs a systemd user unit that runs the
// program headless.
void RegisterOpcServer(const char* clsid, const char* progId, const char* description,
                       const char* executablePath);
void UnregisterOpcServer(const char* clsid, const char* progId);
void RegisterOpcServerService(const char* progId);
void InitOpcServer(const char* clsid, int32_t updateRateMs);
void SetWriteCallback(WriteCallback callback, int32_t mode);
// A handle is never given out twice in a process, so a client that still holds
// the handle of a removed item cannot reach a newer one. -1 for a null or empty
// name. The value is copied; the caller keeps its own.
int32_t CreateServerTag(const char* name, VARIANT value, uint16_t quality, int32_t writable);
void UpdateServerTag(int32_t handle, VARIANT value, uint16_t quality);
void RemoveServerTag(int32_t handle);
// Withdraws any items left and forgets the write callback and the write
// dispatcher: both belong to the program that is going away. Handles given
// out before are not given out again after a new InitOpcServer.
void ShutdownOpcServer();

// --- the client side -------------------------------------------------------
namespace serverkit {

// WriteItem's result when the write could not be delivered: no write callback
// is installed, or the program stopped taking writes (E_FAIL).
constexpr HRESULT kWriteNotDelivered = static_cast<HRESULT>(0x80004005u);

struct ItemState {
  int32_t handle = -1;
  std::string name;
  CVariant value;
  uint16_t quality = 0;
  FILETIME timestamp;
  bool writable = true;
};

// All items, in creation order.
std::vector<ItemState> ListItems();
// False when no item has that handle (or name).
bool ReadItem(int32_t handle, ItemState& state);
bool FindItem(const std::string& name, ItemState& state);
// Delivers a client write. The write callback runs on the thread that
// dispatches writes (see SetWriteDispatcher) and this call waits for it;
// returns the result code the callback left, OPC_E_INVALIDHANDLE when no item
// has the handle.
HRESULT WriteItem(int32_t handle, const VARIANT& value);

// Runs `job` on the program's user-interface thread and waits for it. Set by
// the program's main window; when none is set, writes run on the caller.
using Dispatcher = std::function<void(const std::function<void()>& job)>;
void SetWriteDispatcher(Dispatcher dispatcher);

// Called (on the thread that changed the item) after every change of an item's
// value or quality, and when an item is created or removed (removed: state has
// handle set and an empty name). Returns an id for RemoveChangeListener.
using ChangeListener = std::function<void(const ItemState& state)>;
int AddChangeListener(ChangeListener listener);
void RemoveChangeListener(int id);

// True between InitOpcServer and ShutdownOpcServer.
bool IsRunning();

// --- the OPC UA endpoint -------------------------------------------------------
// InitOpcServer opens an OPC UA endpoint (opc.tcp, binary encoding, security
// None, anonymous) over the item table; ShutdownOpcServer closes it.
// PLEXMAR_OPCUA_PORT sets its port (default 4840, 0 = no endpoint) and
// PLEXMAR_OPCUA_BIND its listen address (default: all interfaces). A port that
// cannot be bound is reported once on standard error and the program runs on
// without the endpoint.
//
// Every item is the Variable ns=1;s=<item name> in the folder ns=1;s=Tags,
// with BrowseName 1:<name> and DisplayName <name>. Its DataType follows the
// item's current VARIANT type (VT_I1 SByte, VT_UI1 Byte, VT_I2 Int16, VT_UI2
// UInt16, VT_I4 and VT_INT Int32, VT_UI4 and VT_UINT UInt32, VT_I8 Int64,
// VT_UI8 UInt64, VT_R4 Float, VT_R8 Double, VT_BOOL Boolean, VT_BSTR String,
// VT_DATE DateTime, VT_ERROR StatusCode, VT_EMPTY BaseDataType with a null
// value); a SAFEARRAY is a one-dimensional array (ValueRank 1). AccessLevel
// is CurrentRead|CurrentWrite (3), or CurrentRead (1) for an item created
// read-only. SourceTimestamp is the item's time stamp.
//
// Quality to StatusCode, by the quality bits (mask 0xC0) of the low byte:
//   0xC0..0xFF (good)      Good (0x00000000)
//   0x40..0x7F (uncertain) Uncertain (0x40000000)
//   anything else (bad)    Bad (0x80000000)
// Write results to StatusCodes:
//   S_OK and any success     Good
//   OPC_E_INVALIDHANDLE      BadNodeIdUnknown (0x80340000)
//   OPC_E_BADRIGHTS          BadNotWritable (0x803B0000)
//   OPC_E_UNKNOWNITEMID      BadTypeMismatch (0x80740000): the source refused
//                            the value (text to an "Integer" register ...)
//   E_FAIL and anything else BadInternalError (0x80020000)
//   no answer from the program within the write time-out (5 s): BadTimeout
//   (0x800A0000); the value may still be taken later.
// A written Variant reaches the write callback as the VARIANT of its own type
// (Int16 as VT_I2, String as VT_BSTR, a one-dimensional array as a
// SAFEARRAY). A Variant that no VARIANT holds (matrices, NodeIds, structures)
// is refused with BadTypeMismatch before the program sees it.
constexpr uint16_t kDefaultOpcUaPort = 4840;
// The endpoint URL while it listens (opc.tcp://<host name>:<port>), else empty.
std::string OpcEndpointUrl();
// The URL the environment asks for, whether or not it listens now; empty when
// the endpoint is off.
std::string ConfiguredOpcEndpointUrl();
// False when PLEXMAR_OPCUA_PORT is set but is no port number.
bool OpcEndpointPort(uint16_t& port);
// The write time-out of the next endpoint started (tests shorten it).
void SetOpcWriteTimeout(uint32_t milliseconds);
void StartOpcEndpoint();
void StopOpcEndpoint();

// --- registration on this machine --------------------------------------------
// The record RegisterOpcServer writes: $XDG_DATA_HOME (default
// ~/.local/share)/plexmar/opc-servers/<ProgID>.server, an INI-style text with
// the keys CLSID, ProgID, Description and Executable. Empty when no data folder
// can be found or the ProgID is not a plain name (letters, digits, '.', '_',
// '-').
std::string RegistrationRecordPath(const char* progId);
// $XDG_CONFIG_HOME (default ~/.config)/systemd/user/plexmar.service.
std::string ServiceUnitPath();

// The same operations as the calls above, with their outcome.
bool WriteRegistration(const char* clsid, const char* progId, const char* description,
                       const char* executablePath);
// True when no record is left afterwards; a record of another class
// identifier under the same ProgID is left alone (false).
bool RemoveRegistration(const char* clsid, const char* progId);
// Needs the registration record of `progId` for the executable to run.
bool InstallServiceUnit(const char* progId);

struct Registration {
  std::string clsid;
  std::string progId;
  std::string description;
  std::string executable;
  // The OPC UA endpoint URL (key Endpoint); empty when the endpoint is off.
  std::string endpoint;
};
// Reads the record of `progId`; false when there is none or it is damaged.
bool ReadRegistration(const char* progId, Registration& registration);

}  // namespace serverkit
