#!/usr/bin/env python3
"""pkgmake as a packager meets it, on packages made here in a scratch folder.

    pkgmake_test.py <pkgmake> errors     one faulty scenario per error code:
                                         the exit code and what the message names
    pkgmake_test.py <pkgmake> fonts      documents in English and Russian with
                                         every form of font, bold and italic
    pkgmake_test.py <pkgmake> kill       killed at several points, or failing,
                                         it leaves the old payload byte for byte
    pkgmake_test.py <pkgmake> progress   plain lines to a pipe, one redrawn line
                                         on a terminal
    pkgmake_test.py <pkgmake> losses     what a scenario loses as written (two
                                         files on one path, execute bits without
                                         digits, a file as the installation
                                         folder, a version of six parts, a key
                                         given twice): a warning with the line
    pkgmake_test.py <pkgmake> packager   a packager's trees and mistakes: an
                                         output over an input, a pipe as the
                                         scenario, what a walk leaves out, the
                                         same tree made in two orders, odd
                                         names, every digest against sha256sum,
                                         the new payload's mode, a closed
                                         stdout, an interrupt, a full disk

Nothing here depends on the machine's speed: a kill that comes too late to
catch the run in a stage still has to leave a complete new payload.
"""
import fcntl
import hashlib
import os
import pty
import random
import re
import select
import signal
import struct
import subprocess
import tempfile
import termios
import time
import zlib

from pkgmake_harness import PKGMAKE, check, make_big_package, run_case, temps, write


def run(scenario, out, **kw):
    return subprocess.run([PKGMAKE, scenario, out], capture_output=True, timeout=600, **kw)


def base_package(d):
    """A valid package in folder d; returns the scenario text."""
    write(f'{d}/docs/eula_en.hdl', 'Licence <b>terms</b>.')
    write(f'{d}/docs/eula_de.hdl', 'Lizenz.')
    write(f'{d}/docs/eula.idx', 'ENG = "./eula_en.hdl"\nDEU = "./eula_de.hdl"\n')
    write(f'{d}/docs/eng_only.idx', 'ENG = "./eula_en.hdl"\n')
    write(f'{d}/docs/e1.hdl', 'Some words <text a=q>x</text>')
    write(f'{d}/docs/bad.idx', 'ENG = "./e1.hdl"\nDEU = "./eula_de.hdl"\n')
    write(f'{d}/docs/font.hdl', '<text f="courier,12">x</text>')
    write(f'{d}/docs/badfont.idx', 'ENG = "./font.hdl"\nDEU = "./eula_de.hdl"\n')
    write(f'{d}/files/tool.sh', '#!/bin/sh\necho tool\n')
    write(f'{d}/files/My Data/notes ü.txt', 'notes\n')
    return ('[General]\nlangs = ENG DEU\n'
            '[Software]\ncodename = "demo"\nname = "Demo"\nversion = "1.2"\n'
            'eula = "docs/eula.idx"\n'
            '[Strings]\nENG.menu = "Start"\nDEU.menu = "Starten"\n'
            '[Install]\n"files/tool.sh" = $pgm "bin/tool", 755\n'
            '"files/My Data" = $pgm "data"\n')


