#!/usr/bin/env bash
# The example run's report opened in a real browser (ctest: browser.report).
#
#   run_example.sh KINSTROM EXAMPLES_DIR CHECKER_DIR OUT.png
#
# Runs the example of EXAMPLES_DIR in a fresh folder with --report report.html, its clock fixed
# as in the golden cases, then checks the page with CHECKER_DIR/check_report.mjs (the folder where
# `npm ci` installed its packages), all four charts expected; the screenshot goes to OUT.png.
set -u
bin=$1
examples=$2
checker=$3
png=$4
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cp -R "$examples/." "$tmp/"
(cd "$tmp" && SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0 \
    "$bin" --report report.html < directives > listing.txt 2> stderr.txt)
status=$?
if [ "$status" -ne 0 ] || [ ! -s "$tmp/report.html" ]; then
    echo "FAIL: the example run exited with status $status and left no report; standard error:"
    cat "$tmp/stderr.txt"
    exit 1
fi
node "$checker/check_report.mjs" "$tmp/report.html" "$png" \
    --expect-charts inbreeding,generations,composition,distribution
