#!/usr/bin/env python3
"""Links the ELF object of a virtual device driver into the LE image that Windows 9x loads.

    make_le.py OBJECT OUTPUT MODULE DESCRIPTION

OBJECT is an i386 ELF relocatable file (nasm -f elf32) with one allocated section, which becomes
the image's one object: locked, preloaded 32-bit code and data. Its absolute 32-bit addresses
(R_386_32 relocations) become internal LE fixups; the symbol MODULE_DDB (the device descriptor
block) becomes entry ordinal 1. Anything else in the object is refused.

The image, offsets as written into the LE header:

    0x0000  MZ header and a DOS stub that prints why it cannot run; 0x3C holds 0x80
    0x0080  LE header (0xC4 bytes); the offsets below are relative to it unless marked "file"
            object table          one 24-byte entry: size, base 0, flags, first page, page count
            object page table     one 4-byte entry a page: page number (24 bits, high byte
                                  first), flags 0 (a valid page in the file)
            resident name table   MODULE (ordinal 0), MODULE_DDB (ordinal 1), a zero byte
            entry table           one bundle: count 1, type 3 (32-bit), object 1, then flags 1
                                  (exported) and the DDB's offset; a zero byte
            fixup page table      for each page the offset of its first fixup record, and one
                                  more giving the end of the last page's records
            fixup record table    per fixup: source type 7 (32-bit offset), flags 0 (internal
                                  reference, 16-bit target offset) or 0x10 (32-bit target
                                  offset), the source offset in the page (signed 16 bits: a
                                  fixup that crosses into the next page is listed again there
                                  with a negative offset), object 1, the target offset
            import module and procedure name tables: empty
    file    data pages            4096 bytes each, the last one as long as what is left
    file    non-resident names    DESCRIPTION (ordinal 0), a zero byte

Module flags 0x38000 (dynamic virtual device driver), CPU 2 (386), OS 4 (Windows 386); the
header's VxD fields carry the DDB's device ID and DDK version.
"""
import struct
import sys

PAGE_SIZE = 4096
LE_OFFSET = 0x80
LE_HEADER_SIZE = 0xC4
DDB_SIZE = 0x50

ELF_SECTION_ALLOC = 0x2
ELF_PROGBITS, ELF_SYMTAB, ELF_NOBITS, ELF_REL, ELF_RELA = 1, 2, 8, 9, 4
R_386_32 = 1

MODULE_DYNAMIC_VXD = 0x38000
CPU_386, OS_WINDOWS_386 = 2, 4
# Readable, writable, executable, has preload pages, 32-bit: the "LCODE" class of a VxD's .def
# file (preload, not discardable), which the loader keeps locked.
OBJECT_FLAGS = 0x0001 | 0x0002 | 0x0004 | 0x0040 | 0x2000
ENTRY_EXPORTED = 0x01
FIXUP_OFFSET32 = 0x07
FIXUP_TARGET32 = 0x10

# push cs; pop ds; mov dx, message; mov ah, 9; int 21h; mov ax, 4C01h; int 21h
DOS_STUB_CODE = bytes([0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21,
                       0xB8, 0x01, 0x4C, 0xCD, 0x21])
DOS_STUB_MESSAGE = b"This program cannot be run in DOS mode.\r\r\n$"


class LinkError(Exception):
    pass


