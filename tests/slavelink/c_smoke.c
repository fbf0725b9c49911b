/* Uses the shared library from plain C with nothing but its header. Returns
 * 0 when every step behaved, else the number of the first step that failed. */
#include <stddef.h>

#include "slavelink/slavelink.h"

static uint16_t g_words[4];
static int g_writes;

static void OnWrite(uint8_t slaveId, uint8_t pointType, uint16_t point, uint16_t value) {
  (void)slaveId;
  (void)pointType;
  (void)point;
  (void)value;
  ++g_writes;
}

int slavelink_c_smoke(void) {
  int32_t good = -1, bad = -1;
  int32_t block;
  SlavePortSettings settings = {9600, 8, 0, 0, 0, 0, 0, 0};

  if (DLL_Revision() != 516) return 1;
  block = DefineDataBlock(1, SLAVELINK_HOLDING_REGISTER, 1, 4, g_words);
  if (block < 1 || block > 250) return 2;
  if (EnableCallback(OnWrite) != 1 || EnableBufferCallback(NULL) != 1) return 3;
  if (EnableDoWriteNotification(NULL, block, 0, 0) != 1) return 4;
  if (SlaveStatus(SLAVELINK_TCP_HANDLE, &good, &bad, 0) != 0) return 5;
  if (SlaveStatus(4711, &good, &bad, 0) != 0x100) return 6;
  if (OpenConnection(NULL, 0, SLAVELINK_PROTOCOL_RTU, 1, &settings) != -1) return 7;
  if (SetProtocolOptions(4711, 1) != 0) return 8;
  ActivateSlaveId(1, 1);
  if (RemoveDataBlock(block) != 1) return 9;
  if (EnableCallback(NULL) != 1) return 10;
  if (MBAPWndProc(NULL, 0, 0, 0) != 0) return 11;
  if (sizeof(SlavePortSettings) != 20) return 12;
  return g_writes == 0 ? 0 : 13;
}