def errors():
    with tempfile.TemporaryDirectory() as d:
        good = base_package(d)
        lines = good.count('\n')
        # (code, text appended to the valid scenario or replacing it, the
        # line it fails on or None, what the message must also say)
        n = lines + 1  # the first appended line, counted from 1
        cases = [
            (2, '[general]\n', n, []),
            (3, '[General]x\n', n, []),
            (4, '# c\nlangs = ENG\n', 2, [], 'replace'),
            (5, '[Software]\nnome = "y"\n', n + 1, []),
            (6, '[Software]\nname "y"\n', n + 1, []),
            (7, '[Strings]\nx = "a" b\n', n + 1, []),
            (7, '[Menu]\n$nothere = $pgm "a", $pgm "b"\n', n + 1, ['$nothere is not defined for ENG']),
            (8, '[Settings]\n"x" = d, "-1"\n', n + 1, []),
            (9, '# only comments\n', None, [], 'replace'),
            (10, '[General]\nlangs = ENG\n', None, [], 'replace'),
            (11, '[General]\nlangs = ENG\n[Software]\ncodename = "c"\n', None, [], 'replace'),
            (12, '[General]\nlangs = ENG RUS\n[Software]\ncodename="c"\neula="docs/eula.idx"\n', 5,
             ['licence agreement (eula) has no RUS text'], 'replace'),
            (13, '[Software]\nwelcome = "docs/eng_only.idx"\n', n + 1, ['welcome document has no DEU text']),
            (14, '[Software]\nreadme = "docs/eng_only.idx"\n', n + 1, ['readme document has no DEU text']),
            (15, '[Strings]\nENG.only = "x"\n', n + 1, ['string id "only" is not defined for DEU', 'DEU.only']),
            (16, '[Strings]\nRUS.x = "y"\n', n + 1, []),
            (17, '[Strings]\nENG. = "y"\n', n + 1, []),
            (18, '[Software]\nversion = "2"\n', n + 1, []),
            (19, '[Software]\nwelcome = "docs/bad.idx"\n', n + 1, ['e1.hdl: line 1, column 22: bad align']),
            (20, '[Software]\nreadme = "docs/badfont.idx"\n', n + 1, ['font.hdl: line 1, column 22: bad font face name']),
            (21, '[Software]\neula = "docs/missing.idx"\n', n + 1, ['missing.idx', 'Unable to open index']),
            (23, '[Run]\n"L" = $pgm "../escape"\n', n + 1, ['sub path "../escape" is absolute or climbs']),
            (23, '[Run]\n"L" = $pgm\n', n + 1, ['quoted sub path after the base folder is missing']),
            (23, '[Run]\n"L" = $nowhere "x"\n', n + 1, ['$nowhere is not defined for ENG']),
            (23, '[Install]\n"files/tool.sh" = $pgm "bin/..", 755\n', n + 1,
             ['the sub path "bin/.." names no file below its base folder: give the file a name inside it']),
            (24, '[Install]\nx86."files/tool.sh" = $pgm "a"\n', n + 1, []),
            (25, "[Install]\n'files/tool.sh' = $pgm \"a\"\n", n + 1, []),
            (26, '[Install]\n"files/absent" = $pgm "a"\n', n + 1, ['cannot read "files/absent"']),
            (27, '[Install]\n"files/tool.sh" = $pgm "a", 75\n', n + 1, []),
            (28, '[Strings]\npgm = "/tmp"\n', n + 1, []),
            (29, '[Software]\nversion = "1.65536"\n', n + 1, []),
            (30, '#' + 'x' * 5000 + '\n', n, []),
            (32, '[Strings]\nx = "a\0b"\n', n + 1, []),
            (33, '[Software]\ncodename = "my tool/../x"\n', n + 1, ['"my tool/../x": use 1 to 64 letters']),
        ]
        seen = set()
        for case in cases:
            code, text, line, extra = case[:4]
            body = text if len(case) > 4 else good + text
            scen = f'{d}/s{code}.txt'
            write(scen, body)
            r = run(scen, f'{d}/out.data')
            err = r.stderr.decode('utf-8', 'replace')
            where = f'line {line}: ' if line else ''
            head = f'error: {scen}: {where}'
            check(r.returncode == 1, f'code {code}: exit {r.returncode}: {err}')
            check(err.startswith(head) and err.split('\n')[0].endswith(f'(code {code})'),
                  f'code {code}: first line {err!r}, wanted {head!r}...(code {code})')
            check(line is not None or 'line' not in err.split('\n')[0], f'code {code}: a line where none is: {err!r}')
            for want in extra:
                check(want in err, f'code {code}: {want!r} not in {err!r}')
            check(not os.path.exists(f'{d}/out.data'), f'code {code}: an output was written')
            seen.add(code)
        # Code 1: no file, and no line.
        r = run(f'{d}/absent.txt', f'{d}/out.data')
        err = r.stderr.decode()
        check(r.returncode == 1 and err == f'error: {d}/absent.txt: the scenario file cannot be opened (code 1)\n'
              f'  {os.strerror(2)}\n', f'code 1: {err!r}')
        # A link back into a folder being packed is left out, named; the
        # rest is packed.
        os.makedirs(f'{d}/loop/inner')
        os.symlink('..', f'{d}/loop/inner/back')
        write(f'{d}/loop/inner/f.txt', 'f')
        write(f'{d}/s31.txt', good + '[Install]\n"loop" = $pgm "t"\n')
        r = run(f'{d}/s31.txt', f'{d}/out.data')
        err = r.stderr.decode()
        check(r.returncode == 0 and err.startswith(
            'warning: loop/inner/back: skipped (symbolic link back into a folder being packed)\n') and
            b'-> <folder>/t/inner/f.txt\n' in r.stdout, f'link back: {r.returncode} {err!r}')
        os.remove(f'{d}/out.data')
        # Code 31: the same folder met again by a bind mount, which only root
        # can make.
        os.makedirs(f'{d}/bound/again')
        if subprocess.run(['mount', '--bind', f'{d}/bound', f'{d}/bound/again'], capture_output=True).returncode:
            print('errors: no bind mount could be made; code 31 is not tried')
        else:
            try:
                write(f'{d}/s31.txt', good + '[Install]\n"bound" = $pgm "t"\n')
                r = run(f'{d}/s31.txt', f'{d}/out.data')
                check(r.returncode == 1 and r.stderr.decode().startswith(f'error: {d}/s31.txt: line {n + 1}: ') and
                      b'(code 31)' in r.stderr, f'code 31: {r.stderr!r}')
            finally:
                subprocess.run(['umount', f'{d}/bound/again'])
        seen |= {1, 31}
        missing = sorted(set(range(1, 34)) - {22} - seen)
        check(not missing, f'codes without a case: {missing}')


