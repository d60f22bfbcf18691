#!/usr/bin/env python3
"""The work pkgmake does for every file it packs, counted rather than
timed: the system calls of a run over a folder of many small files, as
strace counts them (strace -f -c).

    pkgmake_work_test.py <pkgmake> calls   per file packed at most one
                                           open, one read, one close, one
                                           access check and three statuses
                                           (the listing's and two of the
                                           open file), and its check reads
                                           the payload back without a status
                                           or an open of any packed file

The payload is compared with one Python writes of the same files' bytes
(hashlib's digests in the records, zlib's inflate of the body).
"""
import hashlib
import os
import struct
import subprocess
import tempfile
import zlib

from pkgmake_harness import PKGMAKE, check, run_case, write

FILES = 600


def counts(args, log):
    """Runs pkgmake under strace; {syscall: calls} of all its threads."""
    # A sanitized build's leak check cannot run under a tracer.
    env = dict(os.environ)
    env['ASAN_OPTIONS'] = ':'.join(filter(None, [env.get('ASAN_OPTIONS'), 'detect_leaks=0']))
    r = subprocess.run(['strace', '-f', '-c', '-o', log, PKGMAKE, *args], capture_output=True, timeout=600, env=env)
    check(r.returncode == 0, f'pkgmake {args}: exit {r.returncode}: {r.stderr.decode(errors="replace")[-500:]}')
    calls = {}
    for line in open(log):
        parts = line.split()
        # % time, seconds, usecs/call, calls, [errors], syscall
        if len(parts) >= 5 and parts[3].isdigit() and parts[-1] != 'total':
            calls[parts[-1]] = int(parts[3])
    return calls


def calls_mode():
    with tempfile.TemporaryDirectory() as d:
        write(f'{d}/docs/e.hdl', 'Licence.')
        write(f'{d}/docs/e.idx', 'ENG = "./e.hdl"\n')
        sizes = {}
        for i in range(FILES):
            data = (b'line %d of a small file\n' % i) * (1 + i % 60)
            name = f'd{i // 100}/f{i:04d}.txt'
            write(f'{d}/files/{name}', data)
            sizes[name] = data
        write(f'{d}/s.txt', '[General]\nlangs = ENG\n[Software]\ncodename = "c"\neula = "docs/e.idx"\n'
              '[Install]\n"files" = $pgm "files"\n')
        # Without files, for what a run costs whatever it packs.
        write(f'{d}/e/s.txt', '[General]\nlangs = ENG\n[Software]\ncodename = "c"\neula = "../docs/e.idx"\n')
        base = counts(['--threads', '2', '--no-check', f'{d}/e/s.txt', f'{d}/e.data'], f'{d}/base.log')
        packed = counts(['--threads', '2', '--no-check', f'{d}/s.txt', f'{d}/out.data'], f'{d}/pack.log')

        def per_file(name):
            return (packed.get(name, 0) - base.get(name, 0)) / FILES

        limits = {'openat': 1, 'read': 1, 'close': 1, 'faccessat2': 1, 'newfstatat': 3}
        for name, most in limits.items():
            check(per_file(name) <= most + 0.05, f'{name}: {per_file(name):.2f} a file, at most {most}')
        check(per_file('openat') >= 0.95, f'openat: {per_file("openat"):.2f} a file: every file is read')

        # The payload holds every file as written, in byte order of the names.
        b = open(f'{d}/out.data', 'rb').read()
        body = zlib.decompress(b[49:])
        table = body[body.index(b'\x0d' + struct.pack('<II', 0, len(sizes['d0/f0000.txt']))):]
        at = 1
        for name in sorted(sizes):
            data = sizes[name]
            head = struct.pack('<II', 0, len(data)) + hashlib.sha256(data).digest()
            check(table[at:at + 40 + len(data)] == head + data, f'record of {name}')
            at += 40 + len(data)
        check(table[at:at + 9] == bytes(8) + b'\x00', 'end mark and end tag')

        # The check reads the payload, not the files.
        checked = counts(['--threads', '2', '--check', f'{d}/out.data'], f'{d}/check.log')
        check(checked.get('openat', 0) - base.get('openat', 0) < FILES / 10,
              f'check: {checked.get("openat", 0)} opens')


run_case({'calls': calls_mode})
