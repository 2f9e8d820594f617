#!/usr/bin/env python3
"""Delay-loaded imports of the Windows program, which GNU ld links but does not list.

  delay_imports.py def --nm NM --lib IMPORT_LIBRARY --dll NAME --out DEF [--leading-underscore]
      The module definition of every function the import library names, for dlltool's
      --output-delaylib. i686 symbols begin with an underscore, which the definition drops;
      their stdcall decoration stays (dlltool -k drops it from the names the image asks for).
  delay_imports.py seal --nm NM --strip STRIP IMAGE
      Strips the freshly linked IMAGE and enters its delay-load descriptors, found by their
      symbols before the strip, in the image's delay import directory, where Windows' tools and
      check_imports.sh look for them. The descriptors must lie one after another and end in an
      empty one (platform/delay_import_end.cpp); anything else fails the build.
  delay_imports.py list IMAGE
      "DLL FUNCTION" for every delay-loaded import (ordinals as #N); nothing when the image has
      no delay import directory.

Exits 1 on a failed check, 2 on an image or tool it cannot read.
"""
import argparse
import re
import struct
import subprocess
import sys

DESCRIPTOR_SIZE = 32
DELAY_IMPORT_ENTRY = 13
DESCRIPTOR_SYMBOL = "__DELAY_IMPORT_DESCRIPTOR_"


class ImageError(Exception):
    pass


class PeImage:
    def __init__(self, data):
        self.data = bytearray(data)
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise ImageError("not an MZ image")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ImageError("no PE header")
        coff = pe + 4
        sections, optional_size = struct.unpack_from("<H12xH", data, coff + 2)
        self.optional = coff + 20
        magic = struct.unpack_from("<H", data, self.optional)[0]
        if magic == 0x10B:
            self.image_base = struct.unpack_from("<I", data, self.optional + 28)[0]
            self.pointer_size, directories = 4, self.optional + 96
            count = struct.unpack_from("<I", data, self.optional + 92)[0]
        elif magic == 0x20B:
            self.image_base = struct.unpack_from("<Q", data, self.optional + 24)[0]
            self.pointer_size, directories = 8, self.optional + 112
            count = struct.unpack_from("<I", data, self.optional + 108)[0]
        else:
            raise ImageError("unknown optional header magic %#x" % magic)
        # An image with fewer directories has no delay imports.
        self.delay_entry = directories + 8 * DELAY_IMPORT_ENTRY if count > DELAY_IMPORT_ENTRY else None
        self.sections = []
        table = self.optional + optional_size
        for index in range(sections):
            virtual_size, rva, raw_size, raw = struct.unpack_from("<4I", data, table + 40 * index + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw, raw_size))

    def offset(self, rva, size=1):
        for start, length, raw, raw_size in self.sections:
            if start <= rva and rva + size <= start + length:
                if rva - start + size > raw_size:
                    raise ImageError("RVA %#x lies beyond the file's data" % rva)
                return raw + rva - start
        raise ImageError("RVA %#x lies in no section" % rva)

    def dword(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva, 4))[0]

    def pointer(self, rva):
        fmt = "<I" if self.pointer_size == 4 else "<Q"
        return struct.unpack_from(fmt, self.data, self.offset(rva, self.pointer_size))[0]

    def string(self, rva):
        start = self.offset(rva)
        end = self.data.find(b"\0", start)
        if end < 0 or end - start > 255:
            raise ImageError("no name at RVA %#x" % rva)
        return self.data[start:end].decode("ascii")

    def descriptors(self):
        if self.delay_entry is None:
            return []
        rva, size = struct.unpack_from("<II", self.data, self.delay_entry)
        if rva == 0:
            return []
        found = []
        for at in range(rva, rva + size, DESCRIPTOR_SIZE):
            fields = struct.unpack_from("<8I", self.data, self.offset(at, DESCRIPTOR_SIZE))
            if not any(fields):
                break
            found.append(fields)
        return found

    # Version 2 descriptors (attribute bit 0) hold RVAs; version 1 ones hold addresses.
    def rva_of(self, attributes, value):
        return value if attributes & 1 else value - self.image_base

    def imports(self):
        ordinal_flag = 1 << (8 * self.pointer_size - 1)
        for fields in self.descriptors():
            attributes, name, names = fields[0], fields[1], fields[4]
            dll = self.string(self.rva_of(attributes, name))
            entry = self.rva_of(attributes, names)
            while True:
                thunk = self.pointer(entry)
                if thunk == 0:
                    break
                if thunk & ordinal_flag:
                    yield dll, "#%d" % (thunk & 0xFFFF)
                else:
                    yield dll, self.string(self.rva_of(attributes, thunk & 0x7FFFFFFF) + 2)
                entry += self.pointer_size

    # strip writes the image checksum: it is made again over the filled-in directory.
    def update_checksum(self):
        at = self.optional + 64
        if struct.unpack_from("<I", self.data, at)[0] == 0:
            return
        struct.pack_into("<I", self.data, at, 0)
        data = bytes(self.data) + b"\0" * (len(self.data) % 2)
        total = 0
        for (word,) in struct.iter_unpack("<H", data):
            total += word
            total = (total & 0xFFFF) + (total >> 16)
        struct.pack_into("<I", self.data, at, (total & 0xFFFF) + len(self.data))


