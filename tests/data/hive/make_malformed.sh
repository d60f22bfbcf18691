#!/bin/sh
# Makes the damaged hive files under malformed/ (run from this folder).
# Fuzzer finds are added beside them as they come.
set -eu
cd "$(dirname "$0")/malformed"
printf 'QORC' > magic-only
printf 'QORX\0\0\0' > wrong-magic
printf 'QORC\0\0\001\000' > zero-name-field
printf 'QORC\0\0\001\004\0\0\0\0\0\0\0' > empty-name
printf 'QORC\377\377' > value-past-end
printf 'QORC\0\0\002' > bad-tag
python3 -c "open('too-deep','wb').write(b'QORC\0\0' + b'\x01\x04a\0\0\0\0\0' * 600 + b'\0' * 601)"
