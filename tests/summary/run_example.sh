#!/usr/bin/env bash
# The example run with --summary and --report: the listing, the messages and the files are the
# bytes of the run without them, and the summary agrees with the run (its realistic, small
# inbreeding coefficients put every class and count to the test). With OUT.png, the report is
# also opened in headless Chromium (tests/browser/check_report.py), all four charts expected, its
# screenshot written to OUT.png.
#
#   run_example.sh KINSTROM EXAMPLES_DIR [OUT.png]
set -u
bin=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
for run in plain with; do
    mkdir "$tmp/$run" && cp "$2"/*.txt "$2/directives" "$tmp/$run/"
done
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0
(cd "$tmp/plain" && "$bin" < directives > listing 2> stderr) || { echo "FAIL: plain run"; exit 1; }
(cd "$tmp/with" &&
    "$bin" --summary ../summary.json --report ../report.html < directives > listing 2> stderr)
status=$?
[ "$status" = 0 ] || { echo "FAIL: the run with a summary and report exited with $status"; fail=1; }
diff -r "$tmp/plain" "$tmp/with" || { echo "FAIL: the options changed the run"; fail=1; }
grep -q '<svg' "$tmp/report.html" || { echo "FAIL: no chart in the report"; fail=1; }
(cd "$tmp/with" && /usr/bin/python3 "$(dirname "$0")/check_summary.py" ../summary.json listing \
    stderr "$status") || fail=1
if [ $# -ge 3 ]; then
    /usr/bin/python3 "$(dirname "$0")/../browser/check_report.py" "$tmp/report.html" "$3" \
        --expect-charts inbreeding,generations,composition,distribution || fail=1
fi
exit $fail
