#!/usr/bin/env python3
"""pkgmake at a build server's limits, on packages made here in a scratch
folder.

    pkgmake_limits_test.py <pkgmake> limits <faults.so>        ulimit -f, -v, -n and -u,
                                                               a scenario nobody may read:
                                                               exit 2 and the limit named,
                                                               the old payload kept
    pkgmake_limits_test.py <pkgmake> outputs <faults.so>       a pipe or a terminal however
                                                               named; names up to the
                                                               longest the folder takes
    pkgmake_limits_test.py <pkgmake> destinations <faults.so>  outside the installation
                                                               folder, apart only in case,
                                                               as the system writes them;
                                                               links above, what cannot
                                                               be read
    pkgmake_limits_test.py <pkgmake> leftovers <faults.so>     temporary payloads of killed
                                                               runs removed, live ones kept
    pkgmake_limits_test.py <pkgmake> faults <faults.so>        --help with words, the owner
                                                               kept, a pipe swapped in, the
                                                               checked file named, a folder
                                                               that cannot be flushed

The failures of file systems and disks this machine lacks (no unnamed
temporary files, a folder flush that fails) come from the preloaded library
faults.so (pkgmake_faults.cpp); the moments a race needs are made by pkgmake
itself (PKGMAKE_TEST_HOOKS).
"""
import os
import pty
import re
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import unicodedata

from pkgmake_harness import PKGMAKE, check, for_anyone, run_case, stop_and_wait, write

# Preloaded into runs as nobody too, who must be able to read it.
FAULTS = for_anyone(os.path.abspath(sys.argv[3]), stat.S_IROTH)
ASAN = b'__asan_init' in open(PKGMAKE, 'rb').read()


def env(faults=None, hooks=None):
    e = dict(os.environ)
    # LeakSanitizer's check at the end needs a thread of its own, which a
    # limit of processes refuses.
    e['ASAN_OPTIONS'] = e.get('ASAN_OPTIONS', '') + ':detect_leaks=0:verify_asan_link_order=0'
    if faults:
        e['LD_PRELOAD'] = FAULTS
        e['PKGMAKE_FAULTS'] = faults
    if hooks:
        e['PKGMAKE_TEST_HOOKS'] = hooks
    return e


def pkgmake(*args, faults=None, hooks=None, **kw):
    return subprocess.run([PKGMAKE, *args], capture_output=True, timeout=600, env=env(faults, hooks), **kw)


def package(d, install, files=True, name='s.txt'):
    """A scenario in d: a licence, some files, the Install lines given."""
    os.chmod(d, 0o755)
    write(f'{d}/docs/e.hdl', 'Licence.')
    write(f'{d}/docs/e.idx', 'ENG = "./e.hdl"\n')
    if files:
        write(f'{d}/files/noise.bin', os.urandom(5 << 20))  # a body checked by two threads
        write(f'{d}/files/words.txt', 'install package ' * 40000)
    write(f'{d}/{name}', '[General]\nlangs = ENG\n[Software]\ncodename = "c"\neula = "docs/e.idx"\n'
          '[Strings]\nevil = "/etc"\nnone = ""\nup = "../.."\nrel = "share"\n[Install]\n' + install)
    return f'{d}/{name}'


def temps(folder):
    return sorted(f for f in os.listdir(folder) if f.endswith('.tmp'))


def nobody(limit=None):
    def become():
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)
        if limit:
            resource.setrlimit(*limit)
    return become


def tasks_of(uid):
    n = 0
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            if os.stat(f'/proc/{pid}').st_uid == uid:
                n += len(os.listdir(f'/proc/{pid}/task'))
        except OSError:
            pass
    return n


