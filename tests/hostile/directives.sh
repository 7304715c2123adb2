#!/usr/bin/env bash
# Extreme directive values, a ten-megabyte line and bytes that do not belong in a directive
# group: each run ends with its message or normally, within seconds and 2 GB of address space.
#
#   directives.sh KINSTROM EXAMPLES_DIR
. "$(dirname "$0")/common.sh"
# A pedigree with a loop (1 -> 2 -> 3 -> 1) under an individual to trace.
printf '1 3 -2 1\n2 1 -2 1\n3 2 -2 1\n4 1 -2 1\n' > "$work/loop.txt"
printf '4\n' > "$work/loop_trace.txt"
base="PED_FILE='pedigree.txt', PROB_FILE='trace.txt', OPT1=2, OPT2=2, INBREED='YES'"
bprop="BPROP_FILE='breeds.txt', N_BPOP=3"

# The bound on memory, except for a build under AddressSanitizer, whose shadow memory needs
# more address space than any bound, and which ends a run whose memory request cannot be met
# where the plain build reports it: that row is checked on the plain build only.
limit=2000000 asan=0
grep -q __asan_init "$bin" && limit=unlimited asan=1

# check NAME STATUS LAST_LINE: runs the directive text in $work/NAME.dir.
check() {
    local name=$1 want_status=$2 want_last=$3
    (cd "$work" && ulimit -v "$limit" && SOURCE_DATE_EPOCH=1796450637 TZ=UTC \
        timeout 30 "$bin" < "$name.dir" > "$name.listing" 2> "$name.stderr")
    local status=$?
    local last
    last=$(grep -v '^ *$' "$work/$name.listing" | tail -n 1)
    if [ "$status" != "$want_status" ] || [ "$last" != "$want_last" ]; then
        echo "FAIL $name: status $status (want $want_status), last line '$last' (want '$want_last')"
        tail -n 3 "$work/$name.stderr"
        fail=1
    fi
    # Every stop says its cause on standard error.
    if [ "$status" = 16 ] && ! grep -q '^kinstrom: .*error: ..' "$work/$name.stderr"; then
        echo "FAIL $name: no cause on standard error"
        fail=1
    fi
}

# row NAME STATUS LAST_LINE ASSIGNMENTS: checks a directive group with the given assignments.
row() {
    printf '&DIRECTIVES %s /\n' "$4" > "$work/$1.dir"
    check "$1" "$2" "$3"
}

row max_a_top 0 " EOJ" "$base, $bprop, MAX_A=2147483647"
row max_a_zero 16 " COMPUTATIONS ABORTED" "$base, $bprop, MAX_A=0"
row max_a_negative 16 " COMPUTATIONS ABORTED" "$base, $bprop, MAX_A=-5"
row max_a_bottom 16 " COMPUTATIONS ABORTED" "$base, $bprop, MAX_A=-2147483648"
row max_phg_top 0 " EOJ" "$base, MAX_PHG=2147483647"
row max_phg_zero 16 " COMPUTATIONS ABORTED" "$base, MAX_PHG=0"
row max_phg_negative 16 " COMPUTATIONS ABORTED" "$base, MAX_PHG=-2147483648"
row max_niv_top 0 " EOJ" "$base, $bprop, MAX_NIV=2147483647"
row max_niv_zero 16 " The program terminates" "$base, $bprop, MAX_NIV=0"
row max_niv_negative 16 " The program terminates" "$base, $bprop, MAX_NIV=-2147483648"
row gprune_top 16 " Program terminates" "$base, $bprop, GPRUNE=2147483647"
row gprune_bottom 0 " EOJ" "$base, $bprop, GPRUNE=-2147483648"
[ "$asan" = 0 ] &&
    row n_bpop_top 16 " ierr =            1" "$base, BPROP_FILE='breeds.txt', N_BPOP=2147483647"
row loop_top 0 " EOJ" "PED_FILE='loop.txt', PROB_FILE='loop_trace.txt', MAX_NIV=2147483647"

# Ten megabytes of blanks inside the group, and a value of ten million digits.
{ printf '&DIRECTIVES %s,' "$base"; head -c 10000000 /dev/zero | tr '\0' ' '; printf '%s /\n' "$bprop"; } \
    > "$work/long_line.dir"
check long_line 0 " EOJ"
{ printf '&DIRECTIVES %s, MAX_NIV=' "$base"; head -c 10000000 /dev/zero | tr '\0' '4'; printf ' /\n'; } \
    > "$work/long_value.dir"
