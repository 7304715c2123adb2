#!/usr/bin/env bash
# The evaluation pedigree's file: replaced whole at the end of a run that ends normally, never
# left half written; a name the run must not write over refused before anything is written.
#
#   evaluation_file.sh KINSTROM EXAMPLES_DIR
. "$(dirname "$0")/common.sh"
cd "$work" || exit 1
directives="&DIRECTIVES PED_FILE='pedigree.txt', PROB_FILE='trace.txt', BPROP_FILE='breeds.txt',
  N_BPOP=3, OPT1=2, INBREED='YES' /"
run() { env SOURCE_DATE_EPOCH=1796450637 TZ=UTC "$bin" "$@" <<< "$directives" > listing 2> stderr; }
expect() { # STATUS STDERR_PATTERN WHAT
    [ "$status" = "$1" ] && grep -q -- "$2" stderr ||
        { echo "FAIL $3: status $status, standard error: $(cat stderr)"; fail=1; }
}

# A run that stops (a bad record) leaves the earlier file as it was, and no temporary file.
echo "earlier" > eval.txt
cp pedigree.txt good.txt
echo "x 1 2 3" >> pedigree.txt
run --evaluation-pedigree eval.txt; status=$?
expect 16 "error: record" "a stopped run"
[ "$(cat eval.txt)" = earlier ] || { echo "FAIL: the earlier file was changed by a stopped run"; fail=1; }
mv good.txt pedigree.txt
# A run that ends normally replaces it; the folder holds nothing else new.
ls > before
run --evaluation-pedigree eval.txt; status=$?
expect 0 "eval.txt: note: evaluation pedigree of " "a normal run"
[ "$(cut -d' ' -f1 eval.txt | tr '\n' ' ')" = "$(seq -s ' ' 1 127) " ] ||
    { echo "FAIL: eval.txt not written whole"; fail=1; }
ls | grep -v -x -f before | grep -v -E '^trace\.txt\.|^(listing|stderr)$' &&
    { echo "FAIL: files left besides the run's"; fail=1; }

# A device that cannot take it: the write failure stops the run.
run --evaluation-pedigree /dev/full; status=$?
expect 16 "/dev/full: error: the evaluation pedigree was not written: cannot write it: No space" "/dev/full"
grep -q "^ Error when writing file /dev/full" listing || { echo "FAIL: /dev/full listing"; fail=1; }

# Names refused before the run writes anything: the input, another file of the run, the
# summary's name, a folder, a folder that is not there.
sum=$(md5sum pedigree.txt)
run --evaluation-pedigree pedigree.txt; status=$?
expect 16 "pedigree.txt: error: the evaluation pedigree would be written over an input file" "input"
[ "$(md5sum pedigree.txt)" = "$sum" ] || { echo "FAIL: the input was written over"; fail=1; }
run --evaluation-pedigree ./trace.txt.PED; status=$?
expect 16 "would be written over the file trace.txt.PED of the run" ".PED"
run --evaluation-pedigree e.json --summary ./e.json; status=$?
expect 16 "error: --evaluation-pedigree and --summary name the same file" "summary"
run --evaluation-pedigree .; status=$?
expect 16 "cannot be written there: this is a folder" "a folder"
run --evaluation-pedigree none/eval.txt; status=$?
expect 16 "cannot be written there: its folder does not exist" "no folder"
[ -s listing ] && { echo "FAIL: a run began for a refused option"; fail=1; }
for args in "--groups" "--generations 2" "--evaluation-pedigree e.txt --generations -1" \
    "--evaluation-pedigree e.txt --generations 2147483648"; do
    read -r -a a <<< "$args"
    run "${a[@]}"; status=$?
    expect 16 "error: --g" "$args"
done
exit $fail
