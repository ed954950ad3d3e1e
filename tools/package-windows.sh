#!/bin/sh
# Packs the Windows build into dist/tubefit-<version>-win64.zip (`make windows` calls it):
#   tubefit.exe, README-Windows.txt (a quick start), examples\<folder>\ with a run.bat each, and licences\
#   with the licence texts of every library linked into tubefit.exe (Ceres Solver, Eigen, the GCC runtime
#   libraries libstdc++ and libgcc, the mingw-w64 runtime and winpthreads).
#   tools/package-windows.sh BUILD_DIR
# The version is the one tubefit --version prints (kVersion in src/core/run_state.h).
set -eu

build=$1
top=$(cd "$(dirname "$0")/.." && pwd)
cache=${TUBEFIT_WIN_CACHE:-$HOME/.cache/tubefit-win}
version=$(sed -n 's/^constexpr float kVersion = \([0-9.]*\)f;.*/\1/p' "$top/src/core/run_state.h")
version=$(printf '%.3f' "$version")
name=tubefit-$version-win64
stage="$top/dist/$name"
rm -rf "$stage" "$top/dist/$name.zip"
mkdir -p "$stage/examples" "$stage/licences"

# Text files for Windows users get CRLF line ends (Notepad of Windows 10 reads LF too, older ones do not).
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }

# Without its symbol table: a third of the size.
x86_64-w64-mingw32-strip -o "$stage/tubefit.exe" "$build/tubefit.exe"
crlf "$top/tools/windows/README-Windows.txt" "$stage/README-Windows.txt"
for folder in "$top"/examples/*/; do
  example=$(basename "$folder")
  mkdir -p "$stage/examples/$example"
  for file in "$folder"*; do
    case "$file" in
      *.md) crlf "$file" "$stage/examples/$example/$(basename "$file" .md).txt" ;;
      # gnuplot is named bare on line 1, so it is found on the PATH or where its installer puts it.
      *.ini) sed '1s|.*|gnuplot                   ! gnuplot.exe on the PATH or in C:\\Program Files\\gnuplot\\bin\r|' \
        "$file" >"$stage/examples/$example/$(basename "$file")" ;;
      *) cp "$file" "$stage/examples/$example/" ;;
    esac
  done
  printf '@echo off\r\nrem Fits the %s example: runs tubefit.exe on Model.ini in this folder.\r\ncd /d "%%~dp0"\r\n"%%~dp0..\\..\\tubefit.exe" Model.ini\r\npause\r\n' \
    "$example" >"$stage/examples/$example/run.bat"
done

cp "$cache/prefix/LICENSE-ceres-solver.txt" "$stage/licences/Ceres-Solver.txt"
cp /usr/share/doc/libeigen3-dev/copyright "$stage/licences/Eigen.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licences/GCC-runtime-libstdc++-libgcc.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/licences/mingw-w64-runtime-winpthreads.txt"
for file in "$stage"/licences/*.txt; do crlf "$file" "$file.crlf" && mv "$file.crlf" "$file"; done

(cd "$top/dist" && zip -qr -9 "$name.zip" "$name")
echo "Windows package: dist/$name.zip ($(wc -c <"$top/dist/$name.zip") bytes)"
