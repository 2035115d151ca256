#!/usr/bin/env python3
"""The release table's rules on small made-up programs: each case a PE file
with the given header versions and imports, and the releases that must (and
must not) load it. Prints one line a case; exit status 1 when one is wrong."""
import os
import struct
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import release_table  # noqa: E402


def make_pe(imports, subsystem=(4, 0), machine=0x14C):
    """A 32-bit PE file holding only an import table: {dll: [function]}."""
    va, raw = 0x1000, 0x200
    dlls = list(imports)
    data = bytearray(20 * (len(dlls) + 1))
    descriptors = []
    for dll in dlls:
        names = []
        for func in imports[dll]:
            names.append(len(data))
            data += b"\0\0" + func.encode() + b"\0"
            data += b"\0" * (len(data) % 2)
        thunks = len(data)
        for n in names:
            data += struct.pack("<I", va + n)
        data += b"\0\0\0\0"
        dll_name = len(data)
        data += dll.encode() + b"\0"
        descriptors.append((thunks, dll_name))
    for i, (thunks, dll_name) in enumerate(descriptors):
        struct.pack_into("<IIIII", data, 20 * i, va + thunks, 0, 0, va + dll_name, va + thunks)
    size = (len(data) + 0x1FF) & ~0x1FF
    header = bytearray(raw)
    header[0:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x40)
    header[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", header, 0x44, machine, 1, 0, 0, 0, 224, 0x102)
    opt = 0x58
    struct.pack_into("<H", header, opt, 0x10B)
    struct.pack_into("<HH", header, opt + 40, *subsystem)
    struct.pack_into("<HH", header, opt + 48, *subsystem)
    struct.pack_into("<II", header, opt + 96 + 8, va, len(data))
    section = opt + 224
    header[section:section + 8] = b".idata\0\0"
    struct.pack_into("<IIII", header, section + 8, size, va, size, raw)
    return bytes(header) + bytes(data) + b"\0" * (size - len(data))


ALL = {"95", "98", "98se", "me", "nt4", "2000", "xp", "vista"}
NT = {"nt4", "2000", "xp", "vista"}
CASES = [
    ("narrow functions every release has", {"kernel32.dll": ["CreateFileA"], "user32.dll": ["CreateWindowExA"]}, ALL),
    ("a wide function that is a stub on 9x", {"user32.dll": ["CreateWindowExW"]}, NT),
    ("a wide function 9x has whole", {"user32.dll": ["MessageBoxW"]}, ALL),
    ("an XP function", {"kernel32.dll": ["AttachConsole"]}, {"xp", "vista"}),
    ("a Vista function", {"kernel32.dll": ["GetTickCount64"]}, {"vista"}),
    ("a function of 98 and 2000", {"user32.dll": ["MonitorFromPoint"]}, {"98", "98se", "me", "2000", "xp", "vista"}),
    ("comctl32 of Internet Explorer 3: with an update", {"comctl32.dll": ["InitCommonControlsEx"]}, ALL),
    ("msvcrt of NT 4.0", {"msvcrt.dll": ["malloc"]}, ALL),
    ("msvcrt of ME and 2000", {"msvcrt.dll": ["_fstat64"]}, {"me", "2000", "xp", "vista"}),
    ("a function the tables do not know", {"kernel32.dll": ["NoSuchFunction"]}, set()),
    ("a DLL the tables do not know", {"zrw32n50.dll": ["W32N_IsWindowsNT"]}, set()),
]


def main():
    tables = release_table.read_tables()
    wrong = 0
    with tempfile.TemporaryDirectory() as folder:
        cases = [(name, make_pe(imports), loads) for name, imports, loads in CASES]
        cases.append(("subsystem version 5.0", make_pe({"kernel32.dll": ["CreateFileA"]}, (5, 0)), {"2000", "xp", "vista"}))
        cases.append(("a 64-bit program", make_pe({"kernel32.dll": ["CreateFileA"]}, machine=0x8664), set()))
        for i, (name, pe, loads) in enumerate(cases):
            path = os.path.join(folder, "case%d.exe" % i)
            with open(path, "wb") as f:
                f.write(pe)
            got = {rel for rel, (ok, _, _) in release_table.verdicts(path, tables).items() if ok}
            good = got == loads
            wrong += not good
            print("  %s - %s%s" % ("ok" if good else "not ok", name,
                                 "" if good else ": loads on %s, expected %s" % (sorted(got), sorted(loads))))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
