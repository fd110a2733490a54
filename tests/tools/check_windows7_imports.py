#!/usr/bin/env python3
"""Fails when a Windows program or DLL imports something Windows 7 SP1 lacks.

Reads the import tables (ordinary and delay-loaded) of each PE file itself, so
both architectures are checked without running them. The list of what Windows
7 SP1 lacks is ours (we have no Windows 7 export tables here): functions that
later systems added and MinGW's import libraries offer, and libraries later
systems added. A function that only some Windows 7 systems have (an update
installed) counts as missing: such a function is looked up at run time.

usage: check_windows7_imports.py LIST FILE...
"""
import struct
import sys


class PeError(Exception):
    pass


def read_imports(data):
    """[(dll, function)] of the import and delay-import directories."""
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE header")
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x10B:
        wide, directories = False, optional + 96
    elif magic == 0x20B:
        wide, directories = True, optional + 112
    else:
        raise PeError("unknown optional header 0x%x" % magic)
    sections = []
    table = optional + optional_size
    for i in range(sections_count):
        at = table + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, at + 8)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_pointer))

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise PeError("address 0x%x is in no section" % rva)

    def text(rva):
        at = offset(rva)
        end = data.index(b"\0", at)
        return data[at:end].decode("ascii", "replace")

    def thunks(rva):
        names = []
        step, flag = (8, 1 << 63) if wide else (4, 1 << 31)
        at = offset(rva)
        while True:
            value = struct.unpack_from("<Q" if wide else "<I", data, at)[0]
            if value == 0:
                return names
            names.append("#%d" % (value & 0xFFFF) if value & flag else text((value & 0x7FFFFFFF) + 2))
            at += step

    found = []
    import_rva = struct.unpack_from("<I", data, directories + 8 * 1)[0]
    if import_rva:
        at = offset(import_rva)
        while True:
            lookup, _, _, name, address = struct.unpack_from("<IIIII", data, at)
            if name == 0:
                break
            dll = text(name)
            found += [(dll, f) for f in thunks(lookup or address)]
            at += 20
    delay_rva = struct.unpack_from("<I", data, directories + 8 * 13)[0]
    if delay_rva:
        at = offset(delay_rva)
        while True:
            attributes, name, _, _, names = struct.unpack_from("<IIIII", data, at)
            if name == 0:
                break
            # Old-style descriptors hold addresses, not RVAs; MinGW writes RVAs.
            if attributes & 1 == 0:
                raise PeError("delay-import descriptor without RVAs")
            dll = text(name)
            found += [(dll, f) for f in thunks(names)]
            at += 32
    return found


def read_list(path):
    functions, libraries = {}, []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            dll, _, function = line.partition("!")
            dll = dll.strip().lower()
            function = function.strip()
            if function:
                functions.setdefault(dll, set()).add(function)
            else:
                libraries.append(dll)
    return functions, libraries


def library_missing(dll, libraries):
    for pattern in libraries:
        if pattern.endswith("*") and dll.startswith(pattern[:-1]):
            return True
        if dll == pattern:
            return True
    return False


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[-1])
        return 2
    functions, libraries = read_list(argv[1])
    failed = False
    for path in argv[2:]:
        with open(path, "rb") as f:
            imports = read_imports(f.read())
        if not imports:
            print("%s: no imports found" % path)
            failed = True
            continue
        bad = []
        for dll, function in imports:
            lower = dll.lower()
            if library_missing(lower, libraries):
                bad.append("%s (the library)" % dll)
            elif function in functions.get(lower, ()):
                bad.append("%s!%s" % (dll, function))
        dlls = sorted({d.lower() for d, _ in imports})
        if bad:
            failed = True
            print("%s imports what Windows 7 SP1 lacks:" % path)
            for b in sorted(set(bad)):
                print("  " + b)
        else:
            print("%s: %d imports from %s, all in Windows 7 SP1" % (path, len(imports), " ".join(dlls)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
