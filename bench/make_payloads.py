#!/usr/bin/env python3
# SPDX-License-Identifier: Zlib
"""Makes one benchmark payload: a folder of files and the same files as a ZIP archive.

    bench/make_payloads.py KIND OUTPUT_DIR [--scale F]

KIND is trivial, typical, big or many-small. OUTPUT_DIR/files/ receives the files (with `tool`,
a program that exits 0, at the top) and OUTPUT_DIR/archive.zip the same tree, deflated at level
6. Every byte comes from a random generator with a fixed seed, and every time and mode is fixed,
so two runs on one machine give identical trees and identical archives. --scale multiplies the
sizes and file counts (0.01 makes a quick smoke-test payload); 1 is the real benchmark.
"""

import argparse
import json
import os
import platform
import random
import struct
import sys
import zipfile

KB = 1000
MIB = 1024 * 1024
FIXED_TIME = 1704067200  # 2024-01-01 00:00:00 UTC, for every file and folder


def exit_zero_program():
    """The payload's tool: a 129-byte static x86-64 ELF that calls exit(0), or a shell script
    elsewhere. Either way no loader and no library, so its own start costs next to nothing."""
    if platform.machine() not in ("x86_64", "AMD64"):
        return b"#!/bin/sh\nexit 0\n", 0o755
    base = 0x400000
    code = bytes.fromhex("31ff" "b83c000000" "0f05")  # xor edi,edi; mov eax,60; syscall
    size = 64 + 56 + len(code)
    header = struct.pack("<4sBBBB8xHHIQQQIHHHHHH", b"\x7fELF", 2, 1, 1, 0,
                         2, 0x3E, 1, base + 64 + 56, 64, 0, 0, 64, 56, 1, 0, 0, 0)
    segment = struct.pack("<IIQQQQQQ", 1, 5, 0, base, base, size, size, 0x1000)
    return header + segment + code, 0o755


def binary_like(rng, size):
    """Bytes that deflate to about half their size, as programs and libraries do: 4 KiB blocks,
    some random (packed data), the rest drawn from a small vocabulary of 8-byte words (code)."""
    vocabulary = [rng.randbytes(8) for _ in range(512)]
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.28:
            out += rng.randbytes(4096)
        else:
            out += b"".join(rng.choices(vocabulary, k=512))
    return bytes(out[:size])


def pem_bundle(rng, size):
    import base64
    out = []
    total = 0
    while total < size:
        body = base64.b64encode(rng.randbytes(1100)).decode()
        lines = [body[i:i + 64] for i in range(0, len(body), 64)]
        block = "-----BEGIN CERTIFICATE-----\n" + "\n".join(lines) + "\n-----END CERTIFICATE-----\n"
        out.append(block)
        total += len(block)
    return "".join(out).encode()[:size]


def device_json(rng, index, size):
    record = {"id": index, "model": "VK-%04d" % rng.randrange(10000), "channels": []}
    text = b""
    while len(text) < size:
        record["channels"].append({
            "name": "ch%d" % len(record["channels"]),
            "gain": round(rng.uniform(0.5, 4.0), 4),
            "offset": rng.randrange(-2048, 2048),
            "enabled": rng.random() < 0.8,
            "serial": "%016x" % rng.getrandbits(64),
        })
        text = json.dumps(record, indent=2).encode()
    return text


def text_like(rng, size):
    words = [b"device", b"port", b"firmware", b"status", b"0x%04x" % 4660, b"ok", b"timeout",
             b"retry", b"channel", b"=", b"{", b"}", b"\n"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b" " if rng.random() < 0.7 else b"\n")
        if rng.random() < 0.05:
            out += rng.randbytes(rng.randrange(1, 16)).hex().encode()
    return bytes(out[:size])


def files_trivial(rng, scale):
    yield "note.txt", text_like(rng, 1024)


def files_typical(rng, scale):
    yield "bin/fwtool-core", binary_like(rng, int(12 * MIB * scale))
    for i in range(40):
        size = int(rng.randrange(300 * KB, 1050 * KB) * scale)
        yield "lib/libvek%02d.so.%d" % (i, 1 + i % 3), binary_like(rng, size)
    yield "certs/ca-bundle.crt", pem_bundle(rng, int(200 * KB * scale))
    for i in range(max(1, int(2000 * scale))):
        yield "devices/%02d/device-%04d.json" % (i % 50, i), device_json(rng, i, rng.randrange(600, 3000))


def files_big(rng, scale):
    # Written in 1 MiB pieces by write_tree: random and near-zero (a random byte every 4 KiB).
    def pieces():
        for i in range(max(2, int(400 * scale))):
            if i % 2 == 0:
                yield rng.randbytes(MIB)
            else:
                block = bytearray(MIB)
                for offset in range(0, MIB, 4096):
                    block[offset] = rng.randrange(256)
                yield bytes(block)
    yield "data/image.bin", pieces()


def files_many_small(rng, scale):
    # Files spread over a tree three folders wide and six deep (729 leaf folders).
    for i in range(max(1, int(20000 * scale))):
        leaf = i % 729
        parts = ["n%d" % ((leaf // 3 ** level) % 3) for level in range(6)]
        yield "/".join(parts) + "/item-%05d.cfg" % i, text_like(rng, rng.randrange(0, 4097))


KINDS = {
    "trivial": files_trivial,
    "typical": files_typical,
    "big": files_big,
    "many-small": files_many_small,
}


def write_tree(kind, root, scale):
    rng = random.Random("sfxkit-bench-%s" % kind)
    tool, tool_mode = exit_zero_program()
    entries = [("tool", tool, tool_mode)]
    entries += [(name, data, 0o644) for name, data in KINDS[kind](rng, scale)]
    folders = set()
    for name, data, mode in entries:
        path = os.path.join(root, name)
        folder = os.path.dirname(name)
        while folder and folder not in folders:
            folders.add(folder)
            folder = os.path.dirname(folder)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            if isinstance(data, bytes):
                out.write(data)
            else:
                for piece in data:
                    out.write(piece)
        os.chmod(path, mode)
        os.utime(path, (FIXED_TIME, FIXED_TIME))
    for folder in folders:
        path = os.path.join(root, folder)
        os.chmod(path, 0o755)
        os.utime(path, (FIXED_TIME, FIXED_TIME))
    return sorted(folders), [name for name, _, _ in entries]


def write_archive(root, folders, files, archive):
    # Folders first, then files in the order written; times and modes come from the tree.
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as zf:
        for name in folders:
            zf.write(os.path.join(root, name), name + "/")
        for name in files:
            zf.write(os.path.join(root, name), name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("kind", choices=sorted(KINDS))
    parser.add_argument("output_dir")
    parser.add_argument("--scale", type=float, default=1.0)
    args = parser.parse_args()
    if not 0 < args.scale <= 1:
        sys.exit("make_payloads: --scale must be in (0, 1]")
    os.umask(0o022)
    root = os.path.join(args.output_dir, "files")
    os.makedirs(root)
    os.chmod(root, 0o755)
    folders, files = write_tree(args.kind, root, args.scale)
    write_archive(root, folders, files, os.path.join(args.output_dir, "archive.zip"))
    os.utime(root, (FIXED_TIME, FIXED_TIME))


if __name__ == "__main__":
    main()
