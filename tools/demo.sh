#!/bin/sh
# Runs a complete triode fit on the example data in a scratch folder, so the repository stays clean.
set -e
tubefit=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
top=$(cd "$(dirname "$0")/.." && pwd)
scratch="$top/scratch/demo"
rm -rf "$scratch"
mkdir -p "$scratch"
cp "$top"/examples/triode/* "$scratch"/
cd "$scratch"
gnuplot=$(command -v gnuplot || true)
if [ -z "$gnuplot" ]; then
  echo "gnuplot is not installed: the plot files are written, but no plot is shown."
  gnuplot=/bin/true
fi
sed -i "1s|.*|$gnuplot|" Model.ini
if [ -n "${DISPLAY:-}" ] && [ "$gnuplot" != /bin/true ]; then
  "$tubefit" Model.ini
else
  # No display: let gnuplot render the plots to PNG files instead of a window.
  [ "$gnuplot" != /bin/true ] && printf 'PlotPng = 1\r\n' >>Model.ini
  "$tubefit" Model.ini </dev/null
fi
echo
echo "Demo run finished in $scratch"
echo "  subcircuit: $(ls "$scratch"/*.cir | tr '\n' ' ')"
echo "  plot files: $(ls "$scratch"/*.plt "$scratch"/*.dat "$scratch"/*.fit 2>/dev/null | tr '\n' ' ')"
images=$(ls "$scratch"/*.png 2>/dev/null | tr '\n' ' ')
[ -n "$images" ] && echo "  images:     $images"
exit 0