# Every form a font takes in a document, in English and Russian: each face
# by its prefix, height alone, height and width, the style letters, and the
# bold and italic tags inside and outside font boxes.
FONT_DOC = {
    'en': ('<text f="luci">Lucida</text> <text f="verd,20">Verdana</text> <text f="kor,16,6">Korean</text>'
           '<text f="chi,14,5,b">Chinese</text><text f="twn,15,6,i">Taiwan</text>'
           '<text f="std,13,5,bi">both</text><text f="fixed,12,7,u">under</text>'
           '<text f="STD,18,7,BIU">all</text> plain <b>bold</b> <i>italic</i> <b><i>both</i></b>'
           '<text f="verd,20"><b>heavy</b></text>'),
    'ru': ('<text f="verd,20">Добро</text> <text f="std,13,5,b">пожаловать</text> '
           '<i>курсив</i> <b>жирный</b>'),
}


def font_entries():
    """The font table the compiler must make, by the rules of the markup:
    (face, width, height, style bits) in order of first use."""
    entries = []

    def add(e):
        if e not in entries:
            entries.append(e)
    w = lambda h: int(h * 5 / 13 + 0.5)
    bold_w = lambda width: int(width * 1.1 + 0.5)
    # English, in document order: font boxes first give their own entry;
    # styled words their word entry.
    add((4, 5, 13, 0)); add((3, w(20), 20, 0)); add((2, 6, 16, 0))
    add((5, 5, 14, 1)); add((5, bold_w(5), 14, 1))          # box, then its word (bold)
    add((6, 6, 15, 2)); add((6, 6, 15, 2))                   # box and its italic word
    add((0, 5, 13, 3)); add((0, bold_w(5), 13, 3))
    add((1, 7, 12, 4)); add((1, 7, 12, 4))
    add((0, 7, 18, 7)); add((0, bold_w(7), 18, 7))
    add((0, bold_w(5), 13, 1)); add((0, 5, 13, 2)); add((0, bold_w(5), 13, 3))
    add((3, bold_w(w(20)), 20, 1))
    # Russian: only what is new.
    add((0, 5, 13, 1)); add((0, bold_w(5), 13, 1))
    add((0, 5, 13, 2))
    return entries


def fonts():
    faces = {0: 'Tahoma', 1: 'Courier New', 2: 'Malgun Gothic', 3: 'Verdana', 4: 'Lucida Sans',
             5: 'Microsoft YaHei', 6: 'PMingLiU'}
    with tempfile.TemporaryDirectory() as d:
        write(f'{d}/docs/w_en.hdl', FONT_DOC['en'])
        write(f'{d}/docs/w_ru.hdl', FONT_DOC['ru'])
        write(f'{d}/docs/w.idx', 'ENG = "./w_en.hdl"\nRUS = "./w_ru.hdl"\n')
        write(f'{d}/f.txt', 'x')
        write(f'{d}/s.txt', '[General]\nlangs = ENG RUS\n[Software]\ncodename = "fonts"\n'
              'welcome = "docs/w.idx"\neula = "docs/w.idx"\n[Install]\n"f.txt" = $pgm "f.txt"\n')
        r = run(f'{d}/s.txt', f'{d}/out.data')
        out = r.stdout.decode()
        check(r.returncode == 0, f'fonts: exit {r.returncode}: {r.stderr!r}')
        line = [l for l in out.split('\n') if l.startswith('document welcome:')]
        check(len(line) == 1, f'fonts: no welcome line in {out!r}')
        if not line:
            return
        want = []
        for face, width, height, style in font_entries():
            names = ''.join(n for bit, n in ((1, ' bold'), (2, ' italic'), (4, ' underline')) if style & bit)
            want.append(f'{faces[face]} {width}x{height}{names}')
        got = line[0].split(', fonts: ', 1)[-1]
        check(', languages: ENG RUS, fonts: ' in line[0], f'fonts: languages in {line[0]!r}')
        check(got == ', '.join(want), f'fonts: got\n  {got}\nwanted\n  {", ".join(want)}')
        check(out.endswith('ok\n'), 'fonts: no ok')


def run_on_pty(args, until, sig, columns=250, env=None):
    """Runs args on a terminal of the given width; sends sig (None: no
    signal) once the output matches until (a regex), or at once when until
    is None.  Returns (exit status, output)."""
    master, slave = pty.openpty()
    fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack('HHHH', 24, columns, 0, 0))
    p = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=slave, stderr=slave, close_fds=True, env=env)
    os.close(slave)
    out = b''
    sent = sig is None
    if not sent and until is None:
        p.send_signal(sig)
        sent = True
    deadline = time.monotonic() + 600
    while time.monotonic() < deadline:
        ready, _, _ = select.select([master], [], [], 1.0)
        if ready:
            try:
                chunk = os.read(master, 65536)
            except OSError:
                break
            if not chunk:
                break
            out += chunk
            if not sent and re.search(until, out.decode('utf-8', 'replace')):
                p.send_signal(sig)
                sent = True
        elif p.poll() is not None:
            break
    rc = p.wait(timeout=600)
    os.close(master)
    return rc, out.decode('utf-8', 'replace')


