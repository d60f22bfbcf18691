#!/usr/bin/env python3
"""What pkgmake never does to a packager's files, on packages made here in a
scratch folder.

    pkgmake_safety_test.py <pkgmake> streams    standard input, output or error
                                                closed: the payload is a normal
                                                run's, byte for byte
    pkgmake_safety_test.py <pkgmake> outputs    outputs that are no regular file,
                                                links, folders that cannot take
                                                one: refused before packing, with
                                                the system's reason
    pkgmake_safety_test.py <pkgmake> races      a file rewritten as it is read;
                                                two runs on one output
    pkgmake_safety_test.py <pkgmake> arguments  misuse exits 3 with the usage;
                                                paths printed escaped

The moments a race needs are made by pkgmake itself, which stops (SIGSTOP)
where PKGMAKE_TEST_HOOKS asks: nothing here depends on the machine's speed.
"""
import os
import re
import signal
import socket
import stat
import subprocess
import tempfile

from pkgmake_harness import PKGMAKE, check, make_big_package, run_case, stop_and_wait, temps, write


def pkgmake(*args, **kw):
    return subprocess.run([PKGMAKE, *args], capture_output=True, timeout=600, **kw)


def as_nobody():
    os.setgroups([])
    os.setgid(65534)
    os.setuid(65534)


def streams():
    with tempfile.TemporaryDirectory() as d:
        make_big_package(d, 4)
        r = pkgmake('--no-check', f'{d}/s.txt', f'{d}/ref.data')
        check(r.returncode == 0, f'reference: {r.stderr!r}')
        reference = open(f'{d}/ref.data', 'rb').read()
        # A progress line at every step: many lines are written while the
        # payload is open.
        env = {**os.environ, 'PKGMAKE_TEST_HOOKS': 'lines'}
        r = pkgmake(f'{d}/s.txt', f'{d}/lines.data', env=env)
        check(r.returncode == 0 and r.stdout.count(b'packing: ') >= 20,
              f'lines: {r.returncode}, {r.stdout.count(b"packing: ")} packing lines')
        for fd in (0, 1, 2):
            for mode in (['--no-check'], []):
                out = f'{d}/closed{fd}.data'
                write(out, b'old payload')
                p = subprocess.run([PKGMAKE, *mode, f'{d}/s.txt', out], env=env, timeout=600,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   preexec_fn=lambda fd=fd: os.close(fd))
                what = f'fd {fd} closed {" ".join(mode)}'
                # Nothing shown of what was to be shown: 4, the work done.
                check(p.returncode == (4 if fd == 1 else 0), f'{what}: exit {p.returncode}')
                check(open(out, 'rb').read() == reference, f'{what}: the payload is not a normal run\'s')
                check(not temps(d, f'closed{fd}.data'), f'{what}: temporary files left')


