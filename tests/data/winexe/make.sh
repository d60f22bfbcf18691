#!/bin/sh
# Builds the Windows executables of the property-reader tests with the
# mingw-w64 cross tools and records what independent tools read from them:
#   sh tests/data/winexe/make.sh   (from the source tree's top)
# Needs: gcc-mingw-w64-x86-64, gcc-mingw-w64-i686, icoutils, python3-pil,
# libimage-exiftool-perl.  The icon pixels follow iconpixel() below, which
# the tests compute again.
set -e
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work" <<'PY'
import sys
from PIL import Image
out = sys.argv[1]
def iconpixel(x, y, n):
    # x, y from the top-left corner; opaque, a different colour per size.
    return ((x * 255) // (n - 1), (y * 255) // (n - 1), (n * 5) & 255, 255)
for n in (16, 32, 48, 256):
    im = Image.new("RGBA", (n, n))
    im.putdata([iconpixel(x, y, n) for y in range(n) for x in range(n)])
    im.save(f"{out}/icon{n}.png")
PY
# 16, 32 and 48 as 32-bit bitmaps, 256 stored as PNG.
icotool -c -o "$work/app.ico" "$work/icon16.png" "$work/icon32.png" "$work/icon48.png" -r "$work/icon256.png"
icotool -c -o "$work/small.ico" "$work/icon16.png" "$work/icon32.png"

cat > "$work/full.rc" <<'RC'
#include <winver.h>
1 ICON "app.ico"
LANGUAGE 0x09, 0x01
STRINGTABLE { 1, "Hello" 2, "World" }
LANGUAGE 0x07, 0x01
STRINGTABLE { 1, "Hallo" 2, "Welt" }
LANGUAGE 0x09, 0x01
1 VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 5,6,7,8
FILEOS 0x40004
FILETYPE 0x1
{
  BLOCK "StringFileInfo"
  {
    BLOCK "040704b0"
    {
      VALUE "CompanyName", "Example Ltd"
      VALUE "FileDescription", "Werkzeug zum Testen"
      VALUE "FileVersion", "1.2.3.4"
      VALUE "LegalCopyright", "Copyright \xa9 2024 Example"
      VALUE "ProductName", "Qor Probe"
      VALUE "ProductVersion", "5.6.7.8"
    }
    BLOCK "040904b0"
    {
      VALUE "CompanyName", "Example Ltd"
      VALUE "FileDescription", "Test tool \xfc\xe9"
      VALUE "FileVersion", "1.2.3.4"
      VALUE "LegalCopyright", "Copyright \xa9 2024 Example"
      VALUE "ProductName", "Qor Probe"
      VALUE "ProductVersion", "5.6.7.8 beta"
    }
  }
  BLOCK "VarFileInfo" { VALUE "Translation", 0x407, 1200, 0x409, 1200 }
}
RC

cat > "$work/descr.rc" <<'RC'
#include <winver.h>
1 ICON "small.ico"
1 VERSIONINFO
FILEVERSION 9,8,7,6
PRODUCTVERSION 9,8,7,6
{
  BLOCK "StringFileInfo"
  {
    BLOCK "040904e4"
    {
      VALUE "FileDescription", "Only a description"
      VALUE "FileVersion", "9.8.7.6"
      VALUE "CompanyName", "   "
    }
  }
}
RC

cat > "$work/main.c" <<'C'
int main(void) { return 0; }
C
cat > "$work/dll.c" <<'C'
__declspec(dllexport) int probe(int x) { return x + 1; }
C

build() {  # prefix rc source output extra-flags
  (cd "$work" && "$1-windres" -c 1252 "$2" -O coff -o "$4.res")
  "$1-gcc" -O1 -s "$work/$3" "$work/$4.res" -o "$4" $5
}
build x86_64-w64-mingw32 full.rc main.c full64.exe "-Wl,--insert-timestamp"
build i686-w64-mingw32 full.rc dll.c full32.dll "-shared -Wl,--insert-timestamp"
build i686-w64-mingw32 descr.rc main.c descr32.exe "-Wl,--no-insert-timestamp"
build x86_64-w64-mingw32 descr.rc dll.c descr64.dll "-shared -Wl,--insert-timestamp"
rm -f ./*.res

# What the independent tools read (exiftool reads the first string table
# only, so both tables agree on the keys it is compared on) from the files.
for f in full64.exe full32.dll descr32.exe descr64.dll; do
  prefix=x86_64-w64-mingw32
  case $f in *32.*) prefix=i686-w64-mingw32 ;; esac
  TZ=UTC "$prefix-objdump" -p "$f" | grep -m1 '^Time/Date' | sed 's/^Time\/Date[[:space:]]*//' > "${f%.*}.objdump-time.txt"
done
exiftool -j -n -ProductName -FileDescription -CompanyName -LegalCopyright -ProductVersion -FileVersion \
  -TimeStamp -d '%Y-%m-%d %H:%M:%S' full64.exe full32.dll descr32.exe descr64.dll > exiftool.json
