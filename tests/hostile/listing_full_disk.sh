#!/usr/bin/env bash
# A run whose input is fine but whose listing cannot be written must not end with status 0.
. "$(dirname "$0")/common.sh"
cd "$work" || exit 1
printf '1 0 0 1\n' > TOTAL_PEDIGREE
printf '1\n' > PROB
printf '&DIRECTIVES /\n' | "$bin" > /dev/full 2> stderr
status=$?
[ "$status" -eq 16 ] || { echo "exit status $status, expected 16"; exit 1; }
grep -q 'writing the listing failed' stderr || { echo "no message on standard error"; exit 1; }
