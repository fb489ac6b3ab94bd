#!/usr/bin/env python3
"""Makes the sample firmware set in samples/firmware/.

The files are made up, but shaped like a player's firmware:

  player.srec    tag P, S-record text of memory space 1 behind a binary
                 prefix (player.prefix, two 24-bit words), version 1.2.0.7
  dsp.srec       tag D, S-record text of memory space 2, version 3.1.0.21
  resources.bin  tag R, raw binary ending in a "Version" trailer, version 2.0.1.3
  manifest.json  the set: tags, kinds, paths, prefix, low-area file, the
                 reservation it needs and each file's SHA-256 (the same
                 values `orvik manifest hash` writes)

Every S-record text starts with an S0 record whose address names the memory
space (000<space>), carries S1 load records of ten 24-bit words (each
record's address counts words), and ends with a versioned S9 record: count
0B, address 0000, then the four 16-bit version words.

The output is the same on every run (the bytes come from a fixed generator),
so the committed files can be checked by running the script again:

  python3 samples/make-firmware.py && git diff --exit-code samples/firmware

manifest.json.sig, the set's signature by the sample test key, is not made
here: when the set changes, sign it again (see samples/keys/README.md).
"""
import hashlib
import json
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "firmware")


def pseudo_random_bytes(count, seed):
    """A fixed byte stream (a 32-bit linear congruential generator)."""
    state = seed & 0xFFFFFFFF
    out = bytearray()
    for _ in range(count):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out.append(state >> 24)
    return bytes(out)


def record(kind, payload):
    """One S-record line: type, count, address and data, checksum."""
    count = len(payload) + 1
    checksum = 0xFF - ((count + sum(payload)) & 0xFF)
    return "S%s%02X%s%02X" % (kind, count, payload.hex().upper(), checksum)


def srecord_text(data, memory_space, version):
    lines = [record("0", bytes([0x00, memory_space]))]
    words_per_record = 10
    for offset in range(0, len(data), 3 * words_per_record):
        chunk = data[offset:offset + 3 * words_per_record]
        address = offset // 3
        lines.append(record("1", struct.pack(">H", address) + chunk))
    lines.append(record("9", b"\x00\x00" + struct.pack(">4H", *version)))
    return "\r\n".join(lines) + "\r\n"


def raw_with_trailer(data, version):
    return data + b"Version" + struct.pack("<4H", *version)


def sha256_of(name):
    with open(os.path.join(OUT, name), "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def write(name, content):
    mode = "w" if isinstance(content, str) else "wb"
    kwargs = {"newline": ""} if mode == "w" else {}
    with open(os.path.join(OUT, name), mode, **kwargs) as out:
        out.write(content)


def main():
    os.makedirs(OUT, exist_ok=True)
    write("player.srec", srecord_text(pseudo_random_bytes(24000, 1), 1, (1, 2, 0, 7)))
    # A prefix is whole 24-bit words, most significant byte first.
    write("player.prefix", bytes([0x00, 0x00, 0x5A, 0x00, 0x1F, 0x40]))
    write("dsp.srec", srecord_text(pseudo_random_bytes(6000, 2), 2, (3, 1, 0, 21)))
    write("resources.bin", raw_with_trailer(pseudo_random_bytes(20000, 3), (2, 0, 1, 3)))
    manifest = {
        "name": "Sample player firmware 1.2",
        "lowAreaFile": 1,
        "totalKiloBytesReserved": 1024,
        "files": [
            {"tag": "P", "kind": "srec", "path": "player.srec", "prefix": "player.prefix"},
            {"tag": "D", "kind": "srec", "path": "dsp.srec"},
            {"tag": "R", "kind": "raw", "path": "resources.bin"},
        ],
    }
    for entry in manifest["files"]:
        entry["sha256"] = sha256_of(entry["path"])
        if "prefix" in entry:
            entry["prefixSha256"] = sha256_of(entry["prefix"])
    write("manifest.json", json.dumps(manifest, indent=2) + "\n")


if __name__ == "__main__":
    main()
