#!/bin/sh
# The installed package is relocatable: install the build tree into one
# prefix, move the prefix, build the outside consumer (consumer/) against
# the moved copy and run its platform program, which draws text; install the
# consumer into the prefix, move it again and run the installed program.
#
#   relocate.sh <build tree> <consumer source> <work folder> <compile flags>
set -eu
build=$1 src=$2 work=$3 flags=$4
rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$work/first" >/dev/null
test -f "$work/first/share/qor/fonts.conf"
# The exported package names the outside libraries by their imported targets,
# found again where it is used: no absolute path of this machine.
if grep -nE '[";]/[A-Za-z]' "$work/first/lib/cmake/qor/"qorTargets*.cmake; then
  echo "the exported targets carry absolute paths" >&2
  exit 1
fi
mv "$work/first" "$work/moved"
cmake -S "$src" -B "$work/app" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$work/moved" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/app" >/dev/null

# Built beside the package, the program finds no fonts.conf of its own: the
# configuration built into the library maps the faces.
out=$("$work/app/qor-platform-consumer")
echo "$out"
echo "$out" | grep -qx "configuration: built-in"

# Installed into the prefix, it reads the prefix's fonts.conf, wherever the
# prefix has been moved to.
cmake --install "$work/app" --prefix "$work/moved" >/dev/null
mv "$work/moved" "$work/again"
out=$("$work/again/bin/qor-platform-consumer")
echo "$out"
echo "$out" | grep -qx "configuration: $work/again/bin/../share/qor/fonts.conf"
echo ok
