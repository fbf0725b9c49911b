#!/usr/bin/python3
"""A Modbus master built on pymodbus, run against our slave.

Usage: pymodbus_master.py tcp PORT | rtu DEVICE | ascii DEVICE

The slave serves for slave id 1: holding registers 1..10 = 100 + i, input
registers 1..4 = 200 + i, coils 1..16 and discrete inputs 1..8 = i odd.
Prints "PASS" and exits 0 when every check held; otherwise names the check.
"""
import sys

from pymodbus.client import ModbusSerialClient, ModbusTcpClient
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.pdu import ExceptionResponse


def check(condition, what):
    if not condition:
        print("FAIL: " + what)
        sys.exit(1)


def exercise(client):
    check(client.connect(), "connect")
    slave = 1

    rr = client.read_holding_registers(0, 10, slave=slave)
    check(not rr.isError() and rr.registers == [100 + i for i in range(10)], "read holding %s" % rr)
    rr = client.read_input_registers(0, 4, slave=slave)
    check(not rr.isError() and rr.registers == [200 + i for i in range(4)], "read input registers %s" % rr)
    rr = client.read_coils(0, 16, slave=slave)
    check(not rr.isError() and rr.bits[:16] == [i % 2 == 0 for i in range(16)], "read coils %s" % rr)
    rr = client.read_discrete_inputs(0, 8, slave=slave)
    check(not rr.isError() and rr.bits[:8] == [i % 2 == 0 for i in range(8)], "read inputs %s" % rr)

    check(not client.write_register(2, 0xBEEF, slave=slave).isError(), "write register")
    check(not client.write_registers(5, [7, 8, 9], slave=slave).isError(), "write registers")
    rr = client.read_holding_registers(2, 6, slave=slave)
    check(not rr.isError() and rr.registers == [0xBEEF, 103, 104, 7, 8, 9], "read back %s" % rr)

    check(not client.write_coil(1, True, slave=slave).isError(), "write coil")
    check(not client.write_coils(4, [True] * 5 + [False] * 5, slave=slave).isError(), "write coils")
    rr = client.read_coils(0, 16, slave=slave)
    check(not rr.isError(), "read coils back")
    bits = rr.bits[:16]
    check(bits[1] and bits[4] and bits[8] and not bits[9] and not bits[13], "coils back %s" % bits)

    rr = client.read_holding_registers(10, 1, slave=slave)
    check(isinstance(rr, ExceptionResponse) and rr.exception_code == 2, "exception 2 on read %s" % rr)
    rr = client.write_register(50, 1, slave=slave)
    check(isinstance(rr, ExceptionResponse) and rr.exception_code == 2, "exception 2 on write %s" % rr)
    client.close()


def main():
    mode, target = sys.argv[1], sys.argv[2]
    if mode == "tcp":
        client = ModbusTcpClient("127.0.0.1", port=int(target), timeout=3, retries=1)
    else:
        framer = ModbusRtuFramer if mode == "rtu" else ModbusAsciiFramer
        client = ModbusSerialClient(target, framer=framer, baudrate=115200, timeout=2, retries=1)
    exercise(client)
    print("PASS")


if __name__ == "__main__":
    main()
