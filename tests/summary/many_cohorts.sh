#!/usr/bin/env bash
# A run of 200,000 birth years (250,000 animals, each born after the one before, every fifth in
# the year of the one before, in lines of ten generations, with breed contributions and
# inbreeding): the summary keeps every cohort row, the report stays under 1 MB with its tables
# by cohort in at most 100 groups that agree with the summary (check_grouped.py), and, with GNU
# time, the peak memory of the run with both is at most twice that of the run without them, and
# 8 MB. With OUT.png, the report is also opened in headless Chromium
# (tests/browser/check_report.py), its screenshot written to OUT.png.
#
#   many_cohorts.sh KINSTROM [OUT.png]
set -u
bin=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 1
fail=0
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0
n=250000 cohorts=200000
awk -v n=$n 'BEGIN { for (i = 1; i <= n; i++) {
    s = -1 - i % 3; d = -4  # odd IDs are sires, even ones dams; the two before are the parents
    for (k = 1; k <= 2 && k <= (i - 1) % 10; k++) if ((i - k) % 2) s = i - k; else d = i - k
    printf "%d %d %d %d%s\n", i, s, d, i - int(i / 5), i % 5 ? "0101" : "0701" } }' > ped.txt
seq $n > trace.txt
echo "&DIRECTIVES PED_FILE='ped.txt', PROB_FILE='trace.txt', OPT1=2, DOB_CHECK='Y',
  MAX_ACC_BD=2100000000, INBREED='YES' /" > directives

# peak NAME COMMAND...: runs COMMAND, its peak memory in kB in NAME.kb where GNU time is there.
gnu_time=$(/usr/bin/time --version 2>&1 | grep -c GNU)
# Under AddressSanitizer every allocation carries red zones and freed memory waits in
# quarantine: peak memory says nothing about the program's own.
grep -q __asan_init "$bin" && gnu_time=0
peak() {
    local name=$1
    shift
    if [ "$gnu_time" -gt 0 ]; then /usr/bin/time -f %M -o "$name.kb" "$@"; else "$@"; fi
}
peak plain "$bin" < directives > /dev/null 2>&1 || { echo "FAIL: the run without options"; fail=1; }
peak with "$bin" --summary summary.json --report report.html < directives > /dev/null 2>&1 ||
    { echo "FAIL: the run with a summary and report"; fail=1; }
if [ "$gnu_time" -gt 0 ]; then
    plain=$(cat plain.kb) with=$(cat with.kb)
    echo "peak memory: $plain kB without the summary and report, $with kB with them"
    [ "$with" -le $((2 * plain + 8192)) ] || { echo "FAIL: peak memory $with kB"; fail=1; }
else
    echo "skipped: the peak memory (no GNU time, or a sanitizer build)"
fi
bytes=$(stat -c %s report.html)
[ "$bytes" -lt 1000000 ] || { echo "FAIL: the report has $bytes bytes"; fail=1; }
/usr/bin/python3 "$here/check_grouped.py" summary.json report.html $cohorts || fail=1
if [ $# -ge 2 ]; then
    /usr/bin/python3 "$here/../browser/check_report.py" report.html "$2" || fail=1
fi
exit $fail
