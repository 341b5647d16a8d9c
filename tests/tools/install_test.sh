#!/bin/sh
# The installed package: the README's host program built with pkg-config and the installed fpxconv convert a
# corpus file, the libraries found through their rpaths. Arguments: build, source and corpus folders, C compiler,
# flags. Exits 77 (skipped) without the corpus.
set -eu
build=$1 source=$2 corpus=$3 cc=$4 cflags=${5:-}
fail() { echo "install test: $*" >&2; exit 1; }
[ -f "$corpus/rose_rgb.fpx" ] || { echo "corpus not found at $corpus"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in include/kxfpx/filter.h share/man/man1/fpxconv.1; do # the programs and setup.h: used below
    [ -f "$prefix/$f" ] || fail "$f is not installed"
done
PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name kxfpx.pc)")
export PKG_CONFIG_PATH
filter=$(pkg-config --variable=filter kxfpx) # the libraries beside it: the runs below load them

# The host program of the README, built and run as the README shows.
sed -n '/^```c$/,/^```$/p' "$source/README.md" | sed '1d;$d' >"$work/myhost.c"
cd "$work"
# shellcheck disable=SC2046,SC2086
$cc $cflags myhost.c -o myhost $(pkg-config --cflags --libs kxfpx)
env -u LD_LIBRARY_PATH ./myhost "$filter" "$corpus/rose_rgb.fpx" host.png >/dev/null
env -u LD_LIBRARY_PATH "$prefix/bin/fpxconv" -q "$corpus/rose_rgb.fpx" fpxconv.png
/usr/bin/python3 - "$corpus/rose_rgb.expected.png" host.png fpxconv.png <<'PY'
import sys
from PIL import Image
want = Image.open(sys.argv[1]).convert("RGB").tobytes()
for path in sys.argv[2:]:
    if Image.open(path).convert("RGB").tobytes() != want:
        sys.exit(path + " differs from " + sys.argv[1])
PY
env -u LD_LIBRARY_PATH "$prefix/bin/fpxwrite" --synthetic 64x48 small.fpx >/dev/null
[ "$("$prefix/bin/fpxconv" --info small.fpx)" = "small.fpx: 64 x 48, 24 bits per pixel" ] ||
    fail "the installed fpxconv does not describe the installed fpxwrite's file"
echo "installed package: OK"
