#!/usr/bin/env bash
# Times kinstrom on large generated pedigrees; bench/README.md explains the output.
#
#   bench/run.sh [SIZE...]     SIZE: 100k, 1m, 10m or any count such as 250k or 50000
#                              (default: 100k 1m 10m)
# Environment:
#   RUNS=5             runs per size and binary; the median, min and max wall time are reported
#   BENCH_DIR=DIR      where run folders are generated once and kept (default bench/data)
#   SEED=1             seed of the generator
#   BASELINE=BINARY    another kinstrom build, run interleaved with the current one
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-5}
seed=${SEED:-1}
data=${BENCH_DIR:-$root/bench/data}
mkdir -p "$data" && data=$(cd "$data" && pwd)
baseline=${BASELINE:-}
if [ -n "$baseline" ]; then
    [ -x "$baseline" ] || { echo "BASELINE is not an executable file: $baseline" >&2; exit 2; }
    baseline=$(realpath "$baseline")
fi
sizes=("$@")
((${#sizes[@]})) || sizes=(100k 1m 10m)
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive number" >&2; exit 2; }

animals() { # 100k -> 100000, 1m -> 1000000
    case $1 in
        *[kK]) n=${1%?} m=1000 ;;
        *[mM]) n=${1%?} m=1000000 ;;
        *) n=$1 m=1 ;;
    esac
    [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "not a size: $1 (examples: 100k, 1m, 50000)" >&2; exit 2; }
    echo $((n * m))
}

for size in "${sizes[@]}"; do animals "$size" > /dev/null; done

timer=/usr/bin/time
if [ ! -x "$timer" ]; then
    echo "NOTE: $timer is missing, so peak memory is not measured (only wall time)."
    echo "      It comes with the Debian package 'time': apt-get install -y time"
    timer=
fi

echo "== building kinstrom (Release) in build-bench"
log=$data/build.log
if ! { cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DKINSTROM_TESTS=OFF &&
    cmake --build "$root/build-bench" --target kinstrom -j "$(nproc)"; } > "$log" 2>&1; then
    cat "$log"
    echo "build failed" >&2
    exit 1
fi
current=$root/build-bench/kinstrom

# One run of BINARY in a fresh work folder WORK beside the input files; appends
# "seconds peak_kib status" to WORK.results.
run_once() {
    local bin=$1 work=$2 t0 t1 status=0 rss=-
    rm -rf "$work" && mkdir "$work"
    for f in pedigree.txt trace.txt breeds.txt directives; do ln -s "../$f" "$work/$f"; done
    local cmd=(env -u PBS_O_WORKDIR -u SASROOT SOURCE_DATE_EPOCH=1796450637 TZ=UTC)
    [ -n "$timer" ] && cmd+=("$timer" -v -o "$work.time")
    t0=$EPOCHREALTIME
    (cd "$work" && "${cmd[@]}" "$bin" < directives > listing.txt) || status=$?
    t1=$EPOCHREALTIME
    [ -n "$timer" ] && rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work.time")
    echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }') ${rss:--} $status" \
        >> "$work.results"
}

# Prints one line of the table from WORK.results; sets $median.
report() {
    local size=$1 who=$2 work=$3
    median=$(cut -d' ' -f1 "$work.results" | sort -g | awk '{ t[NR] = $1 }
        END { print (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2) }')
    sort -g "$work.results" | awk -v size="$size" -v who="$who" -v med="$median" '
        NR == 1 { min = $1 }
        { max = $1; if ($2 != "-" && $2 > rss) rss = $2; st[$3] = 1 }
        END {
            for (s in st) exits = exits (exits == "" ? "" : ",") s
            printf "%-6s %-9s %5d %10.4f %10.4f %10.4f %10s %6s\n", size, who, NR, med, min,
                max, (rss == "" ? "-" : sprintf("%.1f", rss / 1024)), exits
        }'
}

echo "== $runs runs per size; run folders in $data"
for size in "${sizes[@]}"; do
    n=$(animals "$size")
    dir=$data/ped-$n-s$seed
    if [ ! -f "$dir/directives" ]; then
        echo "== generating $size ($n animals, seed $seed)"
        rm -rf "$dir.tmp"
        python3 "$root/bench/gen_pedigree.py" --animals "$n" --seed "$seed" --out "$dir.tmp"
        rm -rf "$dir" && mv "$dir.tmp" "$dir"
    fi
    rm -f "$dir"/*.results "$dir"/*.time
    for ((r = 1; r <= runs; r++)); do
        order=(current baseline)
        ((r % 2)) || order=(baseline current)   # alternate which binary goes first
        for who in "${order[@]}"; do
            if [ "$who" = current ]; then
                run_once "$current" "$dir/current"
            elif [ -n "$baseline" ]; then
                run_once "$baseline" "$dir/baseline"
            fi
        done
    done
    printf "%-6s %-9s %5s %10s %10s %10s %10s %6s\n" size binary runs median_s min_s max_s \
        peak_MiB exit
    report "$size" current "$dir/current"
    if [ -n "$baseline" ]; then
        cur=$median
        report "$size" baseline "$dir/baseline"
        awk -v c="$cur" -v b="$median" -v size="$size" 'BEGIN {
            if (b > 0) printf "%-6s current/baseline ratio of medians: %.3f (below 1: current is faster)\n", size, c / b
            else printf "%-6s baseline median is 0, no ratio\n", size }'
        if diff -r -q "$dir/current" "$dir/baseline" > /dev/null; then
            printf "%-6s outputs of the last runs: identical\n" "$size"
        else
            printf "%-6s outputs of the last runs differ: diff -r %s %s\n" "$size" "$dir/current" \
                "$dir/baseline"
        fi
    fi
done
