#!/usr/bin/env bash
# Messages on a terminal: with standard error a terminal (given by script from util-linux), the
# warnings met while a phase runs stand on lines of their own: the unfinished phase line is
# blanked before each and drawn again after it, then ended with the phase's time. A pseudo
# terminal writes each line end as CR LF.
#
#   terminal.sh KINSTROM
. "$(dirname "$0")/common.sh"
if ! command -v script > /dev/null; then
    echo "SKIP: no script command to give the run a terminal"
    exit 77
fi
cd "$work" || exit 1
unset KINSTROM_PROGRESS
printf '1 -1 -2 19900101\n2 -1 -2\n19910101\n3 1 2 19950101\n4 2 -2 19960101\n' > ped.txt
printf '4\n' > sel.txt
printf "&DIRECTIVES PED_FILE='ped.txt', PROB_FILE='sel.txt' /\n" > directives
script -qc "$(printf '%q' "$bin") < directives > listing" /dev/null < /dev/null > screen
status=$?
[ "$status" = 0 ] || { echo "FAIL: status $status"; fail=1; }

# The phase that reads the pedigree, its times masked.
phase='kinstrom: reading the input           '
blank=$'\r'"$(printf '%38s' '')"$'\r'
want=$'\r\n'"$phase$blank"'kinstrom: ped.txt:2: warning: record 2 (line 2) has 3 values on its line; the 4th was taken from line 3: is a value missing on that line?'$'\r\n'
want+="$phase$blank"'kinstrom: ped.txt: warning: individual 2 is a sire of 4 and a dam elsewhere: check the parents'"'"' order'$'\r\n'
want+="$phase"$'\r'"$phase     T s"$'\r\n'
got=$(sed -E 's/[0-9]+\.[0-9]{3} s/T s/g' screen)
if [[ "$got" != *"$want"* ]]; then
    echo "FAIL: the messages and the phase line on the terminal:"
    cat -A screen
    fail=1
fi
exit "$fail"
