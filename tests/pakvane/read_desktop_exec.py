"""Reads the Exec key of desktop entries back, as the Desktop Entry
Specification (version 1.5, "The Exec key" and "Possible value types")
says a launcher reads it, and then as the program it names reads what it is
given:

    read_desktop_exec.py <list> <folder>

<list> holds lines "<helper> <entry file>", the helper one of plain (the
program is started itself), gksudo and kdesudo (the helper is given the
command as one argument, which it splits as a shell does) and shell ("bash
-c" is given a script that runs xhost, then the command under sudo).  For
each entry one line is printed: the words the program finally gets, each
ended by a NUL byte, in hexadecimal; or "bad: <why>" when the key breaks a
rule.  The shell's words are bash's own, run in <folder> with xhost and sudo
as functions that print their words: anything a path makes bash run shows
as words that differ, or as a file made in <folder>.

Strict where the specification says "must": an unknown string escape, a
reserved character outside quotes, an unescaped '`' or '$' or a backslash
before anything but '"', '`', '$' or '\\' inside quotes, a '%' that is no
"%%" (no field code is written by the writer under test).
"""
import os
import subprocess
import sys

RESERVED = set(' \t\n"\'\\><~|&;$*?#()`')
STRING_ESCAPES = {'s': ' ', 'n': '\n', 't': '\t', 'r': '\r', '\\': '\\'}


class Bad(Exception):
    pass


def string_value(raw):
    """The value of a key of type string, its escapes undone."""
    out, i = [], 0
    while i < len(raw):
        c = raw[i]
        if c == '\\':
            if i + 1 >= len(raw) or raw[i + 1] not in STRING_ESCAPES:
                raise Bad(f'string escape {raw[i:i + 2]!r}')
            out.append(STRING_ESCAPES[raw[i + 1]])
            i += 2
        else:
            if ord(c) < 0x20:
                raise Bad(f'control character {c!r} in a string value')
            out.append(c)
            i += 1
    return ''.join(out)


def field_codes(arg):
    out, i = [], 0
    while i < len(arg):
        if arg[i] == '%':
            if arg[i + 1:i + 2] != '%':
                raise Bad(f'field code {arg[i:i + 2]!r}')
            out.append('%')
            i += 2
        else:
            out.append(arg[i])
            i += 1
    return ''.join(out)


def exec_arguments(line):
    args, i, n = [], 0, len(line)
    while i < n:
        if line[i] == ' ':
            i += 1
            continue
        arg = []
        if line[i] == '"':
            i += 1
            while True:
                if i >= n:
                    raise Bad('a quote that does not end')
                c = line[i]
                if c == '"':
                    i += 1
                    break
                if c == '\\':
                    if line[i + 1:i + 2] not in ('"', '`', '$', '\\'):
                        raise Bad(f'quoted escape {line[i:i + 2]!r}')
                    arg.append(line[i + 1])
                    i += 2
                    continue
                if c in '`$':
                    raise Bad(f'unescaped {c!r} inside quotes')
                arg.append(c)
                i += 1
            if i < n and line[i] != ' ':
                raise Bad('characters right after a closing quote')
        else:
            while i < n and line[i] != ' ':
                if line[i] in RESERVED:
                    raise Bad(f'reserved {line[i]!r} outside quotes')
                arg.append(line[i])
                i += 1
        args.append(field_codes(''.join(arg)))
    return args


def bash_words(script, folder):
    prelude = ('w() { printf "%s\\0" "$@"; }; '
               'xhost() { printf "%s\\0" xhost "$@"; }; sudo() { printf "%s\\0" sudo "$@"; }; ')
    r = subprocess.run(['bash', '-c', prelude + script], cwd=folder, capture_output=True,
                       env={'PATH': '/usr/bin:/bin', 'HOME': '/nonexistent-home'}, timeout=60)
    if r.returncode != 0:
        raise Bad(f'bash: exit {r.returncode}: {r.stderr!r}')
    return r.stdout


def words(helper, path, folder):
    with open(path, encoding='utf-8') as f:
        lines = [l for l in f.read().split('\n') if l.startswith('Exec=')]
    if len(lines) != 1:
        raise Bad(f'{len(lines)} Exec keys')
    argv = exec_arguments(string_value(lines[0][5:]))
    if helper == 'plain':
        return b''.join(a.encode() + b'\0' for a in argv)
    if helper in ('gksudo', 'kdesudo'):
        if len(argv) != 2 or argv[0] != helper:
            raise Bad(f'argv {argv!r}')
        return bash_words('w ' + argv[1], folder)
    if len(argv) != 3 or argv[:2] != ['bash', '-c']:
        raise Bad(f'argv {argv!r}')
    return bash_words(argv[2], folder)


def main():
    folder = sys.argv[2]
    with open(sys.argv[1], encoding='utf-8') as f:
        for line in f.read().splitlines():
            helper, path = line.split(' ', 1)
            try:
                print(words(helper, path, folder).hex())
            except Bad as e:
                print(f'bad: {e}')


main()
