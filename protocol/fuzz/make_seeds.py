#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: well-formed sessions that the
fuzzer then mutates. Run from anywhere; writes next to this file in seeds/."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def be(*words):
    return b"".join(struct.pack(">I", w) for w in words)


def le(*words):
    return b"".join(struct.pack("<I", w) for w in words)


def record(address, data):
    return le(address, len(data)) + data


def pattern(n, seed):
    return bytes((i * 7 + seed * 13) & 0xFF for i in range(n))


def file_part(data):
    return struct.pack("<H", len(data)) + data


def uart_block(data, good=True):
    s = sum(data) & 0xFF
    return bytes([0x2E]) + be(len(data)) + bytes([s if good else s ^ 0xFF])


def write(target, name, data):
    d = os.path.join(HERE, "seeds", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# TOOL_DownloadImage: header [write mode, selector, address, cursor flag].
blk = bytes(512)  # the echo is not read for raw blocks
write("fuzz_download_image", "session", bytes([0, 0]) + le(0) + bytes([0]) +
      b"\x00\xa5\x26\x2e" + be(512) + b"\x27\x2a" + bytes([0]) + b"\x29")
write("fuzz_download_image", "verdicts", bytes([0, 1]) + le(0x1000) + bytes([0]) + b"\xa5\xa5\x2b")

# TOOL_DownloadImageSet: [write mode, config, 6 flags, file, handset].
recs = [pattern(300, i) for i in range(3)]
imgset = b"".join(record(0x100000 * (i + 1), r) for i, r in enumerate(recs))
handset = b""
for r in recs:
    handset += b"\x26" + uart_block(r) + b"\x27\x29"
write("fuzz_image_set", "imgset", bytes([0, 0 << 1]) + bytes([1, 1, 1, 1, 1, 2]) + file_part(imgset) + handset)
write("fuzz_image_set", "resend", bytes([0, 2 << 1]) + bytes([1, 1, 1, 1, 1, 2]) + file_part(imgset) +
      uart_block(recs[0], False) + b"\x2a" + bytes([sum(recs[0]) & 0xFF]) + b"\x27\x29")
stream = pattern(5096, 9)
write("fuzz_image_set", "flashstream", bytes([0, 5 << 1]) + bytes([0, 0, 0, 0, 0, 1]) + file_part(stream) +
      b"\x2e" + be(1000) + bytes([sum(stream) & 0xFF]) + b"\x29")

# TOOL_DownloadBoot2: [write mode, config, address, file, handset].
img = pattern(700, 3)
write("fuzz_boot2", "file", bytes([0, 0]) + le(0x20000) + file_part(img) + b"\x26" + uart_block(img) + b"\x27\x29")
write("fuzz_boot2", "embedded_usb", bytes([0, 3]) + le(0x20000) + file_part(b"") + b"\x2e" + be(1024) + b"\x29")


def frame(kind, length=0, b8=0, b4=None):
    f = bytearray(16)
    f[0] = kind
    f[4:8] = struct.pack("<I", length)
    f[8] = b8
    if b4 is not None:
        f[4] = b4
    return bytes(f)


# USB forms.
usb = b""
for r in recs:
    usb += frame(0x26, len(r)) + frame(0x29, b4=sum(r) & 0xFF)
write("fuzz_image_set_usb", "imgset", bytes([0, 0]) + bytes([1, 1, 1, 1, 1, 2]) + file_part(imgset) + usb)
write("fuzz_image_set_usb", "vlf", bytes([0, 4]) + bytes([0] * 6) + file_part(imgset) + usb)
write("fuzz_file_usb", "file", bytes([0]) + le(0x300000) + file_part(img) + frame(0x26, 400) + frame(0x27) +
      frame(0x26, 300, sum(img[:400]) & 0xFF) + frame(0x29))

# TOOL_DownloadNorImage: [write mode, config, address, length, file, handset].
nor = record(0x10000, recs[0]) + record(0x20000, recs[1])
nh = b""
for r in recs[:2]:
    nh += be(len(r)) + b"\x27" + be(0, 0)
write("fuzz_nor_image", "records", bytes([0, 2]) + le(0) + le(0) + file_part(nor) + nh)
write("fuzz_nor_image", "plain_resend", bytes([0, 0]) + le(0x40000) + le(300) + file_part(recs[0]) +
      be(300) + b"\x2a" + be(300) + b"\x27" + be(0, 0))

# TOOL_Dump: [write mode, config, start, length, handset].
d = pattern(2000, 5)
write("fuzz_dump", "dump", bytes([0, 0x10]) + le(0x500000) + le(2000) + b"\x26\x27\x2e" + be(len(d)) + d +
      bytes([sum(d) & 0xFF]) + b"\x29")

# TOOL_FormatVlf / erase waits: [write mode, config, address, handset].
write("fuzz_format_vlf", "format", bytes([0, 0]) + le(0x1000000) + be(0x8000) + b"\x27" + be(0x18000) + b"\x27")
write("fuzz_format_vlf", "erase", bytes([0, 1]) + le(0x18) + b"\x00\x46\x12\xb9")

# Flash driver handshake and loader uploads: [write mode, config, code, handset].
write("fuzz_flash_driver", "handshake", bytes([0, 0, 0x8B]) + b"\x00\x91\x92")
write("fuzz_flash_driver", "loader", bytes([0, 1, 0x88]) + b"\x10")
