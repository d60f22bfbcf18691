#!/usr/bin/env python3
"""What pkgmake says when a payload cannot be made or does not hold, on
packages made here in a scratch folder.

    pkgmake_payload_test.py <pkgmake> causes   a file that grew or holds
                                               less than it says, one that
                                               cannot be read, a full disk,
                                               the format's 4 GiB limit:
                                               exit 2, the file and the cause;
                                               sources of mode 000 or with too
                                               long a path: the system's reason
    pkgmake_payload_test.py <pkgmake> check    --check on what is no payload,
                                               a cut one, a damaged body or
                                               item, bytes after the end:
                                               exit 2 and the cause
    pkgmake_payload_test.py <pkgmake> machines the same payload, byte for
                                               byte, on this processor and on
                                               an emulated one without SSE4,
                                               AVX, AVX2, AVX-512, SHA, BMI2
                                               or PCLMULQDQ (qemu-x86_64
                                               -cpu qemu64), and with our own
                                               vector engines masked

The expected messages are built here from the files and from Python's own
reading of the payloads (struct, zlib, hashlib).
"""
import hashlib
import os
import random
import re
import resource
import signal
import struct
import subprocess
import tempfile
import zlib

from pkgmake_harness import PKGMAKE, check, run_case, write


def pkgmake(*args, **kw):
    return subprocess.run([PKGMAKE, *args], capture_output=True, timeout=600, **kw)


def package(d, install):
    """A scenario in d with a licence and the Install lines given."""
    write(f'{d}/docs/e.hdl', 'Licence.')
    write(f'{d}/docs/e.idx', 'ENG = "./e.hdl"\n')
    write(f'{d}/files/tool.sh', '#!/bin/sh\necho tool\n')
    write(f'{d}/s.txt', '[General]\nlangs = ENG\n[Software]\ncodename = "c"\neula = "docs/e.idx"\n'
          '[Install]\n"files/tool.sh" = $pgm "bin/tool", 755\n' + install)
    return f'{d}/s.txt'


def failed(r, want, what):
    """Exit 2, one error line that matches want (a regex), no ok."""
    err = r.stderr.decode('utf-8', 'replace').strip()
    check(r.returncode == 2, f'{what}: exit {r.returncode}: {err!r}')
    check(re.fullmatch(want, err) is not None, f'{what}: {err!r} does not match {want!r}')
    check(b'\nok\n' not in r.stdout, f'{what}: says ok')
    return err