def kill():
    with tempfile.TemporaryDirectory() as d:
        make_big_package(d, 1)
        out = f'{d}/payload.data'
        r = run(f'{d}/s.txt', out)
        check(r.returncode == 0, f'kill: first build failed: {r.stderr!r}')
        old = open(out, 'rb').read()
        # A new version of the package, and its payload made elsewhere.
        write(f'{d}/big/text0.txt', b'changed ' * 1000)
        r = run(f'{d}/s.txt', f'{d}/reference.data')
        check(r.returncode == 0, 'kill: reference build failed')
        new = open(f'{d}/reference.data', 'rb').read()
        check(new != old, 'kill: the new payload is the old one')
        # A packing line below 100% is drawn while the body is deflated.
        packing = r'packing: items [^\r]*, \d\d?%'
        stages = [(None, signal.SIGKILL), (None, signal.SIGTERM),
                  (packing, signal.SIGTERM), (packing, signal.SIGKILL),
                  (packing, signal.SIGINT), (r'verifying: items', signal.SIGTERM),
                  (r'verifying: items', signal.SIGKILL)]
        caught = 0
        for until, sig in stages:
            with open(out, 'wb') as f:
                f.write(old)
            rc, text = run_on_pty([PKGMAKE, f'{d}/s.txt', out], until, sig)
            now = open(out, 'rb').read()
            what = f'kill at {until or "start"} with {sig.name}'
            if rc == 0:
                # It finished before the signal came: the new payload, whole.
                check(now == new, f'{what}: finished, but the payload is not the new one')
            else:
                # Read back before it is put in place: killed while packing
                # or verifying, the old payload stays.
                check(rc == -sig, f'{what}: exit {rc}: {text[-300:]!r}')
                # Killed before the new payload was complete: the old one
                # byte for byte.  A signal that came only after the new
                # payload took its place finds it whole.
                late = until is not None and now == new
                check(now == old or late, f'{what}: the old payload is not left byte for byte')
                caught += now == old
            check(not temps(d, 'payload.data'), f'{what}: temporary files left: {temps(d, "payload.data")}')
        print(f'kill: {caught} of {len(stages)} runs killed before the new payload was in place')
        # A failing build leaves the old payload too.
        with open(out, 'wb') as f:
            f.write(old)
        write(f'{d}/bad.txt', open(f'{d}/s.txt').read() + '"big/absent" = $pgm "x"\n')
        r = run(f'{d}/bad.txt', out)
        check(r.returncode == 1 and open(out, 'rb').read() == old, 'kill: a failed build touched the payload')
        check(not temps(d, 'payload.data'), 'kill: a failed build left a temporary file')


LINE = re.compile(r'^(packing|verifying): items \d+/\d+, read [0-9.]+ (B|KiB|MiB) of [0-9.]+ (B|KiB|MiB), '
                  r'(written [0-9.]+ (B|KiB|MiB)|inflated .*, checked .*), (\d+)%, '
                  r'(\d+ s left|\d+ min \d+ s left|time left unknown)$')


