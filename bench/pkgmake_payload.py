#!/usr/bin/env python3
"""pkgmake against what a packager would otherwise run on the same files,
pinned to the same cores, on every kind of package:

  small    many small files in nested folders, as a Python library tree:
           4,800 modules of code-like text (a vocabulary of thousands of
           names, keywords, numbers and strings), most a few KiB, some
           up to 200 KiB, about 100 MiB
  large    one large file (--large-mib, 1024 by default) of text and
           already-compressed runs
  mix<N>   mixes of N MiB (--sizes, 50, 200 and 400 by default): random
           (already compressed) files, text, medium binary records and
           many small files in nested folders with spaces and non-ASCII
           names, and one file near 50 MiB from 200 MiB on
  mixed    100 MiB in 626 files (--mixed-seed, 1 by default): 30% random
           bytes in 3 files; text of a 5,000-word vocabulary, 30% in 3
           files and 20% in 20; 20% in 600 files of 8 to 60 KiB, each half
           random bytes, half text
  files<N> N small files (--files, 10000, 50000 and 200000 by default) of
           text, 1.6 KiB on average, a hundred to a folder: the cost of
           each file, in time and in memory (a second table gives the
           peak memory per file, from one size to the next)
  tree     a folder given with --tree (the same files every round)

and three runs of each:

  pack     pkgmake --no-check scenario out.data
  default  pkgmake scenario out.data (packs, and beside the packing reads
           each piece of the payload back as it is written and checks
           every digest)
           both against  tar chf - files | pigz -9 -p<cores> > out.tgz && sync out.tgz
           (pkgmake flushes its output to disk, so the reference does too)
  check    pkgmake --check out.data
           against  pigz -dc out.tgz | sha256sum

Each round runs every command once, ours and the reference alternating, so
that a shared machine's drift falls on both; a round's ratio is ours over
the reference's wall time in that round.  The table gives the minimum,
median and maximum ratio over the rounds, the ratio of the CPU time (user
and system, children included) and the peak memory (largest resident set,
/usr/bin/time %M).  The load average at the start and the end is printed:
figures from a busy machine say less than those of a quiet one.

  bench/pkgmake_payload.py --pkgmake build/bench/examples/pkgmake
        [--kinds small,large,mix,mixed,files] [--sizes 50,200,400] [--large-mib 1024]
        [--mixed-seed 1] [--make-only DIR]
        [--files 10000,50000,200000]
        [--tree DIR] [--cores 4] [--cpu-list 4-7] [--repeat 5] [--work /tmp/qor-bench-payload]

--cpu-list pins to those CPUs instead of the first --cores ones.
--make-only DIR writes the files of the first kind named under DIR and
measures nothing (the same bytes as the runs pack, for other tools).
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
WORDS = [w.encode() for w in (
    'the package installs registers updates removes software for its user version '
    'install folder file data system memory thread stream scenario document licence '
    'readme welcome 0 1 2 3 4 5 6 7 8 9 qor manager update check release notes').split()]


def text_pool(r, size):
    pool = bytearray()
    while len(pool) < size:
        pool += b' '.join(r.choice(WORDS) for _ in range(r.randint(4, 16))) + b'\n'
    return bytes(pool)


class Writer:
    def __init__(self, folder):
        self.folder, self.written = folder, 0

    def put(self, rel, data):
        path = os.path.join(self.folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        self.written += len(data)


def make_mix(folder, total, seed):
    """Writes about `total` bytes of files; returns the bytes written."""
    r = random.Random(seed)
    pool = text_pool(r, 24 * MiB)
    w = Writer(folder)
    names = ['bin', 'share/doc', 'share/Données utiles', 'lib/plug ins', 'res/图标', 'res/deep/er/still']
    if total >= 200 * MiB:
        w.put('share/media/big archive.bin', r.randbytes(48 * MiB))
    n = 0
    while w.written < total:
        n += 1
        kind = n % 10
        sub = names[n % len(names)]
        if kind in (0, 1):      # random: already compressed
            w.put(f'{sub}/pack{n}.bin', r.randbytes(r.randint(1, 8) * MiB))
        elif kind in (2, 3, 4):  # text
            size = r.randint(256 * 1024, 6 * MiB)
            at = r.randrange(0, len(pool) - size)
            w.put(f'{sub}/text {n}.txt', pool[at:at + size])
        elif kind in (5, 6):     # medium binary records
            size = r.randint(64 * 1024, 512 * 1024)
            rec = bytearray()
            c = 0
            while len(rec) < size:
                c += r.randint(1, 3)
                rec += c.to_bytes(4, 'little') + r.getrandbits(12).to_bytes(2, 'little') + b'\0\x40'
            w.put(f'{sub}/table{n}.dat', bytes(rec[:size]))
        else:                    # many small files
            for k in range(40):
                size = r.randint(100, 16 * 1024)
                at = r.randrange(0, len(pool) - size)
                w.put(f'{sub}/small/s{n}_{k}.cfg', pool[at:at + size])
        if n % 97 == 0:
            w.put(f'{sub}/empty{n}', b'')
    return w.written


def code_pool(r, size):
    """Lines of code-like text: indented statements of keywords, names
    from a large vocabulary, numbers and strings."""
    letters = 'abcdefghijklmnopqrstuvwxyz_'
    names = [''.join(r.choice(letters) for _ in range(r.randint(3, 14))).encode() for _ in range(4000)]
    keywords = [k.encode() for k in 'def return if else elif for in while import from class self None True False '
                'and or not with as try except raise yield lambda pass'.split()]
    ops = [b' = ', b'(', b')', b', ', b'.', b': ', b' + ', b' == ', b'[', b']', b' - ', b' * ']
    pool = bytearray()
    while len(pool) < size:
        line = [b'    ' * r.randint(0, 3)]
        for _ in range(r.randint(2, 12)):
            k = r.random()
            if k < 0.5:
                line.append(r.choice(names[:r.choice((12, 60, 300, 4000))]))
            elif k < 0.7:
                line.append(r.choice(keywords) + b' ')
            elif k < 0.74:
                line.append(str(r.randint(0, 10 ** r.randint(1, 4))).encode())
            elif k < 0.78:
                line.append(b"'" + r.choice(names[:300]) + b' ' + r.choice(names) + b"'")
            else:
                line.append(r.choice(ops))
        pool += b''.join(line) + b'\n'
    return bytes(pool)


def make_small(folder, seed):
    """A library tree: packages of modules, most a few KiB, some large."""
    r = random.Random(seed)
    pool = code_pool(r, 16 * MiB)
    w = Writer(folder)
    for p in range(160):
        for m in range(30):
            size = min(int(r.lognormvariate(9.3, 1.1)) + 200, 200 * 1024)
            at = r.randrange(0, len(pool) - size)
            w.put(f'pkg{p}/sub{m % 4}/mod{m}.py', pool[at:at + size])
    return w.written


def make_large(folder, mib, seed):
    """One file: runs of text and of random bytes, a MiB each."""
    r = random.Random(seed)
    pool = text_pool(r, 16 * MiB)
    path = os.path.join(folder, 'large.bin')
    os.makedirs(folder, exist_ok=True)
    with open(path, 'wb') as f:
        for i in range(mib):
            if i % 3 == 2:
                f.write(r.randbytes(MiB))
            else:
                at = r.randrange(0, len(pool) - MiB)
                f.write(pool[at:at + MiB])
    return mib * MiB


def vocabulary_text(r, words, size):
    """Text of the words, drawn as often as a natural language uses its
    words (the k-th most common about 1/k as often), in lines of 6 to 18
    with some punctuation."""
    cum, total = [], 0.0
    for k in range(len(words)):
        total += 1.0 / (k + 1)
        cum.append(total)
    out = bytearray()
    while len(out) < size:
        line = r.choices(words, cum_weights=cum, k=r.randint(6, 18))
        if r.random() < 0.3:
            at = r.randrange(len(line) - 1) if len(line) > 1 else 0
            line[at] += r.choice((b',', b';', b':'))
        out += b' '.join(line) + (b'.\n' if r.random() < 0.8 else b'\n')
    return bytes(out[:size])


def make_mixed(folder, seed):
    """The 100 MiB tree of 626 files: 30% random bytes in 3 files; text of
    a 5,000-word vocabulary, 30% in 3 files and 20% in 20; 20% in 600 files
    each half random, half text."""
    r = random.Random(seed)
    letters = 'abcdefghijklmnopqrstuvwxyz'
    vocabulary = set()
    while len(vocabulary) < 5000:
        vocabulary.add(''.join(r.choice(letters) for _ in range(max(1, min(14, int(r.gauss(6, 2.5)))))).encode())
    words = sorted(vocabulary)
    r.shuffle(words)
    w = Writer(folder)
    total = 100 * MiB
    for k in range(3):
        w.put(f'media/random{k}.bin', r.randbytes(total * 10 // 100))
    for k in range(3):
        w.put(f'text/large{k}.txt', vocabulary_text(r, words, total * 10 // 100))
    for k in range(20):
        w.put(f'text/medium/m{k:02}.txt', vocabulary_text(r, words, total // 100))
    # 600 sizes spread evenly, scaled to make up the 20% exactly.
    share = total * 20 // 100
    drawn = [r.randint(8 * 1024, 62 * 1024) for _ in range(600)]
    sizes = [d * share // sum(drawn) for d in drawn]
    sizes[-1] += share - sum(sizes)
    for k, size in enumerate(sizes):
        half = size // 2
        w.put(f'mixed/d{k // 100}/f{k:03}.dat', r.randbytes(half) + vocabulary_text(r, words, size - half))
    return w.written


def make_files(folder, n, seed):
    """n files of text, 1.6 KiB on average (an exponential spread from 16
    bytes to 20 KiB), a hundred to a folder."""
    r = random.Random(seed)
    pool = text_pool(r, 8 * MiB)
    written = 0
    for i in range(n):
        sub = os.path.join(folder, f'd{i // 1000}', f's{(i // 100) % 10}')
        if i % 100 == 0:
            os.makedirs(sub, exist_ok=True)
        size = max(16, min(int(r.expovariate(1 / 1600)), 20000))
        at = r.randrange(0, len(pool) - size)
        with open(os.path.join(sub, f'f{i}.txt'), 'wb') as f:
            f.write(pool[at:at + size])
        written += size
    return written


def scenario(folder, files):
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
                f'version = "1.0"\neula = "docs/e.idx"\n[Install]\n"{files}" = $pgm "files"\n')
    return path


def timed(cmd, cores, shell=False):
    """Runs cmd pinned to the cores; (wall seconds, CPU seconds, peak
    resident KiB)."""
    inner = ['sh', '-c', cmd] if shell else cmd
    full = ['/usr/bin/time', '-f', '%M %U %S', 'taskset', '-c', cores] + inner
    start = time.monotonic()
    p = subprocess.run(full, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.monotonic() - start
    if p.returncode != 0:
        sys.exit(f'failed: {cmd}\n{p.stderr.decode()[-2000:]}')
    peak, user, system = p.stderr.decode().strip().split('\n')[-1].split()
    return wall, float(user) + float(system), int(peak)


def spread(values):
    return f'{min(values):.2f} | {statistics.median(values):.2f} | {max(values):.2f}'


def load():
    return ' '.join(f'{x:.2f}' for x in os.getloadavg())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--pkgmake', required=True)
    ap.add_argument('--kinds', default='small,large,mix')
    ap.add_argument('--sizes', default='50,200,400')
    ap.add_argument('--large-mib', type=int, default=1024)
    ap.add_argument('--files', default='10000,50000,200000')
    ap.add_argument('--mixed-seed', type=int, default=1)
    ap.add_argument('--make-only')
    ap.add_argument('--tree')
    ap.add_argument('--cores', type=int, default=4)
    ap.add_argument('--cpu-list')
    ap.add_argument('--repeat', type=int, default=5)
    ap.add_argument('--work', default='/tmp/qor-bench-payload')
    a = ap.parse_args()
    if a.make_only:
        kind = a.kinds.split(',')[0]
        makers = {'mixed': lambda f: make_mixed(f, a.mixed_seed), 'small': lambda f: make_small(f, 7),
                  'large': lambda f: make_large(f, a.large_mib, 11)}
        if kind not in makers:
            sys.exit(f'--make-only makes one of {", ".join(makers)}')
        shutil.rmtree(a.make_only, ignore_errors=True)
        print(f'{kind}: {makers[kind](a.make_only)} bytes under {a.make_only}')
        return
    for tool in ('pigz', 'tar', 'taskset', 'sha256sum'):
        if not shutil.which(tool):
            sys.exit(f'{tool} is missing (tools/deps/bench.txt)')
    if not os.path.exists('/usr/bin/time'):
        sys.exit('/usr/bin/time is missing (tools/deps/bench.txt)')
    pkgmake = os.path.abspath(a.pkgmake)
    cores = a.cpu_list or f'0-{a.cores - 1}'
    packages = []
    kinds = a.kinds.split(',')
    if a.tree and 'tree' not in kinds:
        kinds.append('tree')
    for kind in kinds:
        if kind == 'mix':
            packages += [(f'mix{s}', lambda f, s=int(s): make_mix(f, s * MiB, s)) for s in a.sizes.split(',')]
        elif kind == 'small':
            packages.append(('small', lambda f: make_small(f, 7)))
        elif kind == 'mixed':
            packages.append(('mixed', lambda f: make_mixed(f, a.mixed_seed)))
        elif kind == 'large':
            packages.append((f'large{a.large_mib}', lambda f: make_large(f, a.large_mib, 11)))
        elif kind == 'files':
            packages += [(f'files{n}', lambda f, n=int(n): make_files(f, n, n)) for n in a.files.split(',')]
        elif kind == 'tree' and a.tree:
            packages.append(('tree', None))
        else:
            sys.exit(f'unknown kind {kind}')
    print(f'pkgmake against tar | pigz -9 -p{a.cores}, pinned to CPUs {cores}, {a.repeat} rounds; '
          f'load {load()} at the start', flush=True)
    rows = []
    counts = {}
    for name, make in packages:
        folder = os.path.join(a.work, name)
        if make:
            shutil.rmtree(folder, ignore_errors=True)
            total = make(os.path.join(folder, 'files'))
            files = os.path.join(folder, 'files')
        else:
            os.makedirs(folder, exist_ok=True)
            files = os.path.abspath(a.tree)
            total = sum(os.path.getsize(os.path.join(p, n)) for p, _, ns in os.walk(files) for n in ns
                        if os.path.isfile(os.path.join(p, n)))
        scen = scenario(folder, files)
        out, tgz = os.path.join(folder, 'out.data'), os.path.join(folder, 'files.tgz')
        # Links followed (-h), as pkgmake follows them.
        ref = f'tar chf - -C "{files}" . | pigz -9 -p{a.cores} > "{tgz}" && sync "{tgz}"'
        runs = {k: {'ratio': [], 'cpu': [], 'mem': []} for k in ('pack', 'default', 'check')}
        for _ in range(a.repeat):
            ours = {'pack': timed([pkgmake, '--no-check', scen, out], cores),
                    'default': timed([pkgmake, scen, out], cores),
                    'check': timed([pkgmake, '--check', out], cores)}
            pig = timed(ref, cores, shell=True)
            unpig = timed(f'pigz -dc "{tgz}" | sha256sum', cores, shell=True)
            for k, (wall, cpu, mem) in ours.items():
                theirs = unpig if k == 'check' else pig
                runs[k]['ratio'].append(wall / theirs[0])
                runs[k]['cpu'].append(cpu / theirs[1])
                runs[k]['mem'].append(mem / 1024)
        rows.append((name, total, os.path.getsize(out), os.path.getsize(tgz), runs))
        if name.startswith('files'):
            counts[name] = int(name[5:])
        print(f'{name}: {total} bytes of files, payload {os.path.getsize(out)}, tar.gz {os.path.getsize(tgz)}; '
              + '; '.join(f'{k} {spread(v["ratio"])}' for k, v in runs.items()), flush=True)
    print()
    print(f'Ratios ours / reference, min | median | max of {a.repeat} rounds, pinned to {a.cores} CPUs; '
          f'load {load()} at the end.  pack and default against `tar chf - | pigz -9 -p{a.cores}`, '
          'check against `pigz -dc | sha256sum`.')
    print('| package | run | wall min | median | max | CPU median | peak memory |')
    print('|---|---|---|---|---|---|---|')
    for name, total, payload, tgz, runs in rows:
        for k, v in runs.items():
            print(f'| {name} ({total / MiB:.0f} MiB) | {k} | {spread(v["ratio"])} | '
                  f'{statistics.median(v["cpu"]):.2f} | {max(v["mem"]):.0f} MiB |')
    if counts:
        # The cost of a file: the growth of the peak from one tree to the
        # next larger, over the files it adds (the fixed part drops out).
        print()
        print('Peak memory per file of the small-file trees: the growth of the peak from the tree before, '
              'over the files it adds.')
        print('| files | run | peak memory | per file |')
        print('|---|---|---|---|')
        before = None
        for name, total, payload, tgz, runs in rows:
            if name not in counts:
                continue
            for k, v in runs.items():
                peak = max(v['mem'])
                per = '' if before is None else \
                    f'{(peak - before[1][k]) * MiB / (counts[name] - before[0]):.0f} bytes'
                print(f'| {counts[name]} | {k} | {peak:.1f} MiB | {per} |')
            before = (counts[name], {k: max(v['mem']) for k, v in runs.items()})


if __name__ == '__main__':
    main()
