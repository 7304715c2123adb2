#!/usr/bin/env bash
# Times kinstrom on large generated pedigrees; bench/README.md explains the output.
#
#   bench/run.sh [SIZE...]     SIZE: 100k, 1m, 10m or any count such as 250k or 50000
#                              (default: 100k 1m 10m; for VARIANT=curve alone 100k 1m 3m 10m 30m)
# Environment:
#   RUNS=5             runs per size and binary; the median, min and max wall time are reported
#   VARIANT=full       full, noinbreed, phg500, gz, zst, alltraced, table, evaluation, curve,
#                      several of them (blank or comma separated) or all
#   BENCH_DIR=DIR      where run folders are generated once and kept (default bench/data)
#   SEED=1             seed of the generator
#   BASELINE=BINARY    another kinstrom build, run interleaved with the current one; "self": the
#                      current build itself (with SUMMARY=1, the cost of the summary and report)
#   SUMMARY=1          the current build also writes --summary and --report (beside the work
#                      folder, so that the run folders still compare)
set -euo pipefail
export LC_ALL=C

root=$(cd "$(dirname "$0")/.." && pwd)
runs=${RUNS:-5}
seed=${SEED:-1}
data=${BENCH_DIR:-$root/bench/data}
mkdir -p "$data" && data=$(cd "$data" && pwd)
baseline=${BASELINE:-}
summary=${SUMMARY:-0}
if [ -n "$baseline" ] && [ "$baseline" != self ]; then
    [ -x "$baseline" ] || { echo "BASELINE is not an executable file: $baseline" >&2; exit 2; }
    baseline=$(realpath "$baseline")