def outputs():
    with tempfile.TemporaryDirectory() as d:
        os.chmod(d, 0o755)
        make_big_package(d, 5)
        scen = f'{d}/s.txt'
        r = pkgmake('--no-check', scen, f'{d}/ref.data')
        reference = open(f'{d}/ref.data', 'rb').read()
        write(f'{d}/plain.data', b'old')
        os.makedirs(f'{d}/outs/locked')
        os.chmod(f'{d}/outs/locked', 0o555)
        os.mkfifo(f'{d}/outs/fifo')
        os.mknod(f'{d}/outs/null', stat.S_IFCHR | 0o666, os.makedev(1, 3))
        sock = socket.socket(socket.AF_UNIX)
        sock.bind(f'{d}/outs/sock')
        os.makedirs(f'{d}/outs/folder')
        os.symlink(f'{d}/outs/fifo', f'{d}/outs/to-fifo')
        os.symlink('loop-b', f'{d}/outs/loop-a')
        os.symlink('loop-a', f'{d}/outs/loop-b')
        ro = f'{d}/outs/ro'
        os.makedirs(ro)
        mounted = subprocess.run(['mount', '-t', 'tmpfs', '-o', 'ro,size=1m', 'tmpfs', ro],
                                 capture_output=True).returncode == 0
        o = f'{d}/outs'
        not_regular = 'error: the output {} is {}, not a regular file: choose another output'
        # (output, exit, error line, run as nobody)
        cases = [
            (f'{o}/null', 1, not_regular.format(f'{o}/null', 'a device'), False),
            (f'{o}/fifo', 1, not_regular.format(f'{o}/fifo', 'a named pipe'), False),
            (f'{o}/sock', 1, not_regular.format(f'{o}/sock', 'a socket'), False),
            (f'{o}/folder', 1, not_regular.format(f'{o}/folder', 'a folder'), False),
            (f'{o}/to-fifo', 1, not_regular.format(f'{o}/to-fifo (through its links, {o}/fifo)', 'a named pipe'),
             False),
            (f'{o}/loop-a', 2, f'error: cannot write {o}/loop-a: {os.strerror(40)}', False),
            (f'{o}/missing/x.data', 2, f'error: cannot write {o}/missing/x.data: {os.strerror(2)}', False),
            (f'{d}/plain.data/x.data', 2, f'error: cannot write {d}/plain.data/x.data: {os.strerror(20)}', False),
            (f'{o}/locked/x.data', 2, f'error: cannot write {o}/locked/x.data: {os.strerror(13)}', True),
        ]
        if mounted:
            cases.append((f'{ro}/x.data', 2, f'error: cannot write {ro}/x.data: {os.strerror(30)}', False))
        else:
            print('outputs: no read-only file system could be mounted; it is not tried')
        try:
            for out, code, line, nobody in cases:
                before = sorted(os.listdir(o))
                r = pkgmake(scen, out, preexec_fn=as_nobody if nobody else None)
                err = r.stderr.decode()
                check(r.returncode == code and err == line + '\n', f'{out}: exit {r.returncode} {err!r}')
                # Refused before any work: nothing packed, nothing made.
                check(b'packing' not in r.stdout, f'{out}: packed before it was refused')
                check(sorted(os.listdir(o)) == before, f'{out}: the folder changed')
            check(stat.S_ISCHR(os.stat(f'{o}/null').st_mode) and stat.S_ISFIFO(os.stat(f'{o}/fifo').st_mode),
                  'a device or pipe output was replaced')
        finally:
            sock.close()
            if mounted:
                subprocess.run(['umount', ro])
        # A link as the output: its target replaced, the link kept; a link
        # to nothing yet makes its target.
        for name, target in (('to-plain', f'{d}/plain.data'), ('to-new', f'{d}/outs/new.data')):
            os.symlink(os.path.relpath(target, o), f'{o}/{name}')
            r = pkgmake('--no-check', scen, f'{o}/{name}')
            check(r.returncode == 0 and f'payload: {target}, {len(reference)} bytes\n' in r.stdout.decode(),
                  f'link {name}: {r.returncode} {r.stdout[-200:]!r} {r.stderr!r}')
            check(os.path.islink(f'{o}/{name}') and open(target, 'rb').read() == reference,
                  f'link {name}: the link or its target is not as it should be')


def races():
    with tempfile.TemporaryDirectory() as d:
        # A file rewritten in place, with as many bytes, after its first
        # piece was read: held whole (4 MiB) or read twice (12 MiB).
        write(f'{d}/docs/e.hdl', 'Licence.')
        write(f'{d}/docs/e.idx', 'ENG = "./e.hdl"\n')
        for size in (4 << 20, 12 << 20):
            write(f'{d}/files/a.bin', os.urandom(size))
            # Made long ago, so that the rewrite gives it another time
            # however coarse the file system's clock.
            os.utime(f'{d}/files/a.bin', (1e9, 1e9))
            write(f'{d}/s.txt', '[General]\nlangs = ENG\n[Software]\ncodename = "torn"\neula = "docs/e.idx"\n'
                  '[Install]\n"files/a.bin" = $pgm "a"\n')
            write(f'{d}/torn.data', b'old payload')
            with open(f'{d}/torn.out', 'wb') as out, open(f'{d}/torn.err', 'wb') as err:
                p = subprocess.Popen([PKGMAKE, f'{d}/s.txt', f'{d}/torn.data'], stdout=out, stderr=err,
                                     env={**os.environ, 'PKGMAKE_TEST_HOOKS': 'stop-in:files/a.bin'})
                if stop_and_wait(p, f'torn {size}'):
                    with open(f'{d}/files/a.bin', 'r+b') as f:
                        f.write(os.urandom(size))
                    os.kill(p.pid, signal.SIGCONT)
                rc = p.wait(timeout=600)
            err = open(f'{d}/torn.err', 'rb').read().decode()
            check(rc == 2 and err == 'error: files/a.bin changed while it was packed: modified after it was added\n',
                  f'torn {size}: exit {rc} {err!r}')
            check(open(f'{d}/torn.data', 'rb').read() == b'old payload', f'torn {size}: the old payload changed')

        # Two runs on one output: A stops once its payload is written, B
        # runs whole meanwhile, then A goes on.  Each checks and lists its
        # own payload, and the output is A's, which came last.
        make_big_package(f'{d}/a', 6)
        write(f'{d}/a/b.txt', '[General]\nlangs = ENG\n[Software]\ncodename = "other"\neula = "docs/e.idx"\n')
        r = pkgmake('--no-check', f'{d}/a/s.txt', f'{d}/a.data')
        reference = open(f'{d}/a.data', 'rb').read()
        shared = f'{d}/shared.data'
        with open(f'{d}/a.out', 'wb') as out:
            a = subprocess.Popen([PKGMAKE, f'{d}/a/s.txt', shared], stdout=out, stderr=subprocess.PIPE,
                                 env={**os.environ, 'PKGMAKE_TEST_HOOKS': 'stop-before-check'})
            if stop_and_wait(a, 'two runs'):
                b = pkgmake(f'{d}/a/b.txt', shared)
                check(b.returncode == 0 and b'package:  (other)\n' in b.stdout, f'run B: {b.returncode} {b.stderr!r}')
                os.kill(a.pid, signal.SIGCONT)
            rc = a.wait(timeout=600)
        listing = open(f'{d}/a.out', 'rb').read()
        check(rc == 0 and b'package:  (big)\n' in listing and listing.endswith(b'ok\n'),
              f'run A: exit {rc}: {listing[-300:]!r}')
        check(open(shared, 'rb').read() == reference, 'two runs: the output is not the last run\'s payload')
        check(not temps(d, 'shared.data'), 'two runs: temporary files left')


