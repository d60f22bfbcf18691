#!/usr/bin/env python3
# Reads a Windows shell link (MS-SHLLINK) with struct and prints what it
# holds, one "key=value" line each, in a fixed order: read_lnk.py FILE.  Every size and offset is checked against
# the layout; a mismatch raises.
import json, struct, sys

b = open(sys.argv[1], 'rb').read()
out = {}
hs, clsid, flags, attrs, ct, at, wt, size, icon, show, hot = struct.unpack_from('<I16sIIQQQIiIH', b, 0)
assert hs == 0x4C and b[66:76] == b'\0' * 10
assert clsid == bytes.fromhex('0114020000000000c000000000000046')
assert ct == at == wt
out.update(flags=hex(flags), attrs=hex(attrs), unix=(ct - 116444736000000000) // 10000000, size=size, icon=icon,
           show=show, hot=hot)
pos = 76
if flags & 1:
    (n,) = struct.unpack_from('<H', b, pos)
    end = pos + 2 + n
    pos += 2
    items = []
    while True:
        (isz,) = struct.unpack_from('<H', b, pos)
        if isz == 0:
            pos += 2
            break
        it = b[pos:pos + isz]
        t = it[2]
        if t == 0x1F:
            assert isz == 20
            items.append({'type': t, 'clsid': it[4:20].hex()})
        elif t == 0x2F:
            assert isz == 25
            items.append({'type': t, 'drive': it[3:].rstrip(b'\0').decode()})
        else:
            fsize, _, fattr = struct.unpack_from('<IIH', it, 4)
            z = it.index(b'\0', 14)
            name = it[14:z].decode('latin-1')
            (ext_off,) = struct.unpack_from('<H', it, isz - 2)
            esz, ever, sig = struct.unpack_from('<HHI', it, ext_off)
            assert sig == 0xBEEF0004 and ext_off + esz == isz
            wide = it[ext_off + 18:isz - 2].decode('utf-16-le')
            assert wide.endswith('\0')
            items.append({'type': t, 'size': fsize, 'attr': fattr, 'name': name, 'wide': wide[:-1]})
        pos += isz
    assert pos == end, (pos, end)
    out['items'] = items
if flags & 2:
    total, hsize, lflags, voff, boff, noff, soff = struct.unpack_from('<7I', b, pos)
    vsize, dtype, serial, loff = struct.unpack_from('<4I', b, pos + voff)
    assert hsize == 28 and vsize == 17 and b[pos + voff + loff] == 0
    z = b.index(b'\0', pos + boff)
    out['location'] = {'total': total, 'flags': lflags, 'drive_type': dtype, 'serial': serial,
                       'path': b[pos + boff:z].decode('latin-1'), 'suffix': b[pos + soff],
                       'suffix_at_end': pos + soff + 1 == pos + total, 'network': noff}
    pos += total
for bit, key in ((4, 'description'), (8, 'relative'), (0x10, 'workdir'), (0x20, 'arguments'), (0x40, 'icon_location')):
    if flags & bit:
        (n,) = struct.unpack_from('<H', b, pos)
        out[key] = b[pos + 2:pos + 2 + 2 * n].decode('utf-16-le')
        pos += 2 + 2 * n
(term,) = struct.unpack_from('<I', b, pos)
assert term == 0 and pos + 4 == len(b), (pos, len(b))
for k in sorted(out):
    if k == 'items':
        for i, it in enumerate(out[k]):
            print('item%d=%s' % (i, json.dumps(it, sort_keys=True, ensure_ascii=False)))
    elif k == 'location':
        print('location=%s' % json.dumps(out[k], sort_keys=True))
    else:
        print('%s=%s' % (k, out[k]))