fi
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "RUNS must be a positive number" >&2; exit 2; }
[[ $seed =~ ^[0-9]+$ ]] || { echo "SEED must be a number" >&2; exit 2; }
IFS=', ' read -r -a variants <<< "${VARIANT:-full}"
((${#variants[@]})) || variants=(full)
[ "${variants[*]}" = all ] &&
    variants=(full noinbreed phg500 gz zst alltraced table evaluation curve)
for v in "${variants[@]}"; do
    case $v in
        full | noinbreed | phg500 | gz | zst | alltraced | table | evaluation | curve) ;;
        *) echo "not a variant: $v (full, noinbreed, phg500, gz, zst, alltraced, table," \
            "evaluation, curve or all)" >&2
            exit 2 ;;
    esac
done
sizes=("$@")
if ((${#sizes[@]} == 0)); then
    sizes=(100k 1m 10m)
    [ "${variants[*]}" != curve ] || sizes=(100k 1m 3m 10m 30m)
fi

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

# The phg500 variant writes a .HET file of about 80 KB per animal (7.8 GB at 100k) for each
# binary: refuse sizes the disk cannot take, before anything is built or generated.
binaries=1
[ -z "$baseline" ] || binaries=2
for size in "${sizes[@]}"; do
    [[ " ${variants[*]} " == *" phg500 "* ]] || break
    need=$(($(animals "$size") * 80 * binaries))   # KiB
    free=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
    if ((need > free)); then
        echo "VARIANT phg500 at $size writes about $((need / 1048576)) GiB of output" \
            "(the .HET files), more than the $((free / 1048576)) GiB free in $data" >&2
        exit 2
    fi
done

# The curve variant writes about 650 bytes of output files per animal and binary (20 GB at 30
# million), kept after the last run, and its run folder about 80 bytes per animal: refuse the
# sizes, counted together, that the disk cannot take (less what the work folders to be
# replaced hold already).
if [[ " ${variants[*]} " == *" curve "* ]]; then
    need=0
    free=$(df -Pk "$data" | awk 'NR == 2 { print $4 }')
    for size in "${sizes[@]}"; do
        n=$(animals "$size")
        dir=$data/ped-$n-s$seed-curve
        need=$((need + n * 650 * binaries / 1024))   # KiB
        [ -f "$dir/directives" ] || need=$((need + n * 80 / 1024))
        for work in "$dir/current" "$dir/baseline"; do
            [ ! -d "$work" ] || need=$((need - $(du -sk "$work" | cut -f1)))
        done
        if ((need > free)); then
            echo "VARIANT curve up to $size needs about $((need / 1048576)) GiB for its run" \
                "folders and output files, more than the $((free / 1048576)) GiB free in $data" >&2
            exit 2
        fi
    done
fi

timer=/usr/bin/time
if [ ! -x "$timer" ]; then
    echo "NOTE: $timer is missing, so peak memory is not measured (only wall time)."
    echo "      bash tools/setup.sh bench installs it (Debian's package 'time')"
    timer=
fi

echo "== building kinstrom and kinstrom_floor (Release) in build-bench"
log=$data/build.log
if ! { cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DKINSTROM_TESTS=OFF \
    -DKINSTROM_BENCH=ON &&
    cmake --build "$root/build-bench" --target kinstrom kinstrom_floor -j "$(nproc)"; } \
    > "$log" 2>&1; then
    cat "$log"
    echo "build failed" >&2
    exit 1
fi
current=$root/build-bench/kinstrom
[ "$baseline" != self ] || baseline=$current
floor=$root/build-bench/bench/kinstrom_floor

# Generates the run folder DIR with gen_pedigree.py (further arguments passed on) unless it is
# there already.
generate() {
    local dir=$1 n=$2
    shift 2
    [ -f "$dir/directives" ] && return
    echo "== generating $(basename "$dir") ($n animals, seed $seed${*:+, $*})"
    rm -rf "$dir.tmp"
    python3 "$root/bench/gen_pedigree.py" --animals "$n" --seed "$seed" --out "$dir.tmp" "$@"
    rm -rf "$dir" && mv "$dir.tmp" "$dir"
}

# Makes the run folder of VARIANT for N animals when it is missing; sets $dir.
prepare() {
    local n=$1 variant=$2 base=$data/ped-$1-s$seed
    case $variant in
        full)
            dir=$base
            generate "$dir" "$n"
            ;;
        noinbreed) # the files of the full run folder, directives with INBREED='NO'
            generate "$base" "$n"
            dir=$base-noinbreed
            [ -f "$dir/directives" ] && return
            rm -rf "$dir.tmp" && mkdir "$dir.tmp"
            for f in pedigree.txt trace.txt breeds.txt; do
                ln -s "../$(basename "$base")/$f" "$dir.tmp/$f"
            done
            sed -e "s/INBREED='YES'/INBREED='NO'/" -e '1s/$/, without inbreeding/' \
                "$base/directives" > "$dir.tmp/directives"
            if ! grep -q "INBREED='NO'" "$dir.tmp/directives"; then
                echo "no INBREED='YES' to turn off in $base/directives" >&2
                exit 1
            fi
            rm -rf "$dir" && mv "$dir.tmp" "$dir"
            ;;
        phg500)
            dir=$base-phg500
            generate "$dir" "$n" --phg-codes year
            ;;
        alltraced | evaluation) # the full run folder with every animal of the pedigree traced
            generate "$base" "$n"
            dir=$base-alltraced
            [ -f "$dir/directives" ] && return
            rm -rf "$dir.tmp" && mkdir "$dir.tmp"
            for f in pedigree.txt breeds.txt; do ln -s "../$(basename "$base")/$f" "$dir.tmp/$f"; done
            awk '{ print $1 }' "$base/pedigree.txt" > "$dir.tmp/trace.txt"
            sed '1s/$/, every animal traced/' "$base/directives" > "$dir.tmp/directives"
            rm -rf "$dir" && mv "$dir.tmp" "$dir"
            ;;
        gz | zst) # the noinbreed run folder with its pedigree file compressed, under its name
            prepare "$n" noinbreed
            local plain=$dir
            dir=$base-$variant
            [ -f "$dir/directives" ] && return
            rm -rf "$dir.tmp" && mkdir "$dir.tmp"
            for f in trace.txt breeds.txt; do ln -s "../$(basename "$base")/$f" "$dir.tmp/$f"; done
            cp "$plain/directives" "$dir.tmp/"
            echo "== compressing the pedigree file with ${packer[$variant]}"
            ${packer[$variant]} -c "$base/pedigree.txt" > "$dir.tmp/pedigree.txt"
            rm -rf "$dir" && mv "$dir.tmp" "$dir"
            ;;
        curve) # generation cohorts as deep as the size asks, every animal traced
            dir=$base-curve
            [ -f "$dir/directives" ] && return
            echo "== generating $(basename "$dir") ($n animals, seed $seed, --cohorts auto)"
            rm -rf "$dir.tmp" && mkdir "$dir.tmp"
            local gen=(python3 "$root/bench/gen_pedigree.py" --animals "$n" --seed "$seed"
                --cohorts auto --out "$dir.tmp")
            if [ -n "$timer" ]; then
                "$timer" -v -o "$dir.tmp/generate.time" "${gen[@]}"
            else
                "${gen[@]}"
            fi
            awk '{ print $1 }' "$dir.tmp/pedigree.txt" > "$dir.tmp/trace.txt"
            sed -i '1s/$/, every animal traced/' "$dir.tmp/directives"
            (cd "$dir.tmp" && python3 "$root/bench/gen_pedigree.py" --depth-of pedigree.txt \
                > depth.txt)
            rm -rf "$dir" && mv "$dir.tmp" "$dir"
            ;;
        table) # the full run's pedigree as tables; its distinct IDs counted once
            generate "$base" "$n"
            dir=$base-table
            generate "$dir" "$n" --table
            [ -f "$dir/ids.count" ] || count_ids "$dir"
            ;;
    esac
}

