#!/usr/bin/env python3
"""The Wine tests' image set and the check of the simulator's NAND (the
pseudo-random bytes serve scripts/transcripts.sh too).

  imgset.py write FILE             three records in NAND from 0x4A0000
  imgset.py in-nand STATE FILE     exit 0 when the simulator's NAND
                                   (STATE/nand.flash) holds every record of FILE
"""
import struct
import sys

LAYOUT = [(0x4A0000, 0x20000), (0x4C0000, 0x4000), (0x4E0000, 0x2000)]


def data(n, seed):
    s, out = seed, bytearray(n)
    for i in range(n):
        s = (s * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (s >> 16) & 0xFF
    return bytes(out)


def write(path):
    with open(path, "wb") as f:
        f.write(b"".join(struct.pack("<II", a, n) + data(n, a) for a, n in LAYOUT))


def records(path):
    image = open(path, "rb").read()
    out, at = [], 0
    while at < len(image):
        address, length = struct.unpack_from("<II", image, at)
        out.append((address, image[at + 8:at + 8 + length]))
        at += 8 + length
    return out


def flash(state, address, length):
    # The simulator keeps its flash inverted, so that holes read as erased.
    with open(f"{state}/nand.flash", "rb") as f:
        f.seek(address)
        return bytes(b ^ 0xFF for b in f.read(length))


def differing(state, path):
    """The addresses of the records the NAND does not hold."""
    return [hex(a) for a, d in records(path) if flash(state, a, len(d)) != d]


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "write":
        write(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "in-nand":
        bad = differing(sys.argv[2], sys.argv[3])
        if bad:
            print("FAILED: the simulator's NAND differs from the image at", ", ".join(bad))
            sys.exit(1)
        print(f"ok: the simulator's NAND holds the image ({sum(len(d) for _, d in records(sys.argv[3]))} bytes)")
    else:
        sys.exit(__doc__)
