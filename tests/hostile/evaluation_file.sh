#!/usr/bin/env bash
# The evaluation pedigree's file: replaced whole at the end of a run that ends normally, never
# left half written; a name the run must not write over refused before the run begins.
#
#   evaluation_file.sh KINSTROM EXAMPLES_DIR
. "$(dirname "$0")/common.sh"
cd "$work" || exit 1
run() { # STATUS STDERR_PATTERN ARGUMENT...
    local want=$1 pattern=$2 status=0
    shift 2
    env SOURCE_DATE_EPOCH=1796450637 TZ=UTC "$bin" "$@" > listing 2> stderr <<< "&DIRECTIVES
        PED_FILE='pedigree.txt', PROB_FILE='trace.txt', INBREED='YES' /" || status=$?
    [ "$status" = "$want" ] && grep -q -- "$pattern" stderr ||
        { echo "FAIL $*: status $status, standard error: $(cat stderr)"; fail=1; }
}

# A run that stops (a bad record) leaves the earlier file as it was; one that ends normally
# replaces it, and leaves no other file behind.
echo "earlier" > eval.txt
cp pedigree.txt good.txt && echo "x 1 2 3" >> pedigree.txt
run 16 "error: record" --evaluation-pedigree eval.txt
[ "$(cat eval.txt)" = earlier ] || { echo "FAIL: a stopped run changed the earlier file"; fail=1; }
mv good.txt pedigree.txt && ls > before
run 0 "eval.txt: note: evaluation pedigree of 127 individuals" --evaluation-pedigree eval.txt
[ "$(cut -d' ' -f1 eval.txt | tr '\n' ' ')" = "$(seq -s ' ' 1 127) " ] ||
    { echo "FAIL: eval.txt not written whole"; fail=1; }
ls | grep -v -x -f before | grep -v -E '^trace\.txt\.' && { echo "FAIL: files left"; fail=1; }
# A device that cannot take it: the write failure stops the run.
run 16 "/dev/full: error: the evaluation pedigree was not written: cannot write it: No space" \
    --evaluation-pedigree /dev/full
grep -q "^ Error when writing file /dev/full" listing || { echo "FAIL: /dev/full listing"; fail=1; }

# Refused: the input, another file of the run, the summary's name, a folder, a folder that is
# not there, wrong options.
sum=$(md5sum pedigree.txt)
run 16 "error: the evaluation pedigree would be written over an input file" \
    --evaluation-pedigree pedigree.txt
[ "$(md5sum pedigree.txt)" = "$sum" ] || { echo "FAIL: the input was written over"; fail=1; }
run 16 "over the file trace.txt.PED of the run" --evaluation-pedigree ./trace.txt.PED
run 16 "and --summary name the same file" --evaluation-pedigree e.json --summary ./e.json
run 16 "cannot be written there: this is a folder" --evaluation-pedigree .
run 16 "cannot be written there: its folder does not exist" --evaluation-pedigree none/e.txt
[ -s listing ] && { echo "FAIL: a run began for a refused name"; fail=1; }
run 16 "error: --groups goes with --evaluation-pedigree" --groups
run 16 "error: --generations goes with" --generations 2
for n in -1 2147483648 x; do
    run 16 "error: --generations needs a number" --evaluation-pedigree e.txt --generations $n
done
exit $fail