def limits():
    with tempfile.TemporaryDirectory() as d:
        scen = package(d, '"files" = $pgm "f"\n')
        out = f'{d}/out.data'
        os.makedirs(f'{d}/anyone')
        os.chmod(f'{d}/anyone', 0o777)

        def kept(what, rc, err, want):
            check(rc == 2 and re.search(want, err), f'{what}: exit {rc} {err!r}')
            check(open(out, 'rb').read() == b'old payload', f'{what}: the old payload changed')
            check(not temps(d), f'{what}: temporary files left: {temps(d)}')

        # A file size limit, its signal left as the shell leaves it.
        write(out, b'old payload')
        r = pkgmake(scen, out, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536)))
        kept('ulimit -f', r.returncode, r.stderr.decode(),
             r'^error: cannot write %s: %s \(the file size limit, ulimit -f, is 65536 bytes\)\n$'
             % (re.escape(out), re.escape(os.strerror(27))))

        # Descriptors: every limit either packs or names itself; the lowest
        # ones fail.  (The sanitizers' own checks need descriptors too, and
        # report what they cannot check as faults.)
        failures = 0
        for n in range(4, 14) if not ASAN else ():
            r = pkgmake(scen, out, preexec_fn=lambda n=n: resource.setrlimit(resource.RLIMIT_NOFILE, (n, n)))
            if r.returncode == 0:
                check(r.stdout.endswith(b'ok\n'), f'ulimit -n {n}: {r.stdout[-100:]!r}')
                write(out, b'old payload')
                continue
            failures += 1
            kept(f'ulimit -n {n}', r.returncode, r.stderr.decode(),
                 r': %s \(the limit of open files, ulimit -n, is %d\)\n$' % (re.escape(os.strerror(24)), n))
        check(failures > 0 or ASAN, 'ulimit -n: no limit failed')
        if ASAN:
            print('limits: built with the sanitizers; ulimit -n is not tried')

        # Memory (not under AddressSanitizer, which maps terabytes).
        if ASAN:
            print('limits: built with AddressSanitizer; ulimit -v is not tried')
        else:
            failures = 0
            for mib in (40, 60, 80, 100, 140, 200):
                lim = mib << 20
                r = pkgmake('--threads', '2', scen, out,
                            preexec_fn=lambda lim=lim: resource.setrlimit(resource.RLIMIT_AS, (lim, lim)))
                if r.returncode == 0:
                    write(out, b'old payload')
                    continue
                failures += 1
                kept(f'ulimit -v {mib} MiB', r.returncode, r.stderr.decode(),
                     r'^error: .*(out of memory|cannot start a thread: .*) \(.*the address space limit, ulimit -v, '
                     r'is %d KiB\)\n$' % (lim >> 10))
            check(failures > 0, 'ulimit -v: no limit failed')

        # Threads: none at all, and fewer than asked.
        out_n = f'{d}/anyone/n.data'
        write(out_n, b'old payload')
        os.chmod(out_n, 0o666)
        r = pkgmake('--threads', '4', scen, out_n,
                    preexec_fn=nobody((resource.RLIMIT_NPROC, (1, 1))))
        check(r.returncode == 2 and r.stderr.decode() == 'error: cannot start a thread: %s (the limit of processes, '
              'ulimit -u, is 1)\n' % os.strerror(11), f'ulimit -u 1: {r.returncode} {r.stderr!r}')
        check(open(out_n, 'rb').read() == b'old payload', 'ulimit -u 1: the old payload changed')
        # Room for one thread more than the run itself.  The other runs of
        # these tests as nobody count against the same limit, and one that
        # starts between the count and the run takes the room: counted
        # again and tried again, a few times.
        for _ in range(5):
            room = tasks_of(65534) + 2
            r = pkgmake('--threads', '4', scen, out_n, preexec_fn=nobody((resource.RLIMIT_NPROC, (room, room))))
            if r.returncode == 0 or b'cannot start a thread' not in r.stderr:
                break
        check(r.returncode == 0 and r.stdout.endswith(b'ok\n'), f'ulimit -u {room}: {r.returncode} {r.stderr!r}')

        # A picture of a document that nobody may read: the system's reason.
        write(f'{d}/docs/p.hdl', 'A picture: <img src=./pic.bmp>')
        write(f'{d}/docs/p.idx', 'ENG = "./p.hdl"\n')
        write(f'{d}/docs/pic.bmp', 'BM')
        os.chmod(f'{d}/docs/pic.bmp', 0)
        pic = package(d, '', files=False, name='pic.txt')
        write(pic, open(pic).read().replace('[Strings]', 'welcome = "docs/p.idx"\n[Strings]'))
        r = pkgmake(pic, out_n, preexec_fn=nobody())
        err = r.stderr.decode().split('\n')
        check(r.returncode == 1 and len(err) == 3 and err[1].startswith('  docs/p.hdl: line 1, column ') and
              err[1].endswith(f': unable to open IMG: {os.strerror(13)}'), f'unreadable picture: {r.stderr!r}')

        # A scenario nobody may read: the system's reason.
        os.chmod(scen, 0)
        r = pkgmake(scen, out_n, preexec_fn=nobody())
        check(r.returncode == 1 and r.stderr.decode() == f'error: {scen}: the scenario file cannot be opened (code 1)\n'
              f'  {os.strerror(13)}\n', f'unreadable scenario: {r.returncode} {r.stderr!r}')


