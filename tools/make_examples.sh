#!/bin/bash
# Regenerates the example folders under examples/ (all but examples/triode, which has its own README) from
# known model parameters with tubefit-synth, and runs the prerequisite fits that produce the hand-over files
# (Triode.par, Triode_g3.par, Penthode.par) that the chained examples ship.
#
#   tools/make_examples.sh BUILD_DIR [OUT_DIR] [--noise-free]
#
# BUILD_DIR holds the built tubefit and tubefit-synth. OUT_DIR defaults to the repository's examples/.
# --noise-free writes the same curves without noise (still quantised to 0.01 mA) and skips the hand-over
# runs; the end-to-end tests use it to check that the fitted parameters come back.
# The output is deterministic: the noise is seeded and the fits are repeatable.
set -euo pipefail

build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
out=${2:-$top/examples}
noise_free=0
[ "${3:-}" = "--noise-free" ] && noise_free=1
synth="$build/tubefit-synth"
tubefit="$build/tubefit"
mkdir -p "$out"
out=$(cd "$out" && pwd)

# synth FOLDER MODEL FILE NOISE SEED ARGS...: one measurement file.
synth() {
  local folder=$1 model=$2 file=$3 noise=$4 seed=$5
  shift 5
  [ "$noise_free" = 1 ] && noise=0
  "$synth" "$model" "$out/$folder/$file.utd" "$@" --noise "$noise" --seed "$seed"
}

# ini FOLDER NAME LINE...: a configuration file with CRLF line ends.
ini() {
  local folder=$1 name=$2
  shift 2
  printf '%s\r\n' "$@" >"$out/$folder/$name"
}