# Writes "count bytes" of the distinct ID texts of the pedigree table of DIR (columns 1 to 3 of
# the generated table: quoted, comma separated, without commas inside the values) into
# DIR/ids.count; PHG codes (integers of 0 or below) and missing values are no IDs.
count_ids() {
    local dir=$1
    echo "== counting the distinct IDs of $(basename "$dir")/pedigree.txt"
    awk -F, 'NR > 1 {
            for (k = 1; k <= 3; ++k) {
                v = $k
                gsub(/^ *"|" *$/, "", v)
                if (v != "" && v != "NA" && !(v ~ /^[-+]?[0-9]+$/ && v + 0 <= 0)) print v
            }
        }' "$dir/pedigree.txt" | sort -u |
        awk '{ ++n; bytes += length($0) } END { print n + 0, bytes + 0 }' > "$dir/ids.count.tmp"
    mv "$dir/ids.count.tmp" "$dir/ids.count"
}

# The compressors of the compressed variants, and their decompression alone (to /dev/null):
# what reading a compressed pedigree may cost on top of reading the plain one.
declare -A packer=([gz]="gzip" [zst]="zstd -q")
declare -A unpacker=([gz]="gzip -dc" [zst]="zstd -q -dc")
unpack_once() {
    local dir=$1 t0 t1
    t0=$EPOCHREALTIME
    ${unpacker[$variant]} "$dir/pedigree.txt" > /dev/null
    t1=$EPOCHREALTIME
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f\n", b - a }' >> "$dir/unpack.results"
}

# Run R of BINARY in a fresh work folder WORK beside the input files; appends
# "seconds peak_kib status" to WORK.results and keeps standard error (the phase times) in
# WORK.stderr.R. The input files are those of the folder FROM, relative to WORK (default ..,
# the run folder holding WORK).
run_once() {
    local bin=$1 work=$2 r=$3 t0 t1 status=0 rss=- from=${from:-..}
    shift 3
    rm -rf "$work" && mkdir "$work"
    for f in pedigree.txt trace.txt breeds.txt directives; do
        if [ -e "$work/$from/$f" ]; then ln -s "$from/$f" "$work/$f"; fi
    done
    local cmd=(env -u PBS_O_WORKDIR -u SASROOT SOURCE_DATE_EPOCH=1796450637 TZ=UTC
        KINSTROM_PROGRESS=1)
    [ -n "$timer" ] && cmd+=("$timer" -v -o "$work.time")
    t0=$EPOCHREALTIME
    (cd "$work" && "${cmd[@]}" "$bin" "$@" < directives > listing.txt 2> "$work.stderr.$r") ||
        status=$?
    t1=$EPOCHREALTIME
    [ -n "$timer" ] && rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work.time")
    echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }') ${rss:--} $status" \
        >> "$work.results"
}

