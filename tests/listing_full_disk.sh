#!/usr/bin/env bash
# A run whose input is fine but whose listing cannot be written must not end with status 0.
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
printf '1 0 0 1\n' > TOTAL_PEDIGREE
printf '1\n' > PROB
printf '&DIRECTIVES /\n' | "$bin" > /dev/full 2> stderr
status=$?
if [ "$status" -ne 16 ]; then
    echo "exit status $status, expected 16"
    exit 1
fi
grep -q 'writing the listing failed' stderr || { echo "no message on standard error"; exit 1; }
