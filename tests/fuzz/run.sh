#!/usr/bin/env bash
# Builds the fuzz targets with clang, or runs one for a bounded time over its
# seed corpus (tests/fuzz/corpus/TARGET, copied into the work folder, which
# keeps what the fuzzer finds between runs).
# usage: run.sh build SOURCE_DIR WORK_DIR
#        run.sh run SOURCE_DIR WORK_DIR TARGET SECONDS
set -u
step=$1 src=$2 work=$3
command -v clang++ >/dev/null || { echo "skipped: clang++ is not installed"; exit 77; }
build=$work/build
if [ "$step" = build ]; then
  mkdir -p "$build"
  t0=$(date +%s)
  CXX=clang++ cmake -S "$src/tests/fuzz" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None \
    -DQUILLNET_SOURCE="$src" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
  cmake --build "$build" -j2 || exit 1
  echo "fuzz targets built in $(( $(date +%s) - t0 ))s"
  exit 0
fi
target=$4 secs=$5
binary=$build/${target}_fuzz
[ -x "$binary" ] || { echo "$binary is missing: the fuzz_build test builds it"; exit 1; }
corpus=$work/corpus-$target
mkdir -p "$corpus"
cp -n "$src/tests/fuzz/corpus/$target"/* "$corpus/" 2>/dev/null || true
# libFuzzer reports a finding with 77 by default, which the test runner reads as "skipped".
cd "$work" && exec "$binary" -max_total_time="$secs" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
  -error_exitcode=1 -timeout_exitcode=1 \
  -artifact_prefix="$work/$target-" "$corpus"