def progress():
    with tempfile.TemporaryDirectory() as d:
        make_big_package(d, 2)
        # To a pipe: plain lines, at most about one a second, the last of each
        # stage at 100%.
        start = time.monotonic()
        r = run(f'{d}/s.txt', f'{d}/p.data')
        took = time.monotonic() - start
        out = r.stdout.decode()
        check(r.returncode == 0, f'progress: exit {r.returncode}')
        check('\r' not in out and '\x1b' not in out, 'progress: terminal codes in a pipe')
        lines = [l for l in out.split('\n') if l.startswith(('packing', 'verifying'))]
        for stage in ('packing', 'verifying'):
            mine = [l for l in lines if l.startswith(stage)]
            check(mine and LINE.match(mine[-1]) and LINE.match(mine[-1]).group(6) == '100',
                  f'progress: last {stage} line {mine[-1:]}')
            percents = [int(LINE.match(l).group(6)) for l in mine if LINE.match(l)]
            check(len(percents) == len(mine), f'progress: malformed {stage} lines {mine}')
            check(percents == sorted(percents), f'progress: {stage} goes backwards {percents}')
        check(len(lines) <= took + 3, f'progress: {len(lines)} lines in {took:.1f} s')
        # On a terminal: one line redrawn in place, ended by a newline.
        rc, text = run_on_pty([PKGMAKE, f'{d}/s.txt', f'{d}/t.data'], None, None)
        text = text.replace('\r\n', '\n')
        check(rc == 0, 'progress: terminal run failed')
        for stage in ('packing', 'verifying'):
            row = [l for l in text.split('\n') if stage + ':' in l]
            check(len(row) == 1, f'progress: {stage} not on one line: {row}')
            if row:
                draws = [s.replace('\x1b[K', '') for s in row[0].split('\r') if s]
                check(all(LINE.match(s) for s in draws), f'progress: malformed redraws {draws[:3]}')
                shares = [int(LINE.match(s).group(6)) for s in draws if LINE.match(s)]
                check(shares == sorted(shares), f'progress: {stage} goes backwards on the terminal {shares}')
                check(draws and draws[-1].endswith(('0 s left',)) and ', 100%,' in draws[-1],
                      f'progress: {stage} does not end at 100%: {draws[-1:]}')
        # Narrower terminals, told by the terminal itself or (when it does
        # not say) by $COLUMNS: every draw one column short of the width,
        # still on one row; the parts in the middle go first.
        short = re.compile(r'^(packing|verifying): items \d+(/\d+)?(, [^,]+)*, \d+%, '
                           r'(\d+ s left|\d+ min \d+ s left|time left unknown)$')
        for columns, env in ((80, None), (60, {**os.environ, 'COLUMNS': '60'}), (40, None)):
            width = columns
            if env:
                columns = 0  # a terminal that does not tell its size
            rc, text = run_on_pty([PKGMAKE, f'{d}/s.txt', f'{d}/t{width}.data'], None, None, columns, env)
            text = text.replace('\r\n', '\n')
            check(rc == 0, f'progress: {width} columns: exit {rc}')
            for stage in ('packing', 'verifying'):
                row = [l for l in text.split('\n') if stage + ':' in l]
                check(len(row) == 1, f'progress: {width} columns: {stage} on {len(row)} rows')
                draws = [x.replace('\x1b[K', '') for x in row[0].split('\r') if x] if row else []
                check(draws and all(len(x) <= width - 1 for x in draws),
                      f'progress: {width} columns: {stage} draws of {[len(x) for x in draws]}')
                if width >= 60:
                    check(all(short.match(x) for x in draws), f'progress: {width} columns: {draws[:2]}')


def display(name):
    """The one-line form of a name: printable ASCII and valid UTF-8 from
    U+00A0 stay, a backslash doubles, tab, newline and carriage return get
    their letters, separators, direction marks and every other byte \\xHH."""
    out, i = [], 0
    hidden = {0x200E, 0x200F, 0x2028, 0x2029} | set(range(0x202A, 0x202F)) | set(range(0x2066, 0x206A))
    while i < len(name):
        c = name[i]
        if 0x20 <= c < 0x7F:
            out.append('\\\\' if c == 0x5C else chr(c))
            i += 1
            continue
        for n in (2, 3, 4):
            try:
                ch = name[i:i + n].decode('utf-8')
            except UnicodeDecodeError:
                continue
            if len(ch) == 1 and ord(ch) >= 0xA0 and ord(ch) not in hidden:
                out.append(ch)
                i += n
                break
        else:
            out.append({9: '\\t', 10: '\\n', 13: '\\r'}.get(c, '\\x%02x' % c))
            i += 1
    return ''.join(out)


def listing(stdout):
    """{destination as shown: (size, digest)} from the item lines."""
    items = {}
    for m in re.finditer(r'^  #\d+ (\d+) bytes sha256 ([0-9a-f]{64}) -> (.*)$', stdout, re.M):
        items[m.group(3)] = (int(m.group(1)), m.group(2))
    return items


def sha256sum(paths):
    """sha256sum's digest of each path (bytes), by the Debian tool itself."""
    out = subprocess.run(['sha256sum', '-z', '--'] + paths, capture_output=True, check=True).stdout
    digests = {}
    for rec in out.split(b'\0'):
        if rec:
            digest, _, path = rec.partition(b'  ')
            digests[path] = digest.decode()
    return digests


def odd_tree(root, reverse):
    """Thousands of files with odd names, made in one order or its reverse.
    Returns the relative paths (bytes) of the regular files."""
    r = random.Random(5)
    names = [b'plain.txt', b'line\nbreak', b'tab\there', b'\xff\xfe invalid', b'caf\xc3\xa9', b'back\\slash',
             b'x' * 255, b'\xe2\x80\xaeevil.txt', b'-dash', b' space ', b'quote"s']
    files = [b'top/' + n for n in names]
    for i in range(2400):
        files.append(b'many/%02d/file%04d.%s' % (i % 37, i, r.choice([b'txt', b'bin', b'dat'])))
    files.append(b'big/random.bin')
    if reverse:
        files.reverse()
    rb = os.fsencode(root)
    for f in files:
        p = os.path.join(rb, f)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, 'wb') as fh:
            fh.write(r.randbytes(3 * 1024 * 1024) if f == b'big/random.bin' else f * (1 + len(f) % 7))
    os.symlink(b'../top/plain.txt', os.path.join(rb, b'many/link-to-plain'))
    os.symlink(b'../top', os.path.join(rb, b'many/link-to-top'))
    return sorted(files) + [b'many/link-to-plain'] + [b'many/link-to-top/' + n for n in names]


