#!/usr/bin/env bash
# The summary and report files: wrong options stop before the run; a file that cannot be
# written, or that would replace the listing or a file of the run, is not written (status 16,
# standard error says why) while the listing and the other files stay as in a run without it;
# a file is replaced whole or not at all, and no temporary file is left behind.
#
#   summary_files.sh KINSTROM EXAMPLES_DIR
. "$(dirname "$0")/common.sh"
cp "$2/directives" "$work/"
cd "$work" || exit 1
export SOURCE_DATE_EPOCH=1796450637 TZ=UTC KINSTROM_PROGRESS=0

check() { # WHAT STATUS WANTED_STATUS STDERR_PATTERN (empty: standard error empty)
    if [ "$2" != "$3" ] || { [ -n "$4" ] && ! grep -q -- "$4" stderr; } ||
        { [ -z "$4" ] && [ -s stderr ]; }; then
        echo "FAIL $1: status $2 (want $3), standard error: $(cat stderr)" && fail=1
    fi
}
same_as_plain() { # WHAT TARGET: the listing and files of the plain run, no temporary file
    for f in plain/listing plain/files/*; do
        cmp -s "$f" "$(basename "$f")" || { echo "FAIL $1: $(basename "$f") differs"; fail=1; }
    done
    ! compgen -G "$2.??????" || { echo "FAIL $1: a temporary file was left"; fail=1; }
}

"$bin" < directives > listing 2> stderr || { echo "FAIL: the plain run"; exit 1; }
mkdir -p plain/files && cp listing plain/ && cp trace.txt.* plain/files/

for args in "--summary" "--report" "--summary=" "--summary s --report=s"; do
    # shellcheck disable=SC2086
    "$bin" $args < directives > out 2> stderr
    check "'$args'" $? 16 "^kinstrom: error: "
    [ -s out ] && { echo "FAIL '$args': a run was made"; fail=1; }
done

"$bin" --summary nowhere/s.json < directives > listing 2> stderr
check "summary in a missing folder" $? 16 \
    "^kinstrom: nowhere/s.json: error: the summary was not written: cannot create"
same_as_plain "summary in a missing folder" nowhere/s.json

for name in pedigree.txt trace.txt.PED listing; do
    cp pedigree.txt pedigree.before
    "$bin" --summary "$name" < directives > listing 2> stderr
    check "summary named $name" $? 16 "^kinstrom: $name: error: the summary was not written: this is"
    cmp -s pedigree.txt pedigree.before || { echo "FAIL: pedigree.txt replaced"; fail=1; }
    same_as_plain "summary named $name" "$name"
done

# An earlier summary is replaced whole.
echo "earlier" > s.json
"$bin" --summary s.json < directives > listing 2> stderr
check "summary over an earlier one" $? 0 ""
python3 -c 'import json, sys; json.load(open("s.json"))' || { echo "FAIL: s.json"; fail=1; }
same_as_plain "summary over an earlier one" s.json

# A full disk (a file-size limit that the run's files fit under and the report does not) while
# the report is written: no report, and the earlier one whole.
largest=$(stat -c %s plain/listing plain/files/* | sort -n | tail -n 1)
blocks=$((largest / 1024 + 1))
"$bin" --report r.html < directives > /dev/null 2> stderr
[ "$(stat -c %s r.html)" -gt $((blocks * 1024)) ] ||
    { echo "FAIL: the report is not larger than the run's files; this check needs it to be"; fail=1; }
echo "earlier" > r.html
(trap '' XFSZ && ulimit -f "$blocks" &&
    exec "$bin" --report r.html < directives 2> stderr) | cat > listing
check "report on a full disk" "${PIPESTATUS[0]}" 16 \
    "^kinstrom: r.html: error: the report was not written: cannot write it: File too large"
[ "$(cat r.html)" = earlier ] || { echo "FAIL: the earlier report was not kept whole"; fail=1; }
same_as_plain "report on a full disk" r.html

# The summary tells when the report could not be written.
"$bin" --report nowhere/r.html --summary s.json < directives > listing 2> stderr
check "report in a missing folder" $? 16 "^kinstrom: nowhere/r.html: error: the report was not"
python3 -c 'import json, sys
s = json.load(open("s.json"))
sys.exit(not (s["exit_status"] == 16 and "report was not written" in s["stop"]["text"]))' ||
    { echo "FAIL: the summary does not tell that the report was not written"; fail=1; }
exit $fail
