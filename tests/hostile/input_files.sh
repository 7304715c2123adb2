#!/usr/bin/env bash
# Bad bytes and odd layouts in each input file.
#
#   input_files.sh KINSTROM
#
# Every file that cannot be read stops the run with the invalid-input lines naming the file
# and the record, exit status 16, within seconds; files in the layouts users have (CR LF line
# ends, tabs, no final line end) give exactly the listing and files of the plain layout.
. "$(dirname "$0")/common.sh"

# run CASE DIRECTIVE_EXTRA: runs in a fresh folder $work/CASE holding ped.txt, sel.txt and
# bp.txt as prepared by the caller in $work/CASE.in; leaves listing and status there.
run() {
    local dir=$work/$1
    rm -rf "$dir" && mkdir -p "$dir" && cp "$work/$1.in/"* "$dir/"
    (cd "$dir" && printf "&DIRECTIVES PED_FILE='ped.txt', PROB_FILE='sel.txt' %s /\n" "$2" |
        SOURCE_DATE_EPOCH=1796450637 TZ=UTC timeout 30 "$bin" > listing 2> stderr)
    echo $? > "$dir/status"
}

# expect_invalid CASE FILE RECORD [DIRECTIVE_EXTRA]: the run stops on record RECORD of FILE.
expect_invalid() {
    local case=$1 file=$2 record=$3 extra=${4:-}
    run "$case" "$extra"
    local dir=$work/$case
    local want
    want=$(printf ' ERROR - invalid input on file: %s\n         in obs no. %12d\n  \n The program terminates' "$file" "$record")
    if [ "$(cat "$dir/status")" != 16 ] || [ "$(tail -n 4 "$dir/listing")" != "$want" ]; then
        echo "FAIL $case: status $(cat "$dir/status"), listing ends:"
        tail -n 4 "$dir/listing"
        fail=1
    fi
}

# inputs CASE PED SEL [BP]: the input files of a case, written with printf %b.
inputs() {
    mkdir -p "$work/$1.in"
    printf '%b' "$2" > "$work/$1.in/ped.txt"
    printf '%b' "$3" > "$work/$1.in/sel.txt"
    [ $# -ge 4 ] && printf '%b' "$4" > "$work/$1.in/bp.txt"
    return 0
}

ped='1 -1 -2 19900101\n2 -1 -2 19910101\n3 1 2 19950101\n'

# The total pedigree file.
inputs ped_nul '1 -1 -2 19900101\n2 -1 -2\0 19910101\n3 1 2 19950101\n' '3\n'
expect_invalid ped_nul ped.txt 2
inputs ped_nul_line '1 -1 -2 19900101\n\0\n3 1 2 19950101\n' '3\n'
expect_invalid ped_nul_line ped.txt 2
inputs ped_letter '1 -1 -2 19900101\n2 -1 -2 1991O101\n3 1 2 19950101\n' '3\n'
expect_invalid ped_letter ped.txt 2
inputs ped_long_digits "1 -1 -2 19900101\n$(printf '9%.0s' {1..30}) -1 -2 19910101\n" '1\n'
expect_invalid ped_long_digits ped.txt 2
inputs ped_id_2p63 '1 -1 -2 19900101\n9223372036854775808 -1 -2 19910101\n' '1\n'
expect_invalid ped_id_2p63 ped.txt 2
inputs ped_sire_below '1 -1 -2 19900101\n2 -9223372036854775809 -2 19910101\n' '1\n'
expect_invalid ped_sire_below ped.txt 2
inputs ped_sort_2p31 '1 -1 -2 2147483648\n' '1\n'
expect_invalid ped_sort_2p31 ped.txt 1
inputs ped_real '1 -1 -2 19900101.5\n' '1\n'
expect_invalid ped_real ped.txt 1
inputs ped_cut_short '1 -1 -2 19900101\n2 -1 -2\n' '1\n'
expect_invalid ped_cut_short ped.txt 2
inputs ped_bom '\xef\xbb\xbf1 -1 -2 19900101\n' '1\n'
expect_invalid ped_bom ped.txt 1
inputs ped_id_zero '1 -1 -2 19900101\n0 -1 -2 19910101\n' '1\n'
expect_invalid ped_id_zero ped.txt 2
# Ten million digits in one number: out of range, found at once.
mkdir -p "$work/ped_huge_number.in"
{ printf '1 -1 -2 19900101\n'; head -c 10000000 /dev/zero | tr '\0' '7'; printf ' -1 -2 1\n'; } \
    > "$work/ped_huge_number.in/ped.txt"
printf '1\n' > "$work/ped_huge_number.in/sel.txt"
expect_invalid ped_huge_number ped.txt 2

# The trace file.
inputs sel_letter "$ped" '3\n2x\n'
expect_invalid sel_letter sel.txt 2
inputs sel_nul "$ped" '3\n\0\n'
expect_invalid sel_nul sel.txt 2
inputs sel_2p63 "$ped" '9223372036854775808\n'
expect_invalid sel_2p63 sel.txt 1
inputs sel_zero "$ped" '3\n0\n'
expect_invalid sel_zero sel.txt 2

# The breed-proportion file.
bp="BPROP_FILE='bp.txt', N_BPOP=2"
inputs bp_nan "$ped" '3\n' '-1 0.5 0.5\n-2 0.5 nan\n'
expect_invalid bp_nan bp.txt 2 "$bp"
inputs bp_inf "$ped" '3\n' '-1 inf 0.5\n-2 0.5 0.5\n'
expect_invalid bp_inf bp.txt 1 "$bp"
inputs bp_out_of_range "$ped" '3\n' '-1 1e999 0\n-2 0.5 0.5\n'
expect_invalid bp_out_of_range bp.txt 1 "$bp"
inputs bp_letter "$ped" '3\n' '-1 0.5 0.5\n-2 0.5 0.5x\n'
expect_invalid bp_letter bp.txt 2 "$bp"
inputs bp_nul "$ped" '3\n' '-1 0.5 0.5\n-2 0.5\0 0.5\n'
expect_invalid bp_nul bp.txt 2 "$bp"
inputs bp_positive_code "$ped" '3\n' '-1 0.5 0.5\n2 0.5 0.5\n'
expect_invalid bp_positive_code bp.txt 2 "$bp"

# A breed proportion of 10^100 is a number, not an error: its statistics overflow single
# precision and are written as "Infinity" and "NaN" (found by fuzzing: this used to read
# through a null pointer). A normal end.
inputs huge_proportion "$ped" '3\n' '-1 1e100 0\n-2 0.5 0.5\n'
run huge_proportion "$bp, OPT1=2"
if [ "$(cat "$work/huge_proportion/status")" != 0 ] ||
    ! grep -q ' Infinity  *NaN ' "$work/huge_proportion/listing"; then
    echo "FAIL huge_proportion: status $(cat "$work/huge_proportion/status")"
    grep -n 'Infinity\|NaN' "$work/huge_proportion/listing" | head -n 5
    fail=1
fi

# CR LF line ends, tabs between numbers and no final line end read exactly as the plain
# layout: the same listing, the same files.
inputs plain "$ped" '3\n1\n' '-1 0.5 0.5\n-2 0.25 0.75\n'
inputs windows '1\t-1\t-2\t19900101\r\n2 -1\t-2 19910101\r\n3\t1 2\t19950101' '3\r\n1' \
    '-1\t0.5 0.5\r\n-2\t0.25\t0.75'
for case in plain windows; do run "$case" "$bp, OPT1=2, OPT2=2, INBREED='YES'"; done
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
