#!/usr/bin/env python3
"""Writes the first seeds of every fuzz target into corpus/<target>/.

The kept corpus grows from these by fuzzing and is minimised with -merge=1
(README.md); run this only to start a corpus again from scratch.
"""
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def put(target, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    name = "seed-" + hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def leadingnumber():
    texts = ["12", "  -5", "1 2", "12abc", "1,5", "&HFFFF", "&H7FFFFFFF", "&O777", "&o177777",
             "1.5E3", "2.5D-2", "-.5", "+7", ".", "", "1e308", "1e-5", "\t1\r\n2", "&hff", "5.",
             "0x10", "\uff11\uff12", "1e+", "-0", "00012.500", "1d2", "\uff0d\uff15", "\uff11.\uff15",
             "\uff0b\uff11\uff0e\uff15E\uff0d\uff12"]
    for t in texts:
        put("fuzz_leadingnumber", t.encode("utf-8"))
    put("fuzz_leadingnumber", b"\xff" + "3\u30004".encode("utf-16-le"))


def numbertext():
    f = lambda x: struct.pack("<f", x)
    for v in [50.3, 0.1, -0.5, 1e-7, 123456.7, 1e15, 2.0 ** 60, 5e-324]:
        put("fuzz_numbertext", b"\x00" + struct.pack("<d", v) + f(1.1))
    for v in [3.14159, -0.0, 1e-40]:
        put("fuzz_numbertext", b"\x01" + f(v) + f(v))
    for v in [503, -1, 32767, -32768, 0]:
        put("fuzz_numbertext", b"\x02" + struct.pack("<h", v) + f(50.3))
    put("fuzz_numbertext", b"\x03" + struct.pack("<i", 123456789) + b"\x03" + f(0.5))


def parametercoding():
    for index in [0, 2, 5, 10, 20, 37]:
        for text in ["15", "2.5", "-0.5", "1:\u5141\u8bb8 ", "&H10", "1e9"]:
            put("fuzz_parametercoding", bytes([index, 0]) + text.encode("utf-8"))
        put("fuzz_parametercoding", bytes([index, 1]) + struct.pack("<f", 1.0))
        put("fuzz_parametercoding", bytes([index, 2]) + struct.pack("<h", 15))
        put("fuzz_parametercoding", bytes([index, 3]) + struct.pack("<i", 9999999))


def statustexts():
    put("fuzz_statustexts", b"\x00")
    values = b"".join(struct.pack("<h", v) for v in [253, 601, 250, 600, 503, 1000, 1, 0])
    put("fuzz_statustexts", b"\x00" + values + bytes([1, 0, 1, 0, 1, 1] + [0] * 26) + values * 12)
    put("fuzz_statustexts", b"\x01" + bytes(range(256)) * 3)


def crc16(data):
    crc = 0xFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def rtu(*b):
    body = bytes(b)
    return body + crc16(body)


def exchange(op, flags, station, first, p1, p2, reply):
    return bytes([op, flags, station, first >> 8, first & 0xFF, p1, p2, len(reply)]) + reply


def linkreply():
    st = 1
    regs = lambda n: bytes(x for i in range(n) for x in struct.pack(">h", (i * 997) % 65536 - 32768))
    # Well-formed answers to each read and the write.
    put("fuzz_linkreply", exchange(0, 0, st, 1, 8, 0, rtu(st, 4, 16, *regs(8))))
    put("fuzz_linkreply", exchange(1, 0, st, 4097, 16, 0, rtu(st, 3, 32, *regs(16))))
    put("fuzz_linkreply", exchange(2, 0, st, 1, 0, 0, rtu(st, 2, 2, 0x35, 0xA0)))
    put("fuzz_linkreply", exchange(3, 0, st, 1, 0, 0, rtu(st, 1, 2, 0xFF, 0x01)))
    put("fuzz_linkreply", exchange(4, 0, st, 3, 0, 1, rtu(st, 6, 0, 3, 0, 1)))
    # A wrong CRC, an exception, silence, a short and a long reply, another slave.
    bad = bytearray(rtu(st, 3, 2, 0, 5)); bad[-1] ^= 0x55
    put("fuzz_linkreply", exchange(1, 0, st, 1, 1, 0, bytes(bad)))
    put("fuzz_linkreply", exchange(1, 0, st, 1, 1, 0, rtu(st, 0x83, 2)))
    put("fuzz_linkreply", exchange(4, 0, st, 3, 0, 1, rtu(st, 0x86, 4)))
    put("fuzz_linkreply", exchange(0, 0, st, 1, 8, 0, b""))
    put("fuzz_linkreply", exchange(0, 0, st, 1, 2, 0, rtu(st, 4, 4, 0, 1)[:5]))
    put("fuzz_linkreply", exchange(0, 0, st, 1, 1, 0, rtu(st, 4, 2, 0, 1) + b"\x01\x04\x02"))
    put("fuzz_linkreply", exchange(1, 0, st, 1, 1, 0, rtu(2, 3, 2, 0, 7)))
    # Arguments the link refuses without a word on the line; port 2 never opened.
    put("fuzz_linkreply", exchange(1, 0, st, 1, 126, 0, b""))
    put("fuzz_linkreply", exchange(2, 8, st, 0xFFF5, 0, 0, b""))
    put("fuzz_linkreply", exchange(1, 2, st, 1, 1, 0, rtu(st, 3, 2, 0, 7)))
    put("fuzz_linkreply", exchange(1, 0, 250, 1, 1, 0, b""))
    # Close, reopen with a bad and a good code, and read again.
    put("fuzz_linkreply", exchange(6, 0, 0, 0, 0, 0, b"") + exchange(1, 0, st, 1, 1, 0, rtu(st, 3, 2, 0, 7))
        + exchange(5, 0, 0, 0, 3, 0, b"") + exchange(5, 0, 0, 0, 1, 2, b""))
    # A reply in two parts, and a garbled reply followed by a good exchange.
    put("fuzz_linkreply", exchange(1, 4, st, 8193, 16, 0, rtu(st, 3, 32, *regs(16))))
    put("fuzz_linkreply", exchange(1, 0, st, 1, 2, 0, b"\x00\xff" * 5) + exchange(1, 0, st, 1, 2, 0, rtu(st, 3, 4, 0, 1, 0, 2)))


if __name__ == "__main__":
    for make in [leadingnumber, numbertext, parametercoding, statustexts, linkreply]:
        make()
    sys.exit(0)