# Run R of the floor on the pedigree file of DIR; appends its own time to DIR/floor.results
# and keeps its output in DIR/floor.out.R.
floor_once() {
    local dir=$1 r=$2 out=$1/floor.out.$2 ped=$1/pedigree.txt
    # A compressed pedigree or a table: the floor of the plain one.
    [ -z "${unpacker[$variant]:-}" ] && [ "$variant" != table ] ||
        ped=$data/ped-$n-s$seed/pedigree.txt
    if ! "$floor" "$ped" > "$out" 2>&1; then
        cat "$out" >&2
        echo "kinstrom_floor failed on $ped" >&2
        exit 1
    fi
    sed -n 's/^kinstrom_floor: time \([0-9.]*\) s$/\1/p' "$out" >> "$dir/floor.results"
}

# The median of the numbers on standard input, one to a line; nothing for none.
median_of() {
    sort -g | awk '{ t[NR] = $1 }
        END { if (NR) print (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2) }'
}

# The median of the numbers on standard input printed with the awk format FMT; nothing for none.
median_as() {
    sort -g | awk -v fmt="$1" '{ t[NR] = $1 }
        END { if (NR) printf fmt "\n", (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2) }'
}

# Prints one line of the table from WORK.results; sets $median.
report() {
    local size=$1 who=$2 work=$3
    median=$(cut -d' ' -f1 "$work.results" | median_of)
    sort -g "$work.results" | awk -v size="$size" -v who="$who" -v med="$median" '
        NR == 1 { min = $1 }
        { max = $1; if ($2 != "-" && $2 > rss) rss = $2; st[$3] = 1 }
        END {
            for (s in st) exits = exits (exits == "" ? "" : ",") s
            printf "%-6s %-9s %5d %10.4f %10.4f %10.4f %10s %6s\n", size, who, NR, med, min,
                max, (rss == "" ? "-" : sprintf("%.1f", rss / 1024)), exits
        }'
}

