#!/usr/bin/python3
"""A host program in Python: loads libslavelink.so through ctypes, lends it a
block of holding registers, serves them over Modbus/TCP and checks, as a
master on a plain socket, that reads and writes reach the lent words.

Usage: ctypes_host.py PATH/TO/libslavelink.so
"""
import ctypes
import socket
import struct
import sys
import time


class SlavePortSettings(ctypes.Structure):
    _fields_ = [("baudRate", ctypes.c_uint32), ("dataBits", ctypes.c_uint8), ("parity", ctypes.c_uint8),
                ("stopBits", ctypes.c_uint8), ("ctsFlow", ctypes.c_uint32), ("dsrFlow", ctypes.c_uint32),
                ("preSendDelay", ctypes.c_uint8), ("postSendDelay", ctypes.c_uint8)]


def check(condition, what):
    if not condition:
        print("FAIL: " + what)
        sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def transact(sock, pdu, tid):
    sock.sendall(struct.pack(">HHHB", tid, 0, len(pdu) + 1, 1) + pdu)
    header = b""
    while len(header) < 6:
        header += sock.recv(6 - len(header))
    length = struct.unpack(">H", header[4:6])[0]
    rest = b""
    while len(rest) < length:
        rest += sock.recv(length - len(rest))
    check(struct.unpack(">H", header[0:2])[0] == tid, "transaction id echoed")
    return rest[1:]  # the data unit after the unit identifier


def main():
    lib = ctypes.CDLL(sys.argv[1])
    lib.DLL_Revision.restype = ctypes.c_uint16
    lib.DefineDataBlock.argtypes = [ctypes.c_uint8, ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint16,
                                    ctypes.POINTER(ctypes.c_uint16)]
    lib.SetTCPServicePort.argtypes = [ctypes.c_uint16]
    lib.OpenTCPConnection.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
    lib.OpenConnection.argtypes = [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32, ctypes.c_int32,
                                   ctypes.POINTER(SlavePortSettings)]
    lib.SlaveStatus.restype = ctypes.c_uint16
    lib.SlaveStatus.argtypes = [ctypes.c_int32, ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_int32),
                                ctypes.c_int32]
    write_callback_type = ctypes.CFUNCTYPE(None, ctypes.c_uint8, ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint16)

    check(lib.DLL_Revision() == 516, "revision")
    check(ctypes.sizeof(SlavePortSettings) == 20, "settings record size")
    settings = SlavePortSettings(9600, 8, 0, 0, 0, 0, 0, 0)
    check(lib.OpenConnection(None, 10, 1, 0, ctypes.byref(settings)) == -1, "port 10 refused")

    words = (ctypes.c_uint16 * 10)(*[1000 + i for i in range(10)])
    check(lib.DefineDataBlock(1, 3, 1, 10, words) == 1, "define block")
    writes = []
    callback = write_callback_type(lambda sid, typ, point, value: writes.append((sid, typ, point, value)))
    lib.EnableCallback(callback)

    port = free_port()
    lib.SetTCPServicePort(port)
    check(lib.OpenTCPConnection(None, 0) == 8050, "server started")
    sock = None
    for _ in range(100):
        try:
            sock = socket.create_connection(("127.0.0.1", port), timeout=3)
            break
        except OSError:
            time.sleep(0.02)
    check(sock is not None, "connected")

    answer = transact(sock, bytes([3, 0, 0, 0, 3]), 1)
    check(answer == bytes([3, 6]) + struct.pack(">HHH", 1000, 1001, 1002), "read %r" % answer)
    answer = transact(sock, bytes([6, 0, 4, 0x12, 0x34]), 2)
    check(answer == bytes([6, 0, 4, 0x12, 0x34]), "write echo %r" % answer)
    check(words[4] == 0x1234, "lent word written")
    check(writes == [(1, 3, 5, 0x1234)], "write callback %r" % writes)
    answer = transact(sock, bytes([3, 0, 10, 0, 1]), 3)
    check(answer == bytes([0x83, 2]), "exception 2 %r" % answer)
    sock.close()

    good, bad = ctypes.c_int32(-1), ctypes.c_int32(-1)
    check(lib.SlaveStatus(8050, ctypes.byref(good), ctypes.byref(bad), 0) == 0, "status")
    check(good.value == 3 and bad.value == 0, "counts %d %d" % (good.value, bad.value))
    check(lib.CloseSlaveConnection(8050) == 1, "close")
    lib.EnableCallback(None)
    check(lib.RemoveDataBlock(1) == 1, "remove block")
    print("PASS")


if __name__ == "__main__":
    main()