def outputs():
    with tempfile.TemporaryDirectory() as d:
        scen = package(d, '"files" = $pgm "f"\n')
        r = pkgmake('--no-check', scen, f'{d}/ref.data')
        reference = open(f'{d}/ref.data', 'rb').read()
        refused = 'error: the output {} is {}, not a regular file: choose another output\n'
        # A pipe or a terminal as standard output, by either of its names.
        for name in ('/dev/stdout', '/proc/self/fd/1'):
            r = pkgmake(scen, name)
            check(r.returncode == 1 and r.stderr.decode() == refused.format(name, 'a pipe') and not r.stdout,
                  f'{name} on a pipe: {r.returncode} {r.stderr!r}')
            master, slave = pty.openpty()
            tty = os.ttyname(slave)
            p = subprocess.run([PKGMAKE, scen, name], stdout=slave, stderr=subprocess.PIPE, env=env(), timeout=600)
            os.close(slave)
            os.close(master)
            check(p.returncode == 1 and p.stderr.decode() == refused.format(f'{name} (through its links, {tty})',
                                                                           'a terminal'),
                  f'{name} on a terminal: {p.returncode} {p.stderr!r}')
        # The longest names the folder takes, of one-byte and two-byte
        # characters, with and without unnamed temporary files; one byte
        # more is refused before any packing.
        limit = os.pathconf(d, 'PC_NAME_MAX')
        names = ['n' * 242, 'n' * 250, 'n' * limit, 'é' * (limit // 2) + 'n' * (limit % 2)]
        for name in names:
            for faults in (None, 'no-tmpfile'):
                for mode in (['--no-check'], []):
                    out = f'{d}/{name}'
                    r = pkgmake(*mode, scen, out, faults=faults)
                    what = f'{len(name.encode())}-byte name {faults} {mode}'
                    check(r.returncode == 0 and open(out, 'rb').read() == reference, f'{what}: {r.returncode} '
                          f'{r.stderr[-200:]!r}')
                    check(not temps(d), f'{what}: temporary files left')
                    if os.path.exists(out):
                        os.remove(out)
        out = f'{d}/{"n" * (limit + 1)}'
        r = pkgmake(scen, out)
        check(r.returncode == 2 and r.stderr.decode() == f'error: cannot write {out}: {os.strerror(36)}\n' and
              b'packing' not in r.stdout, f'too long a name: {r.returncode} {r.stderr[-100:]!r}')


def destinations():
    with tempfile.TemporaryDirectory() as d:
        os.makedirs(f'{d}/src/sub')
        write(f'{d}/src/sub/x', 'x')
        write(f'{d}/one', '1')
        # (the Install line, the warning it gives with its line, or None)
        outside = 'one is installed outside the installation folder, as '
        cases = [
            ('"one" = $evil "passwd"', outside + '/etc/passwd: its base $evil ("/etc") is an absolute folder'),
            ('"one" = $none "a"',
             outside + 'a: its base $none ("") is empty: the path is taken from the installer\'s current folder'),
            ('"one" = $up "b"', outside + '../../b: its base $up ("../..") climbs with ".."'),
            ('"one" = $rel "c"',
             outside + 'share/c: its base $rel ("share") is relative: the path is taken from the installer\'s '
                       'current folder'),
            ('"one" = "/Library" "Fonts/f"', outside + '/Library/Fonts/f: its base "/Library" is an absolute folder'),
            ('"src" = $evil "t"', '2 files are installed outside the installation folder (the first: src/one as '
             '/etc/t/one): its base $evil ("/etc") is an absolute folder'),
            ('"one" = $pgm "./x/../same.txt"', None),
            ('"one" = $pgm "dir//z.txt"', None),
        ]
        write(f'{d}/src/one', '1')
        install = ''.join(c[0] + '\n' for c in cases)
        scen = package(d, install, files=False)
        first = open(scen).read().count('\n') - len(cases) + 1
        r = pkgmake(scen, f'{d}/o.data')
        err = r.stderr.decode()
        want = ''.join(f'warning: {scen}: line {first + i}: {c[1]}\n' for i, c in enumerate(cases) if c[1])
        check(r.returncode == 0 and err == want, f'outside: {r.returncode}\n{err}\nwanted\n{want}')
        # Listed as the system resolves them (os.path.normpath is the oracle).
        for sub in ('./x/../same.txt', 'dir//z.txt'):
            line = f'-> <folder>/{os.path.normpath(sub)}\n'.encode()
            check(line in r.stdout, f'{sub} is not listed as {line!r}')

        # Paths apart only in case, by Python's own idea of case: one
        # warning with both lines; names apart otherwise, none.
        pairs = [('README.txt', 'Readme.txt'), ('Ärger', 'ärger'), ('ΩMEGA', 'ωmega'), ('Привет', 'пРИВЕТ'),
                 ('Ёж', 'ёж'), ('Łódź', 'łÓDŹ'), ('plain', 'plaim'), ('straße', 'STRASSE')]
        lines = []
        for i, (a, b) in enumerate(pairs):
            write(f'{d}/c{i}/{a}', 'a')
            write(f'{d}/c{i}/{b}', 'b')
            lines.append(f'"c{i}/{a}" = $pgm "{a}"\n"c{i}/{b}" = $pgm "sub/../{b}"\n')
        scen = package(d, ''.join(lines), files=False)
        first = open(scen).read().count('\n') - 2 * len(pairs) + 1
        r = pkgmake(scen, f'{d}/o.data')
        want = ''
        for i, (a, b) in enumerate(pairs):
            # Folded alike by the letters pkgmake knows (one for one; the
            # German sharp s becomes two letters and is left out).
            if a.lower() == b.lower() and len(a) == len(b) and unicodedata.normalize('NFC', a) != b:
                want += (f'warning: {scen}: line {first + 2 * i + 1}: c{i}/{b} and c{i}/{a} (line {first + 2 * i}) '
                         f'are installed as <folder>/{b} and <folder>/{a}, which differ only in letter case: on a '
                         f'volume that ignores case (as macOS\'s do) one of them is lost\n')
        check(r.returncode == 0 and r.stderr.decode() == want, f'case: {r.returncode}\n{r.stderr.decode()}\nwanted\n{want}')

        # Links above the packed folder are left out, named, like links
        # back into it; the rest is packed.
        os.symlink('..', f'{d}/src/up')
        os.symlink('/', f'{d}/src/sub/root')
        scen = package(d, '"src" = $pgm "s"\n', files=False)
        r = pkgmake(scen, f'{d}/o.data')
        err = r.stderr.decode()
        check(r.returncode == 0 and err == 'warning: src/sub/root: skipped (symbolic link to a folder above the one '
              'being packed)\nwarning: src/up: skipped (symbolic link to a folder above the one being packed)\n'
              'warning: 2 entries of the Install folders skipped: only regular files are packed\n' and
              b'-> <folder>/s/sub/x\n' in r.stdout, f'links above: {r.returncode} {err!r}')

        # What cannot be read, a file or what a folder holds, gets one answer:
        # the line fails with the system's reason.
        os.remove(f'{d}/src/up')
        os.remove(f'{d}/src/sub/root')
        os.makedirs(f'{d}/anyone')
        os.chmod(f'{d}/anyone', 0o777)
        os.chmod(f'{d}/src/sub', 0o644)  # listed, but not entered
        write(f'{d}/src/secret', 's')
        try:
            for source, where in (('src/sub', 'src/sub/x'), ('src/secret', 'src/secret')):
                if source == 'src/secret':
                    os.chmod(f'{d}/src/sub', 0o755)
                    os.chmod(f'{d}/src/secret', 0)
                scen = package(d, f'"{source}" = $pgm "s"\n', files=False)
                r = pkgmake(scen, f'{d}/anyone/o.data', preexec_fn=nobody())
                err = r.stderr.decode().split('\n')
                check(r.returncode == 1 and err[0].endswith('(code 26)') and
                      err[1] == f'  cannot read "{where}": {os.strerror(13)}', f'{source}: {r.returncode} {err!r}')
        finally:
            os.chmod(f'{d}/src/sub', 0o755)


def leftovers():
    with tempfile.TemporaryDirectory() as d:
        scen = package(d, '"files" = $pgm "f"\n')
        for name in ('out.data', 'n' * os.pathconf(d, 'PC_NAME_MAX')):
            out = f'{d}/{name}'
            write(out, b'old payload')
            # Killed once its payload is written, on a file system without
            # unnamed files: its temporary file is left.
            killed = subprocess.Popen([PKGMAKE, scen, out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      env=env('no-tmpfile', 'stop-before-check'))
            if not stop_and_wait(killed, 'killed'):
                continue
            left = temps(d)
            check(len(left) == 1 and str(killed.pid) in left[0], f'killed: {left}')
            os.kill(killed.pid, signal.SIGKILL)
            killed.wait()
            # The next run removes it, and says so; a run after that keeps the
            # next one's, which is alive.
            live = subprocess.Popen([PKGMAKE, scen, out], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    env=env('no-tmpfile', 'stop-before-check'))
            if not stop_and_wait(live, 'live'):
                continue
            ours = temps(d)
            check(len(ours) == 1 and str(live.pid) in ours[0], f'live: {ours}')
            r = pkgmake(scen, out, faults='no-tmpfile')
            check(r.returncode == 0 and not r.stderr, f'third run: {r.returncode} {r.stderr!r}')
            check(temps(d) == ours, f'third run: left {temps(d)}, wanted {ours}')
            os.kill(live.pid, signal.SIGCONT)
            o, e = live.communicate(timeout=600)
            check(live.returncode == 0 and o.endswith(b'ok\n') and e.decode() == f'warning: removed {d}/{left[0]}, '
                  f'left by a run on {out} that did not end\n', f'live: {live.returncode} {e!r}')
            check(not temps(d), f'at the end: {temps(d)}')
            os.remove(out)


def faults():
    with tempfile.TemporaryDirectory() as d:
        scen = package(d, '"files" = $pgm "f"\n')
        out = f'{d}/out.data'
        r = pkgmake('--help', 'x', 'y', 'z')
        check(r.returncode == 3 and r.stderr.startswith(b'usage: ') and not r.stdout, f'--help x y z: {r.returncode}')

        # Replaced by root, the output keeps its owner, group and mode.
        write(out, b'old payload')
        os.chown(out, 65534, 65534)
        os.chmod(out, 0o640)
        r = pkgmake(scen, out)
        st = os.stat(out)
        check(r.returncode == 0 and (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) == (65534, 65534, 0o640),
              f'owner: {r.returncode} {st.st_uid}:{st.st_gid} {oct(st.st_mode)}')

        # A named pipe in a file's place before it is packed (a file over
        # 8 MiB is read twice, and packed after the one before it): its
        # folder swapped, so that a reading already begun stays as it was.
        write(f'{d}/big/a.bin', os.urandom(12 << 20))
        write(f'{d}/big2/b.bin', os.urandom(12 << 20))
        big = package(d, '"big/a.bin" = $pgm "a"\n"big2/b.bin" = $pgm "b"\n', files=False, name='big.txt')
        write(out, b'old payload')
        p = subprocess.Popen([PKGMAKE, big, out], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                             env=env(hooks='stop-in:big/a.bin'))
        if stop_and_wait(p, 'fifo'):
            os.rename(f'{d}/big2', f'{d}/big2.old')
            os.makedirs(f'{d}/big2')
            os.mkfifo(f'{d}/big2/b.bin')
            os.kill(p.pid, signal.SIGCONT)
        _, e = p.communicate(timeout=600)
        check(p.returncode == 2 and e.decode() == 'error: big2/b.bin changed while it was packed: replaced by a named '
              'pipe, not a regular file, after it was added\n', f'fifo: {p.returncode} {e!r}')
        check(open(out, 'rb').read() == b'old payload', 'fifo: the old payload changed')

        # Damaged before its check: the file checked is named, unnamed or
        # named, and the old output stays.
        write(out, b'old payload')
        for faults_ in (None, 'no-tmpfile'):
            p = subprocess.Popen([PKGMAKE, scen, out], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                 env=env(faults_, 'stop-before-check'))
            if not stop_and_wait(p, 'damaged'):
                continue
            named = temps(d)
            fds = [f for f in os.listdir(f'/proc/{p.pid}/fd')
                   if re.search(r'(\.tmp|\(deleted\))$', os.readlink(f'/proc/{p.pid}/fd/{f}'))]
            check(len(fds) == 1, f'damaged: the payload\'s descriptor among {fds}')
            with open(f'/proc/{p.pid}/fd/{fds[0]}', 'r+b') as f:
                size = f.seek(0, 2)
                f.seek(size // 2)
                b = f.read(1)
                f.seek(size // 2)
                f.write(bytes([b[0] ^ 0x55]))
            os.kill(p.pid, signal.SIGCONT)
            _, e = p.communicate(timeout=600)
            name = f'{d}/{named[0]}' if faults_ else f'the new payload for {out}'
            check(p.returncode == 2 and e.decode().startswith(f'error: {name}: '), f'damaged {faults_}: {e!r}')
            check(open(out, 'rb').read() == b'old payload', f'damaged {faults_}: the old payload changed')

        # The output's folder cannot be flushed: the payload is in place, and
        # the run fails saying so.
        r = pkgmake('--no-check', scen, out, faults='dir-fsync')
        check(r.returncode == 2 and r.stderr.decode() == f'error: the payload is in place as {out}, but its folder '
              f'could not be flushed to disk: {os.strerror(5)}\n', f'dir-fsync: {r.returncode} {r.stderr!r}')


run_case({'limits': limits, 'outputs': outputs, 'destinations': destinations, 'leftovers': leftovers,
          'faults': faults})
