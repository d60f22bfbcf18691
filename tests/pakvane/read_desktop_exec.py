"""read_desktop_exec.py <list> <folder>: reads the Exec key of each desktop
entry of <list> (lines "<helper> <entry>") as the Desktop Entry
Specification 1.5 says a launcher does, strict where it says "must", and
prints in hexadecimal the words the program finally gets, each ended by a
NUL, or "bad: <why>".  The helper is plain (the program is started), gksudo
or kdesudo (given the command to split as a shell does) or shell ("bash -c"
runs xhost, then sudo); the shells are bash, run in <folder> with xhost and
sudo as functions that print their words.
"""
import subprocess
import sys

RESERVED = set(' \t\n"\'\\><~|&;$*?#()`')
ESCAPES = {'s': ' ', 'n': '\n', 't': '\t', 'r': '\r', '\\': '\\'}


class Bad(Exception):
    pass


def string_value(raw):
    out, i = '', 0
    while i < len(raw):
        if raw[i] == '\\' and raw[i + 1:i + 2] not in ESCAPES or ord(raw[i]) < 0x20:
            raise Bad(f'string escape or control character at {raw[i:i + 2]!r}')
        out, i = (out + ESCAPES[raw[i + 1]], i + 2) if raw[i] == '\\' else (out + raw[i], i + 1)
    return out


def exec_arguments(line):
    args, i, n = [], 0, len(line)
    while i < n:
        if line[i] == ' ':
            i += 1
            continue
        arg, quoted = '', line[i] == '"'
        i += quoted
        while i < n and (quoted or line[i] != ' '):
            c = line[i]
            if quoted and c == '"':
                quoted, i = None, i + 1
                break
            if quoted and c == '\\':
                if line[i + 1:i + 2] not in ('"', '`', '$', '\\'):
                    raise Bad(f'quoted escape {line[i:i + 2]!r}')
                c, i = line[i + 1], i + 1
            elif c in '`$' or (not quoted and c in RESERVED):
                raise Bad(f'reserved {c!r} unescaped')
            elif c == '%':
                if line[i + 1:i + 2] != '%':
                    raise Bad(f'field code {line[i:i + 2]!r}')
                i += 1
            arg, i = arg + c, i + 1
        if quoted or (quoted is None and i < n and line[i] != ' '):
            raise Bad('a quote that does not end, or is followed by more')
        args.append(arg)
    return args


def words(helper, entry, folder):
    keys = [l[5:] for l in open(entry, encoding='utf-8').read().split('\n') if l.startswith('Exec=')]
    if len(keys) != 1:
        raise Bad(f'{len(keys)} Exec keys')
    argv = exec_arguments(string_value(keys[0]))
    if helper == 'plain':
        return b''.join(a.encode() + b'\0' for a in argv)
    if argv[:-1] != (['bash', '-c'] if helper == 'shell' else [helper]):
        raise Bad(f'argv {argv!r}')
    prelude = 'w() { printf "%s\\0" "$@"; }; xhost() { w xhost "$@"; }; sudo() { w sudo "$@"; }; '
    r = subprocess.run(['bash', '-c', prelude + (argv[-1] if helper == 'shell' else 'w ' + argv[-1])], cwd=folder,
                       capture_output=True, env={'PATH': '/usr/bin:/bin', 'HOME': '/nonexistent-home'}, timeout=60)
    if r.returncode != 0:
        raise Bad(f'bash: exit {r.returncode}: {r.stderr!r}')
    return r.stdout


for line in open(sys.argv[1], encoding='utf-8').read().splitlines():
    try:
        print(words(*line.split(' ', 1), sys.argv[2]).hex())
    except Bad as e:
        print(f'bad: {e}')
