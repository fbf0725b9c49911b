#!/usr/bin/python3
"""A pymodbus slave for the master library's interoperability tests.

Usage: pymodbus_slave.py tcp PORT | rtu DEVICE | ascii DEVICE

Slave id 1 answers; every other id is ignored (a silent slave). Point n of
each table (1-based, protocol address n-1) holds:
  coils: 1 when n is a multiple of 3;  inputs: 1 when n is odd;
  holding registers: 1000 + n;        input registers: 2000 + n.
Each table has 200 points; reading past them gives exception 2.
"""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartSerialServer, StartTcpServer
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer

POINTS = 200


def table(value_of_point):
    # The context adds 1 to protocol addresses, so index n is point n.
    return ModbusSequentialDataBlock(0, [0] + [value_of_point(n) for n in range(1, POINTS + 1)])


def main():
    logging.basicConfig(level=logging.CRITICAL)
    kind, where = sys.argv[1], sys.argv[2]
    slave = ModbusSlaveContext(
        co=table(lambda n: 1 if n % 3 == 0 else 0),
        di=table(lambda n: n % 2),
        hr=table(lambda n: 1000 + n),
        ir=table(lambda n: 2000 + n),
    )
    context = ModbusServerContext(slaves={1: slave}, single=False)
    if kind == "tcp":
        StartTcpServer(context=context, address=("127.0.0.1", int(where)),
                       ignore_missing_slaves=True, allow_reuse_address=True)
    else:
        framer = ModbusRtuFramer if kind == "rtu" else ModbusAsciiFramer
        StartSerialServer(context=context, framer=framer, port=where, baudrate=19200,
                          bytesize=8, parity="N", stopbits=1, timeout=0.005,
                          ignore_missing_slaves=True)


if __name__ == "__main__":
    main()