def read_image(path):
    try:
        with open(path, "rb") as f:
            return PeImage(f.read())
    except (OSError, struct.error) as error:
        raise ImageError(str(error))


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        raise ImageError("%s failed: %s" % (" ".join(command), result.stderr.strip()))
    return result.stdout


def make_def(args):
    names = set()
    for line in run([args.nm, args.lib]).splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[1] == "I" and fields[2].startswith("__imp_"):
            name = fields[2][len("__imp_"):]
            # i686 symbols carry the C compiler's leading underscore, x64 ones none.
            if args.leading_underscore:
                if not name.startswith("_"):
                    continue
                name = name[1:]
            names.add(name)
    if not names:
        raise ImageError("%s names no function" % args.lib)
    with open(args.out, "w") as out:
        out.write("LIBRARY %s\nEXPORTS\n" % args.dll)
        for name in sorted(names):
            out.write(name + "\n")


def seal(args):
    image = read_image(args.image)
    descriptors = []
    for line in run([args.nm, args.image]).splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[2].startswith(DESCRIPTOR_SYMBOL):
            descriptors.append(int(fields[0], 16) - image.image_base)
    run([args.strip, "--strip-all", args.image])
    image = read_image(args.image)
    if not descriptors:
        return
    if image.delay_entry is None:
        raise ImageError("the image has no delay import directory entry")
    descriptors.sort()
    for before, after in zip(descriptors, descriptors[1:]):
        if after - before != DESCRIPTOR_SIZE:
            raise ValueError("delay-load descriptors at %#x and %#x are not adjacent" % (before, after))
    end = descriptors[-1] + DESCRIPTOR_SIZE
    closing = image.offset(end, DESCRIPTOR_SIZE)
    if any(image.data[closing:closing + DESCRIPTOR_SIZE]):
        raise ValueError("no empty descriptor closes the delay-load descriptors at %#x" % end)
    struct.pack_into("<II", image.data, image.delay_entry, descriptors[0],
                     end + DESCRIPTOR_SIZE - descriptors[0])
    if len(list(image.descriptors())) != len(descriptors):
        raise ValueError("the delay import directory does not read back")
    for dll, _ in image.imports():
        if not re.fullmatch(r"[A-Za-z0-9_.-]+\.dll", dll, re.IGNORECASE):
            raise ValueError("a delay-load descriptor names %r" % dll)
    image.update_checksum()
    with open(args.image, "wb") as f:
        f.write(image.data)


def list_imports(args):
    for dll, function in read_image(args.image).imports():
        print(dll, function)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    definition = commands.add_parser("def")
    definition.add_argument("--nm", required=True)
    definition.add_argument("--lib", required=True)
    definition.add_argument("--dll", required=True)
    definition.add_argument("--out", required=True)
    definition.add_argument("--leading-underscore", action="store_true")
    sealing = commands.add_parser("seal")
    sealing.add_argument("--nm", required=True)
    sealing.add_argument("--strip", required=True)
    sealing.add_argument("image")
    listing = commands.add_parser("list")
    listing.add_argument("image")
    args = parser.parse_args()
    try:
        {"def": make_def, "seal": seal, "list": list_imports}[args.command](args)
    except ImageError as error:
        print("delay_imports.py: %s" % error, file=sys.stderr)
        return 2
    except ValueError as error:
        print("delay_imports.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
