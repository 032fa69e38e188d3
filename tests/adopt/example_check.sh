#!/usr/bin/env bash
# An application adopts the installed package, as its documentation says:
#   example_check.sh <build> <source> <toolchain> <swfwrite> <out> <emulator...>
# Installs <build> into a temporary prefix, checks the layout and the version
# file, builds examples/flashform out of tree against the prefix with the
# cross toolchain, runs it under the emulator on a movie compiled here, once
# per back-end, and checks what it prints and the pixels of its snapshot
# (kept in <out> as flashform-<back-end>.bmp).
set -uo pipefail
build=$1 src=$2 toolchain=$3 swfwrite=$4 out=$5
shift 5
emulator=("$@")
here=$(cd "$(dirname "$0")" && pwd)

fail() {
  echo "example_check: $*" >&2
  exit 1
}
# Runs a command quietly; on failure shows its output and stops.
quiet() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; fail "failed: $*"; }
}

mkdir -p "$out"
work=$(mktemp -d "$out/work.XXXXXX") || fail "no temporary folder"
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

quiet "$work/install.log" cmake --install "$build" --prefix "$prefix"
for f in include/korvel/kv_flashplayer.h include/korvel/kv_layer.h include/korvel/kv_flashreg.h \
  include/korvel/kv_package.h include/korvel/kv_flashocx.h include/korvel/npapi/npapi.h \
  include/korvel/framework/forms.h lib/libkorvel.a lib/libkvframework.a \
  lib/cmake/Korvel/KorvelConfig.cmake lib/cmake/Korvel/KorvelConfigVersion.cmake bin/kvrender.exe \
  bin/npswf32.dll bin/Flash.ocx share/doc/korvel_flash/third-party/dejavu-fonts-copyright.txt; do
  [ -f "$prefix/$f" ] || fail "the installed package lacks $f"
done
[ -n "$(find "$prefix/lib/korvel" -name 'korvel.rc.*' 2>/dev/null)" ] ||
  fail "the installed package lacks its resource object under lib/korvel"

# The version file: 0.2 is found, 0.1 and 1.0 are not.
probe=$work/probe
mkdir -p "$probe"
for want in 0.2 0.1 1.0; do
  printf 'cmake_minimum_required(VERSION 3.25)\nproject(probe LANGUAGES NONE)\nfind_package(Korvel %s CONFIG REQUIRED)\nmessage(STATUS "Korvel ${Korvel_VERSION}")\n' \
    "$want" >"$probe/CMakeLists.txt"
  rm -rf "$probe/b"
  if cmake -S "$probe" -B "$probe/b" -DCMAKE_PREFIX_PATH="$prefix" >"$probe/log" 2>&1; then
    [ "$want" = 0.2 ] || fail "find_package(Korvel $want) accepted the package $(grep -o 'Korvel [0-9.]*' "$probe/log")"
    grep -q "Korvel 0.2.0" "$probe/log" || fail "find_package(Korvel 0.2) did not report 0.2.0"
  else
    [ "$want" != 0.2 ] || { cat "$probe/log"; fail "find_package(Korvel 0.2) failed"; }
  fi
done
echo "installed package: layout and version file checked"

# The tree added to an application's project as a subdirectory builds the
# package alone: no reference player, tools, demo, tests or install rules.
sub=$work/subdir
mkdir -p "$sub"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(app LANGUAGES C CXX)\nadd_subdirectory("%s" korvel)\n' \
  "$src" >"$sub/CMakeLists.txt"
quiet "$work/subdir.log" cmake -S "$sub" -B "$sub/b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain"
# What the default target builds: every command it needs.
ninja -C "$sub/b" -t commands all >"$sub/targets" 2>&1 || fail "no command list for the subdirectory build"
grep -q 'korvel/core/libkorvel.a' "$sub/targets" || fail "the subdirectory build lacks the package"
for unwanted in npswf32.dll Flash.ocx kv_demo.exe refplay.exe swfwrite.exe kv_keepalive.exe libgtest.a design_test.exe; do
  ! grep -q "$unwanted" "$sub/targets" || fail "the subdirectory build builds $unwanted"
done
! grep -q KorvelTargets "$sub/b/korvel/cmake_install.cmake" || fail "the subdirectory build installs the package"
echo "the tree as a subdirectory builds the package alone"

# The cross toolchain keeps package searches inside the MinGW root, so the
# package's folder is named directly, as the documentation says.
quiet "$work/configure.log" cmake -S "$src/examples/flashform" -B "$work/example" -G Ninja \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKorvel_DIR="$prefix/lib/cmake/Korvel"
quiet "$work/build.log" cmake --build "$work/example"
echo "example built out of tree against the installed package"
# The package's resources travelled into the program: their names are in its
# resource directory (as UTF-16 text).
python3 - "$work/example/flashform.exe" <<'PY' || fail "the example lacks the package's resources"
import sys
data = open(sys.argv[1], "rb").read()
missing = [n for n in ("FLVPLAYBACK", "CLEAROVERALL", "STEELOVERALL", "MOJAVEOVERALL", "ARCTICOVERALL",
                       "TKVFLASHPLAYER", "TKVLAYERWINDOW") if n.encode("utf-16-le") not in data]
if missing:
    sys.exit("missing resources: " + " ".join(missing))
PY

quiet "$work/swfwrite.log" "$swfwrite" "$here/flashform_movie.txt" "$work/movie.swf"
# The installed reference player's plug-in library, where the package looks
# first: beside the program. The control is registered by the test session.
cp "$prefix/bin/npswf32.dll" "$work/example/" || fail "no plug-in library in $prefix/bin"

# The installed renderer finds the installed plug-in library beside itself.
quiet "$work/kvrender.log" "${emulator[@]}" "$prefix/bin/kvrender.exe" "Z:$work/movie.swf" --goto --frames 1 \
  --plugin netscape --out "Z:$work/frames"
[ -s "$work/frames/movie-00000.png" ] || fail "the installed kvrender wrote no frame"
echo "the installed kvrender renders with the installed plug-in library"

status=0
for backend in netscape activex; do
  snapshot=$out/flashform-$backend.bmp
  rm -f "$snapshot"
  echo "== flashform --plugin $backend"
  "${emulator[@]}" "$work/example/flashform.exe" "Z:$work/movie.swf" --plugin "$backend" \
    --snapshot "Z:$snapshot" >"$work/run.log" 2>&1
  rc=$?
  tr -d '\r' <"$work/run.log" | tee "$work/run.txt"
  ((rc == 0)) || { echo "exit status $rc"; status=1; continue; }
  expect() {
    grep -qF -- "$1" "$work/run.txt" || { echo "missing from the output: $1"; status=1; }
  }
  expect "fscommand started flashform"
  # The control sends its own typed request; the plug-in's route passes
  # every argument as a string (and names the return type in capitals).
  if [ "$backend" = activex ]; then
    expect 'flashcall <invoke name="greet" returntype="xml"><arguments><string>world</string><number>42</number></arguments></invoke>'
  else
    expect 'flashcall <invoke name="greet" returntype="XML"><arguments><string>world</string><string>42</string></arguments></invoke>'
  fi
  expect "fscommand answer hello from flashform"
  expect "label FSCommand answer(hello from flashform)"
  python3 "$here/check_snapshot.py" "$snapshot" || status=1
done
exit $status
