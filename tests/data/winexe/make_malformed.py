# Damaged executables under malformed/, replayed through the fuzz entry:
#   python3 tests/data/winexe/make_malformed.py
import os, struct
here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "malformed")
good = open(os.path.join(here, "full64.exe"), "rb").read()
pe = struct.unpack_from("<I", good, 60)[0]
nsec, = struct.unpack_from("<H", good, pe + 6)
opt, = struct.unpack_from("<H", good, pe + 20)
table = pe + 24 + opt
rsrc = next(table + 40 * i for i in range(nsec) if good[table + 40 * i:table + 40 * i + 8] == b".rsrc\0\0\0")
raw, = struct.unpack_from("<I", good, rsrc + 20)
def save(name, data):
    open(os.path.join(out, name), "wb").write(data)
b = bytearray(good); struct.pack_into("<H", b, pe + 6, 0xFFFF); save("sections-past-end.exe", b)
b = bytearray(good); struct.pack_into("<I", b, rsrc + 16, 0xFFFFFF00); save("rsrc-size-past-end.exe", b)
# The first type entry's subdirectory is the root itself.
b = bytearray(good); struct.pack_into("<I", b, raw + 20, 0x80000000); save("rsrc-root-loop.exe", b)
save("truncated-in-rsrc.exe", good[:raw + 40])