# The phase table of DIR after RUNS runs: for each binary the median of each phase, the sum
# of these medians, the median over the runs of the wall time outside the phases, then the
# median time of the floor and the ratio of reading the input to it.
# Arguments: DIR, then the binaries (current [baseline]).
phase_table() {
    local dir=$1 who r
    shift
    local args=() walls=
    for who in "$@"; do
        walls+="$who $(cut -d' ' -f1 "$dir/$who.results" | tr '\n' ' ');"
        args+=("who=$who")
        for ((r = 1; r <= runs; r++)); do args+=("$dir/$who.stderr.$r"); done
    done
    awk -v whos="$*" -v walls="$walls" -v floor_file="$dir/floor.results" '
        function median(list,    v, n, i, j, x) {   # of blank separated numbers; "" for none
            n = split(list, v, " ")
            for (i = 2; i <= n; ++i) {           # insertion sort (not every awk has asort)
                x = v[i] + 0
                for (j = i - 1; j >= 1 && v[j] + 0 > x; --j) v[j + 1] = v[j]
                v[j + 1] = x
            }
            if (n == 0) return ""
            return n % 2 ? v[(n + 1) / 2] + 0 : (v[n / 2] + v[n / 2 + 1]) / 2
        }
        function cell(x) { return x == "" ? sprintf("%10s", "-") : sprintf("%10.3f", x) }
        /^kinstrom: .* [0-9]+\.[0-9]+ s$/ {
            name = substr($0, 11)
            sub(/ +[0-9]+\.[0-9]+ s$/, "", name)
            if (!(name in seen)) { seen[name] = 1; order[++phases] = name }
            times[who, name] = times[who, name] " " $(NF - 1)
            run = FILENAME
            sub(/.*\./, "", run)
            in_phases[who, run] += $(NF - 1)
        }
        END {
            nw = split(whos, w, " ")
            nl = split(walls, l, ";")              # "binary t1 t2 ...", t in run order
            for (i = 1; i <= nl; ++i) {
                n = split(l[i], x, " ")
                for (r = 2; r <= n; ++r) {
                    if ((x[1], r - 1) in in_phases)
                        rest[x[1]] = rest[x[1]] " " (x[r] - in_phases[x[1], r - 1])
                }
            }
            while ((getline line < floor_file) > 0) floor_times = floor_times " " line
            floor = median(floor_times)
            line = sprintf("       %-32s", "phase, median s")
            for (i = 1; i <= nw; ++i) line = line sprintf("%10s", w[i])
            print line
            for (p = 1; p <= phases; ++p) {
                line = sprintf("       %-32s", order[p])
                for (i = 1; i <= nw; ++i) {
                    m = median(times[w[i], order[p]])
                    line = line cell(m)
                    if (m != "") sum[w[i]] += m
                    if (order[p] == "reading the input") reading[w[i]] = m
                }
                print line
            }
            line = sprintf("       %-32s", "sum of the phases")
            out = sprintf("       %-32s", "wall time outside the phases")
            for (i = 1; i <= nw; ++i) {
                line = line cell(w[i] in sum ? sum[w[i]] : "")
                out = out cell(median(rest[w[i]]))
            }
            print line
            print out
            printf "       %-32s%10s\n", "floor (read twice), median s", cell(floor)
            line = sprintf("       %-32s", "reading the input / floor")
            for (i = 1; i <= nw; ++i) {
                r = reading[w[i]]
                line = line (r == "" || floor == "" || floor <= 0 ? sprintf("%10s", "-") \
                                                                : sprintf("%10.2f", r / floor))
            }
            print line
        }' "${args[@]}"
}

# Run R of WHO in its work folder $dir/WHO: current, baseline, or, in the table variant, the
# current build on the classic files of the full run folder (classic) and with --table on the
# tables (table).
run_as() {
    local who=$1 r=$2 args=()
    if [ "$summary" = 1 ]; then
        args=(--summary "$dir/$who.summary.json" --report "$dir/$who.report.html")
    fi
    case $who in
        current) run_once "$current" "$dir/current" "$r" "${args[@]}" ;;
        baseline) run_once "$baseline" "$dir/baseline" "$r" ;;
        classic) from=../../ped-$n-s$seed run_once "$current" "$dir/classic" "$r" "${args[@]}" ;;
        table) run_once "$current" "$dir/table" "$r" --table "${args[@]}" ;;
        evalped)
            run_once "$current" "$dir/evalped" "$r" --evaluation-pedigree evaluation.txt \
                --groups "${args[@]}"
            ;;
    esac
}