# Runs a configuration of FOLDER in a scratch copy of it and copies the named result files back.
handover() {
  local folder=$1 config=$2
  shift 2
  local scratch
  scratch=$(mktemp -d)
  cp "$out/$folder"/* "$scratch"/
  sed -i "1s|.*|/bin/true|" "$scratch/$config"
  (cd "$scratch" && "$tubefit" "$config" </dev/null >/dev/null)
  for f in "$@"; do cp "$scratch/${f%%:*}" "$out/$folder/${f##*:}"; done
  rm -rf "$scratch"
}

# Generated files only: each folder's README.md stays.
for folder in diode pentode_x pentode beam_tetrode varmu hexode_y pentode_g3; do
  rm -f "$out/$folder"/*.utd "$out/$folder"/*.ini "$out/$folder"/*.par
done
mkdir -p "$out"/{diode,pentode_x,pentode,beam_tetrode,varmu,hexode_y,pentode_g3}

# Diode (EB91-like signal diode section), Koren diode law Ia = (Va + eps)^ex / k.
synth diode 0 eb91 0.02 2 --param k=1500 --param ex=1.5 --param eps=0 --vg 0 --va 0:20:0.5
ini diode Model.ini "/usr/bin/gnuplot          ! full path of gnuplot" "1" "eb91" "D" "Koren" "2.0" "0.0"

# EL84-like pentode. X: screen tied to anode, cathode current as a Koren triode.
EL84_TRI=(--param mu=19 --param ex=1.35 --param kG1=200 --param kp=120 --param kVB=300)
synth pentode_x 1 el84_x 0.02 11 "${EL84_TRI[@]}" --vg 0,-2,-4,-6,-8,-10,-12,-14,-16 --va 0:300:10 --vs va
ini pentode_x Model.ini "/usr/bin/gnuplot          ! full path of gnuplot" "1" "el84_x" "X" "Koren" "12.0" "0.0"

# P: Nolt pentode with the same triode part; three constant-screen files, then a screen-tied file.
EL84_PEN=("${EL84_TRI[@]}" --param alpha_s=4 --param beta=0.1 --param A=2e-4 --param kG2=2000)
for vs in 200 250 300; do
  synth pentode 12 "el84_vs$vs" 0.02 "$vs" "${EL84_PEN[@]}" --vg 0,-2,-4,-6 --va 0:300:6 --vs "$vs"
done
synth pentode 12 el84_tri 0.02 5 "${EL84_PEN[@]}" --vg 0,-2,-4,-6,-8,-10 --va 0:300:10 --vs va
ini pentode Model.ini "/usr/bin/gnuplot          ! full path of gnuplot" "4" "el84_vs200" "el84_vs250" \
  "el84_vs300" "el84_tri" "P" "Nolt" "15.0" "0.0"

# 6L6-like beam tetrode: its own X run (Triode.ini) gives Triode.par for the NoltE beam-tetrode fit.
L6_TRI=(--param mu=8 --param ex=1.35 --param kG1=600 --param kp=50 --param kVB=100)
synth beam_tetrode 1 6l6_x 0.02 21 "${L6_TRI[@]}" --vg 0,-5,-10,-15,-20,-25,-30,-35,-40 --va 0:400:10 --vs va
ini beam_tetrode Triode.ini "/usr/bin/gnuplot          ! full path of gnuplot" "1" "6l6_x" "X" "Koren" "30.0" "0.0"
L6_PEN=("${L6_TRI[@]}" --param alpha_s=3 --param beta=0.08 --param A=1e-4 --param kG2=6000 --param Sc=0.03
  --param nu=1 --param lambda=8 --param w=0 --param "alpha'=0.08")
for vs in 200 250 300; do
  synth beam_tetrode 23 "6l6_vs$vs" 0.02 "$vs" "${L6_PEN[@]}" --vg -6,-10,-14,-18 --va 0:400:8 --vs "$vs"
done
synth beam_tetrode 23 6l6_tri 0.02 25 "${L6_PEN[@]}" --vg -10,-15,-20,-25,-30,-35 --va 0:400:10 --vs va
ini beam_tetrode Model.ini "/usr/bin/gnuplot          ! full path of gnuplot" "4" "6l6_vs200" "6l6_vs250" \
  "6l6_vs300" "6l6_tri" "B" "NoltE" "30.0" "0.0"

# EF89-like variable-mu pentode: X run (Triode.ini), then the Nolt variable-mu fit.
synth varmu 1 ef89_x 0.005 31 --param mu=20 --param ex=1.4 --param kG1=800 --param kp=40 --param kVB=50 \
  --vg 0,-1,-2,-3,-4,-5,-6,-7,-8 --va 0:250:5 --vs va
ini varmu Triode.ini "/usr/bin/gnuplot          ! full path of gnuplot" "1" "ef89_x" "X" "Koren" "2.5" "0.0"
EF89_PEN=(--param mu=30 --param ex=1.4 --param kG1=800 --param kp=40 --param kVB=50 --param alpha_s=3
  --param beta=0.1 --param A=1e-4 --param kG2=5000 --param mu_b=12 --param ex_b=1.15 --param svar=0.4)
for vs in 60 80 100; do
  synth varmu 16 "ef89_vs$vs" 0.005 "$vs" "${EF89_PEN[@]}" --vg -1,-2,-3,-4,-5,-6,-7,-8 --va 0:250:5 --vs "$vs"
done
ini varmu Model.ini "/usr/bin/gnuplot          ! full path of gnuplot" "3" "ef89_vs60" "ef89_vs80" "ef89_vs100" \
  "V" "Nolt" "2.5" "0.0"

# ECH81-like heptode: X run (g1 as control grid, Triode.ini), Y run (g3 as control grid, Triode_g3.ini),
# then the hexode/heptode fit on files named by the grid they hold constant.
synth hexode_y 1 ech81_x 0.005 41 --param mu=25 --param ex=1.4 --param kG1=600 --param kp=50 --param kVB=50 \
  --vg 0,-0.5,-1,-1.5,-2,-2.5,-3,-3.5,-4 --va 0:200:5 --vs va
ini hexode_y Triode.ini "/usr/bin/gnuplot          ! full path of gnuplot" "1" "ech81_x" "X" "Koren" "1.5" "0.0"
synth hexode_y 1 ech81_y 0.005 42 --param mu=8 --param ex=1.2 --param kG1=400 --param kp=30 --param kVB=50 \
  --vg 0,-2,-4,-6,-8,-10,-12,-14,-16 --va 0:200:5 --vs va
ini hexode_y Triode_g3.ini "/usr/bin/gnuplot          ! full path of gnuplot" "1" "ech81_y" "Y" "Koren" "1.5" "0.0"
ECH81=(--param mu=25 --param ex=1.4 --param kG1=600 --param kp=50 --param kVB=50 --param "mu'=8" --param "ex'=1.2"
  --param "kp'=30" --param "kVB'=50" --param "kG1'=25" --param mu3=20 --param alpha_s=2 --param beta=0.1
  --param A=1e-4 --param kG2=1500)
synth hexode_y 14 ech81_g3_0 0.005 43 "${ECH81[@]}" --vg 0,-0.5,-1,-1.5,-2,-2.5 --vg3 0 --va 0:250:5 --vs 100
synth hexode_y 14 ech81_g3_4 0.005 44 "${ECH81[@]}" --vg 0,-0.5,-1,-1.5,-2,-2.5 --vg3 -4 --va 0:250:5 --vs 100
synth hexode_y 14 ech81_g1_1 0.005 45 "${ECH81[@]}" --sweep-g3 --vg 0,-2,-4,-6,-8 --vg3 -1 --va 0:250:5 --vs 100
ini hexode_y Model.ini "/usr/bin/gnuplot          ! full path of gnuplot" "3" "ech81_g3_0" "ech81_g3_4" "ech81_g1_1" \
  "H" "Nolt" "1.5" "0.0"

# Pentode with g3 modelling: the EL84-like system with an accessible suppressor, NoltE, starting from the
# pentode example's Model.par saved as Penthode.par.
G3_PEN=("${EL84_TRI[@]}" --param alpha_s=4 --param beta=0.1 --param A=2e-4 --param kG2=2000 --param "mu'=8"
  --param "ex'=1.3" --param "kG1'=3" --param V0=2 --param mu3=15)
synth pentode_g3 25 f_g3_0 0.02 51 "${G3_PEN[@]}" --vg 0,-2,-4,-6 --vg3 0 --va 0:300:6 --vs 250
synth pentode_g3 25 f_g3_20 0.02 52 "${G3_PEN[@]}" --vg 0,-2,-4,-6 --vg3 -20 --va 0:300:6 --vs 250
synth pentode_g3 25 f_g1_4 0.02 53 "${G3_PEN[@]}" --sweep-g3 --vg 0,-10,-20,-30,-40 --vg3 -4 --va 0:300:6 --vs 250
ini pentode_g3 Model.ini "/usr/bin/gnuplot          ! full path of gnuplot" "3" "f_g3_0" "f_g3_20" "f_g1_4" "F" \
  "NoltE" "15.0" "0.0"

[ "$noise_free" = 1 ] && exit 0

# Hand-over files, made by running the prerequisite fits.
handover pentode_x Model.ini Triode.par:../pentode/Triode.par
handover beam_tetrode Triode.ini Triode.par
handover varmu Triode.ini Triode.par
handover hexode_y Triode.ini Triode.par
handover hexode_y Triode_g3.ini Triode_g3.par
handover pentode Model.ini Model.par:../pentode_g3/Penthode.par
echo "examples written to $out"
