#!/usr/bin/env bash
# A line of 300,000 generations, traced whole with the MAX_NIV the program advises for it: the
# run ends normally within 1 GB of address space, every individual in the renumbered pedigree,
# the known generations of the last one those of a line that long.
#
#   deep_pedigree.sh KINSTROM
. "$(dirname "$0")/common.sh"
cd "$work" || exit 1
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0
# Under AddressSanitizer the shadow memory alone needs more address space than the bound.
limit=1048576
grep -q __asan_init "$bin" && limit=unlimited

awk 'BEGIN { for (i = 1; i <= 300000; ++i) print i, i - 1, 0, i }' > ped
echo 300000 > sel
short="&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', OPT2=2 /"
(timeout 60 "$bin" <<< "$short" > short.listing 2> short.stderr)
grep -q "MAX_NIV to at least 300000" short.stderr ||
    { echo "FAIL: the advice on MAX_NIV:"; cat short.stderr; fail=1; }

full="&DIRECTIVES PED_FILE='ped', PROB_FILE='sel', MAX_NIV=300000, OPT2=2, INBREED='YES' /"
(ulimit -v "$limit" && timeout 120 "$bin" <<< "$full" > listing 2> stderr)
status=$?
[ "$status" = 0 ] || { echo "FAIL: status $status"; tail -n 3 stderr; fail=1; }
# Known generations of individual i: 1 - 2^-(i - 1), 1 from the 26th on in single precision.
# A record's first line holds ID, sire, dam, sort variable, known generations and inbreeding.
awk '
    NF >= 6 { ++records; kgen[$1] = $5 }
    END {
        if (records != 300000) { print "FAIL: " records " records in sel.PED"; exit 1 }
        if (kgen[1] + 0 != 0 || kgen[2] + 0 != 0.5 || kgen[3] + 0 != 0.75 || kgen[300000] + 0 != 1) {
            print "FAIL: known generations " kgen[1] ", " kgen[2] ", " kgen[3] ", " kgen[300000]
            exit 1
        }
    }' sel.PED || fail=1
exit "$fail"
