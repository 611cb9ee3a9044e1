"""ELF section headers: which bytes of a program are machine code, unwind data, relocations,
symbols, strings and pointer tables. Plain Python, no dependency."""
import struct

# Sections that hold no graphics, whatever the program: code, unwind and exception tables,
# relocations, symbols and their strings, hash tables, version tables, offset and pointer tables.
NO_GRAPHICS = (".text", ".plt", ".plt.got", ".plt.sec", ".init", ".fini", ".eh_frame",
               ".eh_frame_hdr", ".gcc_except_table", ".dynsym", ".dynstr", ".symtab", ".strtab",
               ".gnu.hash", ".hash", ".gnu.version", ".gnu.version_r", ".gnu.version_d", ".got",
               ".got.plt", ".data.rel.ro", ".init_array", ".fini_array", ".gopclntab",
               ".gosymtab", ".noptrdata")


def kind_of(name):
    """The kind of a no-graphics section, or None for a section that may hold anything."""
    if name.startswith(".rela") or name.startswith(".rel."):
        return "relocations"
    if name in (".text", ".plt", ".plt.got", ".plt.sec", ".init", ".fini"):
        return "code"
    if name in (".eh_frame", ".eh_frame_hdr", ".gcc_except_table"):
        return "unwind"
    if name in (".dynsym", ".symtab", ".gnu.hash", ".hash") or name.startswith(".gnu.version"):
        return "symbols"
    if name in (".dynstr", ".strtab"):
        return "strings"
    if name in (".got", ".got.plt", ".data.rel.ro", ".init_array", ".fini_array"):
        return "pointers"
    if name in (".gopclntab", ".gosymtab"):
        return "symbols"
    return None


def sections(data):
    """[(name, offset, size, type)] of an ELF file's sections that occupy file bytes; [] when
    the bytes are no 64- or 32-bit little-endian ELF file."""
    if len(data) < 64 or data[:4] != b"\x7fELF" or data[5] != 1:
        return []
    wide = data[4] == 2
    if wide:
        shoff, = struct.unpack_from("<Q", data, 0x28)
        shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x3A)
        fmt = "<IIQQQQIIQQ"
    else:
        shoff, = struct.unpack_from("<I", data, 0x20)
        shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x2E)
        fmt = "<IIIIIIIIII"
    if shoff == 0 or shnum == 0 or shoff + shnum * shentsize > len(data):
        return []
    heads = [struct.unpack_from(fmt, data, shoff + i * shentsize) for i in range(shnum)]
    if shstrndx >= shnum:
        return []
    names_at = heads[shstrndx][4]
    out = []
    for h in heads:
        name_off, sh_type, offset, size = h[0], h[1], h[4], h[5]
        if sh_type == 8 or size == 0 or offset + size > len(data):  # SHT_NOBITS
            continue
        end = data.find(b"\0", names_at + name_off)
        name = data[names_at + name_off:end].decode("latin-1")
        out.append((name, offset, size, sh_type))
    return out


def is_elf(path):
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"\x7fELF"
    except OSError:
        return False
