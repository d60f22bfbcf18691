#!/usr/bin/env python3
"""pkgmake's compile and its load-and-verify against what a packager would
otherwise run on the same files, in one run, pinned to the same cores:

  compile          pkgmake --no-check scenario out.data
                   against  tar cf - files | pigz -9 -p<cores> > out.tgz && sync out.tgz
                   (and gzip -9): pkgmake flushes its output to disk, so
                   the reference does too; the CPU time of both is shown
  load and verify  pkgmake --check out.data
                   against  pigz -dc files.tgz | sha256sum

on payload mixes of 50, 200 and 400 MiB: random (already compressed) files,
text, medium binary records and many small files in nested folders with
spaces and non-ASCII names, and one file near 50 MiB; no file exceeds 50 MiB.
Each side runs --repeat times, alternating; the medians are compared.  Peak
memory is the largest resident set (/usr/bin/time %M).

  bench/pkgmake_payload.py --pkgmake build/bench/examples/pkgmake
        [--sizes 50,200,400] [--cores 4] [--repeat 3] [--gzip-up-to 200]
        [--work /tmp/qor-bench-payload]
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

MiB = 1024 * 1024


def make_mix(folder, total, seed):
    """Writes about `total` bytes of files; returns the bytes written."""
    r = random.Random(seed)
    words = [w.encode() for w in (
        'the package installs registers updates removes software for its user version '
        'install folder file data system memory thread stream scenario document licence '
        'readme welcome 0 1 2 3 4 5 6 7 8 9 qor manager update check release notes').split()]
    # A pool of text to cut files from: word salad with lines.
    pool = bytearray()
    while len(pool) < 24 * MiB:
        line = b' '.join(r.choice(words) for _ in range(r.randint(4, 16)))
        pool += line + b'\n'
    pool = bytes(pool)
    written = 0
    names = ['bin', 'share/doc', 'share/Données utiles', 'lib/plug ins', 'res/图标', 'res/deep/er/still']

    def put(rel, data):
        nonlocal written
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        written += len(data)

    if total >= 200 * MiB:
        put('share/media/big archive.bin', r.randbytes(48 * MiB))
    n = 0
    while written < total:
        n += 1
        kind = n % 10
        sub = names[n % len(names)]
        if kind in (0, 1):      # random: already compressed
            size = r.randint(1, 8) * MiB
            put(f'{sub}/pack{n}.bin', r.randbytes(size))
        elif kind in (2, 3, 4):  # text
            size = r.randint(256 * 1024, 6 * MiB)
            at = r.randrange(0, len(pool) - size)
            put(f'{sub}/text {n}.txt', pool[at:at + size])
        elif kind in (5, 6):     # medium binary records
            size = r.randint(64 * 1024, 512 * 1024)
            rec = bytearray()
            c = 0
            while len(rec) < size:
                c += r.randint(1, 3)
                rec += c.to_bytes(4, 'little') + r.getrandbits(12).to_bytes(2, 'little') + b'\0\x40'
            put(f'{sub}/table{n}.dat', bytes(rec[:size]))
        else:                    # many small files
            for k in range(40):
                size = r.randint(100, 16 * 1024)
                at = r.randrange(0, len(pool) - size)
                put(f'{sub}/small/s{n}_{k}.cfg', pool[at:at + size])
        if n % 97 == 0:
            put(f'{sub}/empty{n}', b'')
    return written


def scenario(folder):
    docs = os.path.join(folder, 'docs')
    os.makedirs(docs, exist_ok=True)
    with open(os.path.join(docs, 'e_en.hdl'), 'w') as f:
        f.write('<text f="verd,16,6,b">Licence</text> Use it.')
    with open(os.path.join(docs, 'e_ru.hdl'), 'w') as f:
        f.write('<text f="verd,16,6,b">Лицензия</text> Пользуйтесь.')
    with open(os.path.join(docs, 'e.idx'), 'w') as f:
        f.write('ENG = "./e_en.hdl"\nRUS = "./e_ru.hdl"\n')
    path = os.path.join(folder, 'scenario.txt')
    with open(path, 'w') as f:
        f.write('[General]\nlangs = ENG RUS\n[Software]\ncodename = "bench"\nname = "Bench"\n'
                'version = "1.0"\neula = "docs/e.idx"\n[Install]\n"files" = $pgm "files"\n')
    return path


def timed(cmd, cores, shell=False):
    """Runs cmd pinned to the cores; (wall seconds, peak resident KiB, CPU
    seconds of user and system time of it and its children)."""
    pin = ['taskset', '-c', cores]
    inner = ['sh', '-c', cmd] if shell else cmd
    full = ['/usr/bin/time', '-f', '%M %U %S'] + pin + inner
    start = time.monotonic()
    p = subprocess.run(full, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    if p.returncode != 0:
        sys.exit(f'failed: {cmd}\n{p.stderr.decode()[-2000:]}')
    peak, user, system = p.stderr.decode().strip().split('\n')[-1].split()
    timed.cpu = float(user) + float(system)
    return wall, int(peak)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--pkgmake', required=True)
    ap.add_argument('--sizes', default='50,200,400')
    ap.add_argument('--cores', type=int, default=4)
    ap.add_argument('--repeat', type=int, default=3)
    ap.add_argument('--gzip-up-to', type=int, default=200)
    ap.add_argument('--work', default='/tmp/qor-bench-payload')
    a = ap.parse_args()
    for tool in ('pigz', 'gzip', 'tar', 'taskset', 'sha256sum'):
        if not shutil.which(tool):
            sys.exit(f'{tool} is missing (tools/deps/bench.txt)')
    if not os.path.exists('/usr/bin/time'):
        sys.exit('/usr/bin/time is missing (tools/deps/bench.txt)')
    pkgmake = os.path.abspath(a.pkgmake)
    cores = f'0-{a.cores - 1}'
    rows = []
    for size in [int(x) for x in a.sizes.split(',')]:
        folder = os.path.join(a.work, f'{size}')
        shutil.rmtree(folder, ignore_errors=True)
        total = make_mix(os.path.join(folder, 'files'), size * MiB, size)
        scen = scenario(folder)
        out, tgz, gz = (os.path.join(folder, n) for n in ('out.data', 'files.tgz', 'files.gz'))
        files = os.path.join(folder, 'files')
        ours_c, pigz_c, gzip_c, ours_l, ref_l, mem_c, mem_l = [], [], [], [], [], [], []
        cpu_ours, cpu_pigz = [], []
        for _ in range(a.repeat):
            w, m = timed([pkgmake, '--no-check', scen, out], cores)
            ours_c.append(w)
            cpu_ours.append(timed.cpu)
            mem_c.append(m)
            # pkgmake flushes its output to disk before it takes the old
            # one's place; the reference flushes its output too.
            w, _ = timed(f'tar cf - -C "{files}" . | pigz -9 -p{a.cores} > "{tgz}" && sync "{tgz}"', cores,
                         shell=True)
            pigz_c.append(w)
            cpu_pigz.append(timed.cpu)
            if size <= a.gzip_up_to:
                w, _ = timed(f'tar cf - -C "{files}" . | gzip -9 > "{gz}" && sync "{gz}"', cores, shell=True)
                gzip_c.append(w)
            w, m = timed([pkgmake, '--check', out], cores)
            ours_l.append(w)
            mem_l.append(m)
            w, _ = timed(f'pigz -dc "{tgz}" | sha256sum', cores, shell=True)
            ref_l.append(w)
        med = statistics.median
        row = {
            'size': size, 'bytes': total, 'payload': os.path.getsize(out), 'tgz': os.path.getsize(tgz),
            'ours_c': med(ours_c), 'pigz_c': med(pigz_c), 'gzip_c': med(gzip_c) if gzip_c else None,
            'mem_c': max(mem_c) / 1024, 'cpu_ours': med(cpu_ours), 'cpu_pigz': med(cpu_pigz), 'ours_l': med(ours_l), 'ref_l': med(ref_l), 'mem_l': max(mem_l) / 1024,
        }
        rows.append(row)
        print(f'{size} MiB: {total} bytes of files, payload {row["payload"]}, tar.gz {row["tgz"]}; '
              f'compile {row["ours_c"]:.2f} s (pigz {row["pigz_c"]:.2f} s'
              + (f', gzip {row["gzip_c"]:.2f} s' if gzip_c else '') +
              f'), CPU {row["cpu_ours"]:.2f} s (pigz and tar {row["cpu_pigz"]:.2f} s), peak {row["mem_c"]:.0f} MiB; load+verify {row["ours_l"]:.2f} s '
              f'(pigz -dc | sha256sum {row["ref_l"]:.2f} s), peak {row["mem_l"]:.0f} MiB', flush=True)
    print()
    print(f'medians of {a.repeat}, pinned to {a.cores} cores')
    print('| payload | compile wall, ours / `tar cf - \\| gzip -9` | ours / `tar cf - \\| pigz -9 -p%d` '
          '| compile peak memory | load + verify peak memory | load + verify, ours / `pigz -dc \\| sha256sum` '
          '| load + verify peak / payload | compile CPU time, ours / pigz and tar |' % a.cores)
    print('|---|---|---|---|---|---|---|---|')
    for r in rows:
        g = f'{r["ours_c"] / r["gzip_c"]:.2f}' if r['gzip_c'] else '-'
        print(f'| {r["size"]} MiB | {g} | {r["ours_c"] / r["pigz_c"]:.2f} | {r["mem_c"]:.0f} MiB '
              f'| {r["mem_l"]:.0f} MiB | {r["ours_l"] / r["ref_l"]:.2f} | {r["mem_l"] / (r["bytes"] / MiB):.2f} '
              f'| {r["cpu_ours"] / r["cpu_pigz"]:.2f} |')


if __name__ == '__main__':
    main()
