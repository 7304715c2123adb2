#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# into build-fuzz and runs each one on its corpus for SECONDS seconds (default 20).
#
#   fuzz/run.sh [SECONDS] [TARGET...]      targets: directives records run packed (default: all)
#
# Needs clang and its libFuzzer runtime (bash tools/setup.sh ci installs them).
# The seed corpora in fuzz/corpus/TARGET are only read; inputs the fuzzer adds go to
# build-fuzz/found/TARGET (copy one into the seeds to keep it). A finding stops the target,
# leaves its input as build-fuzz/crash-*, leak-* or timeout-*, and the script exits non-zero.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(directives records run packed)

CXX=${FUZZ_CXX:-clang++} cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKINSTROM_FUZZ=ON -DKINSTROM_TESTS=OFF > /dev/null
cmake --build "$root/build-fuzz" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

for t in "${targets[@]}"; do
    echo "== fuzz_$t, $seconds s"
    mkdir -p "$root/build-fuzz/found/$t"
    "$root/build-fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$root/build-fuzz/" -print_final_stats=1 -close_fd_mask=2 \
        "$root/build-fuzz/found/$t" "$root/fuzz/corpus/$t"
done
