/* A libmodbus Modbus/TCP slave for the master library's tests.
 * Usage: libmodbus_slave PORT
 * Point n (1-based, protocol address n-1) of each of the four tables holds:
 * coils n % 2, inputs 1 when n is a multiple of 4, holding registers 3000 + n,
 * input registers 4000 + n; 300 points each. Serves one client at a time and
 * takes the next when it goes. */
#include <errno.h>
#include <modbus/modbus.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", atoi(argv[1]));
  modbus_mapping_t* map = modbus_mapping_new(300, 300, 300, 300);
  if (ctx == NULL || map == NULL) return 1;
  for (int i = 0; i < 300; ++i) {
    const int point = i + 1;
    map->tab_bits[i] = (uint8_t)(point % 2);
    map->tab_input_bits[i] = (uint8_t)(point % 4 == 0);
    map->tab_registers[i] = (uint16_t)(3000 + point);
    map->tab_input_registers[i] = (uint16_t)(4000 + point);
  }
  int listener = modbus_tcp_listen(ctx, 4);
  if (listener < 0) return 1;
  for (;;) {
    if (modbus_tcp_accept(ctx, &listener) < 0) return 1;
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
      const int rc = modbus_receive(ctx, query);
      if (rc > 0) modbus_reply(ctx, query, rc, map);
      else if (rc < 0) break;
    }
    modbus_close(ctx);
  }
}