check long_value 16 " Program terminates"
# A NUL byte, and a group that never closes.
printf "&DIRECTIVES PED_FILE='pedigree.txt',\0 PROB_FILE='trace.txt' /\n" > "$work/nul.dir"
check nul 16 " Program terminates"
printf "&DIRECTIVES PED_FILE='pedigree.txt', PROB_FILE='trace.txt'\n" > "$work/open.dir"
check open 16 " Program terminates"
grep -q 'not closed by / before the end of input' "$work/open.stderr" || { echo "FAIL open: cause"; fail=1; }
grep -q 'outside the range' "$work/long_value.stderr" || { echo "FAIL long_value: cause"; fail=1; }
# Arguments are ignored, and said to be.
(cd "$work" && "$bin" --frobnicate < open.dir > /dev/null 2> args.stderr)
grep -q "^kinstrom: warning: argument '--frobnicate' ignored" "$work/args.stderr" ||
    { echo "FAIL args: no warning"; fail=1; }

# Bytes that act on a terminal, from a file name and a bad value in the directives, the
# environment, an argument and the summary's path: standard error shows them escaped, a name in
# valid UTF-8 as it is; the listing keeps the directive's bytes.
raw() {  # raw NAME ARGUMENTS...: standard error of a run of $work/NAME.dir
    local name=$1
    shift
    (cd "$work" && PBS_O_WORKDIR=$'\e[2J' "$bin" "$@" < "$name.dir" > "$name.listing" 2> "$name.stderr")
}
printf "&DIRECTIVES PED_FILE='p\e]0;t\a\0x', PROB_FILE='t\rx', OPT1=2 /\n" > "$work/ctl_name.dir"
printf "&DIRECTIVES PED_FILE='M\xc3\xbcller.txt', PROB_FILE='t', OPT1=\e[2J /\n" > "$work/ctl_key.dir"
raw ctl_name $'arg\e[31m' --summary $'/no such folder/\xc2\x9b.json'
raw ctl_key
printf "&DIRECTIVES PED_FILE='M\xc3\xbcller.txt', PROB_FILE='t' /\n" > "$work/utf8.dir"
raw utf8
for name in ctl_name ctl_key utf8; do
    if LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]' "$work/$name.stderr" ||
        [ "$(tr -d '\000' < "$work/$name.stderr" | wc -c)" != "$(wc -c < "$work/$name.stderr")" ]; then
        echo "FAIL $name: raw control bytes on standard error:"
        cat -A "$work/$name.stderr"
        fail=1
    fi
done
for want in "argument 'arg\\x1b[31m' ignored" "kinstrom: \\x1b[2J/p\\x1b]0;t\\x07\\x00x: error: no such file" \
    "/no such folder/\\xc2\\x9b.json: error: the summary was not written"; do
    grep -qF "$want" "$work/ctl_name.stderr" || { echo "FAIL ctl_name: no '$want'"; fail=1; }
done
grep -qF $' File \e[2J/p\e]0;t\a' "$work/ctl_name.listing" || { echo "FAIL ctl_name: listing"; fail=1; }
grep -qF 'OPT1 takes a whole number, found \x1b[2J;' "$work/ctl_key.stderr" ||
    { echo "FAIL ctl_key: the value not escaped"; cat "$work/ctl_key.stderr"; fail=1; }
grep -qF $'kinstrom: \\x1b[2J/M\xc3\xbcller.txt: error: no such file' "$work/utf8.stderr" ||
    { echo "FAIL utf8: the name not as it is"; cat "$work/utf8.stderr"; fail=1; }

# Settings of the environment that are not taken: one warning each, naming the value and what is
# used instead; the run goes on.
for setting in "SOURCE_DATE_EPOCH= 1796450637" SOURCE_DATE_EPOCH=1e9 SOURCE_DATE_EPOCH=-1 \
    SOURCE_DATE_EPOCH=999999999999 KINSTROM_THREADS=0 KINSTROM_THREADS=abc KINSTROM_THREADS=999999; do
    name=${setting%%=*} value=${setting#*=}
    (cd "$work" && env "$setting" "$bin" < open.dir > env.listing 2> env.stderr)
    want="kinstrom: warning: $name=\"$value\" ignored: "
    if [ "$(grep -c "^kinstrom: warning: $name" "$work/env.stderr")" != 1 ] ||
        ! grep -qF "$want" "$work/env.stderr" ||
        ! grep -qE 'the run date is taken from the clock|the run uses [0-9]+ threads?,' "$work/env.stderr"; then
        echo "FAIL $setting: no single warning"
        cat "$work/env.stderr"
        fail=1
    fi
done
exit $fail
