#!/usr/bin/env python3
"""Every function of the libraries that touches 256- or 512-bit registers
clears their upper halves (vzeroupper) before it returns or calls out.

Code in the older 128-bit encoding (SHA instructions come only in it, and
much of libc and other libraries is built so) runs slower while those halves
are left dirty: a checksum that skipped the clear made the hash after it a
tenth slower.  Compilers usually insert the clear, but not in every case,
so the built archives are read back with objdump.

usage: wide_registers.py ARCHIVE...
"""
import re
import subprocess
import sys

WIDE = re.compile(r"%[yz]mm\d")
HEAD = re.compile(r"^[0-9a-f]+ <(.+)>:$")


def offenders(path):
    out = subprocess.run(["objdump", "-d", "--no-show-raw-insn", path], check=True,
                         capture_output=True, text=True).stdout
    bad, name, wide, cleared = [], None, False, False
    for line in out.splitlines() + [""]:
        m = HEAD.match(line)
        if m or line.startswith("Disassembly of section") or line == "":
            if name and wide and not cleared:
                bad.append(name)
            name, wide, cleared = (m.group(1) if m else None), False, False
            continue
        if "\t" not in line:
            continue
        insn = line.split("\t", 1)[1]
        if "vzeroupper" in insn or "vzeroall" in insn:
            cleared = True
        elif WIDE.search(insn):
            wide = True
    return bad


def main():
    failed = False
    for path in sys.argv[1:]:
        for name in offenders(path):
            print(f"{path}: {name} leaves wide registers dirty", file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