def causes():
    with tempfile.TemporaryDirectory() as d:
        out = f'{d}/out.data'
        # A file whose size says 0 but that holds the mount table.
        os.symlink('/proc/self/mounts', f'{d}/mounts')
        err = failed(pkgmake(package(d, '"mounts" = $pgm "m"\n'), out),
                     r'error: mounts changed while it was packed: 0 bytes when it was added, (\d+) bytes now',
                     'grew')
        m = re.search(r'(\d+) bytes now', err)
        check(m and int(m.group(1)) > 0, f'grew: {err!r}')
        check(not os.path.exists(out), 'grew: an output was left')
        # One that holds less than its size says, where /sys has one.
        sysfile = '/sys/kernel/mm/transparent_hugepage/enabled'
        if os.path.exists(sysfile) and os.stat(sysfile).st_size > len(open(sysfile, 'rb').read()):
            os.symlink(sysfile, f'{d}/thp')
            failed(pkgmake(package(d, '"thp" = $pgm "t"\n'), out),
                   r'error: thp changed while it was packed: %d bytes when it was added, %d bytes now'
                   % (os.stat(sysfile).st_size, len(open(sysfile, 'rb').read())), 'held less')
        # One that opens but cannot be read.
        os.symlink('/proc/self/mem', f'{d}/mem')
        failed(pkgmake(package(d, '"mem" = $pgm "m"\n'), out),
               r'error: cannot read mem: %s' % re.escape(os.strerror(5)), 'unreadable')

        # A disk that takes 64 KiB: the output is named with the system's
        # reason, and the payload there before is left as it was.
        write(f'{d}/files/noise.bin', os.urandom(1 << 20))
        scen = package(d, '"files/noise.bin" = $pgm "n"\n')
        write(out, b'old payload')

        def small_disk():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
        failed(pkgmake(scen, out, preexec_fn=small_disk),
               r'error: cannot write %s: %s \(the file size limit, ulimit -f, is 65536 bytes\)'
               % (re.escape(out), re.escape(os.strerror(27))), 'full')
        check(open(out, 'rb').read() == b'old payload', 'full: the old payload changed')

        # More than the format holds: two sparse files of 2.2 GiB.  The total
        # named is the body of the same package with the two files empty,
        # plus them.
        for n in ('a', 'b'):
            open(f'{d}/files/{n}.big', 'wb').close()
        scen = package(d, '"files/a.big" = $pgm "a"\n"files/b.big" = $pgm "b"\n')
        r = pkgmake('--no-check', scen, f'{d}/small.data')
        check(r.returncode == 0, f'limit: the small package failed: {r.stderr!r}')
        body = struct.unpack_from('<I', open(f'{d}/small.data', 'rb').read(), 9)[0]
        huge = 2200 << 20
        for n in ('a', 'b'):
            os.truncate(f'{d}/files/{n}.big', huge)
        total = body + 2 * huge
        failed(pkgmake(scen, out),
               r"error: the payload's body would be %d bytes \(%.1f GiB\); a payload holds at most 4294967295 "
               r"bytes \(4 GiB\) of body and as many packed" % (total, total / (1 << 30)), 'limit')
        # One file over the limit is named with its size, on its line.
        os.truncate(f'{d}/files/a.big', 5 << 30)
        failed(pkgmake(package(d, '"files/a.big" = $pgm "a"\n'), out),
               r'error: %s: line 8: files/a\.big holds 5368709120 bytes \(5\.0 GiB\); a payload holds files of at '
               r'most 4294967295 bytes \(4 GiB\)' % re.escape(f'{d}/s.txt'), 'one file over the limit')
        for n in ('a', 'b'):
            os.remove(f'{d}/files/{n}.big')

        # Sources that cannot be read say why: a file and a folder of mode
        # 000 (to a user who is not root), a path longer than the system
        # takes.
        os.chmod(d, 0o755)
        os.makedirs(f'{d}/anyone')
        os.chmod(f'{d}/anyone', 0o777)
        write(f'{d}/files/secret', 'x')
        os.makedirs(f'{d}/files/locked/in')
        os.chmod(f'{d}/files/secret', 0)
        os.chmod(f'{d}/files/locked', 0)
        fd = os.open(f'{d}/files', os.O_RDONLY)
        for i in range(22):
            name = 'level%02d' % i + 'x' * 200
            os.mkdir(name, dir_fd=fd)
            deeper = os.open(name, os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = deeper
        os.close(os.open('deep.txt', os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd))
        os.close(fd)

        def nobody():
            os.setgroups([])
            os.setgid(65534)
            os.setuid(65534)
        for source, where, why, user in (('files/secret', 'files/secret', 13, nobody),
                                         ('files/locked', 'files/locked', 13, nobody),
                                         ('files/level00' + 'x' * 200, 'files/level00', 36, None)):
            r = pkgmake(package(d, f'"{source}" = $pgm "x"\n'), f'{d}/anyone/o.data', preexec_fn=user)
            err = r.stderr.decode().split('\n')
            check(r.returncode == 1 and err[0].endswith('(code 26)') and err[1].startswith(f'  cannot read "{where}')
                  and err[1].endswith(f'": {os.strerror(why)}'), f'{source[:20]}: {r.returncode} {err[:2]!r}')
        os.chmod(f'{d}/files/locked', 0o755)


def check_mode():
    with tempfile.TemporaryDirectory() as d:
        write(f'{d}/files/data.txt', 'data ' * 20000)
        scen = package(d, '"files/data.txt" = $pgm "share/data.txt"\n')
        good = f'{d}/good.data'
        r = pkgmake(scen, good)
        check(r.returncode == 0 and r.stdout.endswith(b'ok\n'), f'good: {r.returncode} {r.stderr!r}')
        b = open(good, 'rb').read()
        n = len(b)
        body = zlib.decompress(b[49:])

        def payload(body, level=9):
            z = zlib.compress(body, level)
            return b'QORSOPKG' + struct.pack('<BII', 1, len(body), len(z)) + hashlib.sha256(body).digest() + z

        def case(name, data, want):
            path = f'{d}/{name}.data'
            write(path, data)
            failed(pkgmake('--check', path), want.replace('@', re.escape(path)), name)

        r = pkgmake('--check', good)
        check(r.returncode == 0 and r.stdout.endswith(b'ok\n') and not r.stderr, f'check good: {r.stderr!r}')
        failed(pkgmake('--check', f'{d}/absent.data'),
               r'error: cannot open %s: %s' % (re.escape(f'{d}/absent.data'), os.strerror(2)), 'missing')
        failed(pkgmake('--check', f'{d}/files'),
               r'error: cannot read %s at byte 0: %s' % (re.escape(f'{d}/files'), os.strerror(21)), 'folder')
        failed(pkgmake('--check', '/dev/null'), r'error: /dev/null is not a payload: it is empty', 'empty')
        case('magic', b'QORSOPKX' + b[8:], r'error: @ is not a payload: it does not begin with "QORSOPKG"')
        case('cut', b[:n - 100], r'error: @ is truncated at byte %d: its header announces %d bytes' % (n - 100, n))
        case('digest', b[:17] + bytes([b[17] ^ 1]) + b[18:], r"error: @: the body's SHA-256 digest is wrong")
        # The last item's data damaged and the body digested again: the item
        # and where it goes are named.
        at = body.rindex(b'data data')
        case('item', payload(body[:at] + b'D' + body[at + 1:]),
             r'error: @: item 1 does not match its digest -> <folder>/share/data\.txt')
        # The item's bytes damaged in the packed stream itself: stored
        # blocks, whose packed bytes are the body's, so that the damage lies
        # in the item for certain.  The item is named, not the checksum.
        stored = payload(body, 0)
        at = stored.rindex(b'data data')
        case('item_packed', stored[:at] + b'D' + stored[at + 1:],
             r'error: @: the packed body is damaged inside item 1: its bytes do not match its digest '
             r'-> <folder>/share/data\.txt')
        # A size in the header of an intact payload: the field is named.
        packed = n - 49
        case('packed_size', b[:13] + struct.pack('<I', packed + 1) + b[17:],
             r"error: @: its header's packed size, %d bytes, disagrees with its length, %d bytes: its stream ends "
             r"with the file, after %d packed bytes" % (packed + 1, n, packed))
        case('body_size', b[:9] + struct.pack('<I', len(body) - 1) + b[13:],
             r"error: @: its header's body size is %d bytes, but its stream inflates to more than that: %d bytes"
             % (len(body) - 1, len(body)))
        case('plus1', b + b'x', r'error: @ goes on after its payload ends at byte %d: 1 more byte' % n)
        case('plus1M', b + bytes(1 << 20), r'error: @ goes on after its payload ends at byte %d: 1048576 more bytes' % n)
        # Through a pipe, whose size is not known until it ends.
        r = subprocess.run(['sh', '-c', f'cat "{good}"; printf x'], capture_output=True)
        failed(pkgmake('--check', '/dev/stdin', input=r.stdout),
               r'error: /dev/stdin goes on after its payload ends at byte %d' % n, 'pipe')


def machines():
    """Blocks of each engine of the writer (stored, our deflater, libdeflate)
    packed on this processor, with our vector engines masked, and on an
    emulated processor on which every library that chooses its code by the
    processor (our Adler-32 and SHA-256, libdeflate's, glibc's) takes its
    plainest: one payload, which Python's zlib reads."""
    r = random.Random(61)
    few = [w.encode() for w in ('the package installs registers updates removes software for its user version '
                                'install folder file data system memory thread stream scenario document licence '
                                'readme welcome 0 1 2 3 4 5 6 7 8 9 qor manager update check release notes').split()]
    many = [bytes(r.choice(b'abcdefghijklmnopqrstuvwxyz') for _ in range(r.randint(3, 10))) for _ in range(3000)]

    def text(words, n):
        out = bytearray()
        while len(out) < n:
            out += b' '.join(r.choice(words) for _ in range(r.randint(4, 16))) + b'\n'
        return bytes(out[:n])

    with tempfile.TemporaryDirectory() as d:
        write(f'{d}/files/noise.bin', r.randbytes(1100000))
        write(f'{d}/files/few.txt', text(few, 1100000))
        write(f'{d}/files/many.txt', text(many, 1100000))
        scenario = package(d, '"files" = $pgm "files"\n')
        runs = {'here': ([PKGMAKE], {}),
                'here, 4 threads': ([PKGMAKE, '--threads', '4'], {}),
                'without our AVX-512 and AVX2 engines': ([PKGMAKE], {'QOR_CPU_DISABLE': 'avx512,avx2'}),
                'emulated, 2 threads': (['qemu-x86_64', '-cpu', 'qemu64', PKGMAKE, '--threads', '2'], {})}
        payloads = {}
        for what, (cmd, env) in runs.items():
            out = f'{d}/{len(payloads)}.data'
            r = subprocess.run(cmd + ['--no-check', scenario, out], capture_output=True, timeout=600,
                               env=dict(os.environ, **env))
            check(r.returncode == 0, f'{what}: exit {r.returncode}: {r.stderr[-500:]!r}')
            payloads[what] = open(out, 'rb').read() if r.returncode == 0 else b''
        first = payloads['here']
        for what, b in payloads.items():
            check(b == first, f'{what}: another payload ({len(b)} bytes against {len(first)})')
        z = zlib.decompressobj()
        body = z.decompress(first[49:])
        check(z.eof and not z.unused_data and len(body) == struct.unpack_from('<I', first, 9)[0]
              and hashlib.sha256(body).digest() == first[17:49], 'the payload does not inflate to its body')


run_case({'causes': causes, 'check': check_mode, 'machines': machines})