# The curve variant's figures of each binary of WHOS after its table: the depth of the pedigree,
# the medians of the inbreeding phase, of the peak memory and of the relationships computed and
# threads ("kinstrom: inbreeding: N relationships computed by T threads"; "-" where a binary
# prints none), the bytes per animal and the nanoseconds per relationship and thread; one line
# per binary is appended to $data/curve.tsv.
curve_summary() {
    local size=$1 who depth inb peak rel thr stamp tsv=$data/curve.tsv
    shift
    depth=$(sed -n 's/.* deepest \([0-9]*\),.*/\1/p' "$dir/depth.txt")
    stamp=$(date -u +%Y-%m-%dT%H:%MZ)
    [ -s "$tsv" ] || printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' date binary \
        animals depth runs median_wall_s min_wall_s max_wall_s median_inbreeding_s peak_MiB \
        bytes_per_animal relationships threads ns_per_relationship_per_thread > "$tsv"
    printf "%-6s %-9s %5s %12s %10s %12s %14s %7s %14s\n" size binary depth inbreeding_s \
        peak_MiB bytes/animal relationships threads ns/rel/thread
    for who in "$@"; do
        inb=$(phase_median "$dir" "$who" inbreeding)
        peak=$(awk '$2 != "-" { print $2 }' "$dir/$who.results" | median_as %.1f)
        rel=$(cat "$dir/$who".stderr.* | sed -n \
            's/^kinstrom: inbreeding: \([0-9]*\) relationships computed by [0-9]* threads*$/\1/p' |
            median_as %.0f)
        thr=$(cat "$dir/$who".stderr.* | sed -n \
            's/^kinstrom: inbreeding: [0-9]* relationships computed by \([0-9]*\) threads*$/\1/p' |
            median_as %.0f)
        sort -g "$dir/$who.results" | awk -v size="$size" -v who="$who" -v n="$n" \
            -v depth="${depth:--}" -v inb="$inb" -v peak="$peak" -v rel="$rel" -v thr="$thr" \
            -v stamp="$stamp" -v tsv="$tsv" '
            { t[NR] = $1 }
            END {
                wall = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
                mib = peak == "" ? "-" : sprintf("%.1f", peak / 1024)
                bpa = peak == "" ? "-" : sprintf("%.1f", peak * 1024 / n)
                ns = inb == "" || rel == "" || thr == "" || rel <= 0 ? "-" \
                     : sprintf("%.2f", inb * thr / rel * 1e9)
                printf "%-6s %-9s %5s %12s %10s %12s %14s %7s %14s\n", size, who, depth,
                       (inb == "" ? "-" : sprintf("%.3f", inb)), mib, bpa,
                       (rel == "" ? "-" : rel), (thr == "" ? "-" : thr), ns
                printf "%s\t%s\t%d\t%s\t%d\t%.4f\t%.4f\t%.4f\t%s\t%s\t%s\t%s\t%s\t%s\n",
                       stamp, who, n, depth, NR, wall, t[1], t[NR],
                       (inb == "" ? "-" : sprintf("%.3f", inb)), mib, bpa,
                       (rel == "" ? "-" : rel), (thr == "" ? "-" : thr), ns >> tsv
            }'
    done
}

# The median of the phase PHASE over the runs of WHO in DIR, from WHO.stderr.R; nothing when
# no run printed it.
phase_median() {
    local dir=$1 who=$2 phase=$3 r
    for ((r = 1; r <= runs; r++)); do
        sed -n "s/^kinstrom: $phase  *\([0-9][0-9.]*\) s$/\1/p" "$dir/$who.stderr.$r"
    done | median_of
}

# The largest peak resident memory in KiB over the runs in WORK.results; nothing without it.
peak_kib() {
    awk '$2 != "-" && $2 + 0 > peak { peak = $2 + 0 } END { if (peak) print peak }' "$1.results"
}