def packager():
    with tempfile.TemporaryDirectory() as d:
        scen_text = base_package(d)
        scen = f'{d}/s.txt'
        write(scen, scen_text)

        # An output over an input: refused before anything is written, both
        # paths named, the input left byte for byte.
        os.symlink(f'{d}/files/tool.sh', f'{d}/link-to-tool')
        os.link(f'{d}/docs/eula_de.hdl', f'{d}/hard-eula')
        over = [(scen, scen, 'the scenario'), (f'{d}/docs/eula.idx', None, 'a document source'),
                (f'{d}/docs/eula_en.hdl', None, 'a document source'),
                (f'{d}/hard-eula', f'{d}/docs/eula_de.hdl', 'a document source'),
                (f'{d}/files/tool.sh', None, 'a file to pack'),
                (f'{d}/link-to-tool', f'{d}/files/tool.sh', 'a file to pack'),
                (f'{d}/files/My Data/notes ü.txt', None, 'a file to pack')]
        for out, named, kind in over:
            named = named or out
            before = {p: open(p, 'rb').read() for p in (named,) if os.path.isfile(p)}
            r = run(scen, out)
            err = r.stderr.decode()
            check(r.returncode == 1, f'over {out}: exit {r.returncode}')
            check(f'error: the output {out} is {kind} {named}' in err, f'over {out}: {err!r}')
            check(all(open(p, 'rb').read() == b for p, b in before.items()), f'over {out}: the input changed')
        # A folder is no output at all, whatever it holds.
        r = run(scen, f'{d}/files/My Data')
        check(r.returncode == 1 and r.stderr.decode() == f'error: the output {d}/files/My Data is a folder, not a '
              'regular file: choose another output\n', f'over the folder: {r.stderr!r}')
        inside = f'{d}/files/My Data/new.data'
        r = run(scen, inside)
        check(r.returncode == 1 and f'the output {inside} lies inside a folder to pack {d}/files/My Data' in
              r.stderr.decode(), f'inside: {r.stderr!r}')
        check(not os.path.exists(inside) and sorted(os.listdir(f'{d}/files/My Data')) == ['notes ü.txt'],
              'inside: something was written')

        # A pipe, a folder and a device as the scenario: refused at once.
        os.mkfifo(f'{d}/fifo.txt')
        for bad in (f'{d}/fifo.txt', f'{d}/docs', '/dev/zero'):
            r = run(bad, f'{d}/never.data')
            check(r.returncode == 1 and r.stderr.decode() == f'error: {bad}: not a regular file\n',
                  f'scenario {bad}: {r.returncode} {r.stderr!r}')
        check(not os.path.exists(f'{d}/never.data'), 'a refused scenario wrote an output')

        # What the walk leaves out is named with why, and counted; the exit
        # code stays 0 and everything else is packed.
        t = f'{d}/files/My Data'
        os.symlink('nowhere', f'{t}/dangling')
        os.symlink('loop-b', f'{t}/loop-a')
        os.symlink('loop-a', f'{t}/loop-b')
        os.mkfifo(f'{t}/pipe')
        os.makedirs(f'{t}/empty/')
        os.symlink('/dev/null', f'{t}/null')
        import socket
        sock = socket.socket(socket.AF_UNIX)
        sock.bind(f'{t}/sock')
        r = run(scen, f'{d}/walk.data')
        sock.close()
        err = r.stderr.decode()
        check(r.returncode == 0, f'walk: exit {r.returncode} {err!r}')
        rel = 'files/My Data'
        want = [f'warning: {rel}/dangling: skipped (dangling symbolic link)',
                f'warning: {rel}/empty: skipped (empty folder)',
                f'warning: {rel}/loop-a: skipped (symbolic link loop)',
                f'warning: {rel}/loop-b: skipped (symbolic link loop)',
                f'warning: {rel}/null: skipped (device)',
                f'warning: {rel}/pipe: skipped (FIFO)',
                f'warning: {rel}/sock: skipped (socket)',
                'warning: 7 entries of the Install folders skipped: only regular files are packed']
        check(err.splitlines() == want, f'walk: {err!r}')

        # A menu icon that no item installs is warned about, in the
        # languages that lack it; installed, it is not.
        write(f'{d}/m.txt', scen_text + '[Menu]\n$menu = $pgm "bin/tool", $pgm "share/icon.png"\n')
        r = run(f'{d}/m.txt', f'{d}/m.data')
        check(r.returncode == 0 and f'warning: {d}/m.txt: the menu entry "Start" has its icon at '
              '<folder>/share/icon.png, which no item installs\n' in r.stderr.decode(), f'menu: {r.stderr!r}')
        write(f'{d}/files/icon.png', b'\x89PNG')
        write(f'{d}/m.txt', scen_text + '"files/icon.png" = $pgm "share/icon.png", , DEU\n'
              '[Menu]\n$menu = $pgm "bin/tool", $pgm "share/icon.png"\n')
        r = run(f'{d}/m.txt', f'{d}/m.data')
        check(r.returncode == 0 and 'icon.png, which no item installs (in ENG)\n' in r.stderr.decode(),
              f'menu in ENG: {r.stderr!r}')
        write(f'{d}/m.txt', scen_text + '"files/icon.png" = $pgm "share/icon.png"\n'
              '[Menu]\n$menu = $pgm "bin", $pgm "share/icon.png"\n')
        r = run(f'{d}/m.txt', f'{d}/m.data')
        check(r.returncode == 0 and 'no item installs' not in r.stderr.decode(), f'menu installed: {r.stderr!r}')

        # The same odd tree made in two orders, on the disk and in memory:
        # the same payload byte for byte; the listing shows every name on
        # one line, and every digest is sha256sum's.
        write(f'{d}/docs/e.hdl', 'Licence.')
        write(f'{d}/docs/e.idx', 'ENG = "./e.hdl"\n')
        roots = [f'{d}/tree1', f'{d}/tree2']
        mem = tempfile.mkdtemp(dir='/dev/shm') if os.access('/dev/shm', os.W_OK) else None
        if mem:
            roots += [f'{mem}/tree1', f'{mem}/tree2']
        try:
            payloads = []
            for i, root in enumerate(roots):
                files = odd_tree(root, i % 2 == 1)
                write(f'{d}/t{i}.txt', '[General]\nlangs = ENG\n[Software]\ncodename = "odd"\n'
                      f'eula = "docs/e.idx"\n[Install]\n"{root}" = $pgm "t"\n')
                r = run(f'{d}/t{i}.txt', f'{d}/t{i}.data')
                check(r.returncode == 0, f'odd tree {root}: exit {r.returncode} {r.stderr[-300:]!r}')
                payloads.append(open(f'{d}/t{i}.data', 'rb').read())
                if i == 0:
                    items = listing(r.stdout.decode('utf-8', 'replace'))
                    digests = sha256sum([os.path.join(os.fsencode(root), f) for f in files])
                    check(len(items) == len(files), f'odd tree: {len(items)} items for {len(files)} files')
                    for f in files:
                        shown = '<folder>/t/' + display(f)
                        got = items.get(shown)
                        size = os.path.getsize(os.path.join(os.fsencode(root), f))
                        want = (size, digests[os.path.join(os.fsencode(root), f)])
                        if got != want:
                            check(False, f'odd tree: {shown!r}: {got} wanted {want}')
                            break
                    check(all('\r' not in k and '\x1b' not in k for k in items), 'odd tree: a raw control in a name')
            check(all(p == payloads[0] for p in payloads), f'odd tree: payloads differ across {roots}')
            print(f'packager: {len(roots)} trees of {len(files)} files, payloads identical')
        finally:
            if mem:
                subprocess.run(['rm', '-rf', mem])

        # A new payload gets the mode the creation mask gives; an existing
        # one keeps its own.
        for mask, mode in ((0o022, 0o644), (0o077, 0o600), (0o002, 0o664)):
            out = f'{d}/mode{mask:o}.data'
            old = os.umask(mask)
            try:
                r = run(scen, out)
            finally:
                os.umask(old)
            check(r.returncode == 0 and os.stat(out).st_mode & 0o7777 == mode,
                  f'umask {mask:o}: mode {os.stat(out).st_mode & 0o7777:o}')
        os.chmod(f'{d}/mode22.data', 0o640)
        old = os.umask(0o022)
        run(scen, f'{d}/mode22.data')
        os.umask(old)
        check(os.stat(f'{d}/mode22.data').st_mode & 0o7777 == 0o640, 'an existing payload lost its mode')

        # A reader that has gone away (as `| head -1` does after its line):
        # exit 4, the payload complete and verified.  The pipe's reading end
        # is closed before pkgmake starts, so that its first line already
        # meets the closed pipe; a reader that left after a line would race
        # with the pipe's buffer, which may take the whole output.
        reference = open(f'{d}/walk.data', 'rb').read()
        rd, wr = os.pipe()
        os.close(rd)
        try:
            rc = subprocess.run([PKGMAKE, scen, f'{d}/head.data'], stdout=wr, stderr=subprocess.DEVNULL,
                                timeout=600).returncode
        finally:
            os.close(wr)
        check(rc == 4, f'closed stdout: exit {rc}')
        check(open(f'{d}/head.data', 'rb').read() == reference, 'closed stdout: the payload is not complete')

        # The last packing line comes when the payload is in its place: the
        # moment it can be read, the file is there, whole.
        make_big_package(f'{d}/big', 3)
        p = subprocess.Popen([PKGMAKE, '--no-check', f'{d}/big/s.txt', f'{d}/placed.data'], stdout=subprocess.PIPE)
        placed = None
        for raw_line in p.stdout:
            if raw_line.startswith(b'packing: ') and b' 100%, ' in raw_line:
                placed = os.path.getsize(f'{d}/placed.data') if os.path.exists(f'{d}/placed.data') else -1
            m = re.match(rb'payload: .*, (\d+) bytes\n', raw_line)
            if m:
                check(placed == int(m.group(1)), f'last line before the payload was in place: {placed} of {m.group(1)}')
        check(p.wait(timeout=600) == 0 and placed is not None, 'last line: the run failed or showed no 100%')

        # Interrupted on a terminal while packing: the progress line is
        # ended before the signal takes its course.
        rc, text = run_on_pty([PKGMAKE, f'{d}/big/s.txt', f'{d}/big.data'], r'packing: items [^\r]*, \d\d?%',
                              signal.SIGINT)
        check(rc in (-signal.SIGINT, 0), f'interrupt: exit {rc}')
        check(text.endswith('\n'), f'interrupt: the line is left open: {text[-80:]!r}')

        # A full disk: exit 2, the old payload untouched, nothing left.
        disk = f'{d}/small'
        os.makedirs(disk)
        if subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=2m', 'tmpfs', disk],
                          capture_output=True).returncode != 0:
            print('packager: no small file system could be mounted; the full disk is not tried')
            return
        try:
            write(f'{disk}/full.data', b'old payload')
            r = run(f'{d}/big/s.txt', f'{disk}/full.data')
            check(r.returncode == 2, f'full disk: exit {r.returncode} {r.stderr!r}')
            check(open(f'{disk}/full.data', 'rb').read() == b'old payload', 'full disk: the old payload changed')
            check(os.listdir(disk) == ['full.data'], f'full disk: left {os.listdir(disk)}')
        finally:
            subprocess.run(['umount', disk])


