#!/usr/bin/env python3
"""Writes the function names of a linked executable (PE or ELF) into its own ".tapsym"
section, so that stack traces name functions without debug files or symbol tables.

usage: embed_symbols.py NM EXE
The section holds a placeholder until this runs; the table replaces it in place:
  "TAPSYMT1", u32 count, u32 names size, count * (u32 rva, u32 name offset), names (NUL-ended)
sorted by rva. Names are cut as the runtime shows them: no parameter list, no
"(anonymous namespace)::".
"""
import struct
import subprocess
import sys

PLACEHOLDER = b"TAPSYMT0"
MAGIC = b"TAPSYMT1"
ANON = "(anonymous namespace)::"


def bare_name(full):
    while full.startswith(ANON):
        full = full[len(ANON):]
    cut = full.find("(")
    return full[:cut] if cut > 0 else full


def pe_layout(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        sys.exit("embed_symbols: not a PE image")
    sections, = struct.unpack_from("<H", image, pe + 6)
    optional, = struct.unpack_from("<H", image, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", image, opt)
    base = struct.unpack_from("<I" if magic == 0x10B else "<Q", image, opt + (28 if magic == 0x10B else 24))[0]
    table = opt + optional
    for i in range(sections):
        h = table + 40 * i
        name = image[h:h + 8].rstrip(b"\0")
        raw_size, raw_ptr = struct.unpack_from("<II", image, h + 16)
        if name == b".tapsym":
            return base, raw_ptr, raw_size
    sys.exit("embed_symbols: the image has no .tapsym section")


def elf_layout(image):
    """The load base (the address of file offset 0) and the .tapsym section's place."""
    wide = image[4] == 2
    order = "<" if image[5] == 1 else ">"
    if wide:
        phoff, shoff = struct.unpack_from(order + "QQ", image, 0x20)
        phentsize, phnum, shentsize, shnum, shstrndx = struct.unpack_from(order + "HHHHH", image, 0x36)
    else:
        phoff, shoff = struct.unpack_from(order + "II", image, 0x1C)
        phentsize, phnum, shentsize, shnum, shstrndx = struct.unpack_from(order + "HHHHH", image, 0x2A)

    def section(i):
        h = shoff + i * shentsize
        if wide:
            name, _, _, _, offset, size = struct.unpack_from(order + "IIQQQQ", image, h)
        else:
            name, _, _, _, offset, size = struct.unpack_from(order + "IIIIII", image, h)
        return name, offset, size

    base = None
    for i in range(phnum):
        h = phoff + i * phentsize
        if wide:
            ptype, _, offset, vaddr = struct.unpack_from(order + "IIQQ", image, h)
        else:
            ptype, offset, vaddr = struct.unpack_from(order + "III", image, h)
        if ptype == 1:  # PT_LOAD
            base = vaddr - offset
            break
    if base is None:
        sys.exit("embed_symbols: the image has no loadable segment")
    _, names_at, _ = section(shstrndx)
    for i in range(shnum):
        name, offset, size = section(i)
        end = image.index(b"\0", names_at + name)
        if image[names_at + name:end] == b".tapsym":
            return base, offset, size
    sys.exit("embed_symbols: the image has no .tapsym section")


def main():
    nm, exe = sys.argv[1], sys.argv[2]
    with open(exe, "rb") as f:
        image = bytearray(f.read())
    layout = elf_layout if image[:4] == b"\x7fELF" else pe_layout
    base, at, room = layout(image)
    start = image.find(PLACEHOLDER, at, at + room)
    if start < 0:
        if image.find(MAGIC, at, at + room) >= 0:
            return  # already written (a relink writes a fresh placeholder)
        sys.exit("embed_symbols: no placeholder in .tapsym")
    room -= start - at
    listing = subprocess.run([nm, "-C", "--defined-only", exe], check=True,
                             capture_output=True, text=True).stdout
    symbols = {}
    for line in listing.splitlines():
        parts = line.split(" ", 2)
        if len(parts) != 3 or parts[1] not in ("T", "t", "W") or parts[2].startswith("."):
            continue
        rva = int(parts[0], 16) - base
        if 0 <= rva < 1 << 32:
            symbols.setdefault(rva, bare_name(parts[2]))
    names, offsets, entries = bytearray(), {}, []
    for rva in sorted(symbols):
        name = symbols[rva]
        if name not in offsets:
            offsets[name] = len(names)
            names += name.encode("utf-8", "replace") + b"\0"
        entries.append(struct.pack("<II", rva, offsets[name]))
    blob = MAGIC + struct.pack("<II", len(entries), len(names)) + b"".join(entries) + names
    if len(blob) > room:
        sys.exit("embed_symbols: the table needs %d bytes, .tapsym holds %d" % (len(blob), room))
    image[start:start + len(blob)] = blob
    with open(exe, "r+b") as f:
        f.seek(start)
        f.write(blob)


if __name__ == "__main__":
    main()
