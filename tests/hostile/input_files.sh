#!/usr/bin/env bash
# Bad bytes and odd layouts in each input file (input_files.sh KINSTROM). Every file that cannot be read stops the run with the invalid-input lines naming the file
# and the record, exit status 16, within seconds; files in the layouts users have (CR LF line
# ends, tabs, no final line end) give exactly the listing and files of the plain layout. The
# syntax of numbers (letters, bounds, reals, records cut short) is in the record reader's tables.
. "$(dirname "$0")/common.sh"
bp="BPROP_FILE='bp.txt', N_BPOP=2"

# run CASE PED SEL [BP]: runs in a fresh folder $work/CASE on the input files given (written
# with printf %b; the breed-proportion file is used when given); leaves listing and status.
run() {
    local dir=$work/$1 extra=""
    mkdir -p "$dir"
    printf '%b' "$2" > "$dir/ped.txt"
    printf '%b' "$3" > "$dir/sel.txt"
    [ $# -ge 4 ] && printf '%b' "$4" > "$dir/bp.txt" && extra="$bp, OPT1=2, OPT2=2, INBREED='YES'"
    (cd "$dir" && printf "&DIRECTIVES PED_FILE='ped.txt', PROB_FILE='sel.txt' %s /\n" "$extra" |
        SOURCE_DATE_EPOCH=1796450637 TZ=UTC timeout 30 "$bin" > listing 2> stderr)
    echo $? > "$dir/status"
}

# invalid FILE RECORD CASE PED SEL [BP]: the run stops on record RECORD of FILE.
invalid() {
    local file=$1 record=$2 dir=$work/$3 want
    run "${@:3}"
    want=$(printf ' ERROR - invalid input on file: %s\n         in obs no. %12d\n  \n The program terminates' "$file" "$record")
    if [ "$(cat "$dir/status")" != 16 ] || [ "$(tail -n 4 "$dir/listing")" != "$want" ]; then
        echo "FAIL $3: status $(cat "$dir/status"), listing ends:"
        tail -n 4 "$dir/listing"
        fail=1
    fi
}

ped='1 -1 -2 19900101\n2 -1 -2 19910101\n3 1 2 19950101\n'
invalid ped.txt 2 ped_nul_line '1 -1 -2 19900101\n\0\n3 1 2 19950101\n' '3\n'
invalid ped.txt 2 ped_id_zero '1 -1 -2 19900101\n0 -1 -2 19910101\n' '1\n'
# Ten million digits in one number: out of range, found at once.
invalid ped.txt 2 ped_huge_number "1 -1 -2 19900101\n$(head -c 10000000 /dev/zero | tr '\0' 7) -1 -2 1\n" '1\n'
invalid sel.txt 2 sel_nul "$ped" '3\n\0\n'
invalid sel.txt 2 sel_zero "$ped" '3\n0\n'
invalid bp.txt 2 bp_nan "$ped" '3\n' '-1 0.5 0.5\n-2 0.5 nan\n'
invalid bp.txt 2 bp_nul "$ped" '3\n' '-1 0.5 0.5\n-2 0.5\0 0.5\n'
invalid bp.txt 2 bp_positive_code "$ped" '3\n' '-1 0.5 0.5\n2 0.5 0.5\n'

# CR LF line ends, tabs between numbers and no final line end read exactly as the plain
# layout: the same listing, the same files.
run plain "$ped" '3\n1\n' '-1 0.5 0.5\n-2 0.25 0.75\n'
run windows '1\t-1\t-2\t19900101\r\n2 -1\t-2 19910101\r\n3\t1 2\t19950101' '3\r\n1' \
    '-1\t0.5 0.5\r\n-2\t0.25\t0.75'
if [ "$(cat "$work/plain/status")" != 0 ]; then
    echo "FAIL plain: status $(cat "$work/plain/status")"
    fail=1
fi
for f in listing sel.txt.PED sel.txt.PRUNE sel.txt.BCONTRIB sel.txt.HET sel.txt.PHG_RENUM; do
    if ! cmp -s "$work/plain/$f" "$work/windows/$f"; then
        echo "FAIL windows: $f differs from the plain layout's"
        diff "$work/plain/$f" "$work/windows/$f" | head -n 10
        fail=1
    fi
done
exit $fail