def losses():
    with tempfile.TemporaryDirectory() as d:
        base = base_package(d)
        os.makedirs(f'{d}/files/bin')
        for name, mode in (('run', 0o755), ('go', 0o700), ('readme', 0o644)):
            write(f'{d}/files/bin/{name}', name)
            os.chmod(f'{d}/files/bin/{name}', mode)
        scen = f'{d}/s\tx.txt'
        shown = display(os.fsencode(scen))
        lines = base.splitlines()
        n = len(lines)  # the first added line is n + 1
        version = lines.index('version = "1.2"') + 1
        name = lines.index('name = "Demo"') + 1
        tool = lines.index('"files/tool.sh" = $pgm "bin/tool", 755') + 1
        notes = 'files/My Data/notes ü.txt'
        # (what is added, or (old line, new line) to replace, the warnings
        # after "warning: <scenario>: ")
        cases = [
            ('', []),
            (f'"files/tool.sh" = $pgm "same.txt"\n"{notes}" = $pgm "./same.txt"\n',
             [f'line {n + 2}: {notes} and files/tool.sh (line {n + 1}) are both installed as <folder>/same.txt: '
              'one of them is lost']),
            # The same bytes with the same mode lose nothing; another mode does.
            ('"files/tool.sh" = $pgm "./bin/tool", 755\n"files/tool.sh" = $pgm "bin/tool", 700\n',
             [f'line {n + 1}: files/tool.sh and files/tool.sh (line {tool}) are both installed as <folder>/bin/tool '
              'with the same bytes and mode: it is packed twice',
              f'line {n + 2}: files/tool.sh and files/tool.sh (line {tool}) are both installed as <folder>/bin/tool: '
              'one of them is lost']),
            # A folder line over a file line: the file of the folder meets it.
            ('"files/tool.sh" = $pgm "d/notes ü.txt", , ENG\n"files/My Data" = $pgm "d"\n',
             [f'line {n + 2}: {notes} and files/tool.sh (line {n + 1}) are both installed as <folder>/d/notes ü.txt: '
              'one of them is lost']),
            ('"files/bin" = $pgm "bin"\n"files/bin" = $pgm "bin2", 750\n"files/bin/run" = $pgm "r"\n',
             [f'line {n + 1}: 2 files are executable (the first: files/bin/go), but the line gives no permission '
              'digits: they are recorded without a mode (give digits such as 755)',
              f'line {n + 3}: files/bin/run is executable, but the line gives no permission digits: it is recorded '
              'without a mode (give digits such as 755)']),
            (('version = "1.2"', 'version = "1.2.3.4.5.6"'),
             [f'line {version}: the version "1.2.3.4.5.6" is read as 1.2.3.4: ".5.6" is dropped (a version has at '
              'most four parts)']),
            ('[Software]\nname = "Other"\n',
             [f'line {n + 2}: "name" is given again (first on line {name}): the earlier value is dropped']),
        ]
        for added, want in cases:
            text = base.replace(*added) if isinstance(added, tuple) else base + added
            write(scen, text)
            r = run(scen, f'{d}/out.data')
            err = r.stderr.decode('utf-8', 'replace').splitlines()
            check(r.returncode == 0 and r.stdout.endswith(b'ok\n'), f'losses {added!r}: exit {r.returncode} {err}')
            check(err == [f'warning: {shown}: {w}' for w in want], f'losses {added!r}: {err}')


run_case({'errors': errors, 'fonts': fonts, 'kill': kill, 'progress': progress, 'losses': losses,
          'packager': packager})
