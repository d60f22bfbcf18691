#!/usr/bin/env python3
"""pkgmake run by root on outputs in folders another user ("nobody") can
write to, as on a shared build host.

    pkgmake_shared_test.py <pkgmake> planted     links, a dangling link, a chain,
                                                 nobody's file and a pipe at the
                                                 output in a sticky folder open to
                                                 everyone: followed or replaced
                                                 only where the kernel's
                                                 protected_symlinks and
                                                 protected_regular rules would let
                                                 them be, else refused with the
                                                 link or file and its owner named,
                                                 nothing packed, made or changed
    pkgmake_shared_test.py <pkgmake> leftovers   files named like a killed run's
                                                 temporary files: only a root file
                                                 holding nothing or a payload's
                                                 start goes; the rest stays and is
                                                 named in a warning
    pkgmake_shared_test.py <pkgmake> attributes  a replaced output keeps its access
                                                 control list and attributes; a new
                                                 one gets what the shell's `>` gives
                                                 in a folder with a default list

The planted cases need root (they give files away); elsewhere they say so
and pass.
"""
import os
import stat
import subprocess
import tempfile

from pkgmake_harness import PKGMAKE, check, run_case, write

NOBODY = 65534
OWNER = 'user nobody (uid 65534)'


def pkgmake(*args, **kw):
    return subprocess.run([PKGMAKE, *args], capture_output=True, timeout=600, **kw)


def small_package(d):
    write(f'{d}/pkg/files/a.txt', 'package data\n' * 100)
    write(f'{d}/pkg/docs/e.hdl', 'Licence.')
    write(f'{d}/pkg/docs/e.idx', 'ENG = "./e.hdl"\n')
    write(f'{d}/pkg/s.txt', '[General]\nlangs = ENG\n[Software]\ncodename = "shared"\neula = "docs/e.idx"\n'
          '[Install]\n"files/a.txt" = $pgm "a.txt"\n')
    return f'{d}/pkg/s.txt'


def snapshot(top):
    """Every name under top: its kind, owner, mode, and bytes or link."""
    seen = []
    for folder, dirs, files in os.walk(top):
        for name in sorted(dirs + files):
            p = os.path.join(folder, name)
            st = os.lstat(p)
            what = os.readlink(p) if stat.S_ISLNK(st.st_mode) else \
                open(p, 'rb').read() if stat.S_ISREG(st.st_mode) else None
            seen.append((os.path.relpath(p, top), st.st_uid, st.st_mode, what))
    return sorted(seen, key=lambda s: s[0])


def plant_link(at, to, owner=NOBODY):
    os.symlink(to, at)
    os.lchown(at, owner, owner)


def plant_file(at, data, owner=NOBODY):
    write(at, data)
    os.chown(at, owner, owner)
    os.chmod(at, 0o666)


def link_refused(link, folder):
    return (f'{link} is a link of {OWNER} in {folder}, a sticky folder that everyone may write to; '
            'such a link is followed only when it is yours or the folder owner\'s')


def planted():
    if os.geteuid() != 0:
        print('planted: not root; another user\'s files cannot be planted, nothing is tried')
        return
    with tempfile.TemporaryDirectory() as d:
        os.chmod(d, 0o755)
        scen = small_package(d)
        r = pkgmake('--no-check', scen, f'{d}/ref.data')
        check(r.returncode == 0, f'reference: {r.stderr!r}')
        size = os.path.getsize(f'{d}/ref.data')
        top = f'{d}/top'
        shared, private = f'{top}/shared', f'{top}/private'
        os.makedirs(shared)
        os.makedirs(private)
        os.chmod(shared, 0o1777)
        os.chmod(private, 0o700)
        out = f'{shared}/out.data'
        important = f'{private}/important'
        cannot = f'error: cannot write {out}: '
        # (name, plant, exit, standard error, the file written or None)
        cases = [
            ('link of nobody\'s', lambda: plant_link(out, important), 2, cannot + link_refused(out, shared), None),
            ('dangling link of nobody\'s', lambda: plant_link(out, f'{private}/created'), 2,
             cannot + link_refused(out, shared), None),
            ('chain with a link of nobody\'s',
             lambda: (plant_link(out, 'hop', 0), plant_link(f'{shared}/hop', important)), 2,
             cannot + link_refused(f'{shared}/hop', shared), None),
            ('file of nobody\'s', lambda: plant_file(out, 'nobody data'), 2,
             cannot + f'{out} is a file of {OWNER} in {shared}, a sticky folder that everyone may write to; such a '
             'file is replaced only when it is yours or the folder owner\'s', None),
            ('link of nobody\'s to nobody\'s pipe',
             lambda: (os.mkfifo(f'{shared}/pipe'), os.chown(f'{shared}/pipe', NOBODY, NOBODY),
                      plant_link(out, 'pipe')), 2, cannot + link_refused(out, shared), None),
            ('pipe of nobody\'s', lambda: (os.mkfifo(out), os.chown(out, NOBODY, NOBODY)), 1,
             f'error: the output {out} is a named pipe, not a regular file: choose another output', None),
            ('root\'s own link', lambda: plant_link(out, important, 0), 0, '', important),
        ]
        for name, plant, code, err, written in cases:
            for p in os.listdir(shared):
                os.unlink(f'{shared}/{p}')
            write(important, 'root data')
            os.chmod(important, 0o644)
            plant()
            before = [s for s in snapshot(top) if written is None or s[0] != os.path.relpath(written, top)]
            r = pkgmake(scen, out)
            got = r.stderr.decode()
            check(r.returncode == code and got == (err + '\n' if err else ''),
                  f'{name}: exit {r.returncode}, {got!r}')
            after = [s for s in snapshot(top) if written is None or s[0] != os.path.relpath(written, top)]
            check(after == before, f'{name}: the folders changed: {sorted(set(after) ^ set(before))}')
            if written:
                st = os.stat(written)
                check(open(written, 'rb').read() == open(f'{d}/ref.data', 'rb').read() and st.st_uid == 0 and
                      f'payload: {written}, {size} bytes\n' in r.stdout.decode(), f'{name}: not written as it should be')
            else:
                check(b'packing' not in r.stdout, f'{name}: packed before it was refused')


