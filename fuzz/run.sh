#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for the given number of seconds
# (default 60). Findings go to build-fuzz/findings/; the run fails if any.
set -euo pipefail
seconds="${1:-60}"
cd "$(dirname "$0")/.."

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKITWEAVER_FUZZ=ON -DKITWEAVER_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" >/dev/null

corpus=build-fuzz/corpus
findings=build-fuzz/findings
mkdir -p "$findings"
./build-fuzz/make_fuzz_corpus "$corpus"
for target in wav_reader names run key_edit; do
  echo "fuzz_${target}: ${seconds}s"
  ./build-fuzz/"fuzz_${target}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/${target}-" -print_final_stats=1 "$corpus/$target" 2>"build-fuzz/${target}.log" ||
    { tail -n 40 "build-fuzz/${target}.log"; exit 1; }
  grep -E '^#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb' "build-fuzz/${target}.log" || true
done