def read_elf(path):
    """Returns the allocated section's bytes, its symbols by name, and its relocations."""
    with open(path, "rb") as f:
        elf = f.read()
    if elf[:4] != b"\x7fELF" or elf[4] != 1 or elf[5] != 1:
        raise LinkError("not a 32-bit little-endian ELF file")
    e_type, e_machine = struct.unpack_from("<HH", elf, 16)
    if e_type != 1 or e_machine != 3:
        raise LinkError("not an i386 relocatable object")
    shoff, = struct.unpack_from("<I", elf, 32)
    shentsize, shnum = struct.unpack_from("<HH", elf, 46)
    sections = [struct.unpack_from("<IIIIIIIIII", elf, shoff + i * shentsize)
                for i in range(shnum)]  # name, type, flags, addr, offset, size, link, info, ...

    allocated = [i for i, s in enumerate(sections) if s[2] & ELF_SECTION_ALLOC and s[5]]
    if len(allocated) != 1 or sections[allocated[0]][1] != ELF_PROGBITS:
        raise LinkError("the object must have exactly one allocated section, with contents")
    code_index = allocated[0]
    code = sections[code_index]
    data = bytearray(elf[code[4]:code[4] + code[5]])

    symbols = []
    names = {}
    for s in sections:
        if s[1] != ELF_SYMTAB:
            continue
        strtab = sections[s[6]]
        for i in range(s[5] // 16):
            st_name, st_value, _, _, _, st_shndx = struct.unpack_from("<IIIBBH", elf, s[4] + i * 16)
            end = elf.index(b"\0", strtab[4] + st_name)
            name = elf[strtab[4] + st_name:end].decode("ascii")
            symbols.append((name, st_value, st_shndx))
            names[name] = (st_value, st_shndx)

    relocations = []
    for s in sections:
        if s[1] == ELF_RELA:
            raise LinkError("RELA relocations are not supported")
        if s[1] != ELF_REL:
            continue
        if s[7] != code_index:
            raise LinkError("relocations for a section other than the code")
        for i in range(s[5] // 8):
            offset, info = struct.unpack_from("<II", elf, s[4] + i * 8)
            symbol = symbols[info >> 8]
            if info & 0xFF != R_386_32:
                raise LinkError("relocation type %d at 0x%X: only R_386_32 is supported"
                                % (info & 0xFF, offset))
            if symbol[2] != code_index:
                raise LinkError("relocation at 0x%X refers to '%s' outside the code"
                                % (offset, symbol[0]))
            if offset + 4 > len(data):
                raise LinkError("relocation at 0x%X lies outside the code" % offset)
            target = symbol[1] + struct.unpack_from("<I", data, offset)[0]
            if target >= len(data):
                raise LinkError("relocation at 0x%X points outside the code" % offset)
            relocations.append((offset, target))
    return data, {n: v for n, (v, ndx) in names.items() if ndx == code_index}, sorted(relocations)


def name_entry(name, ordinal):
    raw = name.encode("ascii")
    return bytes([len(raw)]) + raw + struct.pack("<H", ordinal)


def fixup_records(relocations, pages):
    """The fixup records of each page, a fixup crossing a page boundary listed in both pages."""
    per_page = [bytearray() for _ in range(pages)]
    for offset, target in relocations:
        first, last = offset // PAGE_SIZE, (offset + 3) // PAGE_SIZE
        for page in range(first, last + 1):
            source = offset - page * PAGE_SIZE
            if target > 0xFFFF:
                record = struct.pack("<BBhBI", FIXUP_OFFSET32, FIXUP_TARGET32, source, 1, target)
            else:
                record = struct.pack("<BBhBH", FIXUP_OFFSET32, 0, source, 1, target)
            per_page[page] += record
    return per_page


def dos_stub():
    program = DOS_STUB_CODE + DOS_STUB_MESSAGE
    size = 0x40 + len(program)
    header = struct.pack("<2sHHHHHHHHHHHHH", b"MZ", size % 512, (size + 511) // 512, 0, 4,
                         0x10, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x40, 0)
    stub = bytearray(header.ljust(0x40, b"\0") + program)
    struct.pack_into("<I", stub, 0x3C, LE_OFFSET)
    if len(stub) > LE_OFFSET:
        raise LinkError("DOS stub too long")
    return bytes(stub.ljust(LE_OFFSET, b"\0"))


def link(data, symbols, relocations, module, description):
    ddb_name = module + "_DDB"
    if ddb_name not in symbols:
        raise LinkError("no symbol %s" % ddb_name)
    ddb = symbols[ddb_name]
    if ddb + DDB_SIZE > len(data):
        raise LinkError("%s runs past the end of the code" % ddb_name)
    if data[ddb + 12:ddb + 20] != module.ljust(8).encode("ascii"):
        raise LinkError("the DDB's name is not '%s'" % module)
    ddk_version, device_id = struct.unpack_from("<HH", data, ddb + 4)

    pages = (len(data) + PAGE_SIZE - 1) // PAGE_SIZE
    for offset, target in relocations:  # the image holds each fixup's target as if at base 0
        struct.pack_into("<I", data, offset, target)

    loader = bytearray()
    object_table = LE_HEADER_SIZE
    loader += struct.pack("<IIIIII", len(data), 0, OBJECT_FLAGS, 1, pages, 0)
    page_table = LE_HEADER_SIZE + len(loader)
    for page in range(1, pages + 1):
        loader += struct.pack(">I", page << 8)  # 24-bit page number, high byte first; flags 0
    resident_names = LE_HEADER_SIZE + len(loader)
    loader += name_entry(module, 0) + name_entry(ddb_name, 1) + b"\0"
    entry_table = LE_HEADER_SIZE + len(loader)
    loader += struct.pack("<BBHBI", 1, 3, 1, ENTRY_EXPORTED, ddb) + b"\0"

    records = fixup_records(relocations, pages)
    fixups = bytearray()
    fixup_page_table = LE_HEADER_SIZE + len(loader)
    position = 0
    for page in records + [b""]:
        fixups += struct.pack("<I", position)
        position += len(page)
    fixup_record_table = fixup_page_table + len(fixups)
    for page in records:
        fixups += page
    import_tables = fixup_page_table + len(fixups)

    data_pages = LE_OFFSET + import_tables
    data_pages += -data_pages % 16
    non_resident_names = data_pages + len(data)
    non_resident = name_entry(description, 0) + b"\0"

    header = bytearray(LE_HEADER_SIZE)
    struct.pack_into("<2sBBIHHII", header, 0, b"LE", 0, 0, 0, CPU_386, OS_WINDOWS_386, 0,
                     MODULE_DYNAMIC_VXD)
    fields = {
        0x14: pages, 0x28: PAGE_SIZE, 0x2C: len(data) - (pages - 1) * PAGE_SIZE,
        0x30: len(fixups), 0x38: len(loader), 0x40: object_table, 0x44: 1, 0x48: page_table,
        0x50: resident_names, 0x58: resident_names, 0x5C: entry_table, 0x68: fixup_page_table,
        0x6C: fixup_record_table, 0x70: import_tables, 0x78: import_tables, 0x80: data_pages,
        0x84: pages, 0x88: non_resident_names, 0x8C: len(non_resident),
    }
    for offset, value in fields.items():
        struct.pack_into("<I", header, offset, value)
    struct.pack_into("<HH", header, 0xC0, device_id, ddk_version)

    image = bytearray(dos_stub()) + header + loader + fixups
    image += bytes(data_pages - len(image))
    return bytes(image + data + non_resident)


def main(argv):
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    try:
        data, symbols, relocations = read_elf(argv[1])
        image = link(data, symbols, relocations, argv[3], argv[4])
    except (LinkError, OSError, struct.error, IndexError, ValueError) as error:
        sys.stderr.write("make_le.py: %s: %s\n" % (argv[1], error))
        return 1
    with open(argv[2], "wb") as f:
        f.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
