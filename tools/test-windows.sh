#!/bin/sh
# Tests the Windows build under Wine (`make test-windows`; .ci/run calls it):
#   1. the whole test suite, tubefit_tests.exe, with the noise-free examples made by the Linux build;
#   2. every configuration of every example, with and without "Minimiser = lm", run by the Linux tubefit and
#      by tubefit.exe under Wine in fresh copies of the folder: every file written must be the same bytes,
#      and the console the same apart from its elapsed-time line.
#   tools/test-windows.sh LINUX_BUILD WINDOWS_BUILD [suite|examples]   (both without the third argument)
# Wine runs in its own prefix, ${WINEPREFIX:-$HOME/.cache/tubefit-win/wine}; its first start takes a while.
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
export WINEPREFIX=${WINEPREFIX:-$HOME/.cache/tubefit-win/wine}
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "Starting Wine in $WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true

part=${3:-both}
if [ "$part" != examples ]; then
  echo "The test suite under Wine"
  bash "$top/tools/make_examples.sh" "$linux" "$scratch/noise_free" --noise-free >/dev/null 2>&1
  TUBEFIT_NOISE_FREE="Z:$scratch/noise_free" "$wine" "$windows/tubefit_tests.exe" --gtest_brief=1 </dev/null
fi
[ "$part" = suite ] && exit 0

echo "Every example, Linux against Windows"
failed=0
compared=0
for folder in "$top"/examples/*/; do
  example=$(basename "$folder")
  for config in "$folder"*.ini; do
    config=$(basename "$config")
    for minimiser in powell lm; do
      for system in linux windows; do
        dir="$scratch/$example-$config-$minimiser/$system"
        mkdir -p "$dir"
        cp "$folder"* "$dir"/
        rm -f "$dir/README.md"
        # gnuplot is not started; the plot files and scripts are still written.
        sed -i '1s|.*|none\r|' "$dir/$config"
        [ "$minimiser" = lm ] && printf 'Minimiser = lm\r\n' >>"$dir/$config"
        if [ "$system" = linux ]; then
          (cd "$dir" && "$linux/tubefit" "$config" </dev/null >../console.$system 2>&1) || true
        else
          (cd "$dir" && "$wine" "$windows/tubefit.exe" "$config" </dev/null >../console.$system 2>&1) || true
        fi
        grep -v '^ Elapsed time:' "$dir/../console.$system" >"$dir/../console.$system.kept" || true
      done
      run="$scratch/$example-$config-$minimiser"
      compared=$((compared + 1))
      if ! cmp -s "$run/console.linux.kept" "$run/console.windows.kept" || ! diff -r "$run/linux" "$run/windows" >/dev/null; then
        failed=$((failed + 1))
        echo "DIFFERS: $example $config $minimiser"
        diff "$run/console.linux.kept" "$run/console.windows.kept" | head -n 20 || true
        diff -r "$run/linux" "$run/windows" | head -n 20 || true
      else
        echo "same: $example $config $minimiser ($(ls "$run/linux" | wc -l) files)"
      fi
    done
  done
done
echo "$((compared - failed)) of $compared example runs give the same console and files on Linux and under Wine."
[ "$failed" = 0 ]
