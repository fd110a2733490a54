#!/usr/bin/env bash
# Builds a libFuzzer target with clang and runs it for a bounded time.
# usage: run.sh SOURCE_DIR WORK_DIR TARGET SECONDS
set -u
src=$1 work=$2 target=$3 secs=$4
command -v clang++ >/dev/null || { echo "skipped: clang++ is not installed"; exit 77; }
mkdir -p "$work/corpus-$target"
cp -n "$src"/tests/data/ini/* "$work/corpus-$target/" 2>/dev/null || true
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I "$src/src" "$src/tests/fuzz/${target}_fuzz.cpp" \
  "$src/src/account/ini_engine.cpp" "$src/src/platform/strings.cpp" \
  -o "$work/$target" || exit 1
cd "$work" && exec "./$target" -max_total_time="$secs" -max_len=4096 -timeout=10 -print_final_stats=1 \
  "corpus-$target"
