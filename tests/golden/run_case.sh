#!/usr/bin/env bash
# Runs one end-to-end case of tests/golden and compares everything it leaves.
#
#   run_case.sh KINSTROM CASE_DIR
#
# A case folder holds:
#   directives        standard input of the run
#   input/            files copied into the empty work folder before the run (optional)
#   env               NAME=VALUE lines exported for the run (optional); @WORK@ stands for the
#                     work folder. PBS_O_WORKDIR and SASROOT are unset unless given here.
#   args              command-line arguments of the run, one to a line (optional)
#   setup             bash script run in the work folder before the run (optional)
#   expected/status   the exit status
#   expected/listing  standard output, with the work folder's path written as @WORK@
#   expected/stderr   standard error, likewise (optional: without it, standard error is empty)
#   expected/files/   every regular file the run leaves besides the inputs, byte for byte
# The input files must be left as they were.
# The run's clock is fixed: SOURCE_DATE_EPOCH=1796450637 (5 December 2026 06:03:57) and TZ=UTC.
# Phase lines are off (KINSTROM_PROGRESS=0) and the run may use three threads
# (KINSTROM_THREADS=3; one in the run with compressed input), which may not change what the run
# prints or writes.
set -u
bin=$1
case_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'chmod -R u+w "$tmp" 2>/dev/null; rm -rf "$tmp"' EXIT
fail=0

# run_once NAME [OPTION...]: runs the case in the fresh work folder $tmp/NAME; standard output
# and error go to $tmp/NAME.out/, the exit status to $status. With $packer set (gzip or zstd),
# every input file is compressed with it first, under its own name.
run_once() {
    local name=$1 f
    shift
    work=$tmp/$name
    out=$tmp/$name.out
    given=$tmp/$name.given
    mkdir -p "$work" "$out" "$given"
    [ -d "$case_dir/input" ] && cp -R "$case_dir/input/." "$work/"
    (cd "$work" && find . -type f | sort) > "$tmp/inputs"
    if [ -n "${packer:-}" ]; then
        while IFS= read -r f; do
            "$packer" -q -c "$work/$f" > "$work/$f.packed" && mv "$work/$f.packed" "$work/$f" ||
                { echo "$packer failed on $f"; exit 1; }
        done < "$tmp/inputs"
    fi
    [ -d "$case_dir/input" ] && cp -R "$work/." "$given/"
    local env_args=(-u PBS_O_WORKDIR -u SASROOT SOURCE_DATE_EPOCH=1796450637 TZ=UTC
        KINSTROM_PROGRESS=0 KINSTROM_THREADS=${threads:-3})
    if [ -f "$case_dir/env" ]; then
        while IFS= read -r line || [ -n "$line" ]; do
            [ -n "$line" ] && env_args+=("${line//@WORK@/$work}")
        done < "$case_dir/env"
    fi
    if [ -f "$case_dir/setup" ]; then
        (cd "$work" && bash "$case_dir/setup") || { echo "setup failed"; exit 1; }
    fi
    local args=()
    [ -f "$case_dir/args" ] && mapfile -t args < "$case_dir/args"
    (cd "$work" && env "${env_args[@]}" "$bin" "${args[@]}" "$@" < "$case_dir/directives" \
        > "$out/listing" 2> "$out/stderr")
    status=$?
}

# Compares what the last run_once printed and left with expected/.
compare() {
    if [ "$status" != "$(cat "$case_dir/expected/status")" ]; then
        echo "exit status $status, expected $(cat "$case_dir/expected/status")"
        cat "$out/stderr"
        fail=1
    fi
    if ! sed "s|$work|@WORK@|g" "$out/listing" | diff -u "$case_dir/expected/listing" -; then
        echo "listing differs"
        fail=1
    fi
    [ -f "$case_dir/expected/stderr" ] && want_err=$case_dir/expected/stderr || want_err=/dev/null
    if ! sed "s|$work|@WORK@|g" "$out/stderr" | diff -u "$want_err" -; then
        echo "standard error differs"
        fail=1
    fi
    (cd "$work" && find . -type f | sort) | comm -23 - "$tmp/inputs" > "$tmp/left"
    (cd "$case_dir/expected/files" 2>/dev/null && find . -type f | sort) > "$tmp/wanted"
    if ! diff -u "$tmp/wanted" "$tmp/left"; then
        echo "the files left differ (- expected, + left by the run)"
        fail=1
    fi
    # No run changes its input files.
    while IFS= read -r f; do
        if ! cmp -s "$given/$f" "$work/$f"; then
            echo "input file $f was changed or removed by the run"
            fail=1
        fi
    done < "$tmp/inputs"
    while IFS= read -r f; do
        if [ -f "$work/$f" ] && ! cmp -s "$case_dir/expected/files/$f" "$work/$f"; then
            echo "file $f differs:"
            diff -u "$case_dir/expected/files/$f" "$work/$f" | head -n 40
            fail=1
        fi
    done < "$tmp/wanted"
}

run_once plain
compare
# Again with a summary and a report (written outside the work folder): the listing, the
# messages and the files stay the same, and the summary agrees with them.
run_once with_summary --summary "$tmp/summary.json" --report "$tmp/report.html"
compare
[ -s "$tmp/report.html" ] || { echo "no report"; fail=1; }
if ! (cd "$work" && /usr/bin/python3 "$here/../summary/check_summary.py" "$tmp/summary.json" \
    "$out/listing" "$out/stderr" "$status"); then
    echo "the summary does not agree with the run"
    fail=1
fi
# Again with every input file compressed (gzip or zstd, by the case), under its own name, and
# one thread: the same listing, messages and files. Not for the cases whose setup links or
# locks files.
if [ ! -f "$case_dir/setup" ]; then
    packer=gzip
    (($(printf '%s' "$(basename "$case_dir")" | cksum | cut -d' ' -f1) % 2)) && packer=zstd
    threads=1 run_once "$packer"
    compare
fi
exit $fail
