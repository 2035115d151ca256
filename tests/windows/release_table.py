#!/usr/bin/env python3
"""Which Windows releases load these 32-bit programs, read from their files.

    release_table.py [--required FILE] PROGRAM.exe...

For every program: the PE header's OS and subsystem versions, and every
import (DLL and function) looked up in the tables of tests/windows/releases/
(README.md there names their sources). Prints a table, release by release:
whether the release loads the program and, if not, why (the first missing
imports). An import the tables do not know stops every release until it is
added to them with its source; a wide-character import that is a stub on
95/98/ME (exported, but the call fails) stops those three.

Exit status 1 when a release named in the required list (one key a line,
'#' comments; tests/windows/releases/required by default) does not load one
of the programs, 0 otherwise; 2 for a file that is not a PE program.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TABLES = os.path.join(HERE, "releases")

# Release keys, in order, with the names the table prints.
RELEASES = [
    ("95", "95 + updates"),
    ("98", "98"),
    ("98se", "98 SE"),
    ("me", "ME"),
    ("nt4", "NT 4.0 SP6"),
    ("2000", "2000"),
    ("xp", "XP"),
    ("vista", "Vista and later"),
]
NINE_X = {"95", "98", "98se", "me"}

# The highest subsystem (and OS) version in a PE header each release accepts.
HEADER_LIMIT = {"95": (4, 0), "98": (4, 10), "98se": (4, 10), "me": (4, 90), "nt4": (4, 0),
                "2000": (5, 0), "xp": (5, 1), "vista": (6, 0)}

# availability.tsv's "9x" column: the 9x releases that export the function
# (a trailing * means with an update: 95 OSR2 or Internet Explorer).
NINE_X_FROM = {"95": ["95", "98", "98se", "me"], "98": ["98", "98se", "me"], "98se": ["98se", "me"],
               "me": ["me"], "-": []}
# Its "nt" column: the NT releases that export it.
NT_FROM = {"4.0": ["nt4", "2000", "xp", "vista"], "5.0": ["2000", "xp", "vista"], "5.1": ["xp", "vista"],
           "6.0": ["vista"], "-": []}

# msvcrt.tsv's tags: the releases whose msvcrt.dll has the function. Windows
# 95 has no msvcrt.dll of its own: the one it gets installed (Visual C++ 6's
# redistributable) is that of 98 SE. NT 4.0 is taken at the level of its own
# msvcrt.dll (4.2), whatever later updates may have added.
MSVCRT = {
    "nt4": {"95", "98", "98se", "me", "nt4", "2000", "xp", "vista"},
    "98": {"95", "98", "98se", "me", "2000", "xp", "vista"},
    "98se": {"95", "98se", "me", "2000", "xp", "vista"},
    "me/2000": {"me", "2000", "xp", "vista"},
    "2000sp4": {"2000", "xp", "vista"},
    "xp": {"xp", "vista"},
    "vista": {"vista"},
}


def read_tables():
    avail = {}
    with open(os.path.join(TABLES, "availability.tsv"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            dll, func, nt, nine, on9x, _sources = line.rstrip("\n").split("\t")
            avail[(dll + ".dll", func)] = (nt, nine, on9x)
    msvcrt = {}
    with open(os.path.join(TABLES, "msvcrt.tsv"), encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            func, tag = line.rstrip("\n").split("\t")
            msvcrt[func] = tag
    dumps = {}
    for rel in ("xp", "vista"):
        names = set()
        with open(os.path.join(TABLES, "exports-%s.txt" % rel), encoding="utf-8") as f:
            for line in f:
                if line.startswith("#") or not line.strip():
                    continue
                dll, func = line.rstrip("\n").split("\t")
                names.add((dll.lower(), func))
        dumps[rel] = names
    return avail, msvcrt, dumps


class NotAProgram(Exception):
    pass


def read_pe(path):
    """(machine, (os major, minor), (subsystem major, minor), [(dll, function)])."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise NotAProgram("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise NotAProgram("no PE header")
    machine, nsections = struct.unpack_from("<HH", data, pe + 4)
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic not in (0x10B, 0x20B):
        raise NotAProgram("unknown optional header")
    wide = magic == 0x20B
    os_version = struct.unpack_from("<HH", data, opt + 40)
    subsystem_version = struct.unpack_from("<HH", data, opt + 48)
    dirs = opt + (112 if wide else 96)
    import_rva = struct.unpack_from("<I", data, dirs + 8)[0]
    sections = []
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, va, rsize, raw = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rsize), raw))

    def offset(rva):
        for va, size, raw in sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise NotAProgram("address 0x%x outside the sections" % rva)

    def cstring(rva):
        o = offset(rva)
        return data[o:data.index(b"\0", o)].decode("ascii", "replace")

    imports = []
    if import_rva:
        d = offset(import_rva)
        while True:
            lookup, _, _, name_rva, first = struct.unpack_from("<IIIII", data, d)
            if name_rva == 0:
                break
            dll = cstring(name_rva).lower()
            t = offset(lookup or first)
            size, ordinal_bit = (8, 1 << 63) if wide else (4, 1 << 31)
            while True:
                thunk = struct.unpack_from("<Q" if wide else "<I", data, t)[0]
                if thunk == 0:
                    break
                if thunk & ordinal_bit:
                    imports.append((dll, "#%d" % (thunk & 0xFFFF)))
                else:
                    imports.append((dll, cstring((thunk & 0x7FFFFFFF) + 2)))
                t += size
            d += 20
    return machine, tuple(os_version), tuple(subsystem_version), imports


