"""What the pkgmake test scripts share: the program and the case named on
the command line (<pkgmake> <case>), the failures found, and how a script
runs its case and reports."""
import os
import sys

PKGMAKE = os.path.abspath(sys.argv[1])
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


def run_case(cases):
    """Runs the case MODE names among cases (name -> function) and exits 1
    when any check failed."""
    cases[MODE]()
    if FAILS:
        print(f'{len(FAILS)} failures')
        sys.exit(1)
    print('ok')
