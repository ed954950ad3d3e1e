#!/bin/sh
# Runs tubefit-search on every shipped example and on the real measured sets, one line per set.
#
#   tools/search_sets.sh BUILD_DIR WORK_DIR [REALDATA_DIR] [-- tubefit-search options]
#
# Each set is prepared in its own folder under WORK_DIR (created; existing set folders are replaced): the
# examples as shipped (with their hand-over parameter files), the real sets from REALDATA_DIR (default
# shared/realdata one or two levels above the source tree): ECC83, 6SN7 and EL34 as T and X (Pmax 1, 5 and 25 W), and
# the ECF80 pentode section (ecf80_vs040 to ecf80_vs160, ecf80_Triode.par as Triode.par, Pmax 5 W) as P
# with Koren, Nolt, NoltE and NoltI and as B with Nolt, NoltE and NoltI. SETS (environment) limits the run
# to the named sets.
set -eu
build=$(cd "$1" && pwd)
work=$2
shift 2
src=$(cd "$(dirname "$0")/.." && pwd)
real=$src/../shared/realdata
[ -d "$real" ] || real=$src/../../shared/realdata
if [ $# -gt 0 ] && [ "$1" != "--" ]; then real=$1; shift; fi
[ $# -gt 0 ] && [ "$1" = "--" ] && shift
options="$*"
mkdir -p "$work"
work=$(cd "$work" && pwd)

wanted() {
  [ -z "${SETS:-}" ] && return 0
  for s in $SETS; do [ "$s" = "$1" ] && return 0; done
  return 1
}

# ini NAME TUBE FAMILY PMAX FILE...: a run configuration with gnuplot replaced by /bin/true.
ini() {
  name=$1 tube=$2 family=$3 pmax=$4
  shift 4
  {
    echo "/bin/true"
    echo "$#"
    for f in "$@"; do echo "$f"; done
    echo "$tube"
    echo "$family"
    echo "$pmax"
    echo "0.0"
  } >"$work/$name/Model.ini"
}

run() {
  # shellcheck disable=SC2086
  (cd "$work/$1" && "$build/tubefit-search" Model.ini --name "$1" $options)
}

for example in diode triode pentode_x pentode beam_tetrode varmu hexode_y pentode_g3; do
  wanted "$example" || continue
  rm -rf "${work:?}/$example"
  cp -r "$src/examples/$example" "$work/$example"
  sed -i '1s|.*|/bin/true|' "$work/$example"/*.ini
  run "$example"
done

for t in T X; do
  for tube in ecc83:ecc83_table:1.0 6sn7:6sn7_table:5.0 el34:el34_strapped:25.0; do
    name=${tube%%:*}_$t
    wanted "$name" || continue
    rest=${tube#*:}
    rm -rf "${work:?}/$name"
    mkdir -p "$work/$name"
    cp "$real/${rest%%:*}.utd" "$work/$name/"
    ini "$name" "$t" Koren "${rest#*:}" "${rest%%:*}"
    run "$name"
  done
done

ecf80="ecf80_vs040 ecf80_vs060 ecf80_vs080 ecf80_vs100 ecf80_vs120 ecf80_vs140 ecf80_vs160"
for set in P:Koren P:Nolt P:NoltE P:NoltI B:Nolt B:NoltE B:NoltI; do
  name=ecf80_${set%%:*}_${set#*:}
  wanted "$name" || continue
  rm -rf "${work:?}/$name"
  mkdir -p "$work/$name"
  for f in $ecf80; do cp "$real/$f.utd" "$work/$name/"; done
  cp "$real/ecf80_Triode.par" "$work/$name/Triode.par"
  # shellcheck disable=SC2086
  ini "$name" "${set%%:*}" "${set#*:}" 5.0 $ecf80
  run "$name"
done
