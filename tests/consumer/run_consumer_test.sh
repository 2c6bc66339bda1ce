#!/usr/bin/env bash
# Installs a built Korvex into a scratch prefix and checks it as its users meet it: the file
# set, the korvex command and Python module run from the prefix, and one program built through
# find_package(Korvex) and through pkg-config. KORVEX_PYTHON names the interpreter the module
# was built for; without it (a build without the module) the module is not checked.
set -euo pipefail

[[ $# -ge 3 && $# -le 4 ]] ||
  { echo "usage: $0 <build-dir> <source-dir> <scratch-dir> [<c++ compiler>]" >&2; exit 2; }
build_dir=$1 source_dir=$2 scratch=$3 cxx=${4:-g++}
fail() { echo "FAIL: $*" >&2; exit 1; }
# Nothing from the caller's environment may redirect the install or the look-ups elsewhere.
unset DESTDIR PKG_CONFIG_SYSROOT_DIR LD_LIBRARY_PATH

rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd -P)
prefix=$scratch/prefix
project=$source_dir/tests/consumer/project

cmake --install "$build_dir" --prefix "$prefix"

pc_files=$(find "$prefix" -name korvex.pc)
[[ -n $pc_files && $(wc -l <<<"$pc_files") -eq 1 ]] || fail "expected one korvex.pc, found: '$pc_files'"
pc_dir=$(dirname "$pc_files")
pkgconf() { PKG_CONFIG_PATH=$pc_dir pkg-config "$@" korvex; }

libdir=$(pkgconf --variable=libdir)
[[ $libdir == "$prefix"/* ]] || fail "korvex.pc libdir '$libdir' is not inside $prefix"

soname=$(readelf -d "$libdir/libkorvex.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $soname =~ ^libkorvex\.so\.([0-9]+)$ ]] || fail "unexpected SONAME '$soname'"
major=${BASH_REMATCH[1]}
[[ -L $libdir/libkorvex.so ]] || fail "libkorvex.so is not a symlink"
[[ -L $libdir/$soname ]] || fail "$soname is not a symlink"
real=$(readlink -f "$libdir/libkorvex.so")
[[ $(readlink -f "$libdir/$soname") == "$real" && -f $real &&
   $(basename "$real") =~ ^libkorvex\.so\.$major\.[0-9]+\.[0-9]+$ ]] ||
  fail "libkorvex.so and $soname do not lead to one libkorvex.so.$major.x.y ($real)"

# Exactly the public headers with the engine's member-family files they include (and
# korvex/version.h, generated from project()), nothing from src/.
expected=$( (cd "$source_dir/include" && find korvex -type f \( -name '*.h' -o -name '*.inc' \)
             echo korvex/version.h) |
  LC_ALL=C sort)
installed=$(cd "$prefix/include" && find . -mindepth 1 ! -type d | sed 's|^\./||' | LC_ALL=C sort)
if [[ $installed != "$expected" ]]; then
  diff <(echo "$expected") <(echo "$installed") >&2 || true
  fail "installed headers differ from include/korvex (< expected, > installed)"
fi
stray=$(find "$prefix" -name raster)
[[ -z $stray ]] || fail "internal files installed: $stray"

# Where the dynamic loader finds libkorvex for a program (must be the prefix).
check_links_prefix() {
  local resolved
  resolved=$(ldd "$1" | awk '$1 ~ /^libkorvex\.so/ && $3 != "not" { print $3 }')
  [[ -n $resolved && $(readlink -f "$resolved") == "$real" ]] ||
    fail "$1 loads libkorvex from '${resolved:-nowhere}', not $libdir"
}

# The korvex command and the Python module find the library installed beside them through
# their own run path: no LD_LIBRARY_PATH, no system folder.
cli=$(find "$prefix" -type f -name korvex -perm -u+x)
[[ -n $cli && $(wc -l <<<"$cli") -eq 1 ]] || fail "expected one installed korvex, found: '$cli'"
check_links_prefix "$cli"
version=$("$cli" --version) || fail "installed '$cli --version' failed"
[[ $version =~ ^korvex\ [0-9]+\.[0-9]+ ]] || fail "unexpected version line '$version'"
png=$scratch/photo.png
"$cli" -LoadFromFile "$source_dir/samples/photo.jpg" -SaveAsPng "$png" ||
  fail "the installed korvex could not turn samples/photo.jpg into a PNG"
[[ $(head -c 8 "$png" | od -An -tx1 | tr -d ' \n') == 89504e470d0a1a0a ]] || fail "$png is not a PNG"

# The service modules (printing, downloads, PDF pages, metafiles) sit in the library folder's korvex/,
# and the installed command loads them from there on first use, through their own run path.
for module in korvex_print korvex_net korvex_pdfrender korvex_metafile; do
  [[ -f $libdir/korvex/$module.so ]] || fail "$module.so is not installed in $libdir/korvex"
  ! ldd "$libdir/korvex/$module.so" | grep -q "not found" || fail "$module.so misses a library"
  ! ldd "$libdir/korvex/$module.so" | grep -q libkorvex ||
    check_links_prefix "$libdir/korvex/$module.so"
done
loaded=$(LD_DEBUG=files "$cli" -PrintGetPrintersCount 2>&1 >/dev/null |
  sed -n 's/.*file=\(.*korvex_print\.so\) .*generating link map.*/\1/p')
[[ -n $loaded && $(readlink -f "$loaded") == $(readlink -f "$libdir/korvex/korvex_print.so") ]] ||
  fail "the installed korvex loaded '${loaded:-no print module}' for the printer list"

if [[ -n ${KORVEX_PYTHON:-} ]]; then
  module=$(find "$prefix" -type f -name 'korvex*.so' -path '*-packages/*')
  [[ -n $module && $(wc -l <<<"$module") -eq 1 ]] || fail "expected one Python module, found: '$module'"
  check_links_prefix "$module"
  # From the scratch folder, so only PYTHONPATH can lead to a module named korvex.
  (cd "$scratch" && PYTHONPATH=$(dirname "$module") "$KORVEX_PYTHON" -s - "$module" <<'PY'
import sys
import korvex
assert korvex.__file__ == sys.argv[1], f"imported {korvex.__file__}, not {sys.argv[1]}"
e = korvex.cKorvex()
assert (e.CreateImage(8, 6, 24), e.GetWidth(), e.GetHeight()) == (0, 8, 6)
assert e.PrintGetPrintersCount() >= 1
prefix = sys.argv[1][:sys.argv[1].index("/lib/python")]
maps = [line.split()[-1] for line in open("/proc/self/maps") if "korvex_print.so" in line]
assert maps and all(m.startswith(prefix + "/") for m in maps), f"print module from {maps}"
PY
  ) || fail "the installed Python module does not import and run"
else
  echo "== no Python module in this build: not checked"
fi

cmake -S "$project" -B "$scratch/build-cmake" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF \
  -DKORVEX_REQUEST_VERSION="$major"
korvex_dir=$(sed -n 's/^Korvex_DIR:[A-Z]*=//p' "$scratch/build-cmake/CMakeCache.txt")
[[ $(readlink -f "$korvex_dir") == "$prefix"/* ]] || fail "found Korvex in '$korvex_dir', not in $prefix"
cmake --build "$scratch/build-cmake"
# No LD_LIBRARY_PATH: CMake gives a program linked to an imported library outside the system
# folders a build-tree RPATH to it, which a CMake user running a fresh build relies on.
check_links_prefix "$scratch/build-cmake/korvex_consumer"
"$scratch/build-cmake/korvex_consumer"

read -r -a pc_flags <<<"$(pkgconf --cflags --libs)"
# The .pc cannot carry the language level; its users ask for C++20 themselves.
"$cxx" -std=c++20 "$project/main.cpp" "${pc_flags[@]}" -o "$scratch/korvex_consumer_pc"
# A -L/-l link records no path to the library: a private prefix is found through LD_LIBRARY_PATH.
export LD_LIBRARY_PATH=$libdir
check_links_prefix "$scratch/korvex_consumer_pc"
"$scratch/korvex_consumer_pc"

echo "consumer_install: OK"