def leftovers():
    root = os.geteuid() == 0
    with tempfile.TemporaryDirectory() as d:
        os.chmod(d, 0o755)
        scen = small_package(d)
        folder = f'{d}/out'
        os.makedirs(folder)
        os.chmod(folder, 0o1777)
        out = f'{folder}/out.data'

        def temp(n):
            return f'{folder}/.out.data.3999999.{n}.tmp'

        # (name, bytes, owner, kept, what the warning says)
        files = [(temp(1), b'my report', 0, True, 'it does not hold what such a file holds'),
                 (temp(2), b'QORSOPKG\x01' + bytes(40), 0, False, None),
                 (temp(3), b'', 0, False, None)]
        if root:
            files.append((temp(4), b'nobody data', NOBODY, True, f'it belongs to {OWNER}'))
        else:
            print('leftovers: not root; no file of another user is planted')
        for p, data, owner, _, _ in files:
            write(p, data)
            if root:
                os.chown(p, owner, owner)
        os.symlink(f'{d}/pkg/s.txt', temp(5))
        r = pkgmake('--no-check', scen, out)
        lines = sorted(r.stderr.decode().splitlines())
        want = sorted([f'warning: kept {p}, named like a temporary file of a run on {out}: {why}'
                       if kept else f'warning: removed {p}, left by a run on {out} that did not end'
                       for p, _, _, kept, why in files] +
                      [f'warning: kept {temp(5)}, named like a temporary file of a run on {out}: '
                       'it is a symbolic link, not a regular file'])
        check(r.returncode == 0 and lines == want, f'exit {r.returncode}: {lines!r}')
        for p, data, owner, kept, _ in files:
            if kept:
                check(os.path.lexists(p) and open(p, 'rb').read() == data and os.stat(p).st_uid == owner,
                      f'{p} is not as it was')
            else:
                check(not os.path.lexists(p), f'{p} was not removed')
        check(os.readlink(temp(5)) == f'{d}/pkg/s.txt', 'the link was changed')


def acl_of(path):
    r = subprocess.run(['getfacl', '--omit-header', '--absolute-names', path], capture_output=True)
    return r.stdout.decode() if r.returncode == 0 else f'<getfacl failed: {r.stderr!r}>'


def setfacl(*args):
    return subprocess.run(['setfacl', *args], capture_output=True).returncode == 0


def attributes():
    with tempfile.TemporaryDirectory() as d:
        scen = small_package(d)
        out = f'{d}/out.data'
        write(out, b'old payload')
        os.chmod(out, 0o640)
        if not setfacl('-m', 'u:nobody:rw-', out):
            print(f'attributes: the file system under {d} keeps no access control lists; nothing is tried')
            return
        os.setxattr(out, 'user.origin', b'kept')
        before = acl_of(out)
        r = pkgmake(scen, out)
        check(r.returncode == 0, f'replaced: {r.stderr!r}')
        check(acl_of(out) == before, f'replaced: {acl_of(out)!r}, was {before!r}')
        check('user.origin' in os.listxattr(out) and os.getxattr(out, 'user.origin') == b'kept',
              'replaced: the attribute was lost')
        # A new output in a folder with a default list, under a narrow mask.
        new = f'{d}/new'
        os.makedirs(new)
        check(setfacl('-d', '-m', 'u::rwx,g::r-x,o::---,u:nobody:rw-', new), 'default list')
        r = pkgmake(scen, f'{new}/out.data', preexec_fn=lambda: os.umask(0o077))
        check(r.returncode == 0, f'new: {r.stderr!r}')
        subprocess.run(['sh', '-c', f'umask 077; : > {new}/shells'], check=True)
        check(acl_of(f'{new}/out.data') == acl_of(f'{new}/shells'),
              f'new: {acl_of(new + "/out.data")!r}, the shell gives {acl_of(new + "/shells")!r}')


run_case({'planted': planted, 'leftovers': leftovers, 'attributes': attributes})