def arguments():
    with tempfile.TemporaryDirectory() as d:
        make_big_package(d, 7)
        s, o = f'{d}/s.txt', f'{d}/o.data'
        misuse = [[], [s], ['--no-check', s], ['--check'], ['--check', o, o], [s, o, o], ['--threads', '0', s, o],
                  ['--threads', '3x', s, o], ['--threads', '2000', s, o], ['--threads'], ['--threads', '2', '--threads',
                  '2', s, o], ['--bogus', s, o], ['--check', '--no-check', o], ['--no-check', '--no-check', s, o],
                  ['', o], [s, '']]
        for args in misuse:
            r = pkgmake(*args)
            check(r.returncode == 3 and r.stderr.startswith(b'usage: ') and not r.stdout,
                  f'{args}: exit {r.returncode} {r.stderr[:80]!r}')
        check(not os.path.exists(o), 'a misuse wrote an output')
        r = pkgmake('--help')
        check(r.returncode == 0 and r.stdout.startswith(b'usage: '), f'--help: {r.returncode}')
        # Options among the paths, and "--" before a name that begins with one.
        write(f'{d}/-s.txt', open(s).read())
        r = pkgmake(s, o, '--threads', '2', '--no-check')
        check(r.returncode == 0 and os.path.exists(o), f'options after the paths: {r.returncode} {r.stderr!r}')
        r = pkgmake('--no-check', '--', '-s.txt', 'dash.data', cwd=d)
        check(r.returncode == 0 and open(f'{d}/dash.data', 'rb').read() == open(o, 'rb').read(),
              f'"--": {r.returncode} {r.stderr!r}')

        # Every path printed on one line, escaped: the scenario's in its
        # errors, a source's, the output's.
        odd = f'{d}/bad\nname\t.txt'
        write(odd, open(s).read() + '[Software]\nnome = "x"\n')
        r = pkgmake(odd, o)
        want = f'error: {d}/bad\\nname\\t.txt: line 9: unknown key (code 5)\n'
        check(r.returncode == 1 and r.stderr.decode() == want, f'odd scenario: {r.stderr!r}')
        write(odd, open(s).read() + '"big/no\tsuch" = $pgm "x"\n')
        r = pkgmake(odd, o)
        check(r.returncode == 1 and r.stderr.decode().split('\n')[1] ==
              f'  cannot read "big/no\\tsuch": {os.strerror(2)}', f'odd source: {r.stderr!r}')
        r = pkgmake('--no-check', s, f'{d}/out\x1b[2J.data')
        check(r.returncode == 0 and f'payload: {d}/out\\x1b[2J.data, '.encode() in r.stdout, f'odd output: {r.stdout!r}')
        r = pkgmake('--no-check', s, f'{d}/no\nfolder/x.data')
        check(r.returncode == 2 and r.stderr.decode() == f'error: cannot write {d}/no\\nfolder/x.data: '
              f'{os.strerror(2)}\n', f'odd missing folder: {r.stderr!r}')


run_case({'streams': streams, 'outputs': outputs, 'races': races, 'arguments': arguments})
