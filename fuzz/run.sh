#!/bin/sh
# Runs one fuzz target on one core: fuzz/run.sh BUILD_DIR TARGET SECONDS [extra libFuzzer options]
# TARGET is config, utd or parfile. The growing corpus is kept in BUILD_DIR/corpus-TARGET (seeded from
# fuzz/seeds/TARGET), crash inputs land in BUILD_DIR/artifacts-TARGET/. Paths are made absolute because the
# targets work in a private temporary directory.
set -eu
build=$(cd "$1" && pwd)
target=$2
seconds=$3
shift 3
src=$(cd "$(dirname "$0")" && pwd)
corpus="$build/corpus-$target"
artifacts="$build/artifacts-$target"
mkdir -p "$corpus" "$artifacts"
exec "$build/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
  -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$artifacts/" "$@" "$corpus" "$src/seeds/$target"