# What the table variant sets side by side, after its table: the ratios table/classic of the
# reading phase, the whole run and the peak memory, the pedigree files' sizes, the distinct IDs,
# the peak memory the table run may take, and whether the outputs agree.
table_summary() {
    local size=$1 classic=$data/ped-$n-s$seed
    local wc wt rc rt pc pt bc bt ids
    wc=$(cut -d' ' -f1 "$dir/classic.results" | median_of)
    wt=$(cut -d' ' -f1 "$dir/table.results" | median_of)
    rc=$(phase_median "$dir" classic "reading the input")
    rt=$(phase_median "$dir" table "reading the input")
    pc=$(peak_kib "$dir/classic")
    pt=$(peak_kib "$dir/table")
    bc=$(wc -c < "$classic/pedigree.txt")
    bt=$(wc -c < "$dir/pedigree.txt")
    read -r -a ids < "$dir/ids.count"
    awk -v size="$size" -v wc="$wc" -v wt="$wt" -v rc="$rc" -v rt="$rt" -v pc="$pc" \
        -v pt="$pt" -v bc="$bc" -v bt="$bt" -v nid="${ids[0]}" -v bid="${ids[1]}" '
        function ratio(a, b) { return a == "" || b == "" || b <= 0 ? "-" : sprintf("%.3f", a / b) }
        BEGIN {
            printf "%-6s table/classic, reading the input (medians) %8s   target: at most 2\n",
                   size, ratio(rt, rc)
            printf "%-6s table/classic, whole run (medians)         %8s   target: at most 1.25\n",
                   size, ratio(wt, wc)
            printf "%-6s table/classic, peak memory                 %8s\n", size, ratio(pt, pc)
            printf "%-6s pedigree file, bytes: classic %d, table %d, extra %d\n", size, bc, bt,
                   bt - bc
            printf "%-6s distinct IDs of the table: %d, %d bytes\n", size, nid, bid
            if (pc == "" || pt == "") exit
            limit = pc * 1024 + (bt - bc) + 1.5 * bid
            printf "%-6s peak memory of the table run %.1f MiB, target: at most %.1f MiB " \
                   "(classic + extra + 1.5 x ID bytes), %.3f of it\n", size, pt / 1024,
                   limit / 1048576, pt * 1024 / limit
        }'
    same_outputs "$size" "$dir/classic" "$dir/table" "$classic/pedigree.txt" "$dir/pedigree.txt"
}