def verdicts(path, tables):
    """{release: (loads, [reasons], [notes])} for one program."""
    avail, msvcrt, dumps = tables
    machine, os_version, subsystem_version, imports = read_pe(path)
    result = {}
    for rel, _ in RELEASES:
        reasons, notes = [], []
        if machine != 0x14C:
            reasons.append("not a 32-bit x86 program (machine 0x%x)" % machine)
        limit = HEADER_LIMIT[rel]
        if subsystem_version > limit:
            reasons.append("subsystem version %d.%d" % subsystem_version)
        if os_version > limit:
            reasons.append("OS version %d.%d" % os_version)
        for dll, func in imports:
            what = "%s!%s" % (dll.rsplit(".", 1)[0], func)
            if dll == "msvcrt.dll":
                tag = msvcrt.get(func)
                if tag is None:
                    reasons.append("%s (not in the tables)" % what)
                elif rel not in MSVCRT.get(tag, set()):
                    reasons.append("%s (msvcrt of %s)" % (what, tag))
                elif rel == "95" and "msvcrt.dll installed" not in notes:
                    notes.append("msvcrt.dll installed")
                continue
            row = avail.get((dll, func))
            if row is None:
                in_xp, in_vista = (dll, func) in dumps["xp"], (dll, func) in dumps["vista"]
                if not (in_xp or in_vista):
                    reasons.append("%s (not in the tables)" % what)
                elif not (in_vista if rel == "vista" else in_xp and rel == "xp"):
                    reasons.append("%s (%s)" % (what, "XP" if in_xp else "Vista"))
                continue
            nt, nine, on9x = row
            if rel in NINE_X:
                base = nine.rstrip("*")
                if rel not in NINE_X_FROM.get(base, []):
                    reasons.append("%s (%s)" % (what, "not on 9x" if base == "-" else base))
                elif on9x == "stub" and func.endswith("W"):
                    reasons.append("%s (a stub on 9x)" % what)
                else:
                    if on9x in ("stub", "?"):
                        notes.append("%s %s" % (what, "is a stub" if on9x == "stub" else "may be a stub"))
                    if nine.endswith("*") and rel == "95":
                        notes.append("%s needs an update" % what)
            else:
                base = nt.rstrip("*")
                if rel not in NT_FROM.get(base, []):
                    reasons.append("%s (%s)" % (what, "not on NT" if base == "-" else "NT " + base))
                elif nt.endswith("*") and rel in ("nt4", "2000") and NT_FROM.get(base, [None])[0] == rel:
                    notes.append("%s needs an update" % what)
        # What is missing first, then what is there but a stub.
        reasons.sort(key=lambda r: r.endswith("(a stub on 9x)"))
        result[rel] = (not reasons, reasons, notes)
    return result


def main(argv):
    required_file = os.path.join(TABLES, "required")
    args = argv[1:]
    if len(args) >= 2 and args[0] == "--required":
        required_file, args = args[1], args[2:]
    if not args:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(required_file, encoding="utf-8") as f:
        required = [w for line in f for w in line.split("#", 1)[0].split()]
    keys = [k for k, _ in RELEASES]
    for r in required:
        if r not in keys:
            print("%s: unknown release %s (known: %s)" % (required_file, r, " ".join(keys)), file=sys.stderr)
            return 2
    tables = read_tables()
    failed = []
    for path in args:
        try:
            v = verdicts(path, tables)
            _, os_version, subsystem_version, imports = read_pe(path)
        except (NotAProgram, OSError, struct.error, ValueError) as e:
            print("%s: not a PE program: %s" % (path, e), file=sys.stderr)
            return 2
        name = os.path.basename(path)
        print("%s: OS %d.%d, subsystem %d.%d, %d imports from %d DLLs" % (
            name, os_version[0], os_version[1], subsystem_version[0], subsystem_version[1],
            len(imports), len({d for d, _ in imports})))
        print("  %-16s %-9s %s" % ("Release", "Loads", "Why not (the first missing imports) / what it needs"))
        for rel, label in RELEASES:
            loads, reasons, notes = v[rel]
            mark = "yes" if loads else "no"
            if rel in required:
                mark += " (r)"
            if loads:
                text = (", ".join(notes[:4]) + (", ..." if len(notes) > 4 else "")) if notes else ""
            else:
                text = ", ".join(reasons[:4]) + (" and %d more" % (len(reasons) - 4) if len(reasons) > 4 else "")
            print("  %-16s %-9s %s" % (label, mark, text))
            if rel in required and not loads:
                failed.append("%s on %s" % (name, label))
    print("(r) = required, as listed in %s" % os.path.relpath(required_file, os.path.join(HERE, "..", "..")))
    if failed:
        print("Required releases that would not load a program: " + "; ".join(failed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
