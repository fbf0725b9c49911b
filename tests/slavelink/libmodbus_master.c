/* A Modbus master written with libmodbus, run against our slave. The slave
 * serves, for slave id 1: holding registers 1..10 = 100 + i, input registers
 * 1..4 = 200 + i, coils 1..16 and discrete inputs 1..8 = i odd. Each step that
 * fails returns its own number; 0 means every step passed. */
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <modbus.h>

static int Exercise(modbus_t* ctx) {
  uint16_t regs[10];
  uint8_t bits[16];
  int i;

  if (modbus_set_slave(ctx, 1) != 0) return 1;
  modbus_set_response_timeout(ctx, 2, 0);
  if (modbus_connect(ctx) != 0) return 2;

  if (modbus_read_registers(ctx, 0, 10, regs) != 10) return 3;
  for (i = 0; i < 10; ++i)
    if (regs[i] != 100 + i) return 4;
  if (modbus_read_input_registers(ctx, 0, 4, regs) != 4) return 5;
  for (i = 0; i < 4; ++i)
    if (regs[i] != 200 + i) return 6;
  if (modbus_read_bits(ctx, 0, 16, bits) != 16) return 7;
  for (i = 0; i < 16; ++i)
    if (bits[i] != (i % 2 == 0)) return 8;
  if (modbus_read_input_bits(ctx, 0, 8, bits) != 8) return 9;

  if (modbus_write_register(ctx, 2, 0xBEEF) != 1) return 10;
  {
    const uint16_t values[3] = {7, 8, 9};
    if (modbus_write_registers(ctx, 5, 3, values) != 3) return 11;
  }
  if (modbus_read_registers(ctx, 2, 6, regs) != 6) return 12;
  if (regs[0] != 0xBEEF || regs[3] != 7 || regs[4] != 8 || regs[5] != 9) return 13;

  if (modbus_write_bit(ctx, 1, 1) != 1) return 14;
  {
    const uint8_t values[10] = {1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
    if (modbus_write_bits(ctx, 4, 10, values) != 10) return 15;
  }
  if (modbus_read_bits(ctx, 0, 16, bits) != 16) return 16;
  if (bits[1] != 1 || bits[4] != 1 || bits[8] != 1 || bits[9] != 0 || bits[13] != 0) return 17;

  /* Points no block covers: exception 2. */
  errno = 0;
  if (modbus_read_registers(ctx, 10, 1, regs) != -1 || errno != EMBXILADD) return 18;
  errno = 0;
  if (modbus_write_register(ctx, 50, 1) != -1 || errno != EMBXILADD) return 19;

  /* A function the slave does not know: exception 1. */
  {
    uint8_t request[] = {1, 0x07};
    uint8_t reply[MODBUS_MAX_ADU_LENGTH];
    const int header = modbus_get_header_length(ctx);
    if (modbus_send_raw_request(ctx, request, sizeof request) == -1) return 20;
    /* libmodbus hands a raw confirmation back as it came: check it here. */
    if (modbus_receive_confirmation(ctx, reply) < header + 2) return 21;
    if (reply[header] != 0x87 || reply[header + 1] != 1) return 22;
  }
  return 0;
}

int libmodbus_master_tcp(int port) {
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  int result;
  if (ctx == NULL) return 100;
  result = Exercise(ctx);
  modbus_close(ctx);
  modbus_free(ctx);
  return result;
}

int libmodbus_master_rtu(const char* device) {
  modbus_t* ctx = modbus_new_rtu(device, 115200, 'N', 8, 1);
  int result;
  if (ctx == NULL) return 100;
  result = Exercise(ctx);
  modbus_close(ctx);
  modbus_free(ctx);
  return result;
}