# Whether the outputs of the last classic and table runs (the listing and every file written)
# agree once the classic run's IDs are read as their texts: value for value, line by line, the
# blanks between values not counted (a field of IDs widens to the texts), the listing's
# "(text)" for the type of the IDs read as "(long integer)". The texts are those of
# the same records of the two pedigree files.
same_outputs() {
    local size=$1 cw=$2 tw=$3 cped=$4 tped=$5 f files=()
    for f in "$cw"/*; do [ -L "$f" ] || files+=("$(basename "$f")"); done
    for f in "$tw"/*; do
        [ -L "$f" ] || [ -e "$cw/$(basename "$f")" ] || files+=("$(basename "$f")")
    done
    awk -v size="$size" -v cw="$cw" -v tw="$tw" -v cped="$cped" -v tped="$tped" \
        -v files="${files[*]}" '
        function values(line, map,    v, n, i, out) {
            if (!map) gsub(/\(text\)/, "(long integer)", line)  # what the listing calls the IDs
            n = split(line, v, " ")
            out = ""
            for (i = 1; i <= n; ++i) out = out " " (map && (v[i] in text) ? text[v[i]] : v[i])
            return out
        }
        BEGIN {
            getline t < tped                        # the header
            while ((getline c < cped) > 0 && (getline t < tped) > 0) {
                split(c, cv, " ")
                split(t, tv, ",")
                gsub(/"/, "", tv[1])
                text[cv[1]] = tv[1]
            }
            nf = split(files, f, " ")
            for (i = 1; i <= nf; ++i) {
                a = cw "/" f[i]
                b = tw "/" f[i]
                line = 0
                for (;;) {
                    ra = (getline x < a) > 0
                    rb = (getline y < b) > 0
                    if (!ra && !rb) break
                    ++line
                    vx = ra ? values(x, 1) : " (the file ends)"
                    vy = rb ? values(y, 0) : " (the file ends)"
                    if (vx == vy) continue
                    differ = differ (differ == "" ? "" : ", ") f[i] " (line " line ")"
                    if (first == "")
                        first = sprintf("       first difference, %s line %d (values):\n" \
                                        "         classic:%s\n         table:  %s", f[i], line,
                                        vx, vy)
                    break
                }
                close(a)
                close(b)
            }
            if (differ == "") {
                printf "%-6s outputs of the last runs, classic IDs read as their texts: " \
                       "identical\n", size
                exit
            }
            printf "%-6s outputs of the last runs, classic IDs read as their texts, differ in " \
                   "%s\n%s\n       diff -r %s %s\n", size, differ, first, cw, tw
        }'
}

echo "== $runs runs per size and variant (${variants[*]}); run folders in $data"
for size in "${sizes[@]}"; do
    n=$(animals "$size")
    for variant in "${variants[@]}"; do
        prepare "$n" "$variant"
        if [ "$variant" = table ]; then
            whos=(classic table)
        elif [ "$variant" = evaluation ]; then
            whos=(current evalped)
        elif [ -n "$baseline" ]; then
            whos=(current baseline)
        else
            whos=(current)
        fi
        rm -f "$dir"/{current,baseline,classic,table,evalped,floor,unpack}.results \
            "$dir"/{current,baseline,classic,table,evalped}.time \
            "$dir"/{current,baseline,classic,table,evalped}.stderr.* "$dir"/floor.out.*
        for ((r = 1; r <= runs; r++)); do
            order=("${whos[@]}")
            ((r % 2)) || order=("${whos[@]:1}" "${whos[0]}")   # alternate which goes first
            for who in "${order[@]}"; do run_as "$who" "$r"; done
            floor_once "$dir" "$r"
            [ -z "${unpacker[$variant]:-}" ] || unpack_once "$dir"
        done
        echo "== $size, variant $variant ($(basename "$dir"))"
        printf "%-6s %-9s %5s %10s %10s %10s %10s %6s\n" size binary runs median_s min_s max_s \
            peak_MiB exit
        if [ "$variant" = table ]; then
            [ -z "$baseline" ] || printf "%-6s BASELINE is not run in the table variant\n" "$size"
            report "$size" classic "$dir/classic"
            report "$size" table "$dir/table"
            phase_table "$dir" classic table
            table_summary "$size"
            continue
        fi
        if [ "$variant" = evaluation ]; then
            [ -z "$baseline" ] || printf "%-6s BASELINE is not run in the evaluation variant\n" \
                "$size"
            report "$size" current "$dir/current"
            cur=$median
            report "$size" evalped "$dir/evalped"
            phase_table "$dir" current evalped
            awk -v c="$cur" -v e="$median" -v size="$size" 'BEGIN {
                printf "%-6s evalped/current ratio of medians: %.3f   target: at most 1.1\n",
                       size, (c > 0 ? e / c : 0) }'
            if diff -r -q -x evaluation.txt "$dir/current" "$dir/evalped" > /dev/null; then
                printf "%-6s outputs of the last runs besides evaluation.txt: identical\n" "$size"
            else
                printf "%-6s outputs of the last runs differ: diff -r %s %s\n" "$size" \
                    "$dir/current" "$dir/evalped"
            fi
            continue
        fi
        report "$size" current "$dir/current"
        if [ -n "$baseline" ]; then
            cur=$median
            report "$size" baseline "$dir/baseline"
            phase_table "$dir" current baseline
            awk -v c="$cur" -v b="$median" -v size="$size" 'BEGIN {
                if (b > 0) printf "%-6s current/baseline ratio of medians: %.3f (below 1: current is faster)\n", size, c / b
                else printf "%-6s baseline median is 0, no ratio\n", size }'
            if diff -r -q "$dir/current" "$dir/baseline" > /dev/null; then
                printf "%-6s outputs of the last runs: identical\n" "$size"
            else
                printf "%-6s outputs of the last runs differ: diff -r %s %s\n" "$size" \
                    "$dir/current" "$dir/baseline"
            fi
        else
            phase_table "$dir" current
        fi
        [ "$variant" != curve ] || curve_summary "$size" "${whos[@]}"
        if [ -f "$dir/unpack.results" ]; then
            sort -g "$dir/unpack.results" | awk -v what="${unpacker[$variant]}" '
                { t[NR] = $1 }
                END { printf "       %-32s%10.3f\n", "decompression alone, median s",
                      NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
                      printf "       (%s pedigree.txt > /dev/null)\n", what }'
        fi
    done
done
