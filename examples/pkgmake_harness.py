"""What the pkgmake test scripts share: the program and the case named on
the command line (<pkgmake> <case>), the failures found, and how a script
runs its case and reports."""
import atexit
import os
import random
import shutil
import stat
import sys
import tempfile


def open_to_others(path, bits):
    """Whether a user who is not the owner has `bits` on path and may enter
    every folder above it."""
    p = os.path.abspath(path)
    need = bits
    while True:
        if os.stat(p).st_mode & need != need:
            return False
        parent = os.path.dirname(p)
        if parent == p:
            return True
        p, need = parent, stat.S_IXOTH


def for_anyone(path, bits=stat.S_IXOTH):
    """path, or where another user can reach it: the cases run pkgmake as
    nobody as well, and a checkout under /root is not nobody's to enter.  A
    copy goes in a folder of its own, removed when the script ends."""
    if open_to_others(path, bits):
        return path
    d = tempfile.mkdtemp(prefix='pkgmake-test-')
    os.chmod(d, 0o755)
    atexit.register(shutil.rmtree, d, True)
    copy = os.path.join(d, os.path.basename(path))
    shutil.copy2(path, copy)
    os.chmod(copy, 0o755)
    return copy


PKGMAKE = for_anyone(os.path.abspath(sys.argv[1]))
MODE = sys.argv[2]
FAILS = []


def check(cond, what):
    if not cond:
        FAILS.append(what)
        print('FAIL:', what)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def make_big_package(d, seed):
    """Some 10 MiB of files: long enough to be caught in a stage."""
    r = random.Random(seed)
    words = [b'package ', b'install ', b'qor ', b'\n', b'version ', b'data ']
    for i in range(6):
        write(f'{d}/big/text{i}.txt', b''.join(r.choice(words) for _ in range(250000)))
        write(f'{d}/big/rand{i}.bin', r.randbytes(400000))
    write(f'{d}/big/empty', b'')
    write(f'{d}/docs/e.hdl', 'Licence.')
    write(f'{d}/docs/e.idx', 'ENG = "./e.hdl"\n')
    write(f'{d}/s.txt', '[General]\nlangs = ENG\n[Software]\ncodename = "big"\neula = "docs/e.idx"\n'
          '[Install]\n"big" = $pgm "big"\n')


def temps(d, name):
    return [f for f in os.listdir(d) if f.startswith('.' + name)]


def stop_and_wait(p, what):
    """Waits until p stops itself; False (and a failure) when it ended instead."""
    _, status = os.waitpid(p.pid, os.WUNTRACED)
    check(os.WIFSTOPPED(status), f'{what}: it never stopped (status {status})')
    return os.WIFSTOPPED(status)


def run_case(cases):
    """Runs the case MODE names among cases (name -> function) and exits 1
    when any check failed."""
    cases[MODE]()
    if FAILS:
        print(f'{len(FAILS)} failures')
        sys.exit(1)
    print('ok')
